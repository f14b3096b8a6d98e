#include "requesthandler.h"

#include "framecodec.h"

namespace Tavrix::Simulator {

namespace {

RequestOutcome answerWith(uint8_t code, const std::vector<uint8_t>& data)
{
    RequestOutcome out;
    out.answer = FrameCodec::build(code, data);
    return out;
}

RequestOutcome error(uint8_t code, uint8_t reason)
{
    RequestOutcome out;
    out.answer = RequestHandler::errorFrame(code, reason);
    out.unknown = reason == RequestHandler::UnknownCode || reason == RequestHandler::UnknownSubCommand;
    return out;
}

RequestOutcome result(uint8_t code, uint8_t rr)
{
    RequestOutcome out;
    out.answer = RequestHandler::resultFrame(code, rr);
    return out;
}

void putLe(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t getLe(const std::vector<uint8_t>& in, std::size_t at, int bytes)
{
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= static_cast<uint64_t>(in[at + i]) << (8 * i);
    return v;
}

} // namespace

RequestHandler::RequestHandler(RecorderState& state)
    : m_state(state)
{
}

std::vector<uint8_t> RequestHandler::errorFrame(uint8_t code, uint8_t reason)
{
    return FrameCodec::build(kErrorCode, {code, reason});
}

std::vector<uint8_t> RequestHandler::resultFrame(uint8_t code, uint8_t result)
{
    return FrameCodec::build(code, {result});
}

uint8_t RequestHandler::statusFlags() const
{
    return static_cast<uint8_t>((m_state.cablePresent ? 1 : 0) | (m_state.recording ? 2 : 0) | (m_state.adcOn ? 4 : 0));
}

RequestOutcome RequestHandler::handle(const std::vector<uint8_t>& request, bool cableBusy, Clock::time_point now)
{
    m_state.advance(now);
    const uint8_t code = request[3];
    const std::vector<uint8_t> data = FrameCodec::dataOf(request);
    const DeviceProfile& type = m_state.profile;
    auto needs = [&](std::size_t n) { return data.size() == n; };

    switch (code) {
    case 0x01: // Echo
        if (!needs(1))
            return error(code, BadLength);
        return answerWith(code, data);
    case 0x02: { // Name
        std::vector<uint8_t> d{0, 0};
        putLe(d, type.type, 2);
        putLe(d, m_state.hardwareVersion, 2);
        putLe(d, m_state.softwareVersion, 2);
        d.insert(d.end(), m_state.extension.begin(), m_state.extension.end());
        return answerWith(code, d);
    }
    case 0x03:
        return eepromRead(data);
    case 0x04:
        return eepromWrite(data);
    case 0x05: { // ReadRtc
        if (!needs(0))
            return error(code, BadLength);
        const auto bcd = m_state.clockBcd(now);
        return answerWith(code, std::vector<uint8_t>(bcd.begin(), bcd.end()));
    }
    case 0x06: { // Restart
        if (!needs(2))
            return error(code, BadLength);
        RequestOutcome out = result(code, 0);
        out.restart = true;
        return out;
    }
    case 0x07:
        return recordMode(data, now);
    case 0x08: { // WriteRtc
        if (!needs(6))
            return error(code, BadLength);
        std::array<uint8_t, 6> bcd{};
        std::copy(data.begin(), data.end(), bcd.begin());
        // A careful recorder keeps its clock when the new value is not a date.
        return result(code, m_state.setClockFromBcd(bcd, now) ? 0 : 1);
    }
    case 0x09:
        return statusItem(data);
    case 0x0A:
        if (!type.hasFlash)
            return error(code, UnknownCode);
        return memoryCounter(data);
    case 0x0B: // WriteReoAndPel
        if (!type.hasReoPel)
            return error(code, UnknownCode);
        if (!needs(3))
            return error(code, BadLength);
        if (data[0] != 0x27)
            return error(code, UnknownSubCommand);
        if (data[1] > 1 || data[2] > 1)
            return result(code, 1);
        m_state.reo = data[1] == 1;
        m_state.pel = data[2] == 1;
        return result(code, 0);
    case 0x0C: { // ReadPower
        if (!needs(0))
            return error(code, BadLength);
        std::vector<uint8_t> d;
        putLe(d, m_state.power, 2);
        return answerWith(code, d);
    }
    case 0x0D: // ReadFrequency
        if (!needs(0))
            return error(code, BadLength);
        return answerWith(code, {m_state.frequencyCode, 0});
    case 0x0E: // ReadDeviceState
        if (!needs(0))
            return error(code, BadLength);
        return answerWith(code, {static_cast<uint8_t>(m_state.recording ? 2 : 1)});
    case 0x0F: // ReadWritingState
        if (!type.hasFlash)
            return error(code, UnknownCode);
        if (!needs(0))
            return error(code, BadLength);
        return answerWith(code, {m_state.writingStateOverride ? *m_state.writingStateOverride
                                                              : static_cast<uint8_t>(m_state.recording ? 2 : 1)});
    case 0x10:
        return ecgMode(data);
    case 0x11:
        if (!type.hasFlash)
            return error(code, UnknownCode);
        return startReading(data);
    case 0x12: { // StopDataReading
        if (!type.hasFlash)
            return error(code, UnknownCode);
        if (!needs(0))
            return error(code, BadLength);
        RequestOutcome out = result(code, 0);
        out.readoutStop = true;
        return out;
    }
    case 0x13:
    case 0x14: // TurnPump, TurnVent
        if (!type.hasPump)
            return error(code, UnknownCode);
        if (!needs(1))
            return error(code, BadLength);
        if (data[0] > 1)
            return result(code, 1);
        (code == 0x13 ? m_state.pump : m_state.vent) = data[0] == 1;
        return result(code, 0);
    case 0x16: { // ReadNumber
        if (!needs(0))
            return error(code, BadLength);
        std::vector<uint8_t> d;
        putLe(d, m_state.number, 4);
        return answerWith(code, d);
    }
    case 0x17:
        if (!type.hasFlash)
            return error(code, UnknownCode);
        return examInfo(data);
    case 0x18: // WriteLeadType
        if (!type.hasFlash)
            return error(code, UnknownCode);
        if (!needs(2))
            return error(code, BadLength);
        if (data[0] != 0x03)
            return error(code, UnknownSubCommand);
        m_state.leadType = data[1];
        m_state.preparedForWriting = true;
        return result(code, 0);
    case 0x1B:
        if (!needs(0))
            return error(code, BadLength);
        return calibrationInfo();
    case 0x1E:
        return cable(data, cableBusy);
    case 0x21:
    case 0x22:
        return calibration(code, data);
    default:
        return error(code, UnknownCode);
    }
}

RequestOutcome RequestHandler::statusItem(const std::vector<uint8_t>& data)
{
    constexpr uint8_t code = 0x09;
    if (data.size() != 1)
        return error(code, BadLength);
    std::vector<uint8_t> d{statusFlags()};
    switch (data[0]) {
    case 0x00: // ReadCableExist
        break;
    case 0x20: // ReadGuiVersion
        putLe(d, m_state.guiVersionHigh, 2);
        putLe(d, m_state.guiVersionLow, 2);
        break;
    case 0x21: // GetFlashState
        if (!m_state.profile.hasFlash)
            return error(code, UnknownSubCommand);
        d.push_back(m_state.flashRead ? 1 : 0);
        break;
    case 0x22: // ReadRevision, big-endian unlike everything else
        d.push_back(static_cast<uint8_t>(m_state.revision >> 8));
        d.push_back(static_cast<uint8_t>(m_state.revision & 0xFF));
        break;
    case 0x23: // ReadIdInv
        putLe(d, m_state.number, 4);
        putLe(d, m_state.setupCount, 2);
        break;
    case 0x27: // ReadReoAndPel
        if (!m_state.profile.hasReoPel)
            return error(code, UnknownSubCommand);
        d.push_back(m_state.reo ? 1 : 0);
        d.push_back(m_state.pel ? 1 : 0);
        break;
    case 0x2A: // ReadDeviceStateDetails
        d.push_back(m_state.preparedForWriting ? 1 : 0);
        break;
    default:
        return error(code, UnknownSubCommand);
    }
    return answerWith(code, d);
}

RequestOutcome RequestHandler::memoryCounter(const std::vector<uint8_t>& data)
{
    constexpr uint8_t code = 0x0A;
    if (data.size() != 1)
        return error(code, BadLength);
    uint64_t value = 0;
    switch (data[0]) {
    case 0x00: value = m_state.flashWrittenEnd; break;
    case 0x01: value = m_state.flashMin; break;
    case 0x02: value = m_state.flashMax; break;
    case 0x03: value = m_state.writtenMaxAddress(); break;
    default: return error(code, UnknownSubCommand);
    }
    std::vector<uint8_t> d;
    putLe(d, value, 8);
    return answerWith(code, d);
}

RequestOutcome RequestHandler::recordMode(const std::vector<uint8_t>& data, Clock::time_point now)
{
    constexpr uint8_t code = 0x07;
    if (data.size() != 1)
        return error(code, BadLength);
    const bool wasOn = m_state.adcOn;
    switch (data[0]) {
    case 0:
        if (m_state.recording)
            m_state.setRecording(false, now);
        m_state.adcOn = false;
        break;
    case 1:
        if (m_state.recording)
            m_state.setRecording(false, now);
        m_state.adcOn = true;
        break;
    case 2:
        if (!m_state.profile.hasFlash)
            return result(code, 3);
        if (m_state.power < kStartWritingMillivolts)
            return result(code, 1);
        if (m_state.memoryFull())
            return result(code, 2);
        if (!m_state.recording) {
            m_state.setRecording(true, now);
            // A new recording has not been read out, and the examination
            // data it was prepared with is used up.
            m_state.flashRead = false;
            m_state.preparedForWriting = false;
        }
        m_state.adcOn = true;
        break;
    default:
        return error(code, UnknownSubCommand);
    }
    RequestOutcome out = result(code, 0);
    out.converterOn = !wasOn && m_state.adcOn;
    out.converterOff = wasOn && !m_state.adcOn;
    return out;
}

RequestOutcome RequestHandler::ecgMode(const std::vector<uint8_t>& data)
{
    constexpr uint8_t code = 0x10;
    if (data.size() != 2)
        return error(code, BadLength);
    if (data[0] == 0x00)
        return answerWith(code, {m_state.ecgMode});
    if (data[0] != 0x01)
        return error(code, UnknownSubCommand);
    // The lead mode may only change while no signal frames are sent.
    if (m_state.adcOn)
        return result(code, 1);
    if (data[1] < 1 || data[1] > 4)
        return result(code, 2);
    m_state.ecgMode = data[1];
    return result(code, 0);
}

RequestOutcome RequestHandler::eepromRead(const std::vector<uint8_t>& data)
{
    constexpr uint8_t code = 0x03;
    if (data.size() != 6)
        return error(code, BadLength);
    if ((data[2] | data[3] << 8) != kEepromSelector)
        return error(code, UnknownSubCommand);
    const uint32_t address = static_cast<uint32_t>(getLe(data, 0, 2));
    const uint32_t count = static_cast<uint32_t>(getLe(data, 4, 2));
    std::vector<uint8_t> bytes;
    if (count < 1 || count > kEepromPortion || !m_state.eepromRead(address, count, bytes))
        return error(code, BadLength);
    return answerWith(code, bytes);
}

RequestOutcome RequestHandler::eepromWrite(const std::vector<uint8_t>& data)
{
    constexpr uint8_t code = 0x04;
    if (data.size() < 5 || data.size() > 4 + kEepromPortion)
        return error(code, BadLength);
    if ((data[2] | data[3] << 8) != kEepromSelector)
        return error(code, UnknownSubCommand);
    const uint32_t address = static_cast<uint32_t>(getLe(data, 0, 2));
    if (!m_state.eepromWrite(address, std::vector<uint8_t>(data.begin() + 4, data.end())))
        return error(code, BadLength);
    return result(code, 0);
}

RequestOutcome RequestHandler::examInfo(const std::vector<uint8_t>& data)
{
    constexpr uint8_t code = 0x17;
    if (data.empty())
        return error(code, BadLength);
    const uint8_t tag = data[0];
    std::vector<uint8_t> field(data.begin() + 1, data.end());
    switch (tag) {
    case 1:
    case 2:
    case 3:
        if (field.size() > kMaxExamText)
            field.resize(kMaxExamText);
        break;
    case 4:
    case 5:
        if (field.size() != 4)
            return error(code, BadLength);
        break;
    case 6:
        if (field.empty() || field.back() != 0)
            return error(code, BadLength);
        break;
    default:
        return error(code, UnknownSubCommand);
    }
    m_state.examFields[tag] = field;
    m_state.preparedForWriting = true;
    return result(code, 0);
}

RequestOutcome RequestHandler::cable(const std::vector<uint8_t>& data, bool cableBusy)
{
    constexpr uint8_t code = 0x1E;
    if (data.empty())
        return error(code, BadLength);
    if (!m_state.cablePresent || cableBusy)
        return error(code, Refused);
    CableMemory& c = m_state.cable;
    std::vector<uint8_t> d;
    switch (data[0]) {
    case 0x00: // ReadCableVersion
        if (data.size() != 1)
            return error(code, BadLength);
        d.push_back(c.hardwareVersion);
        putLe(d, c.softwareVersion, 2);
        d.insert(d.end(), c.uid.begin(), c.uid.end());
        d.push_back(c.uidCrc);
        return answerWith(code, d);
    case 0x01: // CheckSpecialFirmwareExist
        if (data.size() != 1)
            return error(code, BadLength);
        return answerWith(code, {0, static_cast<uint8_t>(m_state.specialFirmware ? 1 : 0)});
    case 0x06: { // WriteSetupCounter: the adapter keeps only the low byte
        if (data.size() != 5)
            return error(code, BadLength);
        c.setupCounter = data[1];
        RequestOutcome out = result(code, 0);
        out.processingMs = m_state.slowAnswerMs;
        return out;
    }
    case 0x07: { // WriteMainCableInfo
        if (data.size() != 10)
            return error(code, BadLength);
        c.regime = data[1];
        c.type = data[2];
        c.number = static_cast<uint32_t>(getLe(data, 3, 4));
        std::copy(data.begin() + 7, data.begin() + 10, c.dateOfCreate.begin());
        RequestOutcome out = result(code, 0);
        out.processingMs = m_state.slowAnswerMs;
        return out;
    }
    case 0x0A: // ReadCableInfo
        if (data.size() != 1)
            return error(code, BadLength);
        d = {0, c.version, c.regime, c.type};
        putLe(d, c.number, 4);
        putLe(d, c.setupCounter, 4);
        d.insert(d.end(), c.dateOfCreate.begin(), c.dateOfCreate.end());
        d.insert(d.end(), c.beginUsageDate.begin(), c.beginUsageDate.end());
        d.insert(d.end(), c.lastInstallDate.begin(), c.lastInstallDate.end());
        return answerWith(code, d);
    case 0x0B: { // ResetCable
        if (data.size() != 1)
            return error(code, BadLength);
        RequestOutcome out = result(code, 0);
        out.processingMs = m_state.slowAnswerMs;
        out.cableReset = true;
        return out;
    }
    default:
        return error(code, UnknownSubCommand);
    }
}

RequestOutcome RequestHandler::calibrationInfo()
{
    std::vector<uint8_t> d{0};
    for (const auto& g : m_state.profile.calibrationGroups) {
        d.push_back(g.channelType);
        d.push_back(g.channelsCount);
        d.push_back(g.pointCount);
        d.push_back(g.bitCount);
        putLe(d, g.discretPeriod, 4);
    }
    return answerWith(0x1B, d);
}

RequestOutcome RequestHandler::calibration(uint8_t code, const std::vector<uint8_t>& data)
{
    const bool external = code == 0x22;
    if (data.empty())
        return error(code, BadLength);
    // A point exists for the channels the recorder has: the inner groups of
    // its type, or the cable adapter's three accelerometer channels.
    auto channelExists = [&](uint8_t type, uint8_t channel, uint8_t point) {
        if (point > 1)
            return false;
        if (external)
            return type == 1 && channel < 3;
        for (const auto& g : m_state.profile.calibrationGroups) {
            if (g.channelType == type)
                return channel < g.channelsCount;
        }
        return false;
    };
    switch (data[0]) {
    case 0x00: { // read a point
        if (data.size() != 4)
            return error(code, BadLength);
        if (!channelExists(data[1], data[2], data[3]))
            return error(code, UnknownSubCommand);
        const CalibrationPoint p = m_state.calibrationPoint({static_cast<uint8_t>(external ? 1 : 0), data[1], data[2], data[3]});
        std::vector<uint8_t> d{0, static_cast<uint8_t>(p.valid ? 1 : 0)};
        putLe(d, p.adc, 4);
        putLe(d, static_cast<uint32_t>(p.physical) & 0xFFFFFF, 3);
        d.push_back(p.range);
        return answerWith(code, d);
    }
    case 0x01: { // write a point
        if (data.size() != 12)
            return error(code, BadLength);
        if (!channelExists(data[1], data[2], data[3]))
            return error(code, UnknownSubCommand);
        int32_t physical = static_cast<int32_t>(getLe(data, 8, 3));
        if (physical & 0x800000)
            physical -= 0x1000000;
        m_state.calibration[{static_cast<uint8_t>(external ? 1 : 0), data[1], data[2], data[3]}] =
            CalibrationPoint{true, static_cast<uint32_t>(getLe(data, 4, 4)), physical, data[11]};
        return result(code, 0);
    }
    case 0x03:
    case 0x04: {
        if (!external)
            return error(code, UnknownSubCommand);
        if (data.size() != 1)
            return error(code, BadLength);
        for (auto it = m_state.calibration.begin(); it != m_state.calibration.end();) {
            if ((*it).first[0] == 1 && data[0] == 0x04)
                it = m_state.calibration.erase(it);
            else
                ++it;
        }
        if (data[0] == 0x03) {
            for (auto it = m_state.savedCalibration.begin(); it != m_state.savedCalibration.end();)
                it = (*it).first[0] == 1 ? m_state.savedCalibration.erase(it) : std::next(it);
            for (const auto& [key, point] : m_state.calibration) {
                if (key[0] == 1)
                    m_state.savedCalibration[key] = point;
            }
        }
        RequestOutcome out = result(code, 0);
        out.processingMs = m_state.slowAnswerMs;
        return out;
    }
    default:
        return error(code, UnknownSubCommand);
    }
}

RequestOutcome RequestHandler::startReading(const std::vector<uint8_t>& data)
{
    constexpr uint8_t code = 0x11;
    if (data.size() != 11)
        return error(code, BadLength);
    if (data[0] != 0x12)
        return error(code, UnknownSubCommand);
    const uint64_t start = getLe(data, 1, 8);
    const uint32_t words = static_cast<uint32_t>(getLe(data, 9, 2));
    // The payload must fit a frame together with the 4-byte sequence number.
    if (words == 0 || words * 4u + 4u > 0xFFFFu)
        return error(code, BadLength);
    if (start < m_state.flashMin || start > m_state.flashMax)
        return result(code, 1);
    RequestOutcome out = result(code, 0);
    out.readoutStart = start;
    out.readoutPayload = words * 4u;
    return out;
}

} // namespace Tavrix::Simulator

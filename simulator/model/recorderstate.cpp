#include "recorderstate.h"

#include "valuetext.h"

#include <algorithm>
#include <sstream>

namespace Tavrix::Simulator {

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

const int64_t kEpoch2000 = daysFromCivil(2000, 1, 1);

unsigned daysInMonth(int64_t y, unsigned m)
{
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0))
        return 29;
    return days[m - 1];
}

uint8_t toBcd(unsigned v)
{
    return static_cast<uint8_t>(((v / 10) % 10) << 4 | (v % 10));
}

std::optional<unsigned> fromBcd(uint8_t b)
{
    if ((b >> 4) > 9 || (b & 0x0F) > 9)
        return std::nullopt;
    return (b >> 4) * 10u + (b & 0x0Fu);
}

std::string pointText(const CalibrationPoint& p)
{
    std::ostringstream s;
    s << (p.valid ? 1 : 0) << ',' << p.adc << ',' << p.physical << ',' << static_cast<int>(p.range);
    return s.str();
}

std::string clockText(int64_t seconds)
{
    const int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const int64_t rest = seconds - days * 86400;
    int64_t y;
    unsigned m, d;
    civilFromDays(kEpoch2000 + days, y, m, d);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02lld:%02lld:%02lld", static_cast<long long>(y), m, d,
                  static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                  static_cast<long long>(rest % 60));
    return buf;
}

std::optional<int64_t> parseClockText(const std::string& text)
{
    unsigned y, mo, d, h, mi, s;
    char tail;
    if (std::sscanf(text.c_str(), "%4u-%2u-%2u%*[ T]%2u:%2u:%2u%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6)
        return std::nullopt;
    if (y < 2000 || y > 2099 || mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h > 23 || mi > 59 || s > 59)
        return std::nullopt;
    return (daysFromCivil(y, mo, d) - kEpoch2000) * 86400 + h * 3600 + mi * 60 + s;
}

} // namespace

RecorderState::RecorderState(uint16_t deviceType)
    : profile(DeviceProfile::forType(deviceType))
    , hardwareVersion(profile.hardwareVersion)
    , softwareVersion(profile.softwareVersion)
    , extension(profile.extension)
    , eeprom(kEepromSize, 0xFF)
{
    // Last modification date record: 2026-11-02 10:15:00 with its check byte.
    const std::vector<uint8_t> date{26, 11, 2, 10, 15, 0};
    uint8_t check = 0x33;
    for (uint8_t b : date)
        check = static_cast<uint8_t>(check + b);
    std::copy(date.begin(), date.end(), eeprom.begin() + kDateRecordAddress);
    eeprom[kDateRecordAddress + 6] = check;
    m_clockBase = (daysFromCivil(2026, 12, 8) - kEpoch2000) * 86400 + 9 * 3600;
    resetCalibrationDefaults();
    savedCalibration = calibration;
    uint8_t crc = 0;
    for (uint8_t b : cable.uid)
        crc ^= b;
    cable.uidCrc = crc;
}

void RecorderState::resetCalibrationDefaults()
{
    calibration.clear();
    auto add = [this](uint8_t ext, uint8_t type, uint8_t channels, uint32_t adc1, int32_t phys1) {
        for (uint8_t c = 0; c < channels; ++c) {
            calibration[{ext, type, c, 0}] = CalibrationPoint{true, 0, 0, 0};
            calibration[{ext, type, c, 1}] = CalibrationPoint{true, adc1, phys1, 0};
        }
    };
    // Scales: ECG 10 / 10000 -> 1 uV a count; reo 1000 / 1e6 -> 1 mOhm;
    // accelerometers 1 / 1000 -> 1 mg.
    for (const auto& g : profile.calibrationGroups) {
        switch (g.channelType) {
        case 0: add(0, 0, g.channelsCount, 10000, 10); break;
        case 3: add(0, 3, g.channelsCount, 1000000, 1000); break;
        case 7: add(0, 7, g.channelsCount, 8388, 300); break;
        case 8: add(0, 8, g.channelsCount, 1000, 1); break;
        case 2: add(0, 2, g.channelsCount, 4096, 5000); break;
        default: add(0, g.channelType, g.channelsCount, 1000, 1); break;
        }
    }
    add(1, 1, 3, 1000, 1);
}

std::array<uint8_t, 6> RecorderState::clockBcd(Clock::time_point now) const
{
    if (m_rawClock)
        return *m_rawClock;
    const int64_t seconds = clockSeconds(now);
    const int64_t days = seconds / 86400;
    const int64_t rest = seconds % 86400;
    int64_t y;
    unsigned m, d;
    civilFromDays(kEpoch2000 + days, y, m, d);
    return {toBcd(static_cast<unsigned>(rest % 60)), toBcd(static_cast<unsigned>(rest / 60 % 60)),
            toBcd(static_cast<unsigned>(rest / 3600)), toBcd(d), toBcd(m), toBcd(static_cast<unsigned>(y % 100))};
}

int64_t RecorderState::clockSeconds(Clock::time_point now) const
{
    const auto elapsed = now >= m_clockSetAt ? std::chrono::duration_cast<std::chrono::seconds>(now - m_clockSetAt).count() : 0;
    return m_clockBase + elapsed;
}

void RecorderState::setClockSeconds(int64_t secondsSince2000, Clock::time_point now)
{
    m_clockBase = std::max<int64_t>(0, secondsSince2000);
    m_clockSetAt = now;
    m_rawClock.reset();
}

bool RecorderState::setClockFromBcd(const std::array<uint8_t, 6>& bcd, Clock::time_point now)
{
    std::array<unsigned, 6> v{};
    for (std::size_t i = 0; i < 6; ++i) {
        const auto value = fromBcd(bcd[i]);
        if (!value)
            return false;
        v[i] = *value;
    }
    const unsigned year = 2000 + v[5];
    if (v[0] > 59 || v[1] > 59 || v[2] > 23 || v[4] < 1 || v[4] > 12 || v[3] < 1 || v[3] > daysInMonth(year, v[4]))
        return false;
    setClockSeconds((daysFromCivil(year, v[4], v[3]) - kEpoch2000) * 86400 + v[2] * 3600 + v[1] * 60 + v[0], now);
    return true;
}

void RecorderState::advance(Clock::time_point now)
{
    if (!recording || now <= m_recordingSince)
        return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_recordingSince).count();
    // Eight 24-bit ECG samples a frame are what a recording stores.
    const uint64_t grown = static_cast<uint64_t>(ms) * streamFrequency() * 24 / 1000;
    flashWrittenEnd = std::min(flashMax, m_recordingBaseEnd + grown);
}

void RecorderState::setRecording(bool on, Clock::time_point now)
{
    advance(now);
    recording = on;
    m_recordingSince = now;
    m_recordingBaseEnd = std::max(flashWrittenEnd, flashMin);
}

uint64_t RecorderState::writtenMaxAddress() const
{
    return flashWrittenEnd > flashMin ? flashWrittenEnd - 1 : flashMin;
}

uint8_t RecorderState::flashByte(uint64_t address) const
{
    const auto it = flashOverlay.find(address);
    if (it != flashOverlay.end())
        return it->second;
    return static_cast<uint8_t>((address ^ (address >> 8) ^ (address >> 16)) & 0xFF);
}

uint32_t RecorderState::frequencyForCode(uint8_t code)
{
    switch (code) {
    case 2: return 250;
    case 4: return 500;
    case 8: return 1000;
    case 16: return 2000;
    default: return 0;
    }
}

uint32_t RecorderState::streamFrequency() const
{
    const uint32_t f = frequencyForCode(frequencyCode);
    return f ? f : frequencyForCode(lastValidFrequencyCode);
}

bool RecorderState::eepromRead(uint32_t address, uint32_t count, std::vector<uint8_t>& out) const
{
    if (address + static_cast<uint64_t>(count) > eeprom.size())
        return false;
    out.assign(eeprom.begin() + address, eeprom.begin() + address + count);
    return true;
}

bool RecorderState::eepromWrite(uint32_t address, const std::vector<uint8_t>& bytes)
{
    if (address + static_cast<uint64_t>(bytes.size()) > eeprom.size())
        return false;
    std::copy(bytes.begin(), bytes.end(), eeprom.begin() + address);
    return true;
}

CalibrationPoint RecorderState::calibrationPoint(const CalibrationKey& key) const
{
    const auto it = calibration.find(key);
    return it == calibration.end() ? CalibrationPoint{false, 0, 0, 0} : it->second;
}

bool RecorderState::hasCalibrationPoint(const CalibrationKey& key) const
{
    return calibration.count(key) != 0;
}

bool RecorderState::setValue(const std::string& key, const std::string& value, Clock::time_point now)
{
    advance(now);
    auto u = [&](uint64_t max) { return ValueText::toUnsigned(value, max); };
    auto b = [&]() { return ValueText::toBool(value); };
    auto setU8 = [&](uint8_t& field) { if (auto v = u(0xFF)) { field = static_cast<uint8_t>(*v); return true; } return false; };
    auto setU16 = [&](uint16_t& field) { if (auto v = u(0xFFFF)) { field = static_cast<uint16_t>(*v); return true; } return false; };
    auto setU32 = [&](uint32_t& field) { if (auto v = u(0xFFFFFFFFu)) { field = static_cast<uint32_t>(*v); return true; } return false; };
    auto setBool = [&](bool& field) { if (auto v = b()) { field = *v; return true; } return false; };
    auto setBcd3 = [&](std::array<uint8_t, 3>& field) {
        const auto bytes = ValueText::toBytes(value);
        if (!bytes || bytes->size() != 3)
            return false;
        std::copy(bytes->begin(), bytes->end(), field.begin());
        return true;
    };

    if (key == "deviceType") {
        const auto v = u(0xFFFF);
        if (!v)
            return false;
        // Another recorder: its identity and calibration memory come with it.
        profile = DeviceProfile::forType(static_cast<uint16_t>(*v));
        hardwareVersion = profile.hardwareVersion;
        softwareVersion = profile.softwareVersion;
        extension = profile.extension;
        resetCalibrationDefaults();
        savedCalibration = calibration;
        return true;
    }
    if (key == "hardwareVersion") return setU16(hardwareVersion);
    if (key == "softwareVersion") return setU16(softwareVersion);
    if (key == "versionExtension") {
        if (value.size() > 99)
            return false;
        extension = value;
        return true;
    }
    if (key == "clock") {
        const auto seconds = parseClockText(value);
        if (!seconds)
            return false;
        setClockSeconds(*seconds, now);
        return true;
    }
    if (key == "clockBcd") {
        const auto bytes = ValueText::toBytes(value);
        if (!bytes || bytes->size() != 6)
            return false;
        std::array<uint8_t, 6> raw{};
        std::copy(bytes->begin(), bytes->end(), raw.begin());
        m_clockBase = clockSeconds(now);
        m_clockSetAt = now;
        m_rawClock = raw;
        return true;
    }
    if (key == "power") return setU16(power);
    if (key == "frequency") {
        const auto v = u(100000);
        if (!v)
            return false;
        for (uint8_t code : {2, 4, 8, 16}) {
            if (frequencyForCode(code) == *v) {
                frequencyCode = lastValidFrequencyCode = code;
                return true;
            }
        }
        return false;
    }
    if (key == "frequencyCode") {
        if (!setU8(frequencyCode))
            return false;
        if (frequencyForCode(frequencyCode))
            lastValidFrequencyCode = frequencyCode;
        return true;
    }
    if (key == "recording") {
        const auto v = b();
        if (!v)
            return false;
        setRecording(*v, now);
        return true;
    }
    if (key == "writingStateCode") {
        if (value == "auto") {
            writingStateOverride.reset();
            return true;
        }
        const auto v = u(0xFF);
        if (!v)
            return false;
        writingStateOverride = static_cast<uint8_t>(*v);
        return true;
    }
    if (key == "preparedForWriting") return setBool(preparedForWriting);
    if (key == "ecgMode") return setU8(ecgMode);
    if (key == "reo") return setBool(reo);
    if (key == "pel") return setBool(pel);
    if (key == "pump") return setBool(pump);
    if (key == "vent") return setBool(vent);
    if (key == "heartRate") {
        const auto v = ValueText::toDouble(value);
        if (!v || *v < 20.0 || *v > 250.0)
            return false;
        heartRate = *v;
        return true;
    }
    if (key == "backlogFrames") {
        const auto v = u(1000000);
        if (!v || *v == 0)
            return false;
        backlogFrames = static_cast<std::size_t>(*v);
        return true;
    }
    if (key == "number") return setU32(number);
    if (key == "guiVersionHigh") return setU16(guiVersionHigh);
    if (key == "guiVersionLow") return setU16(guiVersionLow);
    if (key == "revision") return setU16(revision);
    if (key == "setupCount") return setU16(setupCount);
    if (key == "specialFirmware") return setBool(specialFirmware);
    if (key == "flashRead") return setBool(flashRead);
    if (key == "leadType") return setU8(leadType);
    if (key == "slowAnswerMs") return setU32(slowAnswerMs);
    if (key == "flashMin" || key == "flashMax" || key == "flashWrittenMax") {
        const auto v = u(UINT64_MAX - 1);
        if (!v)
            return false;
        uint64_t lo = flashMin, hi = flashMax, end = flashWrittenEnd;
        if (key == "flashMin") lo = *v;
        if (key == "flashMax") hi = *v;
        if (key == "flashWrittenMax") end = *v + 1;
        if (lo > hi || end > hi)
            return false;
        flashMin = lo;
        flashMax = hi;
        flashWrittenEnd = std::max(end, lo);
        m_recordingBaseEnd = flashWrittenEnd;
        m_recordingSince = now;
        return true;
    }
    if (key == "flashEmpty") {
        const auto v = b();
        if (!v || !*v)
            return false;
        flashWrittenEnd = flashMin;
        m_recordingBaseEnd = flashMin;
        m_recordingSince = now;
        return true;
    }
    if (key == "flashWrite" || key == "eepromWrite") {
        // "ADDRESS:HEXBYTES"
        const auto colon = value.find(':');
        if (colon == std::string::npos)
            return false;
        const auto address = ValueText::toUnsigned(value.substr(0, colon), UINT64_MAX - 65536);
        const auto bytes = ValueText::toBytes(value.substr(colon + 1));
        if (!address || !bytes || bytes->empty())
            return false;
        if (key == "eepromWrite")
            return *address <= 0xFFFF && eepromWrite(static_cast<uint32_t>(*address), *bytes);
        if (*address < flashMin || *address + bytes->size() > flashMax)
            return false;
        for (std::size_t i = 0; i < bytes->size(); ++i)
            flashOverlay[*address + i] = (*bytes)[i];
        return true;
    }
    if (key == "cablePresent") return setBool(cablePresent);
    if (key == "cableVersion") return setU8(cable.version);
    if (key == "cableRegime") return setU8(cable.regime);
    if (key == "cableType") return setU8(cable.type);
    if (key == "cableNumber") return setU32(cable.number);
    if (key == "cableSetupCounter") return setU32(cable.setupCounter);
    if (key == "cableDateOfCreate") return setBcd3(cable.dateOfCreate);
    if (key == "cableBeginUsageDate") return setBcd3(cable.beginUsageDate);
    if (key == "cableLastInstallDate") return setBcd3(cable.lastInstallDate);
    if (key == "cableHardwareVersion") return setU8(cable.hardwareVersion);
    if (key == "cableSoftwareVersion") return setU16(cable.softwareVersion);
    if (key == "cableUidCrc") return setU8(cable.uidCrc);
    if (key == "cableUid") {
        const auto bytes = ValueText::toBytes(value);
        if (!bytes || bytes->size() != 12)
            return false;
        std::copy(bytes->begin(), bytes->end(), cable.uid.begin());
        return true;
    }
    // calInner.T.C.P / calExtern.C.P = "valid,adc,physical,range"
    const bool inner = key.rfind("calInner.", 0) == 0;
    const bool external = key.rfind("calExtern.", 0) == 0;
    if (inner || external) {
        unsigned t = 1, c = 0, p = 0;
        char tail;
        const char* rest = key.c_str() + (inner ? 9 : 10);
        const int n = inner ? std::sscanf(rest, "%u.%u.%u%c", &t, &c, &p, &tail) : std::sscanf(rest, "%u.%u%c", &c, &p, &tail);
        if (n != (inner ? 3 : 2) || t > 255 || c > 255 || p > 255)
            return false;
        int valid;
        unsigned long adc;
        long phys;
        int range;
        if (std::sscanf(value.c_str(), "%d,%lu,%ld,%d%c", &valid, &adc, &phys, &range, &tail) != 4)
            return false;
        if (adc > 0xFFFFFFFFul || phys < -8388608 || phys > 8388607 || range < -128 || range > 255)
            return false;
        calibration[{static_cast<uint8_t>(external ? 1 : 0), static_cast<uint8_t>(t), static_cast<uint8_t>(c),
                     static_cast<uint8_t>(p)}] =
            CalibrationPoint{valid != 0, static_cast<uint32_t>(adc), static_cast<int32_t>(phys), static_cast<uint8_t>(range)};
        return true;
    }
    return false;
}

std::string RecorderState::jsonMembers(Clock::time_point now) const
{
    std::ostringstream s;
    auto num = [&](const char* k, auto v) { s << ',' << ValueText::jsonString(k) << ':' << +v; };
    auto flag = [&](const char* k, bool v) { s << ',' << ValueText::jsonString(k) << ':' << (v ? "true" : "false"); };
    auto text = [&](const std::string& k, const std::string& v) { s << ',' << ValueText::jsonString(k) << ':' << ValueText::jsonString(v); };

    s << ValueText::jsonString("deviceType") << ':' << profile.type;
    text("model", profile.model);
    num("hardwareVersion", hardwareVersion);
    num("softwareVersion", softwareVersion);
    text("versionExtension", extension);
    text("clock", m_rawClock ? std::string() : clockText(clockSeconds(now)));
    const auto bcd = clockBcd(now);
    text("clockBcd", ValueText::hex(std::vector<uint8_t>(bcd.begin(), bcd.end())));
    num("power", power);
    num("frequency", streamFrequency());
    num("frequencyCode", frequencyCode);
    flag("recording", recording);
    text("writingStateCode", writingStateOverride ? std::to_string(*writingStateOverride) : "auto");
    flag("preparedForWriting", preparedForWriting);
    num("ecgMode", ecgMode);
    flag("reo", reo);
    flag("pel", pel);
    flag("pump", pump);
    flag("vent", vent);
    flag("adc", adcOn);
    s << ',' << ValueText::jsonString("heartRate") << ':' << heartRate;
    num("backlogFrames", backlogFrames);
    num("number", number);
    num("guiVersionHigh", guiVersionHigh);
    num("guiVersionLow", guiVersionLow);
    num("revision", revision);
    num("setupCount", setupCount);
    flag("specialFirmware", specialFirmware);
    flag("flashRead", flashRead);
    num("leadType", leadType);
    num("slowAnswerMs", slowAnswerMs);
    for (const auto& [tag, bytes] : examFields)
        text("examField" + std::to_string(tag), ValueText::hex(bytes));
    num("flashMin", flashMin);
    num("flashMax", flashMax);
    num("flashWrittenMax", writtenMaxAddress());
    flag("flashEmpty", flashWrittenEnd <= flashMin);
    text("eeprom", ValueText::hex(eeprom));
    flag("cablePresent", cablePresent);
    num("cableVersion", cable.version);
    num("cableRegime", cable.regime);
    num("cableType", cable.type);
    num("cableNumber", cable.number);
    num("cableSetupCounter", cable.setupCounter);
    text("cableDateOfCreate", ValueText::hex({cable.dateOfCreate.begin(), cable.dateOfCreate.end()}));
    text("cableBeginUsageDate", ValueText::hex({cable.beginUsageDate.begin(), cable.beginUsageDate.end()}));
    text("cableLastInstallDate", ValueText::hex({cable.lastInstallDate.begin(), cable.lastInstallDate.end()}));
    num("cableHardwareVersion", cable.hardwareVersion);
    num("cableSoftwareVersion", cable.softwareVersion);
    text("cableUid", ValueText::hex({cable.uid.begin(), cable.uid.end()}));
    num("cableUidCrc", cable.uidCrc);
    for (const auto& [k, p] : calibration) {
        const std::string name = k[0] ? "calExtern." + std::to_string(k[2]) + "." + std::to_string(k[3])
                                       : "calInner." + std::to_string(k[1]) + "." + std::to_string(k[2]) + "." + std::to_string(k[3]);
        text(name, pointText(p));
    }
    return s.str();
}

} // namespace Tavrix::Simulator

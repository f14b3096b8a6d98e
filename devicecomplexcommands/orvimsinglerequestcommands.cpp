#include "devicecomplexcommands/orvimsinglerequestcommands.h"

#include "common/bytereader.h"
#include "common/bytewriter.h"
#include "devicecomplexcommands/orvimrequestcodes.h"
#include "usb/recorderframe.h"
#include "usb/usbdevicemanager.h"

#include <iostream>

namespace Tavrix::DeviceComplexCommands {

using Bytes = std::vector<uint8_t>;
using Usb::DeviceCommandStatus;
using Usb::RecorderFrame;

namespace {

// The answer's first data byte, 0 when it has none.
uint8_t firstDataByte(const Bytes& answer)
{
    uint8_t byte = 0;
    RecorderFrame::fields(answer).readU8(byte);
    return byte;
}

void progress(const char* step)
{
    std::cout << step << std::endl;
}

} // namespace

// --- SetTime ---------------------------------------------------------------

OrvimSetTimeCommand::OrvimSetTimeCommand(uint32_t uid, Common::DateTimeObject dateTime, Usb::UsbDeviceManager* manager)
    : SetTimeCommand("SetTime", uid)
    , m_dateTime(dateTime)
    , m_manager(manager)
{
}

Bytes OrvimSetTimeCommand::encodeClock(const Common::DateTimeObject& dateTime)
{
    Common::ByteWriter clock;
    clock.bcd(dateTime.time.second).bcd(dateTime.time.minute).bcd(dateTime.time.hour);
    clock.bcd(dateTime.date.day).bcd(dateTime.date.month).bcd(dateTime.date.year % 100);
    return clock.take();
}

std::shared_ptr<DeviceCommandStatus> OrvimSetTimeCommand::execute()
{
    return Usb::sendDescribedRequest(this, m_manager, "WriteRtc", encodeClock(m_dateTime),
                                        [this](const Bytes& answer, int32_t status) {
                                            emit answerIsReady(this, Exchange::check(answer, status));
                                        });
}

// --- GetPower --------------------------------------------------------------

ValueRead<uint16_t> powerRead()
{
    return {"ReadPower", AnswerSize::power, &firstU16};
}

// --- Reo and pel -----------------------------------------------------------

std::optional<ReoAndPel> ReoAndPel::decode(const Bytes& answer)
{
    if (answer.size() < AnswerSize::reoAndPelLeast)
        return std::nullopt;
    // After the status flags: reo, then the pel switch.
    Common::ByteReader fields = RecorderFrame::fields(answer, RecorderFrame::dataOffset + 1);
    uint8_t reo = 0;
    uint8_t pel = 0;
    if (!fields.readU8(reo) || !fields.readU8(pel))
        return std::nullopt;
    return ReoAndPel{reo == 1, pel == 1};
}

OrvimGetPelCommand::OrvimGetPelCommand(uint32_t uid, Usb::UsbDeviceManager* manager)
    : GetPelCommand("ReadPel", uid)
    , m_manager(manager)
{
}

std::shared_ptr<DeviceCommandStatus> OrvimGetPelCommand::execute()
{
    return Usb::sendDescribedRequest(this, m_manager, "ReadReoAndPel", {}, [this](const Bytes& answer, int32_t status) {
        const auto switches = ReoAndPel::decode(answer);
        const auto result = Exchange::check(answer, status, [&switches](const Bytes&) { return bool(switches); });
        if (!Exchange::isOk(result)) {
            emit answerIsReady(this, false, result);
            return;
        }
        m_manager->setReoState(true, switches->reoOn);
        emit answerIsReady(this, switches->pelOn, result);
    });
}

OrvimSetPelCommand::OrvimSetPelCommand(uint32_t uid, bool pelOn, Usb::UsbDeviceManager* manager)
    : SetPelCommand("WritePel", uid)
    , m_pelOn(pelOn)
    , m_manager(manager)
{
}

std::shared_ptr<DeviceCommandStatus> OrvimSetPelCommand::execute()
{
    progress(" (1)");
    if (m_manager && m_manager->isReoStateRead()) {
        progress(" (2)");
        m_reoOn = m_manager->isReoOn();
        return sendWrite();
    }
    progress(" (3)");
    return Usb::sendDescribedRequest(this, m_manager, "ReadReoAndPel", {},
                                        [this](const Bytes& answer, int32_t status) { handleRead(answer, status); });
}

void OrvimSetPelCommand::handleRead(const Bytes& answer, int32_t status)
{
    progress(" (4)");
    const auto switches = ReoAndPel::decode(answer);
    const auto result = Exchange::check(answer, status, [&switches](const Bytes&) { return bool(switches); });
    if (!Exchange::isOk(result)) {
        progress(" (5)");
        emit answerIsReady(this, result);
        return;
    }
    progress(" (6)");
    m_reoOn = switches->reoOn;
    m_manager->setReoState(true, m_reoOn);
    const auto sent = sendWrite();
    if (!Exchange::isOk(sent))
        emit answerIsReady(this, sent);
}

std::shared_ptr<DeviceCommandStatus> OrvimSetPelCommand::sendWrite()
{
    progress(" (7)");
    const Bytes data{StatusItem::reoAndPel, uint8_t(m_reoOn ? 1 : 0), uint8_t(m_pelOn ? 1 : 0)};
    return Usb::sendDescribedRequest(this, m_manager, "WriteReoAndPel", data,
                                        [this](const Bytes& answer, int32_t status) {
                                            progress(" (8)");
                                            emit answerIsReady(this, Exchange::check(answer, status));
                                        });
}

// --- Frequency -------------------------------------------------------------

namespace {

// 0 for a code the recorder does not use.
uint16_t frequencyOfCode(uint8_t code)
{
    switch (code) {
    case 2:
        return 250;
    case 4:
        return 500;
    case 8:
        return 1000;
    case 16:
        return 2000;
    default:
        return 0;
    }
}

std::optional<uint16_t> frequencyField(Common::ByteReader& fields)
{
    const auto code = firstU8(fields);
    const uint16_t frequency = code ? frequencyOfCode(*code) : 0;
    return frequency ? std::optional<uint16_t>(frequency) : std::nullopt;
}

} // namespace

ValueRead<uint16_t> frequencyRead()
{
    return {"ReadFrequency", AnswerSize::frequency, &frequencyField};
}

// --- Writing state ---------------------------------------------------------

OrvimGetWritingStateCommand::OrvimGetWritingStateCommand(uint32_t uid, Usb::UsbDeviceManager* manager)
    : OrvimReadValueCommand(uid, "GetWritingState",
                            {"ReadWritingState", AnswerSize::result,
                             [](Common::ByteReader& fields) -> std::optional<EWritingState> {
                                 switch (firstU8(fields).value_or(0)) {
                                 case WritingStateByte::notRecording:
                                     return EWritingState::Dialog;
                                 case WritingStateByte::recording:
                                     return EWritingState::Writing;
                                 default:
                                     return std::nullopt;
                                 }
                             }},
                            manager)
{
}

// --- Record mode -----------------------------------------------------------

namespace {

// Sends "WriteRecordMode" with `mode` and hands the result byte to `emitResult`.
template<typename Emit>
std::shared_ptr<DeviceCommandStatus> writeRecordMode(QObject* receiver,
                                                     Usb::UsbDeviceManager* manager,
                                                     uint8_t mode,
                                                     Emit emitResult)
{
    return Usb::sendDescribedRequest(receiver, manager, "WriteRecordMode", {mode},
                                        [emitResult](const Bytes& answer, int32_t status) {
                                            const auto result = Exchange::check(answer, status, AnswerSize::result);
                                            emitResult(Exchange::isOk(result) ? firstDataByte(answer) : uint8_t(0),
                                                       result);
                                        });
}

} // namespace

OrvimBeginWritingCommand::OrvimBeginWritingCommand(uint32_t uid, EStartParams start, Usb::UsbDeviceManager* manager)
    : BeginWritingCommand("BeginWriting", uid)
    , m_start(start)
    , m_manager(manager)
{
}

std::shared_ptr<DeviceCommandStatus> OrvimBeginWritingCommand::execute()
{
    return writeRecordMode(this, m_manager, static_cast<uint8_t>(m_start),
                           [this](uint8_t code, std::shared_ptr<DeviceCommandStatus> status) {
                               emit answerIsReady(this, code, status);
                           });
}

OrvimStopWritingCommand::OrvimStopWritingCommand(uint32_t uid, Usb::UsbDeviceManager* manager)
    : StopWritingCommand("StopWriting", uid)
    , m_manager(manager)
{
}

std::shared_ptr<DeviceCommandStatus> OrvimStopWritingCommand::execute()
{
    return writeRecordMode(this, m_manager, 1, [this](uint8_t code, std::shared_ptr<DeviceCommandStatus> status) {
        emit answerIsReady(this, code, status);
    });
}

} // namespace Tavrix::DeviceComplexCommands

#include "devicecomplexcommands/orvimgettimecommand.h"

#include "usb/devicecommandstatuscreator.h"
#include "usb/recorderframe.h"
#include "usb/operationrunner.h"

#include <array>

namespace Tavrix::DeviceComplexCommands {

using Usb::DeviceCommandStatus;
using Usb::DeviceCommandStatusCreator;

namespace {

constexpr size_t kAnswerSize = 13;
// Seconds, minutes, hours, day, month, year; the high bits of the first five
// carry device flags, not clock digits.
constexpr std::array<uint8_t, 6> kMasks{0x7F, 0x7F, 0x3F, 0x3F, 0x1F, 0xFF};

uint8_t limited(uint8_t value, uint8_t low, uint8_t high)
{
    return value < low ? low : (value > high ? high : value);
}

} // namespace

OrvimGetTimeCommand::OrvimGetTimeCommand(uint32_t uid, Usb::UsbDeviceManager* manager)
    : Usb::GetTimeCommand("GetTime", uid)
    , m_manager(manager)
{
}

std::shared_ptr<DeviceCommandStatus> OrvimGetTimeCommand::execute()
{
    return Usb::sendDescribedRequest(this, m_manager, "ReadRtc", {}, &OrvimGetTimeCommand::handleAnswer);
}

bool OrvimGetTimeCommand::decodeAnswer(const std::vector<uint8_t>& answer, Common::DateTimeObject& dateTime)
{
    if (answer.size() != kAnswerSize)
        return false;
    std::array<uint8_t, 6> fields{};
    Common::ByteReader clock = Usb::RecorderFrame::fields(answer);
    for (size_t i = 0; i < fields.size(); ++i)
        if (!clock.readBcd(fields[i], kMasks[i]))
            return false;

    Common::DateTimeObject value;
    value.date.year = 2000 + fields[5];
    value.date.month = limited(fields[4], 1, 12);
    value.date.day = limited(fields[3], 1, Common::DateObject::daysInMonth(value.date.year, value.date.month));
    value.date.unset = 0;
    value.time.hour = limited(fields[2], 0, 23);
    value.time.minute = limited(fields[1], 0, 59);
    value.time.second = limited(fields[0], 0, 59);
    value.time.unset = 0;
    dateTime = value;
    return true;
}

void OrvimGetTimeCommand::handleAnswer(std::shared_ptr<Usb::ByteCommand>,
                                       const std::vector<uint8_t>& answer,
                                       int32_t status)
{
    Common::DateTimeObject dateTime;
    if (status != Usb::DeviceCommand::OK) {
        emit answerIsReady(this, dateTime, DeviceCommandStatusCreator::create(answer, status));
        return;
    }
    if (!decodeAnswer(answer, dateTime)) {
        emit answerIsReady(this, Common::DateTimeObject(),
                           DeviceCommandStatusCreator::create(answer, Usb::DeviceCommand::WRONG_FRAME_FORMAT));
        return;
    }
    emit answerIsReady(this, dateTime, std::make_shared<DeviceCommandStatus>(Usb::DeviceCommand::OK));
}

} // namespace Tavrix::DeviceComplexCommands

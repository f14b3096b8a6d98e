#include "devicecomplexcommands/orvimfixedframecommands.h"

#include "devicecomplexcommands/operationexchange.h"
#include "usb/recorderframe.h"
#include "usb/usbdevice.h"

#include <QString>

namespace Tavrix::DeviceComplexCommands {

using Bytes = std::vector<uint8_t>;
using Usb::DeviceCommandStatus;
using Usb::RecorderFrame;

namespace {

// Requests: code and data.
const Bytes kCheckSpecialFirmwareFrame = RecorderFrame::request(0x1E, {0x01});
const Bytes kReadEcgModeFrame = RecorderFrame::request(0x10, {0x00, 0x00});
const Bytes kRestartFrame = RecorderFrame::request(0x06, {0x00, 0x08});
const Bytes kReadNumberFrame = RecorderFrame::request(0x16);
const Bytes kReadGuiVersionFrame = RecorderFrame::request(0x09, {0x20});

constexpr size_t kSpecialFirmwareAnswerSize = 9;
constexpr size_t kEcgModeAnswerSize = 8;
constexpr size_t kNumberAnswerMinSize = 11;
constexpr size_t kGuiVersionAnswerMinSize = 12;

} // namespace

OrvimCheckSpecialFirmwareExistCommand::OrvimCheckSpecialFirmwareExistCommand(uint32_t uid, Usb::ByteCommandQueue* queue)
    : CheckSpecialFirmwareExistCommand("CheckSpecialFirmwareExist", uid)
    , m_queue(queue)
{
}

std::shared_ptr<DeviceCommandStatus> OrvimCheckSpecialFirmwareExistCommand::execute()
{
    return Usb::sendRequest(this, m_queue, "CheckSpecialFirmwareExist", kCheckSpecialFirmwareFrame,
                                    [this](const Bytes& answer, int32_t status) {
                                        const auto result =
                                            Exchange::check(answer, status, kSpecialFirmwareAnswerSize);
                                        uint8_t present = 0;
                                        RecorderFrame::fields(answer, 5).readU8(present);
                                        emit answerIsReady(this, Exchange::isOk(result) && present == 1, result);
                                    });
}

OrvimReadEcgModeCommand::OrvimReadEcgModeCommand(uint32_t uid, Usb::ByteCommandQueue* queue)
    : Usb::ReadEcgModeCommand("ReadEcgMode", uid)
    , m_queue(queue)
{
}

std::shared_ptr<DeviceCommandStatus> OrvimReadEcgModeCommand::execute()
{
    return Usb::sendRequest(this, m_queue, "ReadEcgMode", kReadEcgModeFrame,
                                    [this](const Bytes& answer, int32_t status) {
                                        const auto result = Exchange::check(answer, status, kEcgModeAnswerSize);
                                        uint8_t byte = 0;
                                        const bool read = Exchange::isOk(result) && RecorderFrame::fields(answer).readU8(byte);
                                        const auto mode = read ? Usb::UsbDevice::fromDeviceByte(byte)
                                                               : Usb::UsbDevice::EEcgMode::NotSet;
                                        emit answerIsReady(this, mode, result);
                                    });
}

OrvimRestartCommand::OrvimRestartCommand(uint32_t uid, Usb::ByteCommandQueue* queue)
    : RestartCommand("Restart", uid)
    , m_queue(queue)
{
}

std::shared_ptr<DeviceCommandStatus> OrvimRestartCommand::execute()
{
    return Usb::sendRequest(this, m_queue, "Restart", kRestartFrame, [this](const Bytes& answer, int32_t status) {
        emit answerIsReady(this, Exchange::check(answer, status));
    });
}

OrvimReadNumberCommand::OrvimReadNumberCommand(uint32_t uid, Usb::ByteCommandQueue* queue)
    : ReadNumberCommand("ReadNumber", uid)
    , m_queue(queue)
{
}

std::shared_ptr<DeviceCommandStatus> OrvimReadNumberCommand::execute()
{
    return Usb::sendRequest(
        this, m_queue, "ReadNumber", kReadNumberFrame, [this](const Bytes& answer, int32_t status) {
            const auto result = Exchange::check(answer, status,
                                                     [](const Bytes& bytes) { return bytes.size() >= kNumberAnswerMinSize; });
            uint32_t number = 0;
            if (Exchange::isOk(result))
                RecorderFrame::fields(answer).readU32(number);
            emit answerIsReady(this, number, result);
        });
}

OrvimReadGuiVersionCommand::OrvimReadGuiVersionCommand(uint32_t uid, Usb::ByteCommandQueue* queue)
    : ReadGuiVersionCommand("ReadGuiVersion", uid)
    , m_queue(queue)
{
}

std::string OrvimReadGuiVersionCommand::decodeAnswer(const Bytes& answer)
{
    if (answer.size() < kGuiVersionAnswerMinSize)
        return {};
    uint16_t high = 0;
    uint16_t low = 0;
    if (!RecorderFrame::fields(answer, 5).readU16(high) || !RecorderFrame::fields(answer, 7).readU16(low))
        return {};
    return QString("%1.%2").arg(high, 0, 16).arg(low, 0, 16).toStdString();
}

std::shared_ptr<DeviceCommandStatus> OrvimReadGuiVersionCommand::execute()
{
    return Usb::sendRequest(this, m_queue, "ReadGuiVersion", kReadGuiVersionFrame,
                                    [this](const Bytes& answer, int32_t status) {
                                        const std::string version = decodeAnswer(answer);
                                        const auto result = Exchange::check(
                                            answer, status, [&version](const Bytes&) { return !version.empty(); });
                                        emit answerIsReady(this, Exchange::isOk(result) ? version : std::string(),
                                                           result);
                                    });
}

} // namespace Tavrix::DeviceComplexCommands

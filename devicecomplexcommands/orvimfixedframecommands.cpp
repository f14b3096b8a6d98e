#include "devicecomplexcommands/orvimfixedframecommands.h"

#include "devicecomplexcommands/operationexchange.h"
#include "usb/usbdevice.h"

#include <QString>

namespace Tavrix::DeviceComplexCommands {

using Bytes = std::vector<uint8_t>;
using Usb::DeviceCommandStatus;

namespace {

const Bytes kCheckSpecialFirmwareFrame{0x7E, 0x01, 0x00, 0x1E, 0x01, 0xFF, 0xFF, 0xBD};
const Bytes kReadEcgModeFrame{0x7E, 0x02, 0x00, 0x10, 0x00, 0x00, 0xFF, 0xFF, 0xBD};
const Bytes kRestartFrame{0x7E, 0x02, 0x00, 0x06, 0x00, 0x08, 0xFF, 0xFF, 0xBD};
const Bytes kReadNumberFrame{0x7E, 0x00, 0x00, 0x16, 0xFF, 0xFF, 0xBD};
const Bytes kReadGuiVersionFrame{0x7E, 0x01, 0x00, 0x09, 0x20, 0xFF, 0xFF, 0xBD};

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
                                        emit answerIsReady(this, Exchange::isOk(result) && answer[5] == 1, result);
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
                                        const auto mode = Exchange::isOk(result)
                                                              ? Usb::UsbDevice::fromDeviceByte(answer[4])
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
                number = uint32_t(answer[4]) | uint32_t(answer[5]) << 8 | uint32_t(answer[6]) << 16 |
                         uint32_t(answer[7]) << 24;
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
    const unsigned high = answer[5] | answer[6] << 8;
    const unsigned low = answer[7] | answer[8] << 8;
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

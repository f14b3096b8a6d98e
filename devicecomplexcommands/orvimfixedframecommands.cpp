#include "devicecomplexcommands/orvimfixedframecommands.h"

#include "devicecomplexcommands/operationexchange.h"
#include "devicecomplexcommands/orvimrequestcodes.h"
#include "usb/recorderframe.h"
#include "usb/usbdevice.h"

#include <QString>
#include <string>

namespace Tavrix::DeviceComplexCommands {

using Bytes = std::vector<uint8_t>;
using Usb::RecorderFrame;

namespace {

// Empty when the answer is too short to hold both halves.
std::string guiVersionOf(const Bytes& answer)
{
    if (answer.size() < AnswerSize::guiVersionLeast)
        return {};
    uint16_t high = 0;
    uint16_t low = 0;
    if (!RecorderFrame::fields(answer, 5).readU16(high) || !RecorderFrame::fields(answer, 7).readU16(low))
        return {};
    return QString("%1.%2").arg(high, 0, 16).arg(low, 0, 16).toStdString();
}

} // namespace

const FixedRequest<CheckSpecialFirmwareExistCommand> checkSpecialFirmwareRequest{
    "CheckSpecialFirmwareExist", RecorderFrame::request(RequestCode::cable, {CableItem::specialFirmware}),
    [](CheckSpecialFirmwareExistCommand* command, const Bytes& answer, int32_t status) {
        const auto result = Exchange::check(answer, status, AnswerSize::specialFirmware);
        uint8_t present = 0;
        RecorderFrame::fields(answer, 5).readU8(present);
        emit command->answerIsReady(command, Exchange::isOk(result) && present == 1, result);
    }};

const FixedRequest<Usb::ReadEcgModeCommand> readEcgModeRequest{
    "ReadEcgMode", RecorderFrame::request(RequestCode::ecgMode, {EcgModeItem::read, 0x00}),
    [](Usb::ReadEcgModeCommand* command, const Bytes& answer, int32_t status) {
        const auto result = Exchange::check(answer, status, AnswerSize::result);
        uint8_t byte = 0;
        const bool read = Exchange::isOk(result) && RecorderFrame::fields(answer).readU8(byte);
        const auto mode = read ? Usb::UsbDevice::fromDeviceByte(byte) : Usb::UsbDevice::EEcgMode::NotSet;
        emit command->answerIsReady(command, mode, result);
    }};

const FixedRequest<RestartCommand> restartRequest{
    "Restart", RecorderFrame::request(RequestCode::restart, {0x00, 0x08}),
    [](RestartCommand* command, const Bytes& answer, int32_t status) {
        emit command->answerIsReady(command, Exchange::check(answer, status));
    }};

const FixedRequest<ReadNumberCommand> readNumberRequest{
    "ReadNumber", RecorderFrame::request(RequestCode::number),
    [](ReadNumberCommand* command, const Bytes& answer, int32_t status) {
        const auto result = Exchange::check(answer, status,
                                            [](const Bytes& bytes) { return bytes.size() >= AnswerSize::numberLeast; });
        uint32_t number = 0;
        if (Exchange::isOk(result))
            RecorderFrame::fields(answer).readU32(number);
        emit command->answerIsReady(command, number, result);
    }};

const FixedRequest<ReadGuiVersionCommand> readGuiVersionRequest{
    "ReadGuiVersion", RecorderFrame::request(RequestCode::status, {StatusItem::guiVersion}),
    [](ReadGuiVersionCommand* command, const Bytes& answer, int32_t status) {
        const std::string version = guiVersionOf(answer);
        const auto result = Exchange::check(answer, status, [&version](const Bytes&) { return !version.empty(); });
        emit command->answerIsReady(command, Exchange::isOk(result) ? version : std::string(), result);
    }};

} // namespace Tavrix::DeviceComplexCommands

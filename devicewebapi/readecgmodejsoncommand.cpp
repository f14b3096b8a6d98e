#include "devicewebapi/readecgmodejsoncommand.h"

namespace Tavrix::DeviceWebApi {

ReadEcgModeJsonCommand::ReadEcgModeJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                               Usb::UsbDeviceManager* manager)
    : SingleValueJsonCommand(std::move(description), manager, [](auto value) { return QJsonValue(QString::fromStdString(ecgModeText(value))); })
{
}

std::shared_ptr<Net::WebApi::JsonCommandDescription> ReadEcgModeJsonCommand::createCommandDescription()
{
    return describe("ReadEcgMode", "Mode", Net::WebApi::EJsonUnitType::String);
}

std::string ReadEcgModeJsonCommand::ecgModeText(Usb::UsbDevice::EEcgMode mode)
{
    switch (mode) {
    case Usb::UsbDevice::EEcgMode::NotSet:
        return "0";
    case Usb::UsbDevice::EEcgMode::Mode1:
    case Usb::UsbDevice::EEcgMode::Mode2:
    case Usb::UsbDevice::EEcgMode::Mode3:
    case Usb::UsbDevice::EEcgMode::Mode4:
        return std::to_string(Usb::UsbDevice::toDeviceByte(mode));
    }
    return {};
}

} // namespace Tavrix::DeviceWebApi

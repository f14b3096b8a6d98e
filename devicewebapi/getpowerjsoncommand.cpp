#include "devicewebapi/getpowerjsoncommand.h"

namespace Tavrix::DeviceWebApi {

GetPowerJsonCommand::GetPowerJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                         Usb::UsbDeviceManager* manager)
    : SingleValueJsonCommand(std::move(description), manager, [](auto value) { return QJsonValue(int(value)); })
{
}

std::shared_ptr<Net::WebApi::JsonCommandDescription> GetPowerJsonCommand::createCommandDescription()
{
    return describe("GetPower", "Power", Net::WebApi::EJsonUnitType::Int);
}

} // namespace Tavrix::DeviceWebApi

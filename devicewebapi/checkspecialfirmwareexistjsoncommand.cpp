#include "devicewebapi/checkspecialfirmwareexistjsoncommand.h"

namespace Tavrix::DeviceWebApi {

CheckSpecialFirmwareExistJsonCommand::CheckSpecialFirmwareExistJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                                                           Usb::UsbDeviceManager* manager)
    : SingleValueJsonCommand(std::move(description), manager, [](auto value) { return QJsonValue(value); })
{
}

std::shared_ptr<Net::WebApi::JsonCommandDescription> CheckSpecialFirmwareExistJsonCommand::createCommandDescription()
{
    return describe("CheckSpecialFirmwareExist", "IsExist", Net::WebApi::EJsonUnitType::Bool);
}

} // namespace Tavrix::DeviceWebApi

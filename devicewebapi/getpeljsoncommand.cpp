#include "devicewebapi/getpeljsoncommand.h"

namespace Tavrix::DeviceWebApi {

GetPelJsonCommand::GetPelJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                     Usb::UsbDeviceManager* manager)
    : SingleValueJsonCommand(std::move(description), manager, [](auto value) { return QJsonValue(value); })
{
}

std::shared_ptr<Net::WebApi::JsonCommandDescription> GetPelJsonCommand::createCommandDescription()
{
    return describe("GetPel", "Pel", Net::WebApi::EJsonUnitType::Bool);
}

} // namespace Tavrix::DeviceWebApi

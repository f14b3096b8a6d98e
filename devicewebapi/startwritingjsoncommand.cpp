#include "devicewebapi/startwritingjsoncommand.h"

namespace Tavrix::DeviceWebApi {

StartWritingJsonCommand::StartWritingJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                                 Usb::UsbDeviceManager* manager)
    : SingleValueJsonCommand(std::move(description), manager, [](auto value) { return QJsonValue(int(value)); })
{
}

std::shared_ptr<Net::WebApi::JsonCommandDescription> StartWritingJsonCommand::createCommandDescription()
{
    return describe("BeginWriting", "Code", Net::WebApi::EJsonUnitType::Int);
}

} // namespace Tavrix::DeviceWebApi

#include "devicewebapi/stopwritingjsoncommand.h"

namespace Tavrix::DeviceWebApi {

StopWritingJsonCommand::StopWritingJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                               Usb::UsbDeviceManager* manager)
    : SingleValueJsonCommand(std::move(description), manager, [](auto value) { return QJsonValue(int(value)); })
{
}

std::shared_ptr<Net::WebApi::JsonCommandDescription> StopWritingJsonCommand::createCommandDescription()
{
    return describe("StopWriting", "Code", Net::WebApi::EJsonUnitType::Int);
}

} // namespace Tavrix::DeviceWebApi

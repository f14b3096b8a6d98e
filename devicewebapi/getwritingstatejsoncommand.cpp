#include "devicewebapi/getwritingstatejsoncommand.h"

namespace Tavrix::DeviceWebApi {

GetWritingStateJsonCommand::GetWritingStateJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                                       Usb::UsbDeviceManager* manager)
    : SingleValueJsonCommand(std::move(description), manager, [](auto value) { return QJsonValue(value == DeviceComplexCommands::EWritingState::Writing ? "Writing" : "Dialog"); })
{
}

std::shared_ptr<Net::WebApi::JsonCommandDescription> GetWritingStateJsonCommand::createCommandDescription()
{
    return describe("GetWritingState", "WritingState", Net::WebApi::EJsonUnitType::String);
}

} // namespace Tavrix::DeviceWebApi

#pragma once

#include "devicewebapi/singlevaluejsoncommand.h"
#include "devicecomplexcommands/getwritingstatecommand.h"

namespace Tavrix::DeviceWebApi {

// "GetWritingState": whether the recorder records, as "WritingState" "Dialog" or "Writing".
class GetWritingStateJsonCommand : public SingleValueJsonCommand<DeviceComplexCommands::GetWritingStateCommand, DeviceComplexCommands::EWritingState>
{
public:
    GetWritingStateJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description, Usb::UsbDeviceManager* manager);

    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
};

} // namespace Tavrix::DeviceWebApi

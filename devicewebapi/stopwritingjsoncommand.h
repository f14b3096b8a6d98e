#pragma once

#include "devicewebapi/singlevaluejsoncommand.h"
#include "devicecomplexcommands/recordmodecommands.h"

namespace Tavrix::DeviceWebApi {

// "StopWriting": stops recording; the recorder's result as "Code".
class StopWritingJsonCommand : public SingleValueJsonCommand<DeviceComplexCommands::StopWritingCommand, uint8_t>
{
public:
    StopWritingJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description, Usb::UsbDeviceManager* manager);

    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
};

} // namespace Tavrix::DeviceWebApi

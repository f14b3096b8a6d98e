#pragma once

#include "devicewebapi/singlevaluejsoncommand.h"
#include "devicecomplexcommands/recordmodecommands.h"

namespace Tavrix::DeviceWebApi {

// "BeginWriting": starts recording; the recorder's result as "Code".
class StartWritingJsonCommand : public SingleValueJsonCommand<DeviceComplexCommands::BeginWritingCommand, uint8_t>
{
public:
    StartWritingJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description, Usb::UsbDeviceManager* manager);

    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
};

} // namespace Tavrix::DeviceWebApi

#pragma once

#include "devicewebapi/singlevaluejsoncommand.h"
#include "devicecomplexcommands/getpelcommand.h"

namespace Tavrix::DeviceWebApi {

// "GetPel": the pel switch as "Pel".
class GetPelJsonCommand : public SingleValueJsonCommand<DeviceComplexCommands::GetPelCommand, bool>
{
public:
    GetPelJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description, Usb::UsbDeviceManager* manager);

    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
};

} // namespace Tavrix::DeviceWebApi

#pragma once

#include "devicewebapi/singlevaluejsoncommand.h"
#include "devicecomplexcommands/getpowercommand.h"

namespace Tavrix::DeviceWebApi {

// "GetPower": the battery voltage as "Power".
class GetPowerJsonCommand : public SingleValueJsonCommand<DeviceComplexCommands::GetPowerCommand, uint16_t>
{
public:
    GetPowerJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description, Usb::UsbDeviceManager* manager);

    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
};

} // namespace Tavrix::DeviceWebApi

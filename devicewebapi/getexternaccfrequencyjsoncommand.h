#pragma once

#include "devicewebapi/singlevaluejsoncommand.h"
#include "devicecomplexcommands/getexternaccfrequencycommand.h"

namespace Tavrix::DeviceWebApi {

// "GetExternAccFrequency": the cable accelerometer's sampling frequency as "Frequency".
class GetExternAccFrequencyJsonCommand : public SingleValueJsonCommand<DeviceComplexCommands::GetExternAccFrequencyCommand, uint16_t>
{
public:
    GetExternAccFrequencyJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description, Usb::UsbDeviceManager* manager);

    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
};

} // namespace Tavrix::DeviceWebApi

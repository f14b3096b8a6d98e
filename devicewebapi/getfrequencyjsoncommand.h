#pragma once

#include "devicewebapi/singlevaluejsoncommand.h"
#include "devicecomplexcommands/getfrequencycommand.h"

namespace Tavrix::DeviceWebApi {

// "GetFrequency": the sampling frequency in hertz as "Frequency".
class GetFrequencyJsonCommand : public SingleValueJsonCommand<DeviceComplexCommands::GetFrequencyCommand, uint16_t>
{
public:
    GetFrequencyJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description, Usb::UsbDeviceManager* manager);

    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
};

} // namespace Tavrix::DeviceWebApi

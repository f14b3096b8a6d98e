#pragma once

#include "devicewebapi/singlevaluejsoncommand.h"
#include "devicecomplexcommands/checkspecialfirmwareexistcommand.h"

namespace Tavrix::DeviceWebApi {

// "CheckSpecialFirmwareExist": whether the cable adapter has its special firmware, as "IsExist".
class CheckSpecialFirmwareExistJsonCommand : public SingleValueJsonCommand<DeviceComplexCommands::CheckSpecialFirmwareExistCommand, bool>
{
public:
    CheckSpecialFirmwareExistJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description, Usb::UsbDeviceManager* manager);

    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
};

} // namespace Tavrix::DeviceWebApi

#pragma once

#include "devicewebapi/singlevaluejsoncommand.h"
#include "usb/readecgmodecommand.h"

namespace Tavrix::DeviceWebApi {

// "ReadEcgMode": the ECG lead mode as the recorder numbers it, "Mode" "0" to "4".
class ReadEcgModeJsonCommand : public SingleValueJsonCommand<Usb::ReadEcgModeCommand, Usb::UsbDevice::EEcgMode>
{
public:
    ReadEcgModeJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description, Usb::UsbDeviceManager* manager);

    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();

    // The recorder's byte for a mode ("4", "2", "3", "1"), "0" for none and
    // empty for a value outside the enumeration.
    static std::string ecgModeText(Usb::UsbDevice::EEcgMode mode);
};

} // namespace Tavrix::DeviceWebApi

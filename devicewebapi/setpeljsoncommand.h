#pragma once

#include "devicecomplexcommands/setpelcommand.h"
#include "devicewebapi/devicecomplexjsoncommand.h"
#include "common/datetimeobject.h"
#include "usb/usbdevice.h"

#include <QVariant>

namespace Tavrix::DeviceWebApi {

// "SetPel": switches pel on or off (the whole "data" as a boolean), keeping reo.
class SetPelJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT

public:
    SetPelJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description, Usb::UsbDeviceManager* manager);

    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();

    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

private:
    void handleAnswer(Usb::ComplexCommand* command, DeviceStatusPtr status);
};

} // namespace Tavrix::DeviceWebApi

#pragma once

#include "devicecomplexcommands/setprogidcommand.h"
#include "devicewebapi/devicecomplexjsoncommand.h"
#include "common/datetimeobject.h"
#include "usb/usbdevice.h"

#include <QVariant>

namespace Tavrix::DeviceWebApi {

// "SetProgId": stores "ProgId" (its low 8 bits) as the program identifier.
class SetProgIdJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT

public:
    SetProgIdJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description, Usb::UsbDeviceManager* manager);

    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();

    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

private:
    void handleAnswer(Usb::ComplexCommand* command, DeviceStatusPtr status);
};

} // namespace Tavrix::DeviceWebApi

#pragma once

#include "devicecomplexcommands/writeecgmodecommand.h"
#include "devicewebapi/devicecomplexjsoncommand.h"
#include "common/datetimeobject.h"
#include "usb/usbdevice.h"

#include <QVariant>

namespace Tavrix::DeviceWebApi {

// "WriteEcgMode": writes the ECG lead mode given as the recorder numbers it
// ("1" to "4", the whole "data" as text or number); anything else writes mode 0.
class WriteEcgModeJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT

public:
    WriteEcgModeJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description, Usb::UsbDeviceManager* manager);

    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
    static Usb::UsbDevice::EEcgMode parseMode(const QString& text);

    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

private:
    void handleAnswer(Usb::ComplexCommand* command, DeviceStatusPtr status);
};

} // namespace Tavrix::DeviceWebApi

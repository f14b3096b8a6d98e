#pragma once

#include "devicewebapi/devicecomplexjsoncommand.h"
#include "common/datetimeobject.h"

namespace Tavrix::DeviceWebApi {

// "GetTime": the recorder's clock as "Year", "Month", "Day", "Hours",
// "Minutes" and "Seconds".
class GetTimeJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT

public:
    GetTimeJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                       Usb::UsbDeviceManager* manager);

    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();

    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

private:
    void handleAnswer(Usb::ComplexCommand* command, Common::DateTimeObject dateTime, DeviceStatusPtr status);
};

} // namespace Tavrix::DeviceWebApi

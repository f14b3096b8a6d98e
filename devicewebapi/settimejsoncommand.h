#pragma once

#include "devicecomplexcommands/settimecommand.h"
#include "devicewebapi/devicecomplexjsoncommand.h"
#include "common/datetimeobject.h"
#include "usb/usbdevice.h"

#include <QVariant>

namespace Tavrix::DeviceWebApi {

// "SetTime": sets the recorder's clock from "Year", "Month", "Day", "Hours",
// "Minutes" and "Seconds", clamped to the calendar; answers with the status only.
class SetTimeJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT

public:
    SetTimeJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description, Usb::UsbDeviceManager* manager);

    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
    // The clamped clock of a request's "data"; false when it cannot be
    // written: no object, or a year the recorder cannot hold (2000-2099).
    // False for a request that is no date and time the recorder can hold;
    // `refusal` then names the field and the reason.
    static bool parseDateTime(const QVariant& data, Common::DateTimeObject& dateTime, std::string* refusal = nullptr);

    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

private:
    void handleAnswer(Usb::ComplexCommand* command, DeviceStatusPtr status);
};

} // namespace Tavrix::DeviceWebApi

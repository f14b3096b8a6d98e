#pragma once

#include "usb/complexcommand.h"
#include "common/datetimeobject.h"

namespace Tavrix::Usb {

// Caller-side face of the "GetTime" operation; the device-specific subclass
// registered for the connected device implements execute().
class GetTimeCommand : public Usb::ComplexCommand
{
    Q_OBJECT

public:
    using Usb::ComplexCommand::ComplexCommand;

signals:
    void answerIsReady(Usb::ComplexCommand* command, Common::DateTimeObject dateTime, std::shared_ptr<Usb::DeviceCommandStatus> status);
};

} // namespace Tavrix::Usb

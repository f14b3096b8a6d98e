#pragma once

#include "usb/complexcommand.h"
#include "devicecomplexcommands/ewritingstate.h"

namespace Tavrix::DeviceComplexCommands {

// Caller-side face of the "GetWritingState" operation; the device-specific subclass
// registered for the connected device implements execute().
class GetWritingStateCommand : public Usb::ComplexCommand
{
    Q_OBJECT

public:
    using Usb::ComplexCommand::ComplexCommand;

signals:
    void answerIsReady(Usb::ComplexCommand* command, EWritingState state, std::shared_ptr<Usb::DeviceCommandStatus> status);
};

} // namespace Tavrix::DeviceComplexCommands

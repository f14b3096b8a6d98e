#pragma once

#include "usb/complexcommand.h"

namespace Tavrix::DeviceComplexCommands {

// Caller-side face of the "ReadNumber" operation; the device-specific subclass
// registered for the connected device implements execute().
class ReadNumberCommand : public Usb::ComplexCommand
{
    Q_OBJECT

public:
    using Usb::ComplexCommand::ComplexCommand;

signals:
    void answerIsReady(Usb::ComplexCommand* command, uint32_t number, std::shared_ptr<Usb::DeviceCommandStatus> status);
};

} // namespace Tavrix::DeviceComplexCommands

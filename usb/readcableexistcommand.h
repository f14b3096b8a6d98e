#pragma once

#include "usb/complexcommand.h"

namespace Tavrix::Usb {

// Caller-side face of the "ReadCableExist" operation; the device-specific subclass
// registered for the connected device implements execute().
class ReadCableExistCommand : public Usb::ComplexCommand
{
    Q_OBJECT

public:
    using Usb::ComplexCommand::ComplexCommand;

signals:
    void answerIsReady(Usb::ComplexCommand* command, bool cableExist, std::shared_ptr<Usb::DeviceCommandStatus> status);
};

} // namespace Tavrix::Usb

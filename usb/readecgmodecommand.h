#pragma once

#include "usb/complexcommand.h"
#include "usb/usbdevice.h"

namespace Tavrix::Usb {

// Caller-side face of the "ReadEcgMode" operation; the device-specific subclass
// registered for the connected device implements execute().
class ReadEcgModeCommand : public Usb::ComplexCommand
{
    Q_OBJECT

public:
    using Usb::ComplexCommand::ComplexCommand;

signals:
    void answerIsReady(Usb::ComplexCommand* command, Usb::UsbDevice::EEcgMode cableMode, std::shared_ptr<Usb::DeviceCommandStatus> status);
};

} // namespace Tavrix::Usb

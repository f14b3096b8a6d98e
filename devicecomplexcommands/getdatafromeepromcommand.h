#pragma once

#include "usb/complexcommand.h"
#include <vector>

namespace Tavrix::DeviceComplexCommands {

// Caller-side face of the "GetDataFromEeprom" operation; the device-specific subclass
// registered for the connected device implements execute().
class GetDataFromEepromCommand : public Usb::ComplexCommand
{
    Q_OBJECT

public:
    using Usb::ComplexCommand::ComplexCommand;

signals:
    void answerIsReady(Usb::ComplexCommand* command, std::vector<uint8_t> data, std::shared_ptr<Usb::DeviceCommandStatus> status);
};

} // namespace Tavrix::DeviceComplexCommands

#pragma once

#include "devicecomplexcommands/cableinfo.h"
#include "usb/complexcommand.h"

namespace Tavrix::DeviceComplexCommands {

// Caller-side faces of the cable reads; the device-specific subclasses
// implement execute().
class ReadCableInfoCommand : public Usb::ComplexCommand
{
    Q_OBJECT

public:
    using Usb::ComplexCommand::ComplexCommand;

signals:
    void answerIsReady(Usb::ComplexCommand* command, Usb::CableInfo cableInfo, std::shared_ptr<Usb::DeviceCommandStatus> status);
};

class ReadCableVersionCommand : public Usb::ComplexCommand
{
    Q_OBJECT

public:
    using Usb::ComplexCommand::ComplexCommand;

signals:
    void answerIsReady(Usb::ComplexCommand* command,
                       CableVersion cableVersion,
                       std::shared_ptr<Usb::DeviceCommandStatus> status);
};

} // namespace Tavrix::DeviceComplexCommands

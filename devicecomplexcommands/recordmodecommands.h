#pragma once

#include "usb/complexcommand.h"

namespace Tavrix::DeviceComplexCommands {

// Caller-side face of the operations that switch the recorder's record mode:
// each answers the recorder's result byte. The device-specific subclasses
// registered for the connected device implement execute().
class RecordModeCommand : public Usb::ComplexCommand
{
    Q_OBJECT

public:
    using Usb::ComplexCommand::ComplexCommand;

signals:
    void answerIsReady(Usb::ComplexCommand* command, uint8_t result, std::shared_ptr<Usb::DeviceCommandStatus> status);
};

// "BeginWriting": distinct classes, so that a description binding one name
// to the other's operation is refused.
class BeginWritingCommand : public RecordModeCommand
{
public:
    using RecordModeCommand::RecordModeCommand;
};

// "StopWriting".
class StopWritingCommand : public RecordModeCommand
{
public:
    using RecordModeCommand::RecordModeCommand;
};

} // namespace Tavrix::DeviceComplexCommands

#pragma once

#include "usb/devicecommand.h"

namespace Tavrix::Usb {

// Outcome of a device operation, passed by shared pointer in signals.
// Consumers look for DeviceCommandStatusInfo<T> by dynamic type.
class DeviceCommandStatus
{
public:
    DeviceCommandStatus() = default;
    explicit DeviceCommandStatus(DeviceCommand::EStatus status)
        : status(status)
    {
    }
    virtual ~DeviceCommandStatus() = default;

    DeviceCommand::EStatus status = DeviceCommand::OK;
};

} // namespace Tavrix::Usb

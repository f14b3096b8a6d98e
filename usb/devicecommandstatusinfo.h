#pragma once

#include "usb/devicecommandstatus.h"

#include <utility>

namespace Tavrix::Usb {

// A status that carries extra detail, e.g. the answer bytes that did not fit.
template<typename T>
class DeviceCommandStatusInfo : public DeviceCommandStatus
{
public:
    DeviceCommandStatusInfo() = default;
    DeviceCommandStatusInfo(DeviceCommand::EStatus status, T info)
        : DeviceCommandStatus(status)
        , info(std::move(info))
    {
    }

    T info{};
};

} // namespace Tavrix::Usb

#pragma once

#include "usb/devicecommand.h"

#include <string>

namespace Tavrix::Usb {

class DeviceCommandStatusConverter
{
public:
    // "OK" … "WRONG_FRAME_FORMAT"; "" for a value outside the enumeration.
    static std::string toText(DeviceCommand::EStatus status);
};

} // namespace Tavrix::Usb

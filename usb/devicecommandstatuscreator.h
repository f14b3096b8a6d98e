#pragma once

#include "usb/devicecommandstatus.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace Tavrix::Usb {

class DeviceCommandStatusCreator
{
public:
    // WRONG_FRAME_FORMAT keeps a copy of the offending answer
    // (DeviceCommandStatusInfo<std::vector<uint8_t>>); other statuses don't.
    static std::shared_ptr<DeviceCommandStatus> create(const std::vector<uint8_t>& answer, int status);
};

} // namespace Tavrix::Usb

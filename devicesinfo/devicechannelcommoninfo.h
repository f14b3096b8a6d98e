#pragma once

#include "devicesinfo/devicechanneltypeinfo.h"

#include <cstdint>
#include <string>

namespace Tavrix::DevicesInfo {

struct DeviceChannelCommonInfo
{
    std::string name;
    DeviceChannelTypeInfo typeInfo;
    uint8_t maxSignalCount = 0;
};

} // namespace Tavrix::DevicesInfo

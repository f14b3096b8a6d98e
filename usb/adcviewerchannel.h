#pragma once

#include "devicesinfo/devicechanneltypeinfo.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Tavrix::Usb {

class FrameDecoder;

// One named channel of the signal message and the points it collected for
// the current block.
struct AdcViewerChannel
{
    DevicesInfo::DeviceChannelTypeInfo key;
    std::string name;
    // Points collected for the current block.
    uint32_t pointCount = 0;
    // Points sent in earlier messages since the channel was created.
    uint32_t pointCounter = 0;
    // Values per point.
    uint8_t signalCount = 0;
    std::shared_ptr<FrameDecoder> decoder;
    // pointCount × signalCount values, all signals of a point together.
    std::vector<int32_t> values;
};

} // namespace Tavrix::Usb

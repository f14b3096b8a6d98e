#pragma once

#include "devicesinfo/devicechanneltypeinfo.h"

#include <cstdint>
#include <string>

namespace Tavrix::Usb {

class FrameDecoder;

// One channel as the channel manager streams it: key, description name and
// values per point.
struct DecodedChannelLayout
{
    DevicesInfo::DeviceChannelTypeInfo key;
    std::string name;
    uint8_t signalCount = 0;
};

// Receives every decoded signal frame right after the channel manager has
// decoded it, on the main thread and with the manager's lock held: it must
// not call back into the manager and should be quick.
class IDecodedFrameSink
{
public:
    virtual ~IDecodedFrameSink() = default;

    // `decoder` holds the frame's groups, button flag and frame counter;
    // `frameNumber` is the frame's own 16-bit number (not reduced modulo
    // 65535 like the counter), so consecutive frames always differ by one.
    virtual void handleDecodedFrame(const FrameDecoder& decoder, uint16_t frameNumber) = 0;
};

} // namespace Tavrix::Usb

#pragma once

#include "usb/framedecoder.h"

#include <memory>
#include <vector>

namespace Tavrix::DevicesInfo {
struct DeviceCommonInfo;
}

namespace Tavrix::Usb {

struct DeviceInfo;

// Chooses the signal frame decoders of a device from the "VisFrameFormat" of
// its description (compared exactly). Every device with a format also gets
// the cable decoder, last.
class VisFrameDecoderFactory
{
public:
    static std::vector<std::shared_ptr<FrameDecoder>> create(const DeviceInfo& info);

    // "MaxSignalCount" of the description channel named exactly "ecg"; 0 without one.
    static uint8_t ecgSignalCount(const DevicesInfo::DeviceCommonInfo& info);
};

} // namespace Tavrix::Usb

#pragma once

#include "usb/deviceferrowseriesframedecoder.h"

namespace Tavrix::Usb {

// The Ferrow 0x80 frame of recorders with a pressure cuff: as the plain
// layout plus pressure and tone samples; the button moves to byte 49.
class DeviceFerrowSeriesWithADFrameDecoder : public DeviceFerrowSeriesFrameDecoder
{
public:
    explicit DeviceFerrowSeriesWithADFrameDecoder(uint64_t ecgCount);

    bool hasButtonLabel(const std::vector<uint8_t>& frame) override;
    void parseData(const std::vector<uint8_t>& frame) override;
};

} // namespace Tavrix::Usb

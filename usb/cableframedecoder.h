#pragma once

#include "usb/framedecoder.h"

namespace Tavrix::Usb {

// Cable adapter frame (code 0x81, 21 bytes): the external accelerometer,
// with its own frame counter and never a button.
class CableFrameDecoder : public FrameDecoder
{
public:
    static constexpr std::size_t frameLength = 21;

    CableFrameDecoder();

    bool isValidFrame(const std::vector<uint8_t>& frame) override;
    unsigned getFrameNumber(const std::vector<uint8_t>& frame) override;
    bool hasButtonLabel(const std::vector<uint8_t>& frame) override;
    void parseData(const std::vector<uint8_t>& frame) override;
};

} // namespace Tavrix::Usb

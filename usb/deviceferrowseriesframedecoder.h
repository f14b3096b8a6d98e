#pragma once

#include "usb/framedecoder.h"

namespace Tavrix::Usb {

// Recorder signal frame of the Ferrow series (code 0x80, 57 bytes): ECG,
// reo and accelerometer samples, button at byte 43.
class DeviceFerrowSeriesFrameDecoder : public FrameDecoder
{
public:
    static constexpr std::size_t frameLength = 57;
    static constexpr uint64_t defaultEcgCount = 8;

    DeviceFerrowSeriesFrameDecoder();

    bool isValidFrame(const std::vector<uint8_t>& frame) override;
    unsigned getFrameNumber(const std::vector<uint8_t>& frame) override;
    bool hasButtonLabel(const std::vector<uint8_t>& frame) override;
    void parseData(const std::vector<uint8_t>& frame) override;

    // ECG samples start at byte 4; only those starting before byte 53 are
    // read, later ones are 0.
    static constexpr std::size_t ecgOffset = 4;
    static constexpr uint64_t ecgCapacity = (53 - ecgOffset + 2) / 3;

protected:
    DeviceFerrowSeriesFrameDecoder(std::string name, std::vector<AdcChannelData> groups);

    // Shared by both 0x80 layouts: ECG, reo and accelerometer at fixed places.
    void parseCommonGroups(const std::vector<uint8_t>& frame);
};

} // namespace Tavrix::Usb

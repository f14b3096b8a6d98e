#pragma once

#include "usb/ieventmessagepacker.h"

#include <cstdint>

namespace Tavrix::Usb {

// A heartbeat: the recorder frame counter of its R peak (the numbering of
// "buttonPush"), the interval to the previous beat in ms (0 for the first)
// and the heart rate in beats per minute.
class BeatEventMessagePacker : public IEventMessagePacker
{
public:
    BeatEventMessagePacker(uint32_t frameCounter, uint32_t rrMs, uint32_t heartRateBpm);

    void pack(Common::MessagePacker& packer) override;

private:
    uint32_t m_frameCounter;
    uint32_t m_rrMs;
    uint32_t m_heartRateBpm;
};

} // namespace Tavrix::Usb

#include "usb/beateventmessagepacker.h"

namespace Tavrix::Usb {

BeatEventMessagePacker::BeatEventMessagePacker(uint32_t frameCounter, uint32_t rrMs, uint32_t heartRateBpm)
    : m_frameCounter(frameCounter)
    , m_rrMs(rrMs)
    , m_heartRateBpm(heartRateBpm)
{
}

void BeatEventMessagePacker::pack(Common::MessagePacker& packer)
{
    packer.packMapHeader(4);
    packer << "type" << "beat";
    packer << "frame";
    packer.packUnsigned(m_frameCounter);
    packer << "rr";
    packer.packUnsigned(m_rrMs);
    packer << "hr";
    packer.packUnsigned(m_heartRateBpm);
}

} // namespace Tavrix::Usb

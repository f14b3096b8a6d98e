#include "usb/pushbuttoneventmessagepacker.h"

namespace Tavrix::Usb {

PushButtonEventMessagePacker::PushButtonEventMessagePacker(uint32_t frameCounter)
    : m_frameCounter(frameCounter)
{
}

void PushButtonEventMessagePacker::pack(Common::MessagePacker& packer)
{
    packer.packMapHeader(2);
    packer << "type" << "buttonPush";
    packer << "data";
    packer.packMapHeader(1);
    packer << "frameCounter";
    packer.packUnsigned(m_frameCounter);
}

} // namespace Tavrix::Usb

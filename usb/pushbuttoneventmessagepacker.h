#pragma once

#include "usb/ieventmessagepacker.h"

#include <cstdint>

namespace Tavrix::Usb {

// The recorder's button was pushed in the frame with this counter.
class PushButtonEventMessagePacker : public IEventMessagePacker
{
public:
    explicit PushButtonEventMessagePacker(uint32_t frameCounter);

    void pack(Common::MessagePacker& packer) override;

private:
    uint32_t m_frameCounter;
};

} // namespace Tavrix::Usb

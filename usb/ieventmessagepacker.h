#pragma once

#include "common/messagepacker.h"

namespace Tavrix::Usb {

// Writes the object of one event message; the sender writes the envelope.
class IEventMessagePacker
{
public:
    virtual ~IEventMessagePacker() = default;
    virtual void pack(Common::MessagePacker& packer) = 0;
};

} // namespace Tavrix::Usb

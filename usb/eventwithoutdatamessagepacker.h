#pragma once

#include "usb/ieventmessagepacker.h"

#include <string>

namespace Tavrix::Usb {

// An event that is fully told by its name ("deviceConnect", "cableDisconnect", ...).
class EventWithoutDataMessagePacker : public IEventMessagePacker
{
public:
    explicit EventWithoutDataMessagePacker(std::string eventName);

    void pack(Common::MessagePacker& packer) override;

    const std::string& eventName() const { return m_eventName; }

private:
    std::string m_eventName;
};

} // namespace Tavrix::Usb

#include "usb/eventwithoutdatamessagepacker.h"

#include <utility>

namespace Tavrix::Usb {

EventWithoutDataMessagePacker::EventWithoutDataMessagePacker(std::string eventName)
    : m_eventName(std::move(eventName))
{
}

void EventWithoutDataMessagePacker::pack(Common::MessagePacker& packer)
{
    packer.packMapHeader(1);
    packer << "type" << m_eventName;
}

} // namespace Tavrix::Usb

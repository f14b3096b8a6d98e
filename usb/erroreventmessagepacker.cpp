#include "usb/erroreventmessagepacker.h"

#include <utility>

namespace Tavrix::Usb {

ErrorEventMessagePacker::ErrorEventMessagePacker(std::string errorType, std::string message)
    : m_errorType(std::move(errorType))
    , m_message(std::move(message))
{
}

void ErrorEventMessagePacker::pack(Common::MessagePacker& packer)
{
    packer.packMapHeader(3);
    packer << "type" << "error";
    packer << "errorType" << m_errorType;
    packer << "message" << m_message;
}

} // namespace Tavrix::Usb

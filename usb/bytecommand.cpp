#include "usb/bytecommand.h"

#include <QMetaType>

namespace Tavrix::Usb {

ByteCommand::ByteCommand(const std::string& name,
                         unsigned int uid,
                         std::vector<uint8_t>&& bytes,
                         int timeout,
                         QObject* parent)
    : QObject(parent)
    , m_timeout(timeout)
    , m_name(name)
    , m_uid(uid)
    , m_bytes(std::move(bytes))
{
}

} // namespace Tavrix::Usb

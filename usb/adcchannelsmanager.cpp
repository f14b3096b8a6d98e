#include "usb/adcchannelsmanager.h"

#include <algorithm>

namespace Tavrix::Usb {

AdcChannelsManager::AdcChannelsManager(QObject* parent)
    : QObject(parent)
{
}

AdcChannelsManager::~AdcChannelsManager() = default;

bool HandOverBytes::next(uint8_t& byte)
{
    const std::size_t total = m_bytes.size();
    while (m_pos == m_blockEnd) {
        if (total - m_pos < 4) {
            m_pos = m_blockEnd = total;
            return false;
        }
        const uint32_t length = uint32_t(m_bytes[m_pos]) << 24 | uint32_t(m_bytes[m_pos + 1]) << 16 |
                                uint32_t(m_bytes[m_pos + 2]) << 8 | uint32_t(m_bytes[m_pos + 3]);
        m_pos += 4;
        m_blockEnd = length == 0xFFFFFFFFu ? m_pos : std::min<std::size_t>(m_pos + length, total);
    }
    byte = m_bytes[m_pos++];
    return true;
}

} // namespace Tavrix::Usb

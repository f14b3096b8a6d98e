#include "net/websockets/clientframescanner.h"

#include <algorithm>

namespace Tavrix::Net::WebSockets {

bool ClientFrameScanner::feed(const char* data, std::size_t size)
{
    std::size_t at = 0;
    while (!m_unmasked && at < size) {
        const auto byte = static_cast<unsigned char>(data[at]);
        switch (m_state) {
        case EState::First:
            ++at;
            m_state = EState::Second;
            break;
        case EState::Second:
            ++at;
            if (!(byte & 0x80)) {
                m_unmasked = true;
                break;
            }
            m_length = byte & 0x7F;
            m_lengthBytesLeft = m_length == 126 ? 2 : m_length == 127 ? 8 : 0;
            if (m_lengthBytesLeft > 0)
                m_length = 0;
            m_maskBytesLeft = 4;
            m_state = m_lengthBytesLeft > 0 ? EState::Length : EState::Mask;
            break;
        case EState::Length:
            ++at;
            m_length = (m_length << 8) | byte;
            if (--m_lengthBytesLeft == 0)
                m_state = EState::Mask;
            break;
        case EState::Mask:
            ++at;
            if (--m_maskBytesLeft == 0)
                startPayload();
            break;
        case EState::Payload: {
            const std::uint64_t skip = std::min<std::uint64_t>(m_payloadLeft, size - at);
            at += static_cast<std::size_t>(skip);
            m_payloadLeft -= skip;
            if (m_payloadLeft == 0)
                m_state = EState::First;
            break;
        }
        }
    }
    return !m_unmasked;
}

void ClientFrameScanner::startPayload()
{
    ++m_frames;
    m_payloadLeft = m_length;
    m_state = m_payloadLeft > 0 ? EState::Payload : EState::First;
}

} // namespace Tavrix::Net::WebSockets

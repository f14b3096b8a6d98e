#include "usb/frameparcer.h"

namespace Tavrix::Usb {

namespace {
constexpr uint8_t startByte = 0x7E;
constexpr uint8_t endByte = 0xBD;
// Start byte, two length bytes, code, two checksum bytes, end byte.
constexpr std::size_t frameOverhead = 7;
}

FrameParcer::FrameParcer(std::size_t bufferSize)
    : m_buffer(bufferSize, 0)
{
}

void FrameParcer::reset()
{
    m_state = 0;
    m_code = 0;
    m_length = 0;
    m_checksum = 0;
    m_index = 0;
    m_discarded = 0;
    m_frames = 0;
}

std::vector<uint8_t> FrameParcer::frame() const
{
    return std::vector<uint8_t>(m_buffer.begin(), m_buffer.begin() + m_index);
}

void FrameParcer::store(uint8_t byte)
{
    m_buffer[m_index++] = byte;
}

void FrameParcer::rejectStart()
{
    // Only the start byte and the two length bytes have been stored.
    const uint8_t rescan[2] = {m_buffer[1], m_buffer[2]};
    ++m_discarded;
    m_state = 0;
    m_index = 0;
    // Two bytes can neither complete a frame nor overflow the buffer, and a
    // nested rejection re-feeds fewer bytes, so this recursion is shallow.
    put(rescan[0]);
    put(rescan[1]);
}

bool FrameParcer::put(uint8_t byte)
{
    switch (m_state) {
    case 0:
        if (byte == startByte && m_buffer.size() >= frameOverhead) {
            m_index = 0;
            store(byte);
            m_state = 1;
        } else {
            m_index = 0;
            ++m_discarded;
        }
        return false;
    case 1:
        store(byte);
        m_length = byte;
        m_state = 2;
        return false;
    case 2:
        store(byte);
        m_length += static_cast<uint32_t>(byte) * 256u;
        if (m_length + frameOverhead > m_buffer.size())
            rejectStart();
        else
            m_state = 3;
        return false;
    case 3:
        store(byte);
        m_code = byte;
        m_state = (m_index == m_length + 4) ? 5 : 4;
        return false;
    case 4:
        store(byte);
        if (m_index == m_length + 4)
            m_state = 5;
        return false;
    case 5:
        store(byte);
        m_checksum = byte;
        m_state = 6;
        return false;
    case 6:
        store(byte);
        m_checksum += static_cast<uint32_t>(byte) * 256u;
        m_state = 7;
        return false;
    case 7:
        store(byte);
        m_state = 0;
        if (byte == endByte) {
            ++m_frames;
            return true;
        }
        ++m_discarded;
        return false;
    default:
        m_state = 0;
        m_index = 0;
        return false;
    }
}

} // namespace Tavrix::Usb

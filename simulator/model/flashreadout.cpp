#include "flashreadout.h"

#include "framecodec.h"

#include <algorithm>

namespace Tavrix::Simulator {

void FlashReadout::start(uint64_t from, uint64_t end, uint32_t payload)
{
    m_next = from;
    m_end = end;
    m_payload = std::max<uint32_t>(1, payload);
    m_sequence = 0;
    m_active = from < end;
}

bool FlashReadout::fill(const RecorderState& state, OutPipe& pipe, std::size_t wanted, Clock::time_point now)
{
    while (m_active && pipe.pendingBytes() < wanted) {
        const uint64_t count = std::min<uint64_t>(m_payload, m_end - m_next);
        std::vector<uint8_t> data;
        data.reserve(count + 4);
        for (uint64_t i = 0; i < count; ++i)
            data.push_back(state.flashByte(m_next + i));
        for (int i = 0; i < 4; ++i)
            data.push_back(static_cast<uint8_t>(m_sequence >> (8 * i)));
        pipe.pushFrame(FrameCodec::build(kFrameCode, data), now);
        ++m_sequence;
        ++m_framesSent;
        m_bytesSent += count;
        m_next += count;
        if (m_next >= m_end) {
            m_active = false;
            return true;
        }
    }
    return false;
}

} // namespace Tavrix::Simulator

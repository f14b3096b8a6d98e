#include "frameassembler.h"

#include "framecodec.h"

namespace Tavrix::Simulator {

std::vector<std::vector<uint8_t>> FrameAssembler::put(const std::vector<uint8_t>& bytes)
{
    std::vector<std::vector<uint8_t>> frames;
    for (uint8_t byte : bytes) {
        if (m_frame.empty()) {
            if (byte == FrameCodec::kStart)
                m_frame.push_back(byte);
            else
                ++m_discarded;
            continue;
        }
        m_frame.push_back(byte);
        if (m_frame.size() == 3) {
            m_length = m_frame[1] | (static_cast<std::size_t>(m_frame[2]) << 8);
            if (m_length > kMaxDataLength) {
                m_discarded += m_frame.size();
                ++m_droppedFrames;
                m_frame.clear();
            }
            continue;
        }
        if (m_frame.size() < m_length + FrameCodec::kOverhead)
            continue;
        if (byte == FrameCodec::kEnd) {
            frames.push_back(std::move(m_frame));
        } else {
            m_discarded += m_frame.size();
            ++m_droppedFrames;
        }
        m_frame.clear();
    }
    return frames;
}

void FrameAssembler::reset()
{
    m_frame.clear();
    m_length = 0;
}

} // namespace Tavrix::Simulator

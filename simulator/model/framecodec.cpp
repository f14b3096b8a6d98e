#include "framecodec.h"

namespace Tavrix::Simulator {

std::vector<uint8_t> FrameCodec::build(uint8_t code, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> frame;
    frame.reserve(data.size() + kOverhead);
    frame.push_back(kStart);
    frame.push_back(static_cast<uint8_t>(data.size() & 0xFF));
    frame.push_back(static_cast<uint8_t>((data.size() >> 8) & 0xFF));
    frame.push_back(code);
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(0xFF);
    frame.push_back(0xFF);
    frame.push_back(kEnd);
    return frame;
}

std::vector<uint8_t> FrameCodec::dataOf(const std::vector<uint8_t>& frame)
{
    if (frame.size() < kOverhead)
        return {};
    return std::vector<uint8_t>(frame.begin() + 4, frame.end() - 3);
}

} // namespace Tavrix::Simulator

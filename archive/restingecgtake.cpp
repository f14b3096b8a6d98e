#include "archive/restingecgtake.h"

namespace Tavrix::Archive {

RestingEcgTake::RestingEcgTake(std::size_t channels, std::size_t frames)
    : m_framesWanted(frames)
    , m_channels(channels)
{
    for (std::vector<int32_t>& channel : m_channels)
        channel.reserve(frames);
    if (channels == 0 || frames == 0)
        m_state = EState::WrongLayout;
}

RestingEcgTake::EState RestingEcgTake::add(uint16_t frameNumber, const std::vector<int32_t>& values)
{
    if (m_state != EState::Collecting)
        return m_state;
    if (values.size() < m_channels.size()) {
        m_state = EState::WrongLayout;
        return m_state;
    }
    if (m_haveNumber && frameNumber != static_cast<uint16_t>(m_lastNumber + 1)) {
        m_lost = static_cast<uint16_t>(frameNumber - m_lastNumber - 1);
        m_state = EState::LostFrames;
        return m_state;
    }
    m_haveNumber = true;
    m_lastNumber = frameNumber;
    for (std::size_t c = 0; c < m_channels.size(); ++c)
        m_channels[c].push_back(values[c]);
    if (framesTaken() >= m_framesWanted)
        m_state = EState::Complete;
    return m_state;
}

} // namespace Tavrix::Archive

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Tavrix::Archive {

// Gathers the ECG values of a span of consecutive recorder frames. The
// recorder numbers its frames (16 bits, wrapping); a number that is not the
// one after the last means frames were lost, and the span cannot be an ECG
// of that length any more.
class RestingEcgTake
{
public:
    enum class EState { Collecting, Complete, LostFrames, WrongLayout };

    RestingEcgTake(std::size_t channels, std::size_t frames);

    // One frame's ECG values. Values past `channels` are ignored; fewer than
    // `channels` is a wrong layout.
    EState add(uint16_t frameNumber, const std::vector<int32_t>& values);

    EState state() const { return m_state; }
    std::size_t framesWanted() const { return m_framesWanted; }
    std::size_t framesTaken() const { return m_channels.empty() ? 0 : m_channels.front().size(); }
    // How many frames were missing at the gap that ended the take.
    uint16_t lostFrames() const { return m_lost; }
    // One vector per channel.
    const std::vector<std::vector<int32_t>>& channels() const { return m_channels; }

private:
    std::size_t m_framesWanted;
    std::vector<std::vector<int32_t>> m_channels;
    EState m_state = EState::Collecting;
    bool m_haveNumber = false;
    uint16_t m_lastNumber = 0;
    uint16_t m_lost = 0;
};

} // namespace Tavrix::Archive

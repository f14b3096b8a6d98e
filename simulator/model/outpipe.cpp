#include "outpipe.h"

#include <algorithm>

namespace Tavrix::Simulator {

void OutPipe::pushFrame(std::vector<uint8_t> frame, Clock::time_point readyAt)
{
    if (m_garbageFrames > 0 && m_garbageBytes > 0) {
        --m_garbageFrames;
        Chunk junk;
        junk.isFrame = false;
        junk.readyAt = readyAt;
        for (int i = 0; i < m_garbageBytes; ++i) {
            // Never the start byte: junk must not look like the start of a frame.
            m_junkSeed = m_junkSeed * 1103515245u + 12345u;
            uint8_t byte = static_cast<uint8_t>(m_junkSeed >> 16);
            if (byte == 0x7E)
                byte = 0x55;
            junk.bytes.push_back(byte);
        }
        m_garbageSent += junk.bytes.size();
        m_chunks.push_back(std::move(junk));
    }
    Chunk chunk;
    chunk.bytes = std::move(frame);
    chunk.readyAt = readyAt;
    if (m_splitFrames > 0 && m_splitChunk > 0) {
        --m_splitFrames;
        chunk.splitChunk = static_cast<std::size_t>(m_splitChunk);
    }
    if (m_holdFrames > 0) {
        --m_holdFrames;
        chunk.heldForCancel = true;
    }
    m_chunks.push_back(std::move(chunk));
}

std::vector<uint8_t> OutPipe::read(std::size_t maxLength, Clock::time_point now)
{
    std::vector<uint8_t> out;
    if (m_stalled)
        return out;
    if (m_stallsLeft > 0) {
        --m_stallsLeft;
        m_stalled = true;
        return out;
    }
    while (out.size() < maxLength && !m_chunks.empty()) {
        Chunk& front = m_chunks.front();
        if (front.readyAt > now || front.heldForCancel)
            break;
        std::size_t take = std::min(front.bytes.size() - m_frontOffset, maxLength - out.size());
        const bool split = front.splitChunk > 0;
        if (split) {
            // A split frame is never joined to what came before it in the read.
            if (!out.empty())
                break;
            take = std::min(take, front.splitChunk);
        }
        out.insert(out.end(), front.bytes.begin() + static_cast<std::ptrdiff_t>(m_frontOffset),
                   front.bytes.begin() + static_cast<std::ptrdiff_t>(m_frontOffset + take));
        m_frontOffset += take;
        if (m_frontOffset == front.bytes.size()) {
            m_chunks.pop_front();
            m_frontOffset = 0;
        }
        if (split)
            break;
    }
    return out;
}

std::vector<uint8_t> OutPipe::readAtCancel(std::size_t maxLength, Clock::time_point now)
{
    if (m_stalled || m_chunks.empty() || !m_chunks.front().heldForCancel || m_chunks.front().readyAt > now)
        return {};
    m_chunks.front().heldForCancel = false;
    ++m_releasedAtCancel;
    return read(maxLength, now);
}

std::optional<OutPipe::Clock::time_point> OutPipe::nextReadyTime(Clock::time_point now) const
{
    // A held frame waits for a cancel, not for a time.
    if (m_chunks.empty() || m_chunks.front().heldForCancel)
        return std::nullopt;
    return std::max(now, m_chunks.front().readyAt);
}

std::size_t OutPipe::unreadFrames() const
{
    std::size_t count = 0;
    for (std::size_t i = 0; i < m_chunks.size(); ++i) {
        if (m_chunks[i].isFrame && !(i == 0 && m_frontOffset > 0))
            ++count;
    }
    return count;
}

std::size_t OutPipe::dropOldestFrames(std::size_t keep)
{
    std::size_t unread = unreadFrames();
    std::size_t dropped = 0;
    // The front piece stays if a read has started it.
    auto it = m_chunks.begin();
    if (m_frontOffset > 0 && it != m_chunks.end())
        ++it;
    while (unread > keep && it != m_chunks.end()) {
        if (it->isFrame) {
            --unread;
            ++dropped;
        }
        // Junk in front of a dropped frame goes with it.
        it = m_chunks.erase(it);
    }
    return dropped;
}

std::size_t OutPipe::pendingBytes() const
{
    std::size_t total = 0;
    for (const Chunk& c : m_chunks)
        total += c.bytes.size();
    return total - m_frontOffset;
}

void OutPipe::clear()
{
    m_chunks.clear();
    m_frontOffset = 0;
}

void OutPipe::addGarbage(int frames, int bytes)
{
    m_garbageFrames = std::max(0, frames);
    m_garbageBytes = std::max(0, bytes);
}

void OutPipe::addSplit(int frames, int chunkSize)
{
    m_splitFrames = std::max(0, frames);
    m_splitChunk = std::max(1, chunkSize);
}

void OutPipe::holdUntilCancel(int frames)
{
    m_holdFrames = std::max(0, frames);
}

void OutPipe::stall(int episodes)
{
    m_stalled = true;
    m_stallsLeft = std::max(0, episodes - 1);
}

bool OutPipe::accessStalls()
{
    if (m_stalled)
        return true;
    if (m_stallsLeft > 0) {
        --m_stallsLeft;
        m_stalled = true;
        return true;
    }
    return false;
}

void OutPipe::clearFaults()
{
    m_garbageFrames = 0;
    m_splitFrames = 0;
    m_holdFrames = 0;
    for (Chunk& chunk : m_chunks)
        chunk.heldForCancel = false;
    m_stalled = false;
    m_stallsLeft = 0;
}

} // namespace Tavrix::Simulator

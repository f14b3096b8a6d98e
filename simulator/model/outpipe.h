#pragma once

// The recorder's side of one IN endpoint: frames waiting to be read, each
// readable from its own time on, plus the read-side faults of that endpoint
// (junk before frames, frames handed out in small pieces, stalls).

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace Tavrix::Simulator {

class OutPipe {
public:
    using Clock = std::chrono::steady_clock;

    // Queues one frame; it becomes readable at `readyAt`. Pending garbage,
    // split and hold faults of the endpoint are applied to it here.
    void pushFrame(std::vector<uint8_t> frame, Clock::time_point readyAt);

    // Up to `maxLength` bytes that are ready at `now`, in queue order and
    // across frame boundaries; a split frame ends the read after at most its
    // chunk size. Empty while stalled (a read of an armed stall stalls it).
    std::vector<uint8_t> read(std::size_t maxLength, Clock::time_point now);

    // The host cancelled a read of this endpoint: a frame held for that
    // (holdUntilCancel) is released into it, with what follows it, up to
    // `maxLength` bytes. Empty when nothing is held at the front.
    std::vector<uint8_t> readAtCancel(std::size_t maxLength, Clock::time_point now);

    // `now` when something is readable, the ready time of the first queued
    // piece otherwise, nothing when the queue is empty.
    std::optional<Clock::time_point> nextReadyTime(Clock::time_point now) const;

    // Whole frames not yet started by a read.
    std::size_t unreadFrames() const;
    // Removes the oldest whole frames until at most `keep` unread frames
    // remain; a frame a read has already started is never touched (the host
    // would see half a frame). Returns the number dropped.
    std::size_t dropOldestFrames(std::size_t keep);
    void clear();
    bool empty() const { return m_chunks.empty(); }
    std::size_t pendingBytes() const;

    void addGarbage(int frames, int bytes);
    void addSplit(int frames, int chunkSize);
    // The next `frames` frames are not readable by ordinary reads: each waits
    // until the host cancels a read and is then handed to that read, as a
    // recorder does whose data arrives while the host is cancelling.
    void holdUntilCancel(int frames);
    uint64_t framesReleasedAtCancel() const { return m_releasedAtCancel; }
    // Stalls now; `episodes` - 1 further stalls follow, each on the first
    // read after the previous halt was cleared.
    void stall(int episodes);
    bool isStalled() const { return m_stalled; }
    void clearHalt() { m_stalled = false; }
    // For the OUT endpoint: whether an access stalls (arming the next stall).
    bool accessStalls();
    void clearFaults();

    uint64_t garbageBytesSent() const { return m_garbageSent; }

private:
    struct Chunk {
        std::vector<uint8_t> bytes;
        Clock::time_point readyAt;
        bool isFrame = true;
        std::size_t splitChunk = 0;   // 0: not split
        bool heldForCancel = false;
    };

    std::deque<Chunk> m_chunks;
    std::size_t m_frontOffset = 0;
    int m_garbageFrames = 0;
    int m_garbageBytes = 0;
    int m_splitFrames = 0;
    int m_splitChunk = 0;
    int m_holdFrames = 0;
    uint64_t m_releasedAtCancel = 0;
    bool m_stalled = false;
    int m_stallsLeft = 0;
    uint32_t m_junkSeed = 0x2545F491u;
    uint64_t m_garbageSent = 0;
};

} // namespace Tavrix::Simulator

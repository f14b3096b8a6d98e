#pragma once

// The memory read-out on 0x86: after StartDataReading the recorder sends the
// recording area from the start address up to its write pointer in frames of
// code 0x82 (payload, then a 4-byte frame sequence number). Frames are made
// as the host reads, so a large memory never sits in a queue.

#include "outpipe.h"
#include "recorderstate.h"

#include <chrono>
#include <cstdint>

namespace Tavrix::Simulator {

class FlashReadout {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr uint8_t kFrameCode = 0x82;

    void start(uint64_t from, uint64_t end, uint32_t payload);
    void stop() { m_active = false; }
    bool active() const { return m_active; }

    // Queues frames until the pipe holds at least `wanted` bytes or the range
    // is done. Returns true when this call sent the last frame.
    bool fill(const RecorderState& state, OutPipe& pipe, std::size_t wanted, Clock::time_point now);

    uint64_t nextAddress() const { return m_next; }
    uint64_t endAddress() const { return m_end; }
    uint64_t bytesSent() const { return m_bytesSent; }
    uint64_t framesSent() const { return m_framesSent; }

private:
    bool m_active = false;
    uint64_t m_next = 0;
    uint64_t m_end = 0;
    uint32_t m_payload = 512;
    uint32_t m_sequence = 0;
    uint64_t m_bytesSent = 0;
    uint64_t m_framesSent = 0;
};

} // namespace Tavrix::Simulator

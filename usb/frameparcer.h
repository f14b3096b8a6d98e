#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Tavrix::Usb {

// Cuts frames (0x7E, length, code, data, checksum, 0xBD) out of a byte
// stream fed one byte at a time. The frame buffer is allocated once; the
// checksum is kept but never checked.
//
// A declared length whose frame (length + 7 bytes) does not fit the frame
// buffer cannot be a frame we are able to take: the start byte is counted as
// discarded and the two length bytes after it are scanned again from the idle
// state, so a real start byte hidden in them is not lost. Nothing is ever
// written past the buffer.
class FrameParcer
{
public:
    explicit FrameParcer(std::size_t bufferSize);

    // Feeds one byte; true when it completed a frame, which is then frame().
    bool put(uint8_t byte);
    // Back to the idle state with an empty buffer and zeroed counters.
    void reset();

    const uint8_t* data() const { return m_buffer.data(); }
    // Bytes stored so far; after put() returned true, the frame's length.
    std::size_t size() const { return m_index; }
    std::vector<uint8_t> frame() const;

    int state() const { return m_state; }
    uint8_t code() const { return m_code; }
    uint32_t declaredLength() const { return m_length; }
    uint32_t checksum() const { return m_checksum; }
    uint64_t discardedCount() const { return m_discarded; }
    uint64_t frameCount() const { return m_frames; }
    std::size_t bufferSize() const { return m_buffer.size(); }

private:
    void store(uint8_t byte);
    void rejectStart();

    std::vector<uint8_t> m_buffer;
    int m_state = 0;
    uint8_t m_code = 0;
    uint32_t m_length = 0;
    uint32_t m_checksum = 0;
    std::size_t m_index = 0;
    uint64_t m_discarded = 0;
    uint64_t m_frames = 0;
};

} // namespace Tavrix::Usb

#pragma once

// Cuts request frames out of the bytes the host writes on 0x04. Writes may
// hold several frames or end in the middle of one; bytes outside frames and
// frames with a bad end byte are skipped and counted, as the host's own
// parser does with the recorder's answers.

#include <cstdint>
#include <vector>

namespace Tavrix::Simulator {

class FrameAssembler {
public:
    // Requests longer than this are not something the host ever sends; the
    // frame is dropped and the assembler looks for the next start byte.
    static constexpr std::size_t kMaxDataLength = 4096;

    // Feeds bytes; returns every frame completed by them, in order.
    std::vector<std::vector<uint8_t>> put(const std::vector<uint8_t>& bytes);
    void reset();

    uint64_t discardedBytes() const { return m_discarded; }
    uint64_t droppedFrames() const { return m_droppedFrames; }

private:
    std::vector<uint8_t> m_frame;
    std::size_t m_length = 0;
    uint64_t m_discarded = 0;
    uint64_t m_droppedFrames = 0;
};

} // namespace Tavrix::Simulator

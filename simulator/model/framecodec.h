#pragma once

// Building and checking the recorder's common frame:
// 0x7E, data length (LE16), code, data, checksum (LE16), 0xBD.

#include <cstdint>
#include <vector>

namespace Tavrix::Simulator {

class FrameCodec {
public:
    static constexpr uint8_t kStart = 0x7E;
    static constexpr uint8_t kEnd = 0xBD;
    static constexpr std::size_t kOverhead = 7;

    // A complete frame. The checksum field carries FF FF ("no checksum"),
    // which the host accepts; it never checks checksums.
    static std::vector<uint8_t> build(uint8_t code, const std::vector<uint8_t>& data);

    // Data bytes of a well-formed frame (no checks beyond the length).
    static std::vector<uint8_t> dataOf(const std::vector<uint8_t>& frame);
};

} // namespace Tavrix::Simulator

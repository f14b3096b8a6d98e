#pragma once

#include <cstddef>
#include <cstdint>

namespace Tavrix::Net::WebSockets {

// Follows the frames of a client's byte stream, fed in pieces of any size,
// and finds the first frame that is not masked: every frame a client sends
// must be (RFC 6455, section 5.1), and the server must then fail the
// connection with 1002. Only frame headers are read; payloads are skipped.
class ClientFrameScanner
{
public:
    // False from the first unmasked frame on; later input is not looked at.
    bool feed(const char* data, std::size_t size);
    bool sawUnmaskedFrame() const { return m_unmasked; }
    // Frames whose header has been read whole.
    std::uint64_t frames() const { return m_frames; }

private:
    enum class EState { First, Second, Length, Mask, Payload };

    void startPayload();

    EState m_state = EState::First;
    unsigned m_lengthBytesLeft = 0;
    unsigned m_maskBytesLeft = 0;
    std::uint64_t m_length = 0;
    std::uint64_t m_payloadLeft = 0;
    std::uint64_t m_frames = 0;
    bool m_unmasked = false;
};

} // namespace Tavrix::Net::WebSockets

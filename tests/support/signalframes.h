#pragma once

// Signal frames as the recorder sends them, for the decoder and channel
// manager tests: the caller fills the sample slots with put24().
// handOver() packs a stream as the ADC listener hands it on.

#include <QByteArray>
#include <QDataStream>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

namespace TestSupport {

// A 24-bit little-endian sample at `offset`.
inline void put24(std::vector<uint8_t>& frame, std::size_t offset, int32_t value)
{
    frame[offset] = static_cast<uint8_t>(value & 0xFF);
    frame[offset + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
    frame[offset + 2] = static_cast<uint8_t>((value >> 16) & 0xFF);
}

// A frame of `length` bytes with code `code`, zero samples, the frame number
// at `numberOffset`, the unused 0xFF 0xFF checksum and the end mark.
inline std::vector<uint8_t> signalFrame(std::size_t length, uint8_t code, std::size_t numberOffset, uint32_t number)
{
    std::vector<uint8_t> frame(length, 0);
    const uint8_t head[] = {0x7E, static_cast<uint8_t>(length - 7), 0x00, code};
    std::copy(std::begin(head), std::end(head), frame.begin());
    frame[numberOffset] = static_cast<uint8_t>(number & 0xFF);
    frame[numberOffset + 1] = static_cast<uint8_t>((number >> 8) & 0xFF);
    const uint8_t tail[] = {0xFF, 0xFF, 0xBD};
    std::copy(std::begin(tail), std::end(tail), frame.end() - 3);
    return frame;
}

// The ADC listener's hand-over: the stream cut into reads of at most
// `readSize` bytes, each serialised as a Qt byte array (32-bit big-endian
// length, then the bytes).
inline std::vector<uint8_t> handOver(const std::vector<uint8_t>& stream, std::size_t readSize = 128)
{
    QByteArray collected;
    QDataStream out(&collected, QIODevice::WriteOnly);
    for (std::size_t pos = 0; pos < stream.size(); pos += readSize) {
        const std::size_t n = std::min(readSize, stream.size() - pos);
        out << QByteArray(reinterpret_cast<const char*>(stream.data() + pos), static_cast<int>(n));
    }
    return std::vector<uint8_t>(collected.begin(), collected.end());
}

} // namespace TestSupport

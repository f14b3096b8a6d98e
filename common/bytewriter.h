#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Tavrix::Common {

// Builds the recorder's fields: little-endian integers, BCD digits and byte
// runs, appended in order. Calls chain: ByteWriter().u8(1).u16(500).take().
class ByteWriter
{
public:
    ByteWriter() = default;
    explicit ByteWriter(std::vector<uint8_t> start);

    ByteWriter& u8(uint8_t value);
    ByteWriter& u16(uint16_t value);
    // The low 24 bits; a negative value as 24-bit two's complement.
    ByteWriter& u24(uint32_t value);
    ByteWriter& s24(int32_t value);
    ByteWriter& u32(uint32_t value);
    // `count` (up to 8) bytes, least significant first.
    ByteWriter& unsignedLe(uint64_t value, std::size_t count);
    // The last two decimal digits of `value` as one BCD byte.
    ByteWriter& bcd(int value);
    ByteWriter& bytes(const std::vector<uint8_t>& run);
    ByteWriter& bytes(const uint8_t* data, std::size_t size);

    static uint8_t encodeBcd(int value);

    const std::vector<uint8_t>& data() const { return m_bytes; }
    std::vector<uint8_t> take() { return std::move(m_bytes); }

private:
    std::vector<uint8_t> m_bytes;
};

} // namespace Tavrix::Common

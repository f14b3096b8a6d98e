#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Tavrix::Common {

// Reads the recorder's fields (little-endian integers, BCD digits, byte runs)
// from an answer without ever reading past its end. Every read either fits,
// fills its output and moves on, or fails with false and changes nothing: a
// short answer is a failed read, never bytes from beyond the buffer.
//
// The reader keeps a pointer to the bytes: they must outlive it.
class ByteReader
{
public:
    explicit ByteReader(const std::vector<uint8_t>& bytes, std::size_t position = 0);
    ByteReader(const uint8_t* data, std::size_t size);

    std::size_t size() const { return m_size; }
    std::size_t position() const { return m_position; }
    std::size_t remaining() const { return m_size - m_position; }
    // Moves to `position` when it is within the bytes (the end included).
    bool seek(std::size_t position);
    bool skip(std::size_t count);

    bool readU8(uint8_t& value);
    bool readU16(uint16_t& value);
    // The one big-endian field the recorder has.
    bool readU16BigEndian(uint16_t& value);
    bool readU24(uint32_t& value);
    // 24-bit two's complement.
    bool readS24(int32_t& value);
    bool readU32(uint32_t& value);
    // `count` (1 to 8) bytes, least significant first.
    bool readUnsigned(std::size_t count, uint64_t& value);
    // One byte of two decimal digits; fails (and does not move) when either
    // half is not a digit. `mask` clears bits that carry flags, not digits.
    bool readBcd(uint8_t& value, uint8_t mask = 0xFF);
    bool readBytes(std::size_t count, std::vector<uint8_t>& bytes);
    bool peekU8(uint8_t& value) const;

    // The decimal value of a BCD byte; false when it is not one.
    static bool decodeBcd(uint8_t byte, uint8_t& value);

private:
    // `count` bytes into a type that holds them.
    template<typename T>
    bool readNarrow(std::size_t count, T& value)
    {
        uint64_t wide = 0;
        if (!readUnsigned(count, wide))
            return false;
        value = static_cast<T>(wide);
        return true;
    }

    const uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position;
};

} // namespace Tavrix::Common

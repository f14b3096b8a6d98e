#include "common/bytewriter.h"

#include <utility>

namespace Tavrix::Common {

ByteWriter::ByteWriter(std::vector<uint8_t> start)
    : m_bytes(std::move(start))
{
}

ByteWriter& ByteWriter::unsignedLe(uint64_t value, std::size_t count)
{
    for (std::size_t i = 0; i < count && i < 8; ++i)
        m_bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return *this;
}

ByteWriter& ByteWriter::u8(uint8_t value)
{
    m_bytes.push_back(value);
    return *this;
}

ByteWriter& ByteWriter::u16(uint16_t value)
{
    return unsignedLe(value, 2);
}

ByteWriter& ByteWriter::u24(uint32_t value)
{
    return unsignedLe(value & 0xFFFFFFu, 3);
}

ByteWriter& ByteWriter::s24(int32_t value)
{
    return u24(static_cast<uint32_t>(value));
}

ByteWriter& ByteWriter::u32(uint32_t value)
{
    return unsignedLe(value, 4);
}

ByteWriter& ByteWriter::bcd(int value)
{
    return u8(encodeBcd(value));
}

ByteWriter& ByteWriter::bytes(const std::vector<uint8_t>& run)
{
    m_bytes.insert(m_bytes.end(), run.begin(), run.end());
    return *this;
}

ByteWriter& ByteWriter::bytes(const uint8_t* data, std::size_t size)
{
    if (data)
        m_bytes.insert(m_bytes.end(), data, data + size);
    return *this;
}

uint8_t ByteWriter::encodeBcd(int value)
{
    return static_cast<uint8_t>(((value / 10) % 10) << 4 | (value % 10));
}

} // namespace Tavrix::Common

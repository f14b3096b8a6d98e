#include "common/bytereader.h"

namespace Tavrix::Common {

ByteReader::ByteReader(const std::vector<uint8_t>& bytes, std::size_t position)
    : m_data(bytes.data())
    , m_size(bytes.size())
    , m_position(position <= bytes.size() ? position : bytes.size())
{
}

ByteReader::ByteReader(const uint8_t* data, std::size_t size)
    : m_data(data)
    , m_size(data ? size : 0)
    , m_position(0)
{
}

bool ByteReader::seek(std::size_t position)
{
    if (position > m_size)
        return false;
    m_position = position;
    return true;
}

bool ByteReader::skip(std::size_t count)
{
    if (count > remaining())
        return false;
    m_position += count;
    return true;
}

bool ByteReader::readUnsigned(std::size_t count, uint64_t& value)
{
    if (count == 0 || count > 8 || count > remaining())
        return false;
    uint64_t result = 0;
    for (std::size_t i = 0; i < count; ++i)
        result |= static_cast<uint64_t>(m_data[m_position + i]) << (8 * i);
    value = result;
    m_position += count;
    return true;
}

bool ByteReader::readU8(uint8_t& value)
{
    return readNarrow(1, value);
}

bool ByteReader::readU16(uint16_t& value)
{
    return readNarrow(2, value);
}

bool ByteReader::readU16BigEndian(uint16_t& value)
{
    uint16_t swapped = 0;
    if (!readU16(swapped))
        return false;
    value = static_cast<uint16_t>((swapped >> 8) | (swapped << 8));
    return true;
}

bool ByteReader::readU24(uint32_t& value)
{
    return readNarrow(3, value);
}

bool ByteReader::readS24(int32_t& value)
{
    uint32_t bits = 0;
    if (!readU24(bits))
        return false;
    value = (bits & 0x800000u) ? static_cast<int32_t>(bits) - 0x1000000 : static_cast<int32_t>(bits);
    return true;
}

bool ByteReader::readU32(uint32_t& value)
{
    return readNarrow(4, value);
}

bool ByteReader::readBcd(uint8_t& value, uint8_t mask)
{
    uint8_t byte = 0;
    uint8_t decoded = 0;
    if (!peekU8(byte) || !decodeBcd(byte & mask, decoded))
        return false;
    value = decoded;
    ++m_position;
    return true;
}

bool ByteReader::readBytes(std::size_t count, std::vector<uint8_t>& bytes)
{
    if (count > remaining())
        return false;
    bytes.assign(m_data + m_position, m_data + m_position + count);
    m_position += count;
    return true;
}

bool ByteReader::peekU8(uint8_t& value) const
{
    if (remaining() == 0)
        return false;
    value = m_data[m_position];
    return true;
}

bool ByteReader::decodeBcd(uint8_t byte, uint8_t& value)
{
    if ((byte >> 4) > 9 || (byte & 0x0F) > 9)
        return false;
    value = static_cast<uint8_t>((byte >> 4) * 10 + (byte & 0x0F));
    return true;
}

} // namespace Tavrix::Common

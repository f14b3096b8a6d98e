#include "common/messagepacker.h"

namespace Tavrix::Common {

void MessagePacker::putBigEndian(uint32_t value, int bytes)
{
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8)
        m_data.append(static_cast<char>((value >> shift) & 0xFF));
}

MessagePacker& MessagePacker::operator<<(const std::string& text)
{
    const size_t n = text.size();
    if (n < 32) {
        m_data.append(static_cast<char>(0xA0 + n));
    } else if (n < 256) {
        m_data.append(static_cast<char>(0xD9));
        putBigEndian(static_cast<uint32_t>(n), 1);
    } else if (n <= 65535) {
        m_data.append(static_cast<char>(0xDA));
        putBigEndian(static_cast<uint32_t>(n), 2);
    } else {
        m_data.append(static_cast<char>(0xDB));
        putBigEndian(static_cast<uint32_t>(n), 4);
    }
    m_data.append(text.data(), static_cast<int>(n));
    return *this;
}

void MessagePacker::packMapHeader(uint8_t entries)
{
    m_data.append(static_cast<char>(0x80 + (entries & 0x0F)));
}

void MessagePacker::packArrayHeader(uint32_t size)
{
    if (size <= 15) {
        m_data.append(static_cast<char>(0x90 + size));
    } else if (size <= 65535) {
        m_data.append(static_cast<char>(0xDC));
        putBigEndian(size, 2);
    } else {
        m_data.append(static_cast<char>(0xDD));
        putBigEndian(size, 4);
    }
}

void MessagePacker::packUnsigned(uint32_t value)
{
    if (value < 128) {
        m_data.append(static_cast<char>(value));
    } else if (value < 256) {
        m_data.append(static_cast<char>(0xCC));
        putBigEndian(value, 1);
    } else if (value <= 65535) {
        m_data.append(static_cast<char>(0xCD));
        putBigEndian(value, 2);
    } else {
        m_data.append(static_cast<char>(0xCE));
        putBigEndian(value, 4);
    }
}

void MessagePacker::packSigned(int32_t value)
{
    if (value >= 0) {
        packUnsigned(static_cast<uint32_t>(value));
    } else if (value >= -32) {
        m_data.append(static_cast<char>(value)); // negative fixnum 0xE0..0xFF
    } else if (value >= -128) {
        m_data.append(static_cast<char>(0xD0));
        putBigEndian(static_cast<uint32_t>(value), 1);
    } else if (value >= -32768) {
        m_data.append(static_cast<char>(0xD1));
        putBigEndian(static_cast<uint32_t>(value), 2);
    } else {
        m_data.append(static_cast<char>(0xD2));
        putBigEndian(static_cast<uint32_t>(value), 4);
    }
}

} // namespace Tavrix::Common

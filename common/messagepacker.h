#pragma once

#include <QByteArray>
#include <cstdint>
#include <string>

namespace Tavrix::Common {

// MessagePack writer for stream and event messages; every header takes its
// smallest form.
class MessagePacker
{
public:
    MessagePacker& operator<<(const std::string& text);
    MessagePacker& operator<<(const char* text) { return *this << std::string(text); }

    // Fixed map header: 0x80 + entries (at most 15 entries in any message).
    void packMapHeader(uint8_t entries);
    void packArrayHeader(uint32_t size);
    void packUnsigned(uint32_t value);
    void packSigned(int32_t value);

    void clear() { m_data.clear(); }
    const QByteArray& data() const { return m_data; }
    QByteArray& data() { return m_data; }

private:
    void putBigEndian(uint32_t value, int bytes);

    QByteArray m_data;
};

} // namespace Tavrix::Common

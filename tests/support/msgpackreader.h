#pragma once

#include <QByteArray>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace TestSupport {

// Expected messages are written as bytes: a fixstr, and parts joined.
using Bytes = std::vector<uint8_t>;

inline Bytes str(const std::string& text)
{
    Bytes out{static_cast<uint8_t>(0xA0 + text.size())};
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A small MessagePack reader written for these tests, independent of the
// service's writer: it accepts every standard form, not only the smallest,
// so a message is checked for what it means as well as for its bytes.
struct MsgValue
{
    enum class Kind { Nil, Bool, Int, Str, Array, Map };
    Kind kind = Kind::Nil;
    int64_t integer = 0;
    std::string text;
    std::vector<MsgValue> items;
    std::vector<std::pair<MsgValue, MsgValue>> entries;

    const MsgValue& operator[](const std::string& key) const
    {
        static const MsgValue missing;
        for (const auto& entry : entries) {
            if (entry.first.kind == Kind::Str && entry.first.text == key)
                return entry.second;
        }
        return missing;
    }
    std::vector<std::string> keys() const
    {
        std::vector<std::string> result;
        for (const auto& entry : entries)
            result.push_back(entry.first.text);
        return result;
    }
    std::vector<int32_t> ints() const
    {
        std::vector<int32_t> result;
        for (const MsgValue& item : items)
            result.push_back(static_cast<int32_t>(item.integer));
        return result;
    }
};

class MsgReader
{
public:
    explicit MsgReader(const QByteArray& data)
        : m_data(reinterpret_cast<const uint8_t*>(data.constData()), reinterpret_cast<const uint8_t*>(data.constData()) + data.size())
    {
    }

    // Reads one document; false when it is malformed or followed by more bytes.
    bool readDocument(MsgValue& value)
    {
        return read(value, 0) && m_pos == m_data.size();
    }

private:
    bool take(size_t n, uint64_t& out)
    {
        if (m_data.size() - m_pos < n)
            return false;
        out = 0;
        for (size_t i = 0; i < n; ++i)
            out = (out << 8) | m_data[m_pos++];
        return true;
    }

    bool readString(size_t length, MsgValue& value)
    {
        if (m_data.size() - m_pos < length)
            return false;
        value.kind = MsgValue::Kind::Str;
        value.text.assign(m_data.begin() + static_cast<long>(m_pos), m_data.begin() + static_cast<long>(m_pos + length));
        m_pos += length;
        return true;
    }

    bool readArray(uint64_t count, MsgValue& value, int depth)
    {
        value.kind = MsgValue::Kind::Array;
        for (uint64_t i = 0; i < count; ++i) {
            MsgValue item;
            if (!read(item, depth + 1))
                return false;
            value.items.push_back(std::move(item));
        }
        return true;
    }

    bool readMap(uint64_t count, MsgValue& value, int depth)
    {
        value.kind = MsgValue::Kind::Map;
        for (uint64_t i = 0; i < count; ++i) {
            MsgValue key, item;
            if (!read(key, depth + 1) || !read(item, depth + 1))
                return false;
            value.entries.emplace_back(std::move(key), std::move(item));
        }
        return true;
    }

    bool readSigned(size_t bytes, MsgValue& value)
    {
        uint64_t raw;
        if (!take(bytes, raw))
            return false;
        const int shift = 64 - static_cast<int>(bytes) * 8;
        value.kind = MsgValue::Kind::Int;
        value.integer = static_cast<int64_t>(raw << shift) >> shift;
        return true;
    }

    bool readUnsigned(size_t bytes, MsgValue& value)
    {
        uint64_t raw;
        if (!take(bytes, raw))
            return false;
        value.kind = MsgValue::Kind::Int;
        value.integer = static_cast<int64_t>(raw);
        return true;
    }

    bool read(MsgValue& value, int depth)
    {
        uint64_t n;
        if (depth > 16 || !take(1, n))
            return false;
        const uint8_t tag = static_cast<uint8_t>(n);
        if (tag <= 0x7F) {
            value.kind = MsgValue::Kind::Int;
            value.integer = tag;
            return true;
        }
        if (tag >= 0xE0) {
            value.kind = MsgValue::Kind::Int;
            value.integer = static_cast<int8_t>(tag);
            return true;
        }
        if ((tag & 0xF0) == 0x80)
            return readMap(tag & 0x0F, value, depth);
        if ((tag & 0xF0) == 0x90)
            return readArray(tag & 0x0F, value, depth);
        if ((tag & 0xE0) == 0xA0)
            return readString(tag & 0x1F, value);
        switch (tag) {
        case 0xC0: value.kind = MsgValue::Kind::Nil; return true;
        case 0xC2:
        case 0xC3: value.kind = MsgValue::Kind::Bool; value.integer = tag & 1; return true;
        case 0xCC: return readUnsigned(1, value);
        case 0xCD: return readUnsigned(2, value);
        case 0xCE: return readUnsigned(4, value);
        case 0xCF: return readUnsigned(8, value);
        case 0xD0: return readSigned(1, value);
        case 0xD1: return readSigned(2, value);
        case 0xD2: return readSigned(4, value);
        case 0xD3: return readSigned(8, value);
        case 0xD9: return take(1, n) && readString(n, value);
        case 0xDA: return take(2, n) && readString(n, value);
        case 0xDB: return take(4, n) && readString(n, value);
        case 0xDC: return take(2, n) && readArray(n, value, depth);
        case 0xDD: return take(4, n) && readArray(n, value, depth);
        case 0xDE: return take(2, n) && readMap(n, value, depth);
        case 0xDF: return take(4, n) && readMap(n, value, depth);
        default: return false;
        }
    }

    std::vector<uint8_t> m_data;
    size_t m_pos = 0;
};


} // namespace TestSupport

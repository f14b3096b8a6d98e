#include "devicecomplexcommands/infomap.h"

#include "common/bytereader.h"
#include "common/bytewriter.h"
#include "common/datetimeobject.h"
#include "common/stringextensions.h"
#include "devicecomplexcommands/examinationinfo.h"

namespace Tavrix::DeviceComplexCommands {

using Common::StringExtensions;

namespace {
constexpr std::size_t headerSize = 10;
constexpr std::size_t checkSize = 4;
constexpr uint16_t blockVersion = 0x0306;
constexpr uint16_t oldestLongHeaderVersion = 0x0203;
constexpr std::size_t shortHeaderSize = 7;

// A 32-bit value at `offset`, 0 where the bytes end first.
uint32_t readU32At(const std::vector<uint8_t>& bytes, std::size_t offset)
{
    uint32_t value = 0;
    Common::ByteReader(bytes, offset).readU32(value);
    return value;
}
} // namespace

void InfoMap::addValue(const std::string& key, int32_t value)
{
    Item item{integerTag, Common::ByteWriter().u32(static_cast<uint32_t>(value)).take()};
    m_items[key] = item;
}

bool InfoMap::addValue(const std::string& key, const std::string& text)
{
    std::vector<uint8_t> encoded = StringExtensions::toWindows1251FromUtf8(text);
    // A character Windows-1251 lacks would come back as something else.
    if (StringExtensions::toUtf8StringFromWindows1251(encoded) != text)
        return false;
    encoded.push_back(0);
    m_items[key] = Item{textTag, std::move(encoded)};
    return true;
}

bool InfoMap::toBytes(std::vector<uint8_t>& bytes) const
{
    for (const auto& [key, item] : m_items) {
        if (item.data.size() + 1 > 0xFF)
            return false;
        const auto encodedKey = StringExtensions::toWindows1251FromUtf8(key);
        bytes.insert(bytes.end(), encodedKey.begin(), encodedKey.end());
        bytes.push_back(0);
        bytes.push_back(static_cast<uint8_t>(item.data.size() + 1));
        bytes.push_back(item.tag);
        bytes.insert(bytes.end(), item.data.begin(), item.data.end());
    }
    return true;
}

bool InfoMap::fromBytes(const std::vector<uint8_t>& bytes, std::size_t offset, std::size_t end)
{
    // Each item: its key, a zero byte, the length of what follows (tag and
    // data), the tag, the data.
    Common::ByteReader reader(bytes.data(), std::min(end, bytes.size()));
    if (!reader.seek(offset))
        return true;
    while (reader.remaining() > 0) {
        std::vector<uint8_t> key;
        uint8_t byte = 0;
        while (reader.peekU8(byte) && byte != 0) {
            key.push_back(byte);
            reader.skip(1);
        }
        uint8_t length = 0;
        if (!reader.skip(1) || !reader.readU8(length))
            return false;
        Item item;
        if (length == 0 || !reader.readU8(item.tag) || !reader.readBytes(length - 1u, item.data))
            return false;
        m_items[StringExtensions::toUtf8StringFromWindows1251(key)] = item;
    }
    return true;
}

std::optional<std::string> InfoMap::interpretValue(const std::string& key) const
{
    const auto found = m_items.find(key);
    if (found == m_items.end())
        return std::nullopt;
    const Item& item = found->second;
    std::vector<uint8_t> text = item.data;
    switch (item.tag) {
    case integerTag:
        return std::to_string(static_cast<int32_t>(readU32At(item.data, 0)));
    case textTag:
    case dateTimeTag:
        while (!text.empty() && text.back() == 0)
            text.pop_back();
        if (item.tag == dateTimeTag)
            return Common::DateTimeObject::fromString(StringExtensions::toUtf8StringFromWindows1251(text)).toString();
        return StringExtensions::toUtf8StringFromWindows1251(text);
    case wideTextTag: {
        std::vector<uint8_t> narrow;
        for (std::size_t i = 0; i + 4 <= item.data.size(); i += 4) {
            const uint32_t c = readU32At(item.data, i);
            if (c == 0)
                break;
            narrow.push_back(static_cast<uint8_t>(c));
        }
        return StringExtensions::toUtf8StringFromWindows1251(narrow);
    }
    default:
        return std::nullopt;
    }
}

bool InfoMap::toExaminationBlock(std::vector<uint8_t>& block) const
{
    std::vector<uint8_t> map;
    if (!toBytes(map) || m_items.size() > 0xFF)
        return false;
    const std::size_t length = map.size() + headerSize;
    if (length + checkSize > ExaminationRecords::maxMapBlockSize)
        return false;
    Common::ByteWriter out;
    out.u8(0x3E).u8(0xE3).u16(static_cast<uint16_t>(length)).u16(blockVersion);
    out.u8(static_cast<uint8_t>(m_items.size())).u8(0x20).u8(0x00).u8(0x00).bytes(map);
    out.u32(ExaminationRecords::checkValue(out.data().data(), out.data().size()));
    block = out.take();
    return true;
}

bool InfoMap::fromExaminationBlock(const std::vector<uint8_t>& block, InfoMap& map)
{
    // Marker, length, version, item count.
    Common::ByteReader header(block, 2);
    uint16_t length = 0;
    uint16_t version = 0;
    uint8_t items = 0;
    if (block.size() < shortHeaderSize || !header.readU16(length) || !header.readU16(version) || !header.readU8(items))
        return false;
    if (version > oldestLongHeaderVersion && block.size() < headerSize)
        return false;
    if (length == 0 || length + checkSize > block.size() || length < headerSize)
        return false;
    if (ExaminationRecords::checkValue(block.data(), length) != readU32At(block, length))
        return false;
    if (items == 0)
        return false;
    InfoMap parsed;
    if (!parsed.fromBytes(block, headerSize, length))
        return false;
    map = parsed;
    return true;
}

} // namespace Tavrix::DeviceComplexCommands

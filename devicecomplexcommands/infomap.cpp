#include "devicecomplexcommands/infomap.h"

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

uint32_t readLe(const std::vector<uint8_t>& bytes, std::size_t offset, std::size_t count)
{
    uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
    return value;
}
} // namespace

void InfoMap::addValue(const std::string& key, int32_t value)
{
    Item item{integerTag, {}};
    for (int i = 0; i < 4; ++i)
        item.data.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i)));
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
    end = std::min(end, bytes.size());
    while (offset < end) {
        std::size_t zero = offset;
        while (zero < end && bytes[zero] != 0)
            ++zero;
        if (zero + 2 > end)
            return false;
        const std::string key =
            StringExtensions::toUtf8StringFromWindows1251(std::vector<uint8_t>(bytes.begin() + offset, bytes.begin() + zero));
        const std::size_t length = bytes[zero + 1];
        if (length == 0 || zero + 2 + length > end)
            return false;
        Item item;
        item.tag = bytes[zero + 2];
        item.data.assign(bytes.begin() + zero + 3, bytes.begin() + zero + 2 + length);
        m_items[key] = item;
        offset = zero + 2 + length;
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
        return std::to_string(static_cast<int32_t>(item.data.size() >= 4 ? readLe(item.data, 0, 4) : 0));
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
            const uint32_t c = readLe(item.data, i, 4);
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
    block = {0x3E, 0xE3, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
             static_cast<uint8_t>(blockVersion), static_cast<uint8_t>(blockVersion >> 8),
             static_cast<uint8_t>(m_items.size()), 0x20, 0x00, 0x00};
    block.insert(block.end(), map.begin(), map.end());
    const uint32_t check = ExaminationRecords::checkValue(block.data(), block.size());
    for (int i = 0; i < 4; ++i)
        block.push_back(static_cast<uint8_t>(check >> (8 * i)));
    return true;
}

bool InfoMap::fromExaminationBlock(const std::vector<uint8_t>& block, InfoMap& map)
{
    if (block.size() < shortHeaderSize)
        return false;
    const uint16_t version = static_cast<uint16_t>(readLe(block, 4, 2));
    if (version > oldestLongHeaderVersion && block.size() < headerSize)
        return false;
    const std::size_t length = readLe(block, 2, 2);
    if (length == 0 || length + checkSize > block.size() || length < headerSize)
        return false;
    if (ExaminationRecords::checkValue(block.data(), length) != readLe(block, length, 4))
        return false;
    if (block[6] == 0)
        return false;
    InfoMap parsed;
    if (!parsed.fromBytes(block, headerSize, length))
        return false;
    map = parsed;
    return true;
}

} // namespace Tavrix::DeviceComplexCommands

#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Tavrix::DeviceComplexCommands {

// Keyed typed items as the recorder stores them: integers 'd', texts 's',
// wide texts 'w' and date-times 'Q', in plain byte order of their keys.
//
// Texts are kept and written in Windows-1251, the recorder's text encoding,
// so that every reader of the block (which decodes them as Windows-1251)
// gets back what was written.
class InfoMap
{
public:
    struct Item
    {
        uint8_t tag = 'd';
        std::vector<uint8_t> data;
    };

    static constexpr uint8_t integerTag = 'd';
    static constexpr uint8_t textTag = 's';
    static constexpr uint8_t wideTextTag = 'w';
    static constexpr uint8_t dateTimeTag = 'Q';

    void addValue(const std::string& key, int32_t value);
    // `text` in UTF-8; false (nothing stored) when Windows-1251 cannot hold it.
    bool addValue(const std::string& key, const std::string& text);

    std::size_t size() const { return m_items.size(); }
    const std::map<std::string, Item>& items() const { return m_items; }

    // Entry by entry: key (Windows-1251) and 0, data length + 1, tag, data.
    // False when an entry's data is too long for its length byte.
    bool toBytes(std::vector<uint8_t>& bytes) const;
    // Entries from `bytes`; false when they run past the end.
    bool fromBytes(const std::vector<uint8_t>& bytes, std::size_t offset, std::size_t end);

    // The item as text (UTF-8): texts decoded from Windows-1251, integers in decimal.
    std::optional<std::string> interpretValue(const std::string& key) const;

    // The examination map block: header, map, check value; false when it
    // would be longer than the recorder's 1280 bytes.
    bool toExaminationBlock(std::vector<uint8_t>& block) const;
    // The map of an examination block; false for a damaged or empty block.
    static bool fromExaminationBlock(const std::vector<uint8_t>& block, InfoMap& map);

private:
    std::map<std::string, Item> m_items;
};

} // namespace Tavrix::DeviceComplexCommands

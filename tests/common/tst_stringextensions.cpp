#include "common/bytearrayprovider.h"
#include "common/stringcomparer.h"
#include "common/stringextensions.h"

#include <gtest/gtest.h>

using Tavrix::Common::ByteArrayProvider;
using Tavrix::Common::StringComparer;
using Tavrix::Common::StringExtensions;

TEST(Windows1251, CyrillicRoundTrip)
{
    const std::string text = "Иванов Пётр ЁЖЩ ёжщ 123";
    const std::vector<uint8_t> bytes = StringExtensions::toWindows1251FromUtf8(text);
    ASSERT_EQ(bytes.size(), 23u); // one byte a character
    EXPECT_EQ(bytes[0], 0xC8);    // И
    EXPECT_EQ(StringExtensions::toUtf8StringFromWindows1251(bytes), text);
}

TEST(Windows1251, DecodingStopsAtTheFirstZero)
{
    const std::vector<uint8_t> bytes = {0xC0, 0xC1, 0x00, 0xC2};
    EXPECT_EQ(StringExtensions::toUtf8StringFromWindows1251(bytes), "АБ");
    EXPECT_EQ(StringExtensions::toUtf8StringFromWindows1251(std::string("\xC0\x00\xC1", 3)), "А");
}

TEST(Windows1251, WideDecodingKeepsZeros)
{
    const std::wstring wide = StringExtensions::toWStringFromWindows1251({0xC0, 0x00, 0x41});
    ASSERT_EQ(wide.size(), 3u);
    EXPECT_EQ(wide[0], static_cast<wchar_t>(0x0410));
    EXPECT_EQ(wide[1], static_cast<wchar_t>(0));
    EXPECT_EQ(wide[2], static_cast<wchar_t>('A'));
}

TEST(Windows1251, EmptyInputsAndUnencodableCharacters)
{
    EXPECT_EQ(StringExtensions::toUtf8StringFromWindows1251(std::vector<uint8_t>{}), "");
    EXPECT_TRUE(StringExtensions::toWStringFromWindows1251({}).empty());
    EXPECT_TRUE(StringExtensions::toWindows1251FromUtf8("").empty());
    // A Chinese character has no Windows-1251 code: one substitute byte, no zero added.
    const std::vector<uint8_t> bytes = StringExtensions::toWindows1251FromUtf8("a中b");
    ASSERT_EQ(bytes.size(), 3u);
    EXPECT_EQ(bytes[0], 'a');
    EXPECT_EQ(bytes[2], 'b');
}

TEST(StringExtensions, CaseInsensitiveComparison)
{
    EXPECT_TRUE(StringExtensions::isEqualsInsensitive("ReadPower", "readpower"));
    EXPECT_TRUE(StringExtensions::isEqualsInsensitive("", ""));
    EXPECT_FALSE(StringExtensions::isEqualsInsensitive("ReadPower", "ReadPowe"));
    EXPECT_FALSE(StringExtensions::isEqualsInsensitive("abc", "abd"));
    EXPECT_TRUE(StringComparer::isEqualsInsensitive("GETCMDLIST", "GetCmdList"));
}

TEST(StringExtensions, ZeroLeadNumbers)
{
    EXPECT_EQ(StringExtensions::getZeroLeadNumberText(7, 3), "007");
    EXPECT_EQ(StringExtensions::getZeroLeadNumberText(1234, 2), "1234");
    EXPECT_EQ(StringExtensions::getZeroLeadNumberText(-5, 3), "0-5");
    EXPECT_EQ(StringExtensions::getZeroLeadNumberText(0, 0), "0");
}

TEST(ByteArrayProvider, HexDump)
{
    EXPECT_EQ(ByteArrayProvider::packToText({0x7E, 0x01, 0xBD}), "7E, 01, BD");
    EXPECT_EQ(ByteArrayProvider::packToText({}), "");
    EXPECT_EQ(ByteArrayProvider::packToText({0x0a}), "0A");
}

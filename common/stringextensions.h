#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Tavrix::Common {

// Text helpers. The recorder stores text in the Windows-1251 code page; the
// service works in UTF-8.
class StringExtensions
{
public:
    static bool isEqualsInsensitive(const std::string& a, const std::string& b);
    // Decodes Windows-1251 and keeps the text before the first zero character.
    static std::string toUtf8StringFromWindows1251(const std::vector<uint8_t>& bytes);
    static std::string toUtf8StringFromWindows1251(const std::string& bytes);
    static std::wstring toWStringFromWindows1251(const std::vector<uint8_t>& bytes);
    // Characters without a Windows-1251 code become the codec's substitute.
    static std::vector<uint8_t> toWindows1251FromUtf8(const std::string& text);
    static std::string getZeroLeadNumberText(int value, unsigned width);
};

} // namespace Tavrix::Common

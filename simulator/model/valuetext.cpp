#include "valuetext.h"

#include <cctype>
#include <cstdlib>
#include <cerrno>

namespace Tavrix::Simulator {

namespace {

std::string lowered(const std::string& text)
{
    std::string out;
    for (char c : text)
        out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return out;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

std::optional<uint64_t> ValueText::toUnsigned(const std::string& text, uint64_t max)
{
    if (text.empty())
        return std::nullopt;
    int base = 10;
    std::size_t start = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        start = 2;
    }
    uint64_t value = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        const int d = base == 16 ? hexDigit(text[i]) : (std::isdigit(static_cast<unsigned char>(text[i])) ? text[i] - '0' : -1);
        if (d < 0)
            return std::nullopt;
        if (value > (UINT64_MAX - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base))
            return std::nullopt;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    if (value > max)
        return std::nullopt;
    return value;
}

std::optional<int64_t> ValueText::toSigned(const std::string& text, int64_t min, int64_t max)
{
    if (text.empty())
        return std::nullopt;
    const bool negative = text[0] == '-';
    const auto magnitude = toUnsigned(negative ? text.substr(1) : text, static_cast<uint64_t>(INT64_MAX));
    if (!magnitude)
        return std::nullopt;
    const int64_t value = negative ? -static_cast<int64_t>(*magnitude) : static_cast<int64_t>(*magnitude);
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

std::optional<double> ValueText::toDouble(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size())
        return std::nullopt;
    return value;
}

std::optional<bool> ValueText::toBool(const std::string& text)
{
    const std::string t = lowered(text);
    if (t == "true" || t == "on" || t == "1" || t == "yes")
        return true;
    if (t == "false" || t == "off" || t == "0" || t == "no")
        return false;
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> ValueText::toBytes(const std::string& text)
{
    std::vector<uint8_t> out;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '-') {
            if (high >= 0)
                return std::nullopt;
            continue;
        }
        const int d = hexDigit(c);
        if (d < 0)
            return std::nullopt;
        if (high < 0) {
            high = d;
        } else {
            out.push_back(static_cast<uint8_t>(high * 16 + d));
            high = -1;
        }
    }
    if (high >= 0)
        return std::nullopt;
    return out;
}

std::string ValueText::hex(const std::vector<uint8_t>& bytes)
{
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0F]);
    }
    return out;
}

std::string ValueText::jsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                static const char* digits = "0123456789abcdef";
                out += "\\u00";
                out.push_back(digits[c >> 4]);
                out.push_back(digits[c & 0x0F]);
            } else {
                out.push_back(static_cast<char>(c));
            }
        }
    }
    out += "\"";
    return out;
}

} // namespace Tavrix::Simulator

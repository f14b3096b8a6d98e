#include "common/dateobject.h"

#include "common/stringextensions.h"

namespace Tavrix::Common {

namespace {

bool parseDigits(const std::string& text, size_t pos, size_t count, int32_t& value)
{
    value = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

} // namespace

bool DateObject::isLeapYear(int32_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

uint8_t DateObject::daysInMonth(int32_t year, uint8_t month)
{
    switch (month) {
    case 4:
    case 6:
    case 9:
    case 11:
        return 30;
    case 2:
        return isLeapYear(year) ? 29 : 28;
    default:
        return 31;
    }
}

DateObject DateObject::fromString(const std::string& text)
{
    if (text.size() != 10)
        return {};
    int32_t year = 0, month = 0, day = 0;
    if (!parseDigits(text, 0, 4, year) || !parseDigits(text, 5, 2, month)
        || !parseDigits(text, 8, 2, day))
        return {};

    DateObject date;
    date.year = year;
    uint8_t m = static_cast<uint8_t>(month & 0xFF);
    if (m > 12)
        m = 12;
    if (m == 0)
        m = 1;
    date.month = m;
    uint8_t d = static_cast<uint8_t>(day & 0xFF);
    if (d == 0)
        d = 1;
    const uint8_t limit = daysInMonth(year, m);
    if (d > limit)
        d = limit;
    date.day = d;
    date.unset = 0;
    return date;
}

std::string DateObject::toString() const
{
    return StringExtensions::getZeroLeadNumberText(year, 4) + "-"
         + StringExtensions::getZeroLeadNumberText(month, 2) + "-"
         + StringExtensions::getZeroLeadNumberText(day, 2);
}

bool DateObject::operator==(const DateObject& other) const
{
    return year == other.year && month == other.month && day == other.day && unset == other.unset;
}

} // namespace Tavrix::Common

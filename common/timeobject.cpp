#include "common/timeobject.h"

#include "common/stringextensions.h"

namespace Tavrix::Common {

namespace {

bool parseTwoDigits(const std::string& text, size_t pos, int& value)
{
    const char a = text[pos];
    const char b = text[pos + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9')
        return false;
    value = (a - '0') * 10 + (b - '0');
    return true;
}

uint8_t limited(int value, uint8_t maximum)
{
    const uint8_t v = static_cast<uint8_t>(value & 0xFF);
    return v > maximum ? maximum : v;
}

} // namespace

TimeObject TimeObject::fromString(const std::string& text)
{
    if (text.size() != 8)
        return {};
    int hour = 0, minute = 0, second = 0;
    if (!parseTwoDigits(text, 0, hour) || !parseTwoDigits(text, 3, minute)
        || !parseTwoDigits(text, 6, second))
        return {};
    TimeObject time;
    time.hour = limited(hour, 23);
    time.minute = limited(minute, 59);
    time.second = limited(second, 59);
    time.unset = 0;
    return time;
}

std::string TimeObject::toString() const
{
    return StringExtensions::getZeroLeadNumberText(hour, 2) + ":"
         + StringExtensions::getZeroLeadNumberText(minute, 2) + ":"
         + StringExtensions::getZeroLeadNumberText(second, 2);
}

bool TimeObject::operator==(const TimeObject& other) const
{
    return hour == other.hour && minute == other.minute && second == other.second
        && unset == other.unset;
}

} // namespace Tavrix::Common

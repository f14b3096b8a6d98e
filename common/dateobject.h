#pragma once

#include <cstdint>
#include <string>

namespace Tavrix::Common {

// A calendar date; `unset` is 1 until a value was given.
struct DateObject
{
    int32_t year = 0;
    uint8_t month = 1;
    uint8_t day = 1;
    uint8_t unset = 1;

    // "yyyy-MM-dd"; a text of another length gives the unset default. Month
    // and day are clamped to the calendar. A field with a non-digit also
    // gives the unset default, so callers see the date as missing.
    static DateObject fromString(const std::string& text);
    static bool isLeapYear(int32_t year);
    static uint8_t daysInMonth(int32_t year, uint8_t month);

    std::string toString() const; // "yyyy-MM-dd"
    bool isSet() const { return unset == 0; }
    bool operator==(const DateObject& other) const;
    bool operator!=(const DateObject& other) const { return !(*this == other); }
};

} // namespace Tavrix::Common

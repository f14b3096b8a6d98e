#pragma once

#include <cstdint>
#include <string>

namespace Tavrix::Common {

// A time of day; `unset` is 1 until a value was given.
struct TimeObject
{
    uint8_t hour = 0;
    uint8_t minute = 0;
    uint8_t second = 0;
    uint8_t unset = 1;

    // "hh:mm:ss"; a text of another length (or a non-digit field) gives the
    // unset default. Values are clamped to 23:59:59.
    static TimeObject fromString(const std::string& text);

    std::string toString() const; // "hh:mm:ss"
    bool isSet() const { return unset == 0; }
    bool operator==(const TimeObject& other) const;
    bool operator!=(const TimeObject& other) const { return !(*this == other); }
};

} // namespace Tavrix::Common

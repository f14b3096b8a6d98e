#pragma once

#include "common/dateobject.h"
#include "common/timeobject.h"

#include <QMetaType>

namespace Tavrix::Common {

struct DateTimeObject
{
    DateObject date;
    TimeObject time;

    // 19 characters: the date, one separator, the time; otherwise both unset.
    static DateTimeObject fromString(const std::string& text);
    std::string toString() const; // "yyyy-MM-dd hh:mm:ss"
    bool isSet() const { return date.isSet() && time.isSet(); }
    bool operator==(const DateTimeObject& other) const
    {
        return date == other.date && time == other.time;
    }
    // Registers the type for queued signals under "Common::DateTimeObject".
    static void registerMetaType();
};

} // namespace Tavrix::Common

Q_DECLARE_METATYPE(Tavrix::Common::DateTimeObject)

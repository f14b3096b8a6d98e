#include "common/datetimeobject.h"

namespace Tavrix::Common {

DateTimeObject DateTimeObject::fromString(const std::string& text)
{
    DateTimeObject value;
    if (text.size() != 19)
        return value;
    value.date = DateObject::fromString(text.substr(0, 10));
    value.time = TimeObject::fromString(text.substr(11, 8));
    return value;
}

std::string DateTimeObject::toString() const
{
    return date.toString() + " " + time.toString();
}

void DateTimeObject::registerMetaType()
{
    qRegisterMetaType<DateTimeObject>("Common::DateTimeObject");
}

} // namespace Tavrix::Common

#pragma once

#include <QVariant>
#include <cstdint>
#include <optional>

namespace Tavrix::DeviceWebApi {

// Strict readers for the values of web command requests (as QJsonValue
// turns them into variants). Each answers nothing for a value of the wrong
// kind or out of range, so a front end can refuse it with BAD_DATA before
// anything is sent, instead of converting "off" to true or 300 to 44.
class JsonArguments
{
public:
    // A JSON boolean, the texts "true"/"false"/"on"/"off" in any letter
    // case, or the numbers 0 and 1.
    static std::optional<bool> toSwitch(const QVariant& value);
    // A JSON number without fraction within [min, max]; texts, booleans and
    // everything else answer nothing.
    static std::optional<int64_t> toInteger(const QVariant& value, int64_t min, int64_t max);
    // As toInteger, but a missing or null value reads as `absent`.
    static std::optional<int64_t> toOptionalInteger(const QVariant& value, int64_t min, int64_t max, int64_t absent);
};

} // namespace Tavrix::DeviceWebApi

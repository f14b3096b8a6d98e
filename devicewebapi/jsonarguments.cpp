#include "devicewebapi/jsonarguments.h"

#include <cmath>

namespace Tavrix::DeviceWebApi {

namespace {
bool isNumber(const QVariant& value)
{
    switch (static_cast<QMetaType::Type>(value.type())) {
    case QMetaType::Double:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}
} // namespace

std::optional<bool> JsonArguments::toSwitch(const QVariant& value)
{
    if (value.type() == QVariant::Bool)
        return value.toBool();
    if (value.type() == QVariant::String) {
        const QString text = value.toString().toLower();
        if (text == QLatin1String("true") || text == QLatin1String("on"))
            return true;
        if (text == QLatin1String("false") || text == QLatin1String("off"))
            return false;
        return std::nullopt;
    }
    if (const auto number = toInteger(value, 0, 1))
        return *number == 1;
    return std::nullopt;
}

std::optional<int64_t> JsonArguments::toInteger(const QVariant& value, int64_t min, int64_t max)
{
    if (!isNumber(value))
        return std::nullopt;
    const double number = value.toDouble();
    // Doubles hold every integer up to 2^53 exactly; the ranges here are far below.
    if (!std::isfinite(number) || std::floor(number) != number || number < static_cast<double>(min)
        || number > static_cast<double>(max))
        return std::nullopt;
    return static_cast<int64_t>(number);
}

std::optional<int64_t> JsonArguments::toOptionalInteger(const QVariant& value, int64_t min, int64_t max,
                                                        int64_t absent)
{
    if (!value.isValid() || value.isNull())
        return absent;
    return toInteger(value, min, max);
}

} // namespace Tavrix::DeviceWebApi

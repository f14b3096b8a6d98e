#include "devicewebapi/settimejsoncommand.h"

#include "common/dateobject.h"
#include "devicewebapi/jsonarguments.h"

#include <algorithm>
#include <string>
#include <utility>
#include <optional>

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;

namespace {

// The recorder keeps the year as two BCD digits.
constexpr uint32_t kFirstYear = 2000;
constexpr uint32_t kLastYear = 2099;

// A missing key reads as 0; anything but a non-negative whole number is no
// time at all. Large values are held at 255 (and then clamped below), never
// cut to their low byte: 256 hours must not become midnight.
std::optional<uint8_t> clockField(const QVariantMap& map, const char* key)
{
    const std::optional<int64_t> value = JsonArguments::toOptionalInteger(map.value(key), 0, UINT32_MAX, 0);
    if (!value)
        return std::nullopt;
    return static_cast<uint8_t>(std::min<int64_t>(*value, 0xFF));
}

} // namespace

SetTimeJsonCommand::SetTimeJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                       Usb::UsbDeviceManager* manager)
    : DeviceComplexJsonCommand(std::move(description), manager)
{
}

std::shared_ptr<JsonCommandDescription> SetTimeJsonCommand::createCommandDescription()
{
    JsonCommandUnits members;
    for (const char* key : {"Year", "Month", "Day", "Hours", "Minutes", "Seconds"})
        members.push_back(std::make_shared<JsonCommandUnit>(key, EJsonUnitType::Int));
    return std::make_shared<JsonCommandDescription>("SetTime", std::make_shared<NamelessJsonCommandObjectUnit>(members),
                                                    std::make_shared<NamelessEmptyJsonCommandUnit>());
}

bool SetTimeJsonCommand::parseDateTime(const QVariant& data, Common::DateTimeObject& dateTime, std::string* refusal)
{
    auto refuse = [refusal](const std::string& text) {
        if (refusal)
            *refusal = text;
        return false;
    };
    if (data.isNull() || !data.canConvert<QVariantMap>())
        return refuse("data: must be an object with Year, Month, Day, Hours, Minutes and Seconds");
    const QVariantMap map = data.toMap();
    const std::optional<int64_t> givenYear = JsonArguments::toOptionalInteger(map.value("Year"), 0, UINT32_MAX, 0);
    const std::optional<uint8_t> month = clockField(map, "Month"), day = clockField(map, "Day"),
                                 hours = clockField(map, "Hours"), minutes = clockField(map, "Minutes"),
                                 seconds = clockField(map, "Seconds");
    if (!givenYear)
        return refuse("Year: must be a whole number");
    for (const auto& [key, field] : {std::pair<const char*, const std::optional<uint8_t>&>{"Month", month},
                                     {"Day", day}, {"Hours", hours}, {"Minutes", minutes}, {"Seconds", seconds}}) {
        if (!field)
            return refuse(std::string(key) + ": must be a whole number");
    }
    const auto year = static_cast<uint32_t>(*givenYear);
    // A year outside the recorder's two digits would be stored as another
    // year and reported as set.
    if (year < kFirstYear || year > kLastYear)
        return refuse("Year: " + std::to_string(year) + " is outside the recorder's calendar, "
                      + std::to_string(kFirstYear) + "–" + std::to_string(kLastYear));

    Common::DateTimeObject value;
    value.date.year = static_cast<int32_t>(year);
    value.date.month = std::clamp<uint8_t>(*month, 1, 12);
    value.date.day = std::clamp<uint8_t>(*day, 1,
                                         Common::DateObject::daysInMonth(value.date.year, value.date.month));
    value.date.unset = 0;
    value.time.hour = std::min<uint8_t>(*hours, 23);
    value.time.minute = std::min<uint8_t>(*minutes, 59);
    value.time.second = std::min<uint8_t>(*seconds, 59);
    value.time.unset = 0;
    dateTime = value;
    return true;
}

SetTimeJsonCommand::JsonCommandStatusPtr SetTimeJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    const std::optional<QVariant> data = requestData(info);
    if (!data)
        return badData("data: the date and time are missing");
    Common::DateTimeObject dateTime;
    std::string refusal;
    if (!parseDateTime(*data, dateTime, &refusal))
        return badData(refusal);
    return startOperation<DeviceComplexCommands::SetTimeCommand>(*info, &SetTimeJsonCommand::handleAnswer, dateTime);
}

void SetTimeJsonCommand::handleAnswer(Usb::ComplexCommand*, DeviceStatusPtr status)
{
    reportAnswer(QJsonDocument(), status);
}

} // namespace Tavrix::DeviceWebApi

#include "devicewebapi/gettimejsoncommand.h"

#include "usb/gettimecommand.h"

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;

GetTimeJsonCommand::GetTimeJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                       Usb::UsbDeviceManager* manager)
    : DeviceComplexJsonCommand(std::move(description), manager)
{
}

namespace {

// The answer's members, named once for the description and the answer.
struct ClockField
{
    const char* key;
    int (*value)(const Common::DateTimeObject&);
};

const ClockField kClockFields[] = {
    {"Year", [](const Common::DateTimeObject& d) { return int(d.date.year); }},
    {"Month", [](const Common::DateTimeObject& d) { return int(d.date.month); }},
    {"Day", [](const Common::DateTimeObject& d) { return int(d.date.day); }},
    {"Hours", [](const Common::DateTimeObject& d) { return int(d.time.hour); }},
    {"Minutes", [](const Common::DateTimeObject& d) { return int(d.time.minute); }},
    {"Seconds", [](const Common::DateTimeObject& d) { return int(d.time.second); }},
};

} // namespace

std::shared_ptr<JsonCommandDescription> GetTimeJsonCommand::createCommandDescription()
{
    JsonCommandUnits members;
    for (const ClockField& field : kClockFields)
        members.push_back(std::make_shared<JsonCommandUnit>(field.key, EJsonUnitType::Int));
    return std::make_shared<JsonCommandDescription>("GetTime", std::make_shared<NamelessEmptyJsonCommandUnit>(),
                                                    std::make_shared<NamelessJsonCommandObjectUnit>(members));
}

DeviceComplexJsonCommand::JsonCommandStatusPtr GetTimeJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    if (!info)
        return badData();
    return startOperation<Usb::GetTimeCommand>(*info, &GetTimeJsonCommand::handleAnswer);
}

void GetTimeJsonCommand::handleAnswer(Usb::ComplexCommand*, Common::DateTimeObject dateTime, DeviceStatusPtr status)
{
    QJsonObject answer;
    if (isOk(status)) {
        for (const ClockField& field : kClockFields)
            answer.insert(field.key, field.value(dateTime));
    }
    reportAnswer(answer, status);
}

} // namespace Tavrix::DeviceWebApi

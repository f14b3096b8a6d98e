#include "devicewebapi/gettimejsoncommand.h"

#include "usb/gettimecommand.h"

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;

GetTimeJsonCommand::GetTimeJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                       Usb::UsbDeviceManager* manager)
    : DeviceComplexJsonCommand(std::move(description), manager)
{
}

std::shared_ptr<JsonCommandDescription> GetTimeJsonCommand::createCommandDescription()
{
    auto answer = std::make_shared<NamelessJsonCommandObjectUnit>(JsonCommandUnits{
        std::make_shared<JsonCommandUnit>("Year", EJsonUnitType::Int),
        std::make_shared<JsonCommandUnit>("Month", EJsonUnitType::Int),
        std::make_shared<JsonCommandUnit>("Day", EJsonUnitType::Int),
        std::make_shared<JsonCommandUnit>("Hours", EJsonUnitType::Int),
        std::make_shared<JsonCommandUnit>("Minutes", EJsonUnitType::Int),
        std::make_shared<JsonCommandUnit>("Seconds", EJsonUnitType::Int),
    });
    return std::make_shared<JsonCommandDescription>("GetTime", std::make_shared<NamelessEmptyJsonCommandUnit>(),
                                                    answer);
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
        answer.insert("Year", dateTime.date.year);
        answer.insert("Month", dateTime.date.month);
        answer.insert("Day", dateTime.date.day);
        answer.insert("Hours", dateTime.time.hour);
        answer.insert("Minutes", dateTime.time.minute);
        answer.insert("Seconds", dateTime.time.second);
    }
    reportAnswer(answer, status);
}

} // namespace Tavrix::DeviceWebApi

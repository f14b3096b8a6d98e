#include "devicewebapi/setpeljsoncommand.h"

#include "devicewebapi/jsonarguments.h"

#include <iostream>

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;

SetPelJsonCommand::SetPelJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                     Usb::UsbDeviceManager* manager)
    : DeviceComplexJsonCommand(std::move(description), manager)
{
}

std::shared_ptr<JsonCommandDescription> SetPelJsonCommand::createCommandDescription()
{
    return std::make_shared<JsonCommandDescription>("SetPel", std::make_shared<NamelessJsonCommandUnit>(EJsonUnitType::Bool),
                                                    std::make_shared<NamelessEmptyJsonCommandUnit>());
}

SetPelJsonCommand::JsonCommandStatusPtr SetPelJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    const std::optional<QVariant> data = optionalRequestData(info);
    if (!data)
        return badData("data: cannot be read");
    // QVariant::toBool takes any text but "false" and "0" as true: "off"
    // would switch the pel on. No "data" at all still means off.
    const std::optional<bool> pel = data->isNull() ? std::optional<bool>(false) : JsonArguments::toSwitch(*data);
    if (!pel) {
        uninterpretable();
        return badData("data: must be true or false (also \"on\", \"off\", 1, 0)");
    }
    const bool pelOn = *pel;
    std::cout << " isPelOn = " << pelOn << std::endl;
    return startOperation<DeviceComplexCommands::SetPelCommand>(*info, &SetPelJsonCommand::handleAnswer, pelOn);
}

void SetPelJsonCommand::handleAnswer(Usb::ComplexCommand*, DeviceStatusPtr status)
{
    reportAnswer(QJsonDocument(), status);
}

} // namespace Tavrix::DeviceWebApi

#include "devicewebapi/setprogidjsoncommand.h"

#include "devicewebapi/jsonarguments.h"


namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;

SetProgIdJsonCommand::SetProgIdJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                           Usb::UsbDeviceManager* manager)
    : DeviceComplexJsonCommand(std::move(description), manager)
{
}

std::shared_ptr<JsonCommandDescription> SetProgIdJsonCommand::createCommandDescription()
{
    return std::make_shared<JsonCommandDescription>(
        "SetProgId",
        std::make_shared<NamelessJsonCommandObjectUnit>(
            JsonCommandUnits{std::make_shared<JsonCommandUnit>("ProgId", EJsonUnitType::Int)}),
        std::make_shared<NamelessEmptyJsonCommandUnit>());
}

SetProgIdJsonCommand::JsonCommandStatusPtr SetProgIdJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    const std::optional<QVariant> data = requestData(info);
    if (!data)
        return badData("data: {\"ProgId\": 0–255} is missing");
    // The recorder keeps one byte: 300 must not become 44, nor "abc" 0.
    const std::optional<int64_t> value = JsonArguments::toInteger(data->toMap().value("ProgId"), 0, 0xFF);
    if (!value)
        return badData("ProgId: must be a whole number 0–255");
    const auto progId = static_cast<uint8_t>(*value);
    return startOperation<DeviceComplexCommands::SetProgIdCommand>(*info, &SetProgIdJsonCommand::handleAnswer,
                                                                   progId);
}

void SetProgIdJsonCommand::handleAnswer(Usb::ComplexCommand*, DeviceStatusPtr status)
{
    reportAnswer(QJsonDocument(), status);
}

} // namespace Tavrix::DeviceWebApi

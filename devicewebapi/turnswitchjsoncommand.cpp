#include "devicewebapi/turnswitchjsoncommand.h"

#include "devicecomplexcommands/operationexchange.h"

#include <iostream>

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;
namespace Exchange = DeviceComplexCommands::Exchange;

TurnSwitchJsonCommand::TurnSwitchJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                             Usb::UsbDeviceManager* manager,
                                             std::string simpleCommand)
    : DeviceComplexJsonCommand(std::move(description), manager)
    , m_simpleCommand(std::move(simpleCommand))
{
}

std::shared_ptr<JsonCommandDescription> TurnSwitchJsonCommand::describe(const std::string& name)
{
    return std::make_shared<JsonCommandDescription>(
        name,
        std::make_shared<NamelessJsonCommandObjectUnit>(
            JsonCommandUnits{std::make_shared<JsonCommandUnit>("State", EJsonUnitType::String)}),
        std::make_shared<NamelessEmptyJsonCommandUnit>());
}

TurnSwitchJsonCommand::JsonCommandStatusPtr TurnSwitchJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    const std::optional<QVariant> data = requestData(info);
    if (!data)
        return badData("data: {\"State\": \"on\" or \"off\"} is missing");
    const QString state = data->toMap().value("State").toString().toLower();
    if (state != "on" && state != "off")
        return badData("State: must be \"on\" or \"off\"");
    const auto sent = Usb::sendDescribedRequest(
        this, m_deviceManager, m_simpleCommand, {uint8_t(state == "on" ? 1 : 0)},
        [this](const std::vector<uint8_t>& answer, int32_t status) { handleAnswer(answer, status); });
    return JsonCommandStatusCreator::create(sent);
}

void TurnSwitchJsonCommand::handleAnswer(const std::vector<uint8_t>& answer, int32_t status)
{
    std::cout << m_simpleCommand << (status == 0 ? " OK" : " is not OK") << std::endl;
    emit answerIsReady(this, QJsonDocument(),
                       JsonCommandStatusCreator::create(static_cast<Usb::DeviceCommand::EStatus>(status), answer));
}

TurnPumpJsonCommand::TurnPumpJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                         Usb::UsbDeviceManager* manager)
    : TurnSwitchJsonCommand(std::move(description), manager, "TurnPump")
{
}

std::shared_ptr<JsonCommandDescription> TurnPumpJsonCommand::createCommandDescription()
{
    return describe("SetPumpState");
}

TurnVentJsonCommand::TurnVentJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                         Usb::UsbDeviceManager* manager)
    : TurnSwitchJsonCommand(std::move(description), manager, "TurnVent")
{
}

std::shared_ptr<JsonCommandDescription> TurnVentJsonCommand::createCommandDescription()
{
    return describe("SetVentState");
}

} // namespace Tavrix::DeviceWebApi

#include "devicewebapi/writeecgmodejsoncommand.h"

#include "devicewebapi/jsonarguments.h"

#include <iostream>

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;
using Usb::UsbDevice;

WriteEcgModeJsonCommand::WriteEcgModeJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                                 Usb::UsbDeviceManager* manager)
    : DeviceComplexJsonCommand(std::move(description), manager)
{
}

std::shared_ptr<JsonCommandDescription> WriteEcgModeJsonCommand::createCommandDescription()
{
    return std::make_shared<JsonCommandDescription>("WriteEcgMode",
                                                    std::make_shared<NamelessJsonCommandUnit>(EJsonUnitType::String),
                                                    std::make_shared<NamelessEmptyJsonCommandUnit>());
}

UsbDevice::EEcgMode WriteEcgModeJsonCommand::parseMode(const QString& text)
{
    // Clients number the modes as the recorder does.
    bool ok = false;
    const int byte = text.toInt(&ok);
    if (!ok || text != QString::number(byte))
        return UsbDevice::EEcgMode::NotSet;
    return UsbDevice::fromDeviceByte(static_cast<uint8_t>(byte < 0 || byte > 4 ? 0 : byte));
}

WriteEcgModeJsonCommand::JsonCommandStatusPtr WriteEcgModeJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    const std::optional<QVariant> request = optionalRequestData(info);
    if (!request)
        return badData("data: cannot be read");
    // The mode as text or number, 0 to 4; anything else (a word, 5, 2.5, true)
    // was written as mode 0 and reported as done.
    const QVariant& data = *request;
    const bool textOrWholeNumber =
        data.type() == QVariant::String || JsonArguments::toInteger(data, INT32_MIN, INT32_MAX).has_value();
    const QString text = data.toString().toLower();
    std::cout << " Mode=" << text.toStdString() << std::endl;
    bool known = false;
    const int byte = text.toInt(&known);
    if (!textOrWholeNumber || !known || text != QString::number(byte) || byte < 0 || byte > 4)
        return badData("data: the ECG mode must be a whole number 0–4");
    return startOperation<DeviceComplexCommands::WriteEcgModeCommand>(*info, &WriteEcgModeJsonCommand::handleAnswer,
                                                                      parseMode(text));
}

void WriteEcgModeJsonCommand::handleAnswer(Usb::ComplexCommand*, DeviceStatusPtr status)
{
    reportAnswer(QJsonDocument(), status);
}

} // namespace Tavrix::DeviceWebApi

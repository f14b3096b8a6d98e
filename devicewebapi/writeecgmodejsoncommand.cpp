#include "devicewebapi/writeecgmodejsoncommand.h"

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
    const auto request = std::dynamic_pointer_cast<VariantJsonCommandInfo>(info);
    if (!request)
        return badData();
    const QString text = request->m_data.toString().toLower();
    std::cout << " Mode=" << text.toStdString() << std::endl;
    return startOperation<DeviceComplexCommands::WriteEcgModeCommand>(*request, &WriteEcgModeJsonCommand::handleAnswer,
                                                                      parseMode(text));
}

void WriteEcgModeJsonCommand::handleAnswer(Usb::ComplexCommand*, DeviceStatusPtr status)
{
    reportAnswer(QJsonDocument(), status);
}

} // namespace Tavrix::DeviceWebApi

#include "devicewebapi/cablejsoncommands.h"

#include "devicewebapi/jsonarguments.h"

#include "net/webapi/ijsoncommandinfo.h"
#include "net/webapi/jsoncommandunit.h"

#include <QJsonArray>
#include <QVariantMap>
#include <iostream>

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;

namespace {

std::shared_ptr<JsonCommandUnit> unit(const std::string& name, EJsonUnitType type)
{
    return std::make_shared<JsonCommandUnit>(name, type);
}

JsonCommandUnits cableInfoUnits()
{
    return {unit("Version", EJsonUnitType::Int),         unit("CableRegime", EJsonUnitType::Int),
            unit("CableType", EJsonUnitType::Int),       unit("CableNumber", EJsonUnitType::Int),
            unit("SetupCounter", EJsonUnitType::Int),    unit("DateOfCreate", EJsonUnitType::String),
            unit("BeginUsageDate", EJsonUnitType::String), unit("LastInstallDate", EJsonUnitType::String)};
}

std::shared_ptr<JsonCommandDescription> describe(const std::string& name,
                                                 std::shared_ptr<NamelessJsonCommandUnit> data,
                                                 std::shared_ptr<NamelessJsonCommandUnit> answer)
{
    return std::make_shared<JsonCommandDescription>(name, std::move(data), std::move(answer));
}

// The request's "data" as a map; false (and the trace line) when missing.
bool requestData(const std::shared_ptr<IJsonCommandInfo>& info, QVariantMap& data)
{
    const auto request = std::dynamic_pointer_cast<VariantJsonCommandInfo>(info);
    if (!request || !request->m_data.isValid() || request->m_data.isNull()) {
        std::cout << " json object interpretation error" << std::endl;
        return false;
    }
    data = request->m_data.toMap();
    return true;
}

} // namespace

ReadCableInfoJsonCommand::ReadCableInfoJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                                   Usb::UsbDeviceManager* manager)
    : DeviceComplexJsonCommand(std::move(description), manager)
{
}

std::shared_ptr<JsonCommandDescription> ReadCableInfoJsonCommand::createCommandDescription()
{
    return describe("ReadCableInfo", std::make_shared<NamelessEmptyJsonCommandUnit>(),
                    std::make_shared<NamelessJsonCommandObjectUnit>(cableInfoUnits()));
}

QString ReadCableInfoJsonCommand::dateText(const QDate& date)
{
    if (!date.isValid())
        return "0000-00-00";
    return QString("%1-%2-%3")
        .arg(date.year(), 4, 10, QChar('0'))
        .arg(date.month(), 2, 10, QChar('0'))
        .arg(date.day(), 2, 10, QChar('0'));
}

ReadCableInfoJsonCommand::JsonCommandStatusPtr ReadCableInfoJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    if (!info)
        return badData();
    return startOperation<DeviceComplexCommands::ReadCableInfoCommand>(*info, &ReadCableInfoJsonCommand::handleAnswer);
}

void ReadCableInfoJsonCommand::handleAnswer(Usb::ComplexCommand*, Usb::CableInfo info, DeviceStatusPtr status)
{
    QJsonObject answer;
    if (isOk(status)) {
        answer.insert("Version", info.version);
        answer.insert("CableRegime", info.cableRegime);
        answer.insert("CableType", info.cableType);
        answer.insert("CableNumber", static_cast<qint64>(info.cableNumber));
        answer.insert("SetupCounter", static_cast<qint64>(info.setupCounter));
        answer.insert("DateOfCreate", dateText(info.dateOfCreate));
        answer.insert("BeginUsageDate", dateText(info.beginUsageDate));
        answer.insert("LastInstallDate", dateText(info.lastInstallDate));
    }
    reportAnswer(answer, status);
}

std::shared_ptr<JsonCommandDescription> WriteCableInfoJsonCommand::createCommandDescription()
{
    return describe("WriteCableInfo", std::make_shared<NamelessJsonCommandObjectUnit>(cableInfoUnits()),
                    std::make_shared<NamelessEmptyJsonCommandUnit>());
}

WriteCableInfoJsonCommand::JsonCommandStatusPtr WriteCableInfoJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    QVariantMap data;
    if (!requestData(info, data))
        return badData();
    // Each number must fit the byte or word the cable keeps it in (the setup
    // counter goes out as one byte); a text or 300 for a byte is refused, not
    // sent as 0 or 44. A missing key still reads as 0.
    const auto version = JsonArguments::toOptionalInteger(data.value("Version"), 0, 0xFF, 0);
    const auto regime = JsonArguments::toOptionalInteger(data.value("CableRegime"), 0, 0xFF, 0);
    const auto type = JsonArguments::toOptionalInteger(data.value("CableType"), 0, 0xFF, 0);
    const auto number = JsonArguments::toOptionalInteger(data.value("CableNumber"), 0, UINT32_MAX, 0);
    const auto counter = JsonArguments::toOptionalInteger(data.value("SetupCounter"), 0, 0xFF, 0);
    if (!version || !regime || !type || !number || !counter)
        return badData();
    Usb::CableInfo cable;
    cable.version = static_cast<uint8_t>(*version);
    cable.cableRegime = static_cast<uint8_t>(*regime);
    cable.cableType = static_cast<uint8_t>(*type);
    cable.cableNumber = static_cast<uint32_t>(*number);
    cable.setupCounter = static_cast<uint32_t>(*counter);
    cable.dateOfCreate = QDate::fromString(data.value("DateOfCreate").toString(), Qt::ISODate);
    cable.beginUsageDate = QDate::fromString(data.value("BeginUsageDate").toString(), Qt::ISODate);
    cable.lastInstallDate = QDate::fromString(data.value("LastInstallDate").toString(), Qt::ISODate);
    return startOperation<DeviceComplexCommands::WriteCableInfoCommand>(*info, &WriteCableInfoJsonCommand::handleAnswer,
                                                                        cable);
}

std::shared_ptr<JsonCommandDescription> WriteCableSetupCounterJsonCommand::createCommandDescription()
{
    return describe("WriteCableSetupCounter",
                    std::make_shared<NamelessJsonCommandObjectUnit>(JsonCommandUnits{unit("SetupCounter", EJsonUnitType::Int)}),
                    std::make_shared<NamelessEmptyJsonCommandUnit>());
}

WriteCableSetupCounterJsonCommand::JsonCommandStatusPtr
WriteCableSetupCounterJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    QVariantMap data;
    if (!requestData(info, data))
        return badData();
    const auto counter = JsonArguments::toOptionalInteger(data.value("SetupCounter"), 0, 0xFF, 0);
    if (!counter)
        return badData();
    return startOperation<DeviceComplexCommands::WriteCableSetupCounterCommand>(
        *info, &WriteCableSetupCounterJsonCommand::handleAnswer, static_cast<unsigned>(*counter));
}

ReadCableVersionJsonCommand::ReadCableVersionJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                                         Usb::UsbDeviceManager* manager)
    : DeviceComplexJsonCommand(std::move(description), manager)
{
}

std::shared_ptr<JsonCommandDescription> ReadCableVersionJsonCommand::createCommandDescription()
{
    return describe("ReadCableVersion", std::make_shared<NamelessEmptyJsonCommandUnit>(),
                    std::make_shared<NamelessJsonCommandObjectUnit>(JsonCommandUnits{
                        unit("HardwareVersion", EJsonUnitType::Int), unit("SoftwareVersion", EJsonUnitType::Int),
                        std::make_shared<JsonCommandArrayUnit>("Uid", 12,
                                                               std::make_shared<NamelessJsonCommandUnit>(EJsonUnitType::String)),
                        unit("UidCrc", EJsonUnitType::Int)}));
}

ReadCableVersionJsonCommand::JsonCommandStatusPtr
ReadCableVersionJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    if (!info)
        return badData();
    return startOperation<DeviceComplexCommands::ReadCableVersionCommand>(*info,
                                                                          &ReadCableVersionJsonCommand::handleAnswer);
}

void ReadCableVersionJsonCommand::handleAnswer(Usb::ComplexCommand*,
                                               DeviceComplexCommands::CableVersion version,
                                               DeviceStatusPtr status)
{
    QJsonObject answer;
    if (isOk(status)) {
        QJsonArray uid;
        for (const uint8_t byte : version.uid)
            uid.append(QString("0x%1").arg(byte, 2, 16, QChar('0')));
        answer.insert("HardwareVersion", version.hardwareVersion);
        answer.insert("SoftwareVersion", version.softwareVersion);
        answer.insert("Uid", uid);
        answer.insert("UidCrc", version.uidCrc);
    }
    reportAnswer(answer, status);
}

ReadCableExistJsonCommand::ReadCableExistJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                                     Usb::UsbDeviceManager* manager)
    : SingleValueJsonCommand(std::move(description), manager, "IsExist", [](bool value) { return QJsonValue(value); })
{
}

std::shared_ptr<JsonCommandDescription> ReadCableExistJsonCommand::createCommandDescription()
{
    return describe("ReadCableExist", "IsExist", EJsonUnitType::Bool);
}

GetCableLeadTypeJsonCommand::GetCableLeadTypeJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                                         Usb::UsbDeviceManager* manager)
    : SingleValueJsonCommand(std::move(description), manager, "LeadType",
                             [](uint8_t value) { return QJsonValue(static_cast<int>(value)); })
{
}

std::shared_ptr<JsonCommandDescription> GetCableLeadTypeJsonCommand::createCommandDescription()
{
    return describe("GetCableLeadType", "LeadType", EJsonUnitType::Int);
}

} // namespace Tavrix::DeviceWebApi

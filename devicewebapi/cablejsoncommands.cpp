#include "devicewebapi/cablejsoncommands.h"

#include "devicewebapi/jsonarguments.h"

#include "net/webapi/ijsoncommandinfo.h"
#include "net/webapi/jsoncommandunit.h"

#include <QJsonArray>
#include <QVariantMap>
#include <string>
#include <tuple>

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;

namespace {
// Each member name of the requests and answers, named once.
constexpr char kVersion[] = "Version";
constexpr char kCableRegime[] = "CableRegime";
constexpr char kCableType[] = "CableType";
constexpr char kCableNumber[] = "CableNumber";
constexpr char kSetupCounter[] = "SetupCounter";
constexpr char kDateOfCreate[] = "DateOfCreate";
constexpr char kBeginUsageDate[] = "BeginUsageDate";
constexpr char kLastInstallDate[] = "LastInstallDate";
constexpr char kHardwareVersion[] = "HardwareVersion";
constexpr char kSoftwareVersion[] = "SoftwareVersion";
constexpr char kUid[] = "Uid";
constexpr char kUidCrc[] = "UidCrc";

JsonCommandUnits cableInfoUnits()
{
    return {unit(kVersion, EJsonUnitType::Int),         unit(kCableRegime, EJsonUnitType::Int),
            unit(kCableType, EJsonUnitType::Int),       unit(kCableNumber, EJsonUnitType::Int),
            unit(kSetupCounter, EJsonUnitType::Int),    unit(kDateOfCreate, EJsonUnitType::String),
            unit(kBeginUsageDate, EJsonUnitType::String), unit(kLastInstallDate, EJsonUnitType::String)};
}

std::shared_ptr<JsonCommandDescription> describe(const std::string& name,
                                                 std::shared_ptr<NamelessJsonCommandUnit> data,
                                                 std::shared_ptr<NamelessJsonCommandUnit> answer)
{
    return std::make_shared<JsonCommandDescription>(name, std::move(data), std::move(answer));
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
        answer.insert(kVersion, info.version);
        answer.insert(kCableRegime, info.cableRegime);
        answer.insert(kCableType, info.cableType);
        answer.insert(kCableNumber, static_cast<qint64>(info.cableNumber));
        answer.insert(kSetupCounter, static_cast<qint64>(info.setupCounter));
        answer.insert(kDateOfCreate, dateText(info.dateOfCreate));
        answer.insert(kBeginUsageDate, dateText(info.beginUsageDate));
        answer.insert(kLastInstallDate, dateText(info.lastInstallDate));
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
    const std::optional<QVariant> request = requestData(info);
    if (!request)
        return badData("data: the cable data are missing");
    const QVariantMap data = request->toMap();
    // Each number must fit the byte or word the cable keeps it in (the setup
    // counter goes out as one byte); a text or 300 for a byte is refused, not
    // sent as 0 or 44. A missing key still reads as 0.
    const auto version = JsonArguments::toOptionalInteger(data.value(kVersion), 0, 0xFF, 0);
    const auto regime = JsonArguments::toOptionalInteger(data.value(kCableRegime), 0, 0xFF, 0);
    const auto type = JsonArguments::toOptionalInteger(data.value(kCableType), 0, 0xFF, 0);
    const auto number = JsonArguments::toOptionalInteger(data.value(kCableNumber), 0, UINT32_MAX, 0);
    const auto counter = JsonArguments::toOptionalInteger(data.value(kSetupCounter), 0, 0xFF, 0);
    for (const auto& [key, value, limit] :
         {std::tuple<const char*, const std::optional<int64_t>&, const char*>{kVersion, version, "255"},
          {kCableRegime, regime, "255"}, {kCableType, type, "255"}, {kCableNumber, number, "4294967295"},
          {kSetupCounter, counter, "255"}}) {
        if (!value)
            return badData(std::string(key) + ": must be a whole number 0–" + limit);
    }
    Usb::CableInfo cable;
    cable.version = static_cast<uint8_t>(*version);
    cable.cableRegime = static_cast<uint8_t>(*regime);
    cable.cableType = static_cast<uint8_t>(*type);
    cable.cableNumber = static_cast<uint32_t>(*number);
    cable.setupCounter = static_cast<uint32_t>(*counter);
    cable.dateOfCreate = QDate::fromString(data.value(kDateOfCreate).toString(), Qt::ISODate);
    cable.beginUsageDate = QDate::fromString(data.value(kBeginUsageDate).toString(), Qt::ISODate);
    cable.lastInstallDate = QDate::fromString(data.value(kLastInstallDate).toString(), Qt::ISODate);
    return startOperation<DeviceComplexCommands::WriteCableInfoCommand>(*info, &WriteCableInfoJsonCommand::handleAnswer,
                                                                        cable);
}

std::shared_ptr<JsonCommandDescription> WriteCableSetupCounterJsonCommand::createCommandDescription()
{
    return describe("WriteCableSetupCounter",
                    std::make_shared<NamelessJsonCommandObjectUnit>(JsonCommandUnits{unit(kSetupCounter, EJsonUnitType::Int)}),
                    std::make_shared<NamelessEmptyJsonCommandUnit>());
}

WriteCableSetupCounterJsonCommand::JsonCommandStatusPtr
WriteCableSetupCounterJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    const std::optional<QVariant> request = requestData(info);
    if (!request)
        return badData("data: {\"SetupCounter\": 0–255} is missing");
    const auto counter = JsonArguments::toOptionalInteger(request->toMap().value(kSetupCounter), 0, 0xFF, 0);
    if (!counter)
        return badData(std::string(kSetupCounter) + ": must be a whole number 0–255");
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
                        unit(kHardwareVersion, EJsonUnitType::Int), unit(kSoftwareVersion, EJsonUnitType::Int),
                        std::make_shared<JsonCommandArrayUnit>(kUid, 12,
                                                               std::make_shared<NamelessJsonCommandUnit>(EJsonUnitType::String)),
                        unit(kUidCrc, EJsonUnitType::Int)}));
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
        answer.insert(kHardwareVersion, version.hardwareVersion);
        answer.insert(kSoftwareVersion, version.softwareVersion);
        answer.insert(kUid, uid);
        answer.insert(kUidCrc, version.uidCrc);
    }
    reportAnswer(answer, status);
}

ReadCableExistJsonCommand::ReadCableExistJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                                     Usb::UsbDeviceManager* manager)
    : SingleValueJsonCommand(std::move(description), manager, [](bool value) { return QJsonValue(value); })
{
}

std::shared_ptr<JsonCommandDescription> ReadCableExistJsonCommand::createCommandDescription()
{
    return describe("ReadCableExist", "IsExist", EJsonUnitType::Bool);
}

GetCableLeadTypeJsonCommand::GetCableLeadTypeJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                                         Usb::UsbDeviceManager* manager)
    : SingleValueJsonCommand(std::move(description), manager, [](uint8_t value) { return QJsonValue(static_cast<int>(value)); })
{
}

std::shared_ptr<JsonCommandDescription> GetCableLeadTypeJsonCommand::createCommandDescription()
{
    return describe("GetCableLeadType", "LeadType", EJsonUnitType::Int);
}

} // namespace Tavrix::DeviceWebApi

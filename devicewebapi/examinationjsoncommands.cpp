#include "devicewebapi/examinationjsoncommands.h"

#include "common/bytereader.h"
#include "devicecomplexcommands/getdatafromeepromcommand.h"
#include "devicecomplexcommands/infomap.h"
#include "devicewebapi/examinationinfostore.h"
#include "devicewebapi/jsonarguments.h"
#include "net/webapi/ijsoncommandinfo.h"
#include "net/webapi/jsoncommandunit.h"

#include <QVariantMap>

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;
using namespace DeviceComplexCommands;

namespace {
std::shared_ptr<JsonCommandUnit> unit(const std::string& name, EJsonUnitType type)
{
    return std::make_shared<JsonCommandUnit>(name, type);
}
} // namespace

std::shared_ptr<JsonCommandDescription> SetExaminationInfoJsonCommand::createCommandDescription()
{
    JsonCommandUnits members{unit("PatientId", EJsonUnitType::String),    unit("Name", EJsonUnitType::String),
                             unit("Surname", EJsonUnitType::String),      unit("Patronymic", EJsonUnitType::String),
                             unit("BirthdayDate", EJsonUnitType::String), unit("Sex", EJsonUnitType::String),
                             unit("StartTime", EJsonUnitType::String),    unit("LeadType", EJsonUnitType::Int),
                             unit("FileName", EJsonUnitType::String),
                             std::make_shared<JsonCommandObjectUnit>(
                                 "CableInfo", JsonCommandUnits{unit("Type", EJsonUnitType::Int),
                                                               unit("Number", EJsonUnitType::Int),
                                                               unit("SetupCounter", EJsonUnitType::Int)})};
    return std::make_shared<JsonCommandDescription>("SetExaminationInfo",
                                                    std::make_shared<NamelessJsonCommandObjectUnit>(members),
                                                    std::make_shared<NamelessEmptyJsonCommandUnit>());
}

std::optional<ExaminationInfo> SetExaminationInfoJsonCommand::parseRequest(const QVariantMap& data)
{
    // A number where a name belongs would be written as its digits.
    for (const char* key : {"PatientId", "Name", "Surname", "Patronymic", "Sex", "BirthdayDate", "StartTime", "FileName"}) {
        const QVariant value = data.value(key);
        if (value.isValid() && !value.isNull() && value.type() != QVariant::String)
            return std::nullopt;
    }
    const QVariant cableValue = data.value("CableInfo");
    if (cableValue.isValid() && !cableValue.isNull() && cableValue.type() != QVariant::Map)
        return std::nullopt;
    const QVariantMap cable = cableValue.toMap();
    // "LeadType" 0 has no lead set and is refused by the operation, as before.
    const auto leadType = JsonArguments::toOptionalInteger(data.value("LeadType"), 0, 0xFF, 0);
    // The map stores the type's low byte and the others as 32-bit integers.
    const auto cableType = JsonArguments::toOptionalInteger(cable.value("Type"), 0, 0xFF, 0);
    const auto cableNumber = JsonArguments::toOptionalInteger(cable.value("Number"), 0, INT32_MAX, 0);
    const auto setupCounter = JsonArguments::toOptionalInteger(cable.value("SetupCounter"), 0, INT32_MAX, 0);
    if (!leadType || !cableType || !cableNumber || !setupCounter)
        return std::nullopt;

    ExaminationInfo info;
    info.patientId = data.value("PatientId").toString().toStdString();
    info.name = data.value("Name").toString().toStdString();
    info.surname = data.value("Surname").toString().toStdString();
    info.patronymic = data.value("Patronymic").toString().toStdString();
    const std::string sex = data.value("Sex").toString().toStdString();
    info.sexNotGiven = sex.empty();
    info.sex = PatientSex::parseSex(sex);
    info.birthdayDate = Common::DateObject::fromString(data.value("BirthdayDate").toString().toStdString());
    info.startTime = Common::DateTimeObject::fromString(data.value("StartTime").toString().toStdString());
    info.electrodes = ElectrodesInfoCreator::create(static_cast<uint8_t>(*leadType));
    info.fileName = data.value("FileName").toString().toStdString();
    info.cableType = static_cast<uint32_t>(*cableType);
    info.cableNumber = static_cast<uint32_t>(*cableNumber);
    info.setupCounter = static_cast<uint32_t>(*setupCounter);
    return info;
}

SetExaminationInfoJsonCommand::JsonCommandStatusPtr
SetExaminationInfoJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    const std::optional<QVariant> request = requestData(info);
    if (!request)
        return badData();
    const std::optional<ExaminationInfo> examination = parseRequest(request->toMap());
    if (!examination)
        return badData();
    m_examination = *examination;
    return startOperation<SetExaminationInfoCommand>(*info, &SetExaminationInfoJsonCommand::handleSetAnswer,
                                                     *examination);
}

void SetExaminationInfoJsonCommand::handleSetAnswer(Usb::ComplexCommand* command, DeviceStatusPtr status)
{
    if (isOk(status))
        ExaminationInfoStore::set(m_examination);
    handleAnswer(command, status);
}

GetExamFileNameJsonCommand::GetExamFileNameJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                                       Usb::UsbDeviceManager* manager)
    : DeviceComplexJsonCommand(std::move(description), manager)
{
}

std::shared_ptr<JsonCommandDescription> GetExamFileNameJsonCommand::createCommandDescription()
{
    return std::make_shared<JsonCommandDescription>(
        "GetExamFileName", std::make_shared<NamelessEmptyJsonCommandUnit>(),
        std::make_shared<NamelessJsonCommandObjectUnit>(JsonCommandUnits{unit("FileName", EJsonUnitType::String)}));
}

GetExamFileNameJsonCommand::JsonCommandStatusPtr GetExamFileNameJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    if (!info)
        return badData();
    m_uid = info->m_uid;
    return startNamedOperation<GetDataFromEepromCommand>("GetDataFromEeprom", &GetExamFileNameJsonCommand::handleLength,
                                                         ExaminationRecords::mapLengthAddress, uint16_t(2));
}

void GetExamFileNameJsonCommand::handleLength(Usb::ComplexCommand*, std::vector<uint8_t> data, DeviceStatusPtr status)
{
    uint16_t length = 0;
    if (!isOk(status) || !Common::ByteReader(data).readU16(length)) {
        reportAnswer(QJsonObject(), isOk(status) ? std::make_shared<Usb::DeviceCommandStatus>(Usb::DeviceCommand::BAD_DATA)
                                                 : status);
        return;
    }
    // Erased memory (0xFFFF) or a length past the recorder's limit is no block.
    if (length == 0 || length > ExaminationRecords::maxMapBlockSize) {
        reportError(Usb::DeviceCommand::BAD_DATA);
        return;
    }
    const auto started = startNamedOperation<GetDataFromEepromCommand>(
        "GetDataFromEeprom", &GetExamFileNameJsonCommand::handleBlock, ExaminationRecords::mapBlockAddress, length);
    if (started && started->code() != 0)
        emit answerIsReady(this, QJsonDocument(), started);
}

std::optional<std::string> GetExamFileNameJsonCommand::fileNameOf(const std::vector<uint8_t>& block)
{
    InfoMap map;
    if (!InfoMap::fromExaminationBlock(block, map))
        return std::nullopt;
    const auto found = map.items().find("fname");
    if (found == map.items().end())
        return std::nullopt;
    return map.interpretValue("fname");
}

void GetExamFileNameJsonCommand::handleBlock(Usb::ComplexCommand*, std::vector<uint8_t> data, DeviceStatusPtr status)
{
    if (!isOk(status)) {
        reportAnswer(QJsonObject(), status);
        return;
    }
    const auto name = fileNameOf(data);
    if (!name) {
        reportError(Usb::DeviceCommand::BAD_DATA);
        return;
    }
    QJsonObject answer;
    answer.insert("FileName", QString::fromStdString(*name));
    reportAnswer(answer, status);
}

} // namespace Tavrix::DeviceWebApi

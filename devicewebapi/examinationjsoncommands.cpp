#include "devicewebapi/examinationjsoncommands.h"

#include "common/bytereader.h"
#include "common/stringextensions.h"
#include "devicecomplexcommands/orvimsetexaminationinfocommand.h"
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

QString SetExaminationInfoJsonCommand::firstUnstorable(const QString& text)
{
    const QVector<uint> codePoints = text.toUcs4();
    for (const uint codePoint : codePoints) {
        const QString character = QString::fromUcs4(&codePoint, 1);
        const std::string utf8 = character.toStdString();
        if (Common::StringExtensions::toUtf8StringFromWindows1251(Common::StringExtensions::toWindows1251FromUtf8(utf8))
            != utf8)
            return character;
    }
    return QString();
}

std::optional<ExaminationInfo> SetExaminationInfoJsonCommand::parseRequest(const QVariantMap& data,
                                                                           std::string* refusal)
{
    auto refuse = [refusal](const QString& text) -> std::optional<ExaminationInfo> {
        if (refusal)
            *refusal = text.toStdString();
        return std::nullopt;
    };
    // A number where a name belongs would be written as its digits.
    for (const char* key : {"PatientId", "Surname", "Name", "Patronymic", "Sex", "BirthdayDate", "StartTime", "FileName"}) {
        const QVariant value = data.value(key);
        if (value.isValid() && !value.isNull() && value.type() != QVariant::String)
            return refuse(QStringLiteral("%1: must be a text").arg(key));
    }
    // What the recorder keeps of a name: Windows-1251, at most 64 bytes.
    for (const char* key : {"Surname", "Name", "Patronymic"}) {
        const QString text = data.value(key).toString();
        const QString unstorable = firstUnstorable(text);
        if (!unstorable.isEmpty())
            return refuse(QStringLiteral("%1: %2 cannot be stored by the recorder (it keeps Windows-1251 "
                                         "letters only)")
                              .arg(key, unstorable));
        const std::size_t bytes = Common::StringExtensions::toWindows1251FromUtf8(text.toStdString()).size();
        if (bytes > OrvimSetExaminationInfoCommand::maxNameBytes)
            return refuse(QStringLiteral("%1: %2 characters, the recorder keeps at most %3")
                              .arg(key)
                              .arg(bytes)
                              .arg(OrvimSetExaminationInfoCommand::maxNameBytes));
    }
    const QString fileName = data.value("FileName").toString();
    if (!firstUnstorable(fileName).isEmpty())
        return refuse(QStringLiteral("FileName: %1 cannot be stored by the recorder (it keeps Windows-1251 "
                                     "letters only)")
                          .arg(firstUnstorable(fileName)));
    const QString sex = data.value("Sex").toString();
    if (!sex.isEmpty() && !QStringList{"m", "M", "м", "f", "F", "ж"}.contains(sex))
        return refuse(QStringLiteral("Sex: \"%1\" is none of m, f (or м, ж) and empty for unknown").arg(sex));
    const QString birthdayText = data.value("BirthdayDate").toString();
    const Common::DateObject birthday = Common::DateObject::fromString(birthdayText.toStdString());
    // A date that is none would be dropped without a word: the record would
    // lose the birth date the user typed.
    if (!birthdayText.isEmpty() && !birthday.isSet())
        return refuse(QStringLiteral("BirthdayDate: \"%1\" is no date of the form yyyy-MM-dd").arg(birthdayText));
    const QString startText = data.value("StartTime").toString();
    const Common::DateTimeObject startTime = Common::DateTimeObject::fromString(startText.toStdString());
    if (!startText.isEmpty() && !startTime.isSet())
        return refuse(QStringLiteral("StartTime: \"%1\" is no date and time of the form yyyy-MM-dd hh:mm:ss")
                          .arg(startText));
    uint32_t startSeconds = 0;
    if (!ExaminationRecords::encodeStartTime(startTime, startSeconds))
        return refuse(QStringLiteral("StartTime: year %1 is outside the recorder's calendar, 2000–2099")
                          .arg(startTime.date.year));

    const QVariant cableValue = data.value("CableInfo");
    if (cableValue.isValid() && !cableValue.isNull() && cableValue.type() != QVariant::Map)
        return refuse(QStringLiteral("CableInfo: must be an object with Type, Number and SetupCounter"));
    const QVariantMap cable = cableValue.toMap();
    // "LeadType" 0 has no lead set and is refused below, as before.
    const auto leadType = JsonArguments::toOptionalInteger(data.value("LeadType"), 0, 0xFF, 0);
    if (!leadType)
        return refuse(QStringLiteral("LeadType: must be a whole number, the code of a lead set"));
    const auto electrodes = ElectrodesInfoCreator::create(static_cast<uint8_t>(*leadType));
    if (!electrodes)
        return refuse(QStringLiteral("LeadType: %1 is no lead set the recorder knows").arg(*leadType));
    // The map stores the type's low byte and the others as 32-bit integers.
    const auto cableType = JsonArguments::toOptionalInteger(cable.value("Type"), 0, 0xFF, 0);
    if (!cableType)
        return refuse(QStringLiteral("CableInfo.Type: must be a whole number 0–255"));
    const auto cableNumber = JsonArguments::toOptionalInteger(cable.value("Number"), 0, INT32_MAX, 0);
    if (!cableNumber)
        return refuse(QStringLiteral("CableInfo.Number: must be a whole number 0–%1").arg(INT32_MAX));
    const auto setupCounter = JsonArguments::toOptionalInteger(cable.value("SetupCounter"), 0, INT32_MAX, 0);
    if (!setupCounter)
        return refuse(QStringLiteral("CableInfo.SetupCounter: must be a whole number 0–%1").arg(INT32_MAX));

    ExaminationInfo info;
    info.patientId = data.value("PatientId").toString().toStdString();
    info.name = data.value("Name").toString().toStdString();
    info.surname = data.value("Surname").toString().toStdString();
    info.patronymic = data.value("Patronymic").toString().toStdString();
    info.sexNotGiven = sex.isEmpty();
    info.sex = PatientSex::parseSex(sex.toStdString());
    info.birthdayDate = birthday;
    info.startTime = startTime;
    info.electrodes = electrodes;
    info.fileName = fileName.toStdString();
    info.cableType = static_cast<uint32_t>(*cableType);
    info.cableNumber = static_cast<uint32_t>(*cableNumber);
    info.setupCounter = static_cast<uint32_t>(*setupCounter);
    std::vector<uint8_t> block;
    if (!OrvimSetExaminationInfoCommand::examinationBlock(info, block))
        return refuse(QStringLiteral("FileName: too long for the recorder's examination record"));
    return info;
}

SetExaminationInfoJsonCommand::JsonCommandStatusPtr
SetExaminationInfoJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    const std::optional<QVariant> request = requestData(info);
    if (!request)
        return badData("data: the examination is missing");
    if (request->type() != QVariant::Map)
        return badData("data: must be an object of the examination's fields");
    std::string refusal;
    const std::optional<ExaminationInfo> examination = parseRequest(request->toMap(), &refusal);
    if (!examination)
        return badData(refusal);
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

#include "devicewebapi/getexaminationinfojsoncommand.h"

#include "devicewebapi/examinationinfostore.h"
#include "archive/signalrecorder.h"
#include "net/webapi/ijsoncommandinfo.h"
#include "net/webapi/jsoncommandunit.h"
#include "usb/adcchannelsmanager.h"

#include <QJsonArray>

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;
using namespace DeviceComplexCommands;

namespace {
const std::string ecgStem = "ECG ";
} // namespace

GetExaminationInfoJsonCommand::GetExaminationInfoJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                                             std::weak_ptr<Usb::AdcChannelsManager> channels)
    : DeviceComplexJsonCommand(std::move(description))
    , m_channels(std::move(channels))
{
}

std::shared_ptr<JsonCommandDescription> GetExaminationInfoJsonCommand::createCommandDescription()
{
    JsonCommandUnits members{unit("Known", EJsonUnitType::Bool),        unit("PatientId", EJsonUnitType::String),
                             unit("Surname", EJsonUnitType::String),    unit("Name", EJsonUnitType::String),
                             unit("Patronymic", EJsonUnitType::String), unit("BirthdayDate", EJsonUnitType::String),
                             unit("Sex", EJsonUnitType::String),        unit("LeadType", EJsonUnitType::Int),
                             unit("LeadSet", EJsonUnitType::String),
                             std::make_shared<JsonCommandArrayUnit>(
                                 "Leads", 0, std::make_shared<NamelessJsonCommandUnit>(EJsonUnitType::String))};
    return std::make_shared<JsonCommandDescription>("GetExaminationInfo",
                                                    std::make_shared<NamelessEmptyJsonCommandUnit>(),
                                                    std::make_shared<NamelessJsonCommandObjectUnit>(members));
}

std::vector<std::string>
GetExaminationInfoJsonCommand::leadNames(const std::optional<ExaminationInfo>& examination) const
{
    if (!examination || !examination->electrodes)
        return {};
    const std::shared_ptr<Usb::AdcChannelsManager> channels = m_channels.lock();
    if (!channels)
        return {};
    std::vector<Usb::DecodedChannelLayout> ecg;
    for (const Usb::DecodedChannelLayout& channel : channels->channelLayout()) {
        if (channel.key.type == DevicesInfo::EChannelType::Ecg && channel.key.source == DevicesInfo::EChannelSource::Device)
            ecg.push_back(channel);
    }
    if (ecg.size() != 1 || ecg.front().signalCount == 0)
        return {};
    // The names a recording gives these channels; those it numbers for want
    // of a lead set that names them count as unknown.
    const auto named = Archive::SignalRecorder::signalsFor(ecg, examination->electrodes->leadType);
    const auto numbered = Archive::SignalRecorder::signalsFor(ecg, std::nullopt);
    std::vector<std::string> names;
    bool differs = false;
    for (std::size_t i = 0; i < named.size(); ++i) {
        const std::string& label = named[i].label;
        if (label.compare(0, ecgStem.size(), ecgStem) != 0)
            return {};
        names.push_back(label.substr(ecgStem.size()));
        differs = differs || i >= numbered.size() || numbered[i].label != label;
    }
    return differs ? names : std::vector<std::string>{};
}

QJsonObject GetExaminationInfoJsonCommand::answerFor(const std::optional<ExaminationInfo>& examination,
                                                     const std::vector<std::string>& leads)
{
    const auto text = [](const std::string& value) { return QString::fromStdString(value); };
    QJsonArray leadArray;
    for (const std::string& lead : leads)
        leadArray.append(text(lead));
    QJsonObject answer{{"Known", examination.has_value()},
                       {"PatientId", ""},
                       {"Surname", ""},
                       {"Name", ""},
                       {"Patronymic", ""},
                       {"BirthdayDate", ""},
                       {"Sex", ""},
                       {"LeadType", QJsonValue::Null},
                       {"LeadSet", QJsonValue::Null},
                       {"Leads", leadArray}};
    if (!examination)
        return answer;
    answer["PatientId"] = text(examination->patientId);
    answer["Surname"] = text(examination->surname);
    answer["Name"] = text(examination->name);
    answer["Patronymic"] = text(examination->patronymic);
    if (examination->birthdayDate.isSet())
        answer["BirthdayDate"] = text(examination->birthdayDate.toString());
    // The letters the form sends, so the answer can be sent back as it is.
    if (!examination->sexNotGiven && examination->sex == PatientSex::Male)
        answer["Sex"] = "m";
    else if (!examination->sexNotGiven && examination->sex == PatientSex::Female)
        answer["Sex"] = "f";
    if (examination->electrodes) {
        answer["LeadType"] = examination->electrodes->leadType;
        answer["LeadSet"] = text(examination->electrodes->displayName);
    }
    return answer;
}

DeviceComplexJsonCommand::JsonCommandStatusPtr
GetExaminationInfoJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    m_uid = info ? info->m_uid : 0;
    const std::optional<ExaminationInfo> examination = ExaminationInfoStore::last();
    emit answerIsReady(this, QJsonDocument(answerFor(examination, leadNames(examination))),
                       std::make_shared<OkJsonCommandStatus>());
    return std::make_shared<OkJsonCommandStatus>();
}

} // namespace Tavrix::DeviceWebApi

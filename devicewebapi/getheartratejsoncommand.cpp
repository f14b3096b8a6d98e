#include "devicewebapi/getheartratejsoncommand.h"

#include "devicewebapi/beatdetectorlink.h"

#include <QJsonObject>
#include <QJsonValue>

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;

GetHeartRateJsonCommand::GetHeartRateJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                                 BeatDetectorLink* beats)
    : DeviceComplexJsonCommand(std::move(description))
    , m_beats(beats)
{
}

std::shared_ptr<JsonCommandDescription> GetHeartRateJsonCommand::createCommandDescription()
{
    auto answer = std::make_shared<NamelessJsonCommandObjectUnit>(
        JsonCommandUnits{std::make_shared<JsonCommandUnit>("HeartRate", EJsonUnitType::Float),
                         std::make_shared<JsonCommandUnit>("LastBeatFrame", EJsonUnitType::Int)});
    return std::make_shared<JsonCommandDescription>("GetHeartRate", std::make_shared<NamelessEmptyJsonCommandUnit>(),
                                                    answer);
}

DeviceComplexJsonCommand::JsonCommandStatusPtr GetHeartRateJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    m_uid = info ? info->m_uid : 0;
    BeatDetectorLink::HeartRate rate;
    if (m_beats)
        rate = m_beats->heartRate();
    QJsonObject answer;
    answer.insert(QStringLiteral("HeartRate"), rate.bpm ? QJsonValue(*rate.bpm) : QJsonValue(QJsonValue::Null));
    answer.insert(QStringLiteral("LastBeatFrame"),
                  rate.lastBeatFrame ? QJsonValue(static_cast<qint64>(*rate.lastBeatFrame))
                                     : QJsonValue(QJsonValue::Null));
    emit answerIsReady(this, QJsonDocument(answer), std::make_shared<OkJsonCommandStatus>());
    return std::make_shared<OkJsonCommandStatus>();
}

} // namespace Tavrix::DeviceWebApi

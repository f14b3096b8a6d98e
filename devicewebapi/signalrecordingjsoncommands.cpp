#include "devicewebapi/signalrecordingjsoncommands.h"

#include "devicecomplexcommands/getfrequencycommand.h"
#include "net/webapi/ijsoncommandinfo.h"
#include "net/webapi/jsoncommandunit.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QVariantMap>

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;

namespace {

std::shared_ptr<ErrorJsonCommandStatus> recordingError(const char* code, const QString& text)
{
    auto status = std::make_shared<ErrorJsonCommandStatus>(code);
    status->setErrorText(text.toStdString());
    return status;
}

QString isoText(const QDateTime& time)
{
    return time.isValid() ? time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) : QString();
}

} // namespace

StartSignalRecordingJsonCommand::StartSignalRecordingJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                                                 Usb::UsbDeviceManager* manager,
                                                                 Archive::SignalRecorder* recorder,
                                                                 std::weak_ptr<Usb::AdcChannelsManager> channels)
    : DeviceComplexJsonCommand(std::move(description), manager)
    , m_recorder(recorder)
    , m_channels(std::move(channels))
{
}

std::shared_ptr<JsonCommandDescription> StartSignalRecordingJsonCommand::createCommandDescription()
{
    return std::make_shared<JsonCommandDescription>(
        "StartSignalRecording",
        std::make_shared<NamelessJsonCommandObjectUnit>(JsonCommandUnits{unit("Label", EJsonUnitType::String)}),
        std::make_shared<NamelessJsonCommandObjectUnit>(JsonCommandUnits{unit("FileName", EJsonUnitType::String)}));
}

std::optional<QString> StartSignalRecordingJsonCommand::labelOf(const QVariant& data)
{
    if (!data.isValid() || data.isNull())
        return QString();
    if (data.type() == QVariant::String)
        return data.toString();
    if (data.type() == QVariant::Map) {
        const QVariant label = data.toMap().value(QStringLiteral("Label"));
        if (!label.isValid() || label.isNull())
            return QString();
        if (label.type() == QVariant::String)
            return label.toString();
    }
    return std::nullopt;
}

StartSignalRecordingJsonCommand::JsonCommandStatusPtr
StartSignalRecordingJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    const auto request = std::dynamic_pointer_cast<VariantJsonCommandInfo>(info);
    if (!request)
        return badData();
    const std::optional<QString> label = labelOf(request->m_data);
    // Labels go into a file header and an annotation: a line, not a document.
    if (!label)
        return badData("Label: must be a text");
    if (label->size() > 200)
        return badData("Label: " + std::to_string(label->size()) + " characters, at most 200 are kept");
    m_label = *label;
    m_uid = request->m_uid;
    if (!m_recorder) {
        emit answerIsReady(this, QJsonDocument(), recordingError("NO_RECORDER", "signal recording is not available"));
        return std::make_shared<OkJsonCommandStatus>();
    }
    if (m_recorder->isRunning()) {
        emit answerIsReady(this, QJsonDocument(),
                           recordingError("RECORDING_RUNNING", m_recorder->fileName() + " is being recorded"));
        return std::make_shared<OkJsonCommandStatus>();
    }
    // The frame rate comes from the recorder itself.
    return startNamedOperation<DeviceComplexCommands::GetFrequencyCommand>(
        "GetFrequency", &StartSignalRecordingJsonCommand::handleFrequency);
}

void StartSignalRecordingJsonCommand::handleFrequency(Usb::ComplexCommand*, uint16_t frequency,
                                                      DeviceStatusPtr status)
{
    if (!isOk(status)) {
        reportAnswer(QJsonObject(), status);
        return;
    }
    const std::shared_ptr<Usb::AdcChannelsManager> channels = m_channels.lock();
    if (!m_recorder || !channels) {
        emit answerIsReady(this, QJsonDocument(), recordingError("NO_RECORDER", "signal recording is not available"));
        return;
    }
    Archive::SignalRecorder::StartRequest start;
    start.sampleRate = frequency;
    start.layout = channels->channelLayout();
    start.label = m_label;
    if (m_deviceManager)
        start.equipment = m_deviceManager->connectedDeviceInfo().name;
    QString detail;
    switch (m_recorder->start(start, &detail)) {
    case Archive::SignalRecorder::EStartResult::Started:
        emit answerIsReady(this, QJsonDocument(QJsonObject{{"FileName", detail}}),
                           std::make_shared<OkJsonCommandStatus>());
        return;
    case Archive::SignalRecorder::EStartResult::AlreadyRunning:
        emit answerIsReady(this, QJsonDocument(), recordingError("RECORDING_RUNNING", detail));
        return;
    case Archive::SignalRecorder::EStartResult::NoSignals:
    case Archive::SignalRecorder::EStartResult::BadSampleRate:
        emit answerIsReady(this, QJsonDocument(), recordingError("NO_SIGNALS", detail));
        return;
    case Archive::SignalRecorder::EStartResult::FileError:
        emit answerIsReady(this, QJsonDocument(), recordingError("FILE_ERROR", detail));
        return;
    case Archive::SignalRecorder::EStartResult::NoSpace:
        emit answerIsReady(this, QJsonDocument(), recordingError("NO_SPACE", detail));
        return;
    }
}

StopSignalRecordingJsonCommand::StopSignalRecordingJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                                               Archive::SignalRecorder* recorder)
    : DeviceComplexJsonCommand(std::move(description))
    , m_recorder(recorder)
{
}

std::shared_ptr<JsonCommandDescription> StopSignalRecordingJsonCommand::createCommandDescription()
{
    return std::make_shared<JsonCommandDescription>(
        "StopSignalRecording", std::make_shared<NamelessEmptyJsonCommandUnit>(),
        std::make_shared<NamelessJsonCommandObjectUnit>(
            JsonCommandUnits{unit("FileName", EJsonUnitType::String), unit("Size", EJsonUnitType::Int),
                             unit("Duration", EJsonUnitType::Float), unit("Url", EJsonUnitType::String)}));
}

StopSignalRecordingJsonCommand::JsonCommandStatusPtr
StopSignalRecordingJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    m_uid = info ? info->m_uid : 0;
    Archive::SignalRecorder::Summary summary;
    if (!m_recorder || !m_recorder->stop(QStringLiteral("stopped"), &summary)) {
        emit answerIsReady(this, QJsonDocument(), recordingError("NO_RECORDING", "no signal recording runs"));
    } else if (summary.fileName.isEmpty()) {
        emit answerIsReady(this, QJsonDocument(),
                           recordingError("NO_DATA", "the recording ended before a tenth of a second of "
                                                     "signals was recorded; no file was kept"));
    } else {
        const QJsonObject answer{{"FileName", summary.fileName},
                                 {"Size", static_cast<double>(summary.size)},
                                 {"Duration", summary.durationSeconds},
                                 {"Url", summary.url()}};
        emit answerIsReady(this, QJsonDocument(answer), std::make_shared<OkJsonCommandStatus>());
    }
    return std::make_shared<OkJsonCommandStatus>();
}

GetSignalRecordingStateJsonCommand::GetSignalRecordingStateJsonCommand(
    std::shared_ptr<JsonCommandDescription> description, Archive::SignalRecorder* recorder,
    std::weak_ptr<Usb::AdcChannelsManager> channels)
    : DeviceComplexJsonCommand(std::move(description))
    , m_recorder(recorder)
    , m_channels(std::move(channels))
{
}

std::shared_ptr<JsonCommandDescription> GetSignalRecordingStateJsonCommand::createCommandDescription()
{
    return std::make_shared<JsonCommandDescription>(
        "GetSignalRecordingState", std::make_shared<NamelessEmptyJsonCommandUnit>(),
        std::make_shared<NamelessJsonCommandObjectUnit>(
            JsonCommandUnits{unit("Running", EJsonUnitType::Bool), unit("FileName", EJsonUnitType::String),
                             unit("Since", EJsonUnitType::String), unit("Samples", EJsonUnitType::Int),
                             unit("Size", EJsonUnitType::Int), unit("LastFrame", EJsonUnitType::Int),
                             std::make_shared<JsonCommandArrayUnit>(
                                 "Channels", 0,
                                 std::make_shared<NamelessJsonCommandObjectUnit>(JsonCommandUnits{
                                     unit("Name", EJsonUnitType::String),
                                     std::make_shared<JsonCommandArrayUnit>(
                                         "Labels", 0,
                                         std::make_shared<NamelessJsonCommandUnit>(EJsonUnitType::String)),
                                     unit("Unit", EJsonUnitType::String), unit("Lsb", EJsonUnitType::Float)}))}));
}

QJsonArray GetSignalRecordingStateJsonCommand::channelLabels() const
{
    QJsonArray channels;
    const std::shared_ptr<Usb::AdcChannelsManager> manager = m_channels.lock();
    if (!manager)
        return channels;
    const std::vector<Usb::DecodedChannelLayout> layout = manager->channelLayout();
    const std::vector<Archive::BdfSignalInfo> signalInfos = Archive::SignalRecorder::signalsFor(layout, Archive::SignalRecorder::examinationLeadType());
    std::size_t next = 0;
    for (const Usb::DecodedChannelLayout& channel : layout) {
        QJsonArray labels;
        // The unit and the value of one count, as the recordings declare
        // them: the live view draws ECG paper at true gain from these.
        QString unitText;
        double lsb = 1.0;
        for (std::size_t i = 0; i < channel.signalCount && next < signalInfos.size(); ++i) {
            unitText = QString::fromStdString(signalInfos[next].unit);
            lsb = signalInfos[next].scale;
            labels.append(QString::fromStdString(signalInfos[next++].label));
        }
        channels.append(QJsonObject{{"Name", QString::fromStdString(channel.name)},
                                    {"Labels", labels},
                                    {"Unit", unitText},
                                    {"Lsb", lsb}});
    }
    return channels;
}

GetSignalRecordingStateJsonCommand::JsonCommandStatusPtr
GetSignalRecordingStateJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    m_uid = info ? info->m_uid : 0;
    const bool running = m_recorder && m_recorder->isRunning();
    QJsonObject answer{{"Running", running}};
    if (running) {
        answer.insert("FileName", m_recorder->fileName());
        answer.insert("Since", isoText(m_recorder->since()));
        answer.insert("Samples", static_cast<double>(m_recorder->samples()));
        answer.insert("Size", static_cast<double>(m_recorder->bytesWritten()));
        // Ties the file to the frame counters of the "buttonPush" events.
        if (const std::optional<uint16_t> last = m_recorder->lastFrameNumber())
            answer.insert("LastFrame", *last);
    }
    answer.insert("Channels", channelLabels());
    emit answerIsReady(this, QJsonDocument(answer), std::make_shared<OkJsonCommandStatus>());
    return std::make_shared<OkJsonCommandStatus>();
}

} // namespace Tavrix::DeviceWebApi

#pragma once

#include "devicewebapi/devicecomplexjsoncommand.h"
#include "archive/signalrecorder.h"

#include <QJsonArray>
#include <QPointer>

namespace Tavrix::DeviceWebApi {

// "StartSignalRecording" (data: an optional label text): asks the recorder
// for its frame rate, then starts a BDF+ recording of the live signals.
// Answers {"FileName"}; "RECORDING_RUNNING" while one runs, "NO_SIGNALS"
// when nothing is decoded, "FILE_ERROR" when the file cannot be made.
class StartSignalRecordingJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT

public:
    StartSignalRecordingJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                    Usb::UsbDeviceManager* manager, Archive::SignalRecorder* recorder,
                                    std::weak_ptr<Usb::AdcChannelsManager> channels);
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

    // The label of a request's data: a text, an object's "Label" text, or
    // nothing; empty optional for anything else.
    static std::optional<QString> labelOf(const QVariant& data);

private:
    void handleFrequency(Usb::ComplexCommand* command, uint16_t frequency, DeviceStatusPtr status);

    QPointer<Archive::SignalRecorder> m_recorder;
    std::weak_ptr<Usb::AdcChannelsManager> m_channels;
    QString m_label;
};

// "StopSignalRecording": ends the recording; answers {"FileName", "Size",
// "Duration" (seconds), "Url"}; "NO_RECORDING" when none runs.
class StopSignalRecordingJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT

public:
    StopSignalRecordingJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                   Archive::SignalRecorder* recorder);
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

private:
    QPointer<Archive::SignalRecorder> m_recorder;
};

// "GetSignalRecordingState": {"Running", "FileName", "Since", "Samples",
// "Size", "Channels"}; "Channels" names the signals a recording would have
// now, per streamed channel: [{"Name", "Labels": ["ECG I", …]}], so a live
// view can label its traces the same way.
class GetSignalRecordingStateJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT

public:
    GetSignalRecordingStateJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                                       Archive::SignalRecorder* recorder, std::weak_ptr<Usb::AdcChannelsManager> channels);
    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();
    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

private:
    QJsonArray channelLabels() const;

    QPointer<Archive::SignalRecorder> m_recorder;
    std::weak_ptr<Usb::AdcChannelsManager> m_channels;
};

} // namespace Tavrix::DeviceWebApi

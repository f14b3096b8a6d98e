#include "devicewebapi/signalrecordinglink.h"

#include "devicewebapi/signalrecorder.h"
#include "devicewebapi/signalrecordingjsoncommands.h"
#include "net/webapi/jsoncommandfactory.h"
#include "usb/usbeventloopworker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

#include <csignal>

namespace Tavrix::DeviceWebApi {

namespace {
QPointer<SignalRecorder> current;
} // namespace

SignalRecorder* SignalRecordingLink::recorder()
{
    return current.data();
}

QString SignalRecordingLink::directoryFrom(const QVariantMap& settings, const QString& appDir)
{
    const QString configured = settings.value(directorySetting).toString();
    if (configured.isEmpty())
        return QDir(appDir).filePath(QStringLiteral("recordings"));
    return QDir::cleanPath(QDir(appDir).absoluteFilePath(configured));
}

QString SignalRecordingLink::recordingsDirectory()
{
    // Read here, beside the directory it governs, as the read-out store does.
    const QString appDir = QCoreApplication::applicationDirPath();
    QFile file(QDir(appDir).filePath(QStringLiteral("settings.json")));
    QVariantMap settings;
    if (file.open(QIODevice::ReadOnly))
        settings = QJsonDocument::fromJson(file.readAll()).object().toVariantMap();
    return directoryFrom(settings, appDir);
}

void SignalRecordingLink::link(Usb::UsbEventLoopWorker& worker, Net::WebApi::JsonCommandFactory& factory)
{
    // A file size limit must end the write with an error, not the process.
    std::signal(SIGXFSZ, SIG_IGN);

    auto* recorder = new SignalRecorder(recordingsDirectory(), &worker);
    recorder->repairUnfinished();
    const std::shared_ptr<Usb::AdcChannelsManager> channels = worker.channelsManager();
    recorder->attach(channels);
    QObject::connect(&worker, &Usb::UsbEventLoopWorker::deviceIsDisconnected, recorder,
                     &SignalRecorder::handleDeviceLost);
    QObject::connect(&worker, &Usb::UsbEventLoopWorker::cableIsConnected, recorder,
                     &SignalRecorder::handleCableConnected);
    QObject::connect(&worker, &Usb::UsbEventLoopWorker::cableIsDisconnected, recorder,
                     &SignalRecorder::handleCableRemoved);
    current = recorder;

    Usb::UsbDeviceManager* const manager = &worker.deviceManager();
    factory.add<StartSignalRecordingJsonCommand>(StartSignalRecordingJsonCommand::createCommandDescription(), manager,
                                                 recorder, std::weak_ptr<Usb::AdcChannelsManager>(channels));
    factory.add<StopSignalRecordingJsonCommand>(StopSignalRecordingJsonCommand::createCommandDescription(), recorder);
    factory.add<GetSignalRecordingStateJsonCommand>(GetSignalRecordingStateJsonCommand::createCommandDescription(),
                                                    recorder, std::weak_ptr<Usb::AdcChannelsManager>(channels));
}

} // namespace Tavrix::DeviceWebApi

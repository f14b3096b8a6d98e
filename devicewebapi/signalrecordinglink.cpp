#include "devicewebapi/signalrecordinglink.h"

#include "archive/signalrecorder.h"
#include "usb/usbeventloopworker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>

namespace Tavrix::DeviceWebApi {

QString SignalRecordingLink::directoryFrom(const QVariantMap& settings, const QString& appDir)
{
    const QString configured = settings.value(directorySetting).toString();
    if (configured.isEmpty())
        return QDir(appDir).filePath(QStringLiteral("recordings"));
    return QDir::cleanPath(QDir(appDir).absoluteFilePath(configured));
}

namespace {
QVariantMap serviceSettings()
{
    // Read here, beside what they govern, as the read-out store does.
    QFile file(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("settings.json")));
    QVariantMap settings;
    if (file.open(QIODevice::ReadOnly))
        settings = QJsonDocument::fromJson(file.readAll()).object().toVariantMap();
    return settings;
}
} // namespace

QString SignalRecordingLink::recordingsDirectory()
{
    return directoryFrom(serviceSettings(), QCoreApplication::applicationDirPath());
}

std::unique_ptr<Archive::SignalRecorder> SignalRecordingLink::createRecorder(Usb::UsbEventLoopWorker& worker)
{
    // A file size limit must end the write with an error, not the process.
    std::signal(SIGXFSZ, SIG_IGN);

    const QVariantMap settings = serviceSettings();
    auto recorder = std::make_unique<Archive::SignalRecorder>(directoryFrom(settings, QCoreApplication::applicationDirPath()));
    recorder->setLimits(Archive::SignalRecorder::Limits::fromSettings(settings));
    recorder->repairUnfinished();
    recorder->attach(worker.channelsManager());
    QObject::connect(&worker, &Usb::UsbEventLoopWorker::deviceIsDisconnected, recorder.get(),
                     &Archive::SignalRecorder::handleDeviceLost);
    QObject::connect(&worker, &Usb::UsbEventLoopWorker::cableIsConnected, recorder.get(),
                     &Archive::SignalRecorder::handleCableConnected);
    QObject::connect(&worker, &Usb::UsbEventLoopWorker::cableIsDisconnected, recorder.get(),
                     &Archive::SignalRecorder::handleCableRemoved);
    return recorder;
}

} // namespace Tavrix::DeviceWebApi

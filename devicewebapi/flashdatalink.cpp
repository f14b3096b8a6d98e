#include "devicewebapi/flashdatalink.h"

#include "archive/flashreadoutstore.h"
#include "usb/usbeventloopworker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace Tavrix::DeviceWebApi {

QString FlashDataLink::readoutDirectory()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("flash"));
}

int FlashDataLink::readoutsToKeep()
{
    // Read here, beside the read-out directory it governs; an absent or
    // unreadable settings file keeps the default.
    QFile file(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("settings.json")));
    if (!file.open(QIODevice::ReadOnly))
        return Archive::FlashReadoutStore::defaultKeep;
    return Archive::FlashReadoutStore::keepFrom(QJsonDocument::fromJson(file.readAll()).object().toVariantMap());
}

std::unique_ptr<Archive::FlashReadoutStore> FlashDataLink::createStore(Usb::UsbEventLoopWorker& worker)
{
    // The blocks come from the USB thread; the store writes them on the main thread.
    auto readouts = std::make_unique<Archive::FlashReadoutStore>(readoutDirectory());
    readouts->setKeep(readoutsToKeep());
    {
        QFile file(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("settings.json")));
        QVariantMap settings;
        if (file.open(QIODevice::ReadOnly))
            settings = QJsonDocument::fromJson(file.readAll()).object().toVariantMap();
        readouts->setReserve(Common::DiskReserve::fromSettings(settings));
    }
    QObject::connect(&worker.dataListener(), &Usb::UsbEndPoint::signalAnswer, readouts.get(),
                     &Archive::FlashReadoutStore::slotBlock, Qt::QueuedConnection);
    // A lost recorder ends its read-out; what was received stays a ".part" file.
    QObject::connect(&worker, &Usb::UsbEventLoopWorker::deviceIsDisconnected, readouts.get(),
                     &Archive::FlashReadoutStore::abandon);
    return readouts;
}

} // namespace Tavrix::DeviceWebApi

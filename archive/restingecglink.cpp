#include "archive/restingecglink.h"

#include "archive/restingecgarchive.h"
#include "usb/usbeventloopworker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace Tavrix::Archive {

std::unique_ptr<RestingEcgArchive> RestingEcgLink::createArchive(Usb::UsbEventLoopWorker& worker,
                                                                 const QString& directory)
{
    const QString appDir = QCoreApplication::applicationDirPath();
    QFile file(QDir(appDir).filePath(QStringLiteral("settings.json")));
    QVariantMap settings;
    if (file.open(QIODevice::ReadOnly))
        settings = QJsonDocument::fromJson(file.readAll()).object().toVariantMap();
    std::unique_ptr<RestingEcgArchive> archive = RestingEcgArchive::fromSettings(settings, appDir, directory);
    archive->attach(worker.channelsManager());
    QObject::connect(&worker, &Usb::UsbEventLoopWorker::deviceIsDisconnected, archive.get(),
                     &RestingEcgArchive::handleDeviceLost);
    return archive;
}

} // namespace Tavrix::Archive

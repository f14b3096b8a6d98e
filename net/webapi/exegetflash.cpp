#include "net/webapi/exegetflash.h"

#include "common/regularfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace Tavrix::Net::WebApi {

namespace {
const QString prefix = QStringLiteral("readout-");
const QString suffix = QStringLiteral(".bin");
} // namespace

exeGetFlash::exeGetFlash(QObject* parent)
    : exeGet(parent)
{
}

exeGetFlash::exeGetFlash(QString directory, QObject* parent)
    : exeGet(parent)
    , m_directory(std::move(directory))
{
}

QString exeGetFlash::readoutPath(const QString& name) const
{
    if (m_directory.isEmpty())
        return {};
    QString file = name;
    if (file == QLatin1String("latest")) {
        const QStringList files =
            Common::RegularFiles::names(m_directory, {prefix + "*" + suffix}, QDir::Name | QDir::Reversed);
        if (files.isEmpty())
            return {};
        file = files.first();
    }
    // Only the read-out files themselves: no other file, no way out of the
    // directory, no symbolic link (it could lead anywhere).
    if (!file.startsWith(prefix) || !file.endsWith(suffix) || file.contains('/') || file.contains('\\')
        || file.contains(QLatin1String("..")))
        return {};
    const QString path = QDir(m_directory).filePath(file);
    return Common::RegularFiles::isRegular(path) ? path : QString();
}

QJsonArray exeGetFlash::list() const
{
    QJsonArray entries;
    if (m_directory.isEmpty())
        return entries;
    const QDir dir(m_directory);
    for (const QString& name : Common::RegularFiles::names(m_directory, {prefix + "*" + suffix}, QDir::Time)) {
        const QFileInfo file(dir.filePath(name));
        // A read-out has no signal time of its own: "start" is when it was written.
        entries.append(QJsonObject{{"name", file.fileName()},
                                   {"size", static_cast<double>(file.size())},
                                   {"start", file.lastModified().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))},
                                   {"duration", QJsonValue::Null}});
    }
    return entries;
}

void exeGetFlash::exe(ParsingURI& uri, QTcpSocket* socket)
{
    if (!uri.m_queryAndRemainder.isEmpty()) {
        m_makeResponse->ret501();
    } else if (uri.m_subPath.isEmpty() && uri.m_path.endsWith(QLatin1Char('/'))) {
        m_makeResponse->ret200(QStringLiteral("json"), QJsonDocument(list()).toJson(QJsonDocument::Compact));
    } else if (uri.m_subPath.isEmpty()) {
        m_makeResponse->ret200();
        emit signalSetFlash();
    } else {
        // Read-outs reach hundreds of MiB (and more than fits a QByteArray):
        // streamed from disk, never read whole.
        const QString path = readoutPath(uri.m_subPath);
        if (!path.isEmpty() && sendFile(socket, path, QStringLiteral("bin")))
            return;
        m_makeResponse->ret404(uri.m_path);
    }
    sentResponse(socket);
}

} // namespace Tavrix::Net::WebApi

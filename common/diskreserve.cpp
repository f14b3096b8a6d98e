#include "common/diskreserve.h"

#include <QDir>
#include <QFileInfo>

#include <sys/statvfs.h>

namespace Tavrix::Common {

DiskReserve::DiskReserve(qint64 bytes)
    : m_bytes(bytes < 0 ? 0 : bytes)
{
}

DiskReserve DiskReserve::fromSettings(const QVariantMap& settings)
{
    const QVariant value = settings.value(QLatin1String(setting));
    bool ok = false;
    const double mib = value.toDouble(&ok);
    if (!value.isValid() || !ok || value.type() == QVariant::String || value.type() == QVariant::Bool || mib < 0)
        return DiskReserve();
    return DiskReserve(static_cast<qint64>(mib * mebibyte));
}

qint64 DiskReserve::freeBytes(const QString& path)
{
    QString probe = QFileInfo(path).absoluteFilePath();
    while (!QFileInfo::exists(probe)) {
        const QString parent = QFileInfo(probe).absolutePath();
        if (parent == probe)
            return -1;
        probe = parent;
    }
    struct statvfs info{};
    if (::statvfs(QFile::encodeName(probe).constData(), &info) != 0)
        return -1;
    return static_cast<qint64>(info.f_bavail) * static_cast<qint64>(info.f_frsize);
}

bool DiskReserve::allows(const QString& path, qint64 needed, QString* why) const
{
    const qint64 free = freeBytes(path);
    if (free < 0 || free - needed >= m_bytes)
        return true;
    if (why)
        *why = QStringLiteral("%1 MiB free, %2 MiB kept in reserve").arg(free / mebibyte).arg(m_bytes / mebibyte);
    return false;
}

} // namespace Tavrix::Common

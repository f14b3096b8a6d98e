#include "archive/archivespace.h"

namespace Tavrix::Archive {

bool ArchiveSpace::hasRoomFor(const QString& directory, qint64 bytes, QString* why) const
{
    QString reason;
    if (m_reserve.allows(directory, bytes, &reason))
        return true;
    if (why)
        *why = QStringLiteral("no room for a resting ECG in %1: %2").arg(directory, reason);
    return false;
}

} // namespace Tavrix::Archive

#include "archive/archivespace.h"

#include <QStorageInfo>

namespace Tavrix::Archive {

bool ArchiveSpace::hasRoomFor(const QString& directory, qint64 bytes, QString* why)
{
    // The same reserve as the recordings keep: a disk that fills up takes
    // the error log and the recordings with it.
    constexpr qint64 reserve = 64LL * 1024 * 1024;
    const QStorageInfo storage(directory);
    if (!storage.isValid() || !storage.isReady())
        return true; // nothing known: the write itself will tell
    if (storage.bytesAvailable() >= bytes + reserve)
        return true;
    if (why)
        *why = QStringLiteral("%1 has %2 MiB free; a resting ECG needs %3 MiB beyond the %4 MiB kept free")
                   .arg(directory)
                   .arg(storage.bytesAvailable() / (1024 * 1024))
                   .arg((bytes + 1024 * 1024 - 1) / (1024 * 1024))
                   .arg(reserve / (1024 * 1024));
    return false;
}

} // namespace Tavrix::Archive

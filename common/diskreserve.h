#pragma once

#include <QString>
#include <QVariantMap>

namespace Tavrix::Common {

// Free space the service leaves on a file system it writes files to
// (recordings, memory read-outs, DICOM files): below it nothing new is
// started there, and a file being written ends cleanly rather than running
// into a full disk (and the system with it).
class DiskReserve
{
public:
    static constexpr qint64 mebibyte = 1024 * 1024;
    static constexpr qint64 defaultBytes = 1024 * mebibyte;
    // The settings key: the reserve in MiB, 0 for none.
    static constexpr const char* setting = "diskReserveMiB";

    explicit DiskReserve(qint64 bytes = defaultBytes);
    // `setting` of a settings map: a number of MiB of at least 0, else the default.
    static DiskReserve fromSettings(const QVariantMap& settings);

    qint64 bytes() const { return m_bytes; }

    // Bytes an unprivileged writer may still use on the file system that
    // holds `path` (or its nearest existing parent: a directory not made
    // yet); -1 when it cannot be told.
    static qint64 freeBytes(const QString& path);

    // True when writing `needed` more bytes below `path` leaves the reserve
    // free. False otherwise, with the reason in `why` ("12 MiB free, 1024
    // MiB kept in reserve"). A file system whose free space cannot be told
    // is allowed: the write itself then reports what goes wrong.
    bool allows(const QString& path, qint64 needed = 0, QString* why = nullptr) const;

private:
    qint64 m_bytes;
};

} // namespace Tavrix::Common

#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <cstdint>

struct stat;

namespace Tavrix::Net::WebApi {

// Contents of the files served most, kept in memory and read again only when
// a file changed. A change is seen from what one stat() tells: device and
// inode (a file replaced by rename), size, modification and change times
// (edits, chmod). A file modified within the last clock tick or two may
// change again without its times moving, so it is read every time until it
// has been left alone for a while (as git treats "racily clean" files).
class StaticFileCache
{
public:
    static constexpr qint64 defaultMaxFileBytes = 4 * 1024 * 1024;
    static constexpr qint64 defaultMaxTotalBytes = 32 * 1024 * 1024;

    static constexpr qint64 defaultSettledNs = 2'000'000'000;

    // `settledNs`: how long a file must have been left alone before its
    // contents are kept.
    explicit StaticFileCache(qint64 maxFileBytes = defaultMaxFileBytes, qint64 maxTotalBytes = defaultMaxTotalBytes,
                             qint64 settledNs = defaultSettledNs);

    // The whole file at `path`; false when it cannot be opened or read as a
    // plain file (missing, a directory, no permission). The path is used as
    // given: symbolic links are the caller's to judge before.
    bool read(const QString& path, QByteArray& contents);
    // The same for a caller that has just lstat()ed the file (`nativePath`,
    // in the file system's encoding) and found no symbolic link: what it saw
    // is the change check, so a kept file costs no system call of its own,
    // and the file is not opened should a link have taken its place since.
    bool read(const QByteArray& nativePath, const struct stat& current, QByteArray& contents);

    // Larger files are never kept; their callers had better stream them.
    qint64 maxFileBytes() const { return m_maxFileBytes; }
    int entries() const { return m_entries.size(); }
    qint64 bytes() const { return m_bytes; }

private:
    struct Identity
    {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        qint64 size = -1;
        qint64 modifiedNs = 0;
        qint64 changedNs = 0;
        bool operator==(const Identity& o) const
        {
            return device == o.device && inode == o.inode && size == o.size && modifiedNs == o.modifiedNs
                && changedNs == o.changedNs;
        }
    };
    struct Entry
    {
        Identity identity;
        QByteArray contents;
    };

    static Identity identityOf(const struct stat& info);
    bool readFile(const QByteArray& nativePath, const struct stat* current, QByteArray& contents);
    void forget(const QByteArray& path);
    void keep(const QByteArray& path, const Identity& identity, const QByteArray& contents);

    qint64 m_maxFileBytes;
    qint64 m_maxTotalBytes;
    qint64 m_settledNs;
    qint64 m_bytes = 0;
    QHash<QByteArray, Entry> m_entries; // by path in the file system's encoding
};

} // namespace Tavrix::Net::WebApi

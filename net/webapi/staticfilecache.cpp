#include "net/webapi/staticfilecache.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Tavrix::Net::WebApi {

namespace {

qint64 nanoseconds(const timespec& t)
{
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

qint64 realtimeNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return nanoseconds(now);
}

} // namespace

StaticFileCache::StaticFileCache(qint64 maxFileBytes, qint64 maxTotalBytes, qint64 settledNs)
    : m_maxFileBytes(maxFileBytes)
    , m_maxTotalBytes(maxTotalBytes)
    , m_settledNs(settledNs)
{
}

StaticFileCache::Identity StaticFileCache::identityOf(const struct stat& info)
{
    return Identity{std::uint64_t(info.st_dev), std::uint64_t(info.st_ino), qint64(info.st_size),
                    nanoseconds(info.st_mtim), nanoseconds(info.st_ctim)};
}

bool StaticFileCache::read(const QString& path, QByteArray& contents)
{
    return readFile(path.toLocal8Bit(), nullptr, contents);
}

bool StaticFileCache::read(const QByteArray& nativePath, const struct stat& current, QByteArray& contents)
{
    return readFile(nativePath, &current, contents);
}

bool StaticFileCache::readFile(const QByteArray& native, const struct stat* current, QByteArray& contents)
{
    const auto cached = m_entries.constFind(native);
    if (cached != m_entries.constEnd()) {
        struct stat info{};
        if (current)
            info = *current;
        else if (::stat(native.constData(), &info) != 0)
            info.st_mode = 0;
        if (S_ISREG(info.st_mode) && identityOf(info) == cached->identity) {
            contents = cached->contents;
            return true;
        }
        forget(native);
    }

    // Non-blocking: a FIFO in a web directory must not hold the service.
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (current ? O_NOFOLLOW : 0));
    if (fd < 0)
        return false;
    struct stat info{};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    QByteArray bytes;
    if (info.st_size > 0 && info.st_size <= m_maxFileBytes)
        bytes.reserve(int(info.st_size));
    char chunk[65536];
    bool failed = false;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            failed = true;
            break;
        }
        if (n == 0)
            break;
        bytes.append(chunk, int(n));
    }
    ::close(fd);
    if (failed)
        return false;

    const Identity identity = identityOf(info);
    const qint64 youngest = std::max(identity.modifiedNs, identity.changedNs);
    // What was read must be what the times describe: a file growing under
    // the read is not kept.
    if (bytes.size() == identity.size && realtimeNs() - youngest >= m_settledNs)
        keep(native, identity, bytes);
    contents = bytes;
    return true;
}

void StaticFileCache::forget(const QByteArray& path)
{
    const auto it = m_entries.find(path);
    if (it == m_entries.end())
        return;
    m_bytes -= it->contents.size();
    m_entries.erase(it);
}

void StaticFileCache::keep(const QByteArray& path, const Identity& identity, const QByteArray& contents)
{
    if (contents.size() > m_maxFileBytes)
        return;
    // Past the bound the oldest choice is no better than any other: the
    // web UI's few files fit many times over, so this only stops a directory
    // of large files from growing the service.
    while (!m_entries.isEmpty() && m_bytes + contents.size() > m_maxTotalBytes)
        forget(m_entries.begin().key());
    if (m_bytes + contents.size() > m_maxTotalBytes)
        return;
    m_entries.insert(path, Entry{identity, contents});
    m_bytes += contents.size();
}

} // namespace Tavrix::Net::WebApi

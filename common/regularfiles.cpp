#include "common/regularfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace Tavrix::Common {

bool RegularFiles::isRegular(const QString& path)
{
    struct stat info {};
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

bool RegularFiles::exists(const QString& path)
{
    struct stat info {};
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

bool RegularFiles::open(QFile& file, const QString& path, QIODevice::OpenMode mode)
{
    if (file.isOpen() || path.isEmpty())
        return false;
    const bool write = mode & QIODevice::WriteOnly;
    const int flags = (write ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    const int fd = ::open(QFile::encodeName(path).constData(), flags);
    if (fd < 0)
        return false;
    struct stat info {};
    // Only now is it known what was opened; regular files ignore O_NONBLOCK,
    // but it is taken off so reads behave as usual.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || ::fcntl(fd, F_SETFL, 0) != 0) {
        ::close(fd);
        return false;
    }
    file.setFileName(path);
    if (!file.open(fd, write ? QIODevice::ReadWrite : QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

bool RegularFiles::createNew(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          0644);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

QStringList RegularFiles::names(const QString& directory, const QStringList& filters, QDir::SortFlags sort)
{
    if (directory.isEmpty())
        return {};
    const QDir dir(directory);
    QStringList names = dir.entryList(filters, QDir::Files | QDir::NoSymLinks, sort);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [&dir](const QString& name) { return !isRegular(dir.filePath(name)); }),
                names.end());
    return names;
}

} // namespace Tavrix::Common

#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

namespace Tavrix::Common {

// Files of a directory that the service lists, serves or rewrites: only
// regular files that really are in it. A symbolic link is never followed
// (it could lead anywhere on the machine, or to another file of the
// directory under a second name), nor is a directory, pipe, socket or
// device taken for a file.
class RegularFiles
{
public:
    // True when `path` itself (not what a link points to) is a regular file.
    static bool isRegular(const QString& path);
    // True when anything at all is at `path`: a file, a directory, or a
    // symbolic link, even one that points nowhere.
    static bool exists(const QString& path);
    // Opens a regular file as `mode` (ReadOnly or ReadWrite) without
    // following a symbolic link and without waiting on a pipe, then checks
    // what was opened: a file swapped for a link after an earlier check is
    // refused too. False, with `file` closed, for anything else.
    static bool open(QFile& file, const QString& path, QIODevice::OpenMode mode = QIODevice::ReadOnly);
    // Creates `path` as a new empty regular file, failing when anything is
    // there already (a link planted under the name included).
    static bool createNew(const QString& path);
    // The names of the regular files in `directory` that match `filters`.
    static QStringList names(const QString& directory, const QStringList& filters, QDir::SortFlags sort);
};

} // namespace Tavrix::Common

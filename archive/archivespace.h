#pragma once

#include <QString>

namespace Tavrix::Archive {

// Asked before an archive file is written: whether `directory` has room for
// `bytes` more without eating into the space the service keeps free.
class ArchiveSpace
{
public:
    // false with `why` set when the file should not be written.
    static bool hasRoomFor(const QString& directory, qint64 bytes, QString* why);
};

} // namespace Tavrix::Archive

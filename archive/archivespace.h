#pragma once

#include "common/diskreserve.h"

#include <QString>

namespace Tavrix::Archive {

// Asked before an archive file is written: whether `directory` has room for
// `bytes` more without eating into the space the service keeps free (the
// same reserve as recordings and read-outs, setting "diskReserveMiB").
class ArchiveSpace
{
public:
    explicit ArchiveSpace(Common::DiskReserve reserve = Common::DiskReserve()) : m_reserve(reserve) {}

    // false with `why` set when the file should not be written.
    bool hasRoomFor(const QString& directory, qint64 bytes, QString* why) const;

private:
    Common::DiskReserve m_reserve;
};

} // namespace Tavrix::Archive

#pragma once

#include <QString>
#include <cstdint>

namespace Tavrix::Archive {

// Makes an EDF/BDF file that was cut off (a crash, a full disk) readable
// again: a trailing partial data record is removed and the header's record
// count set to the whole records on disk. Only the few fixed header fields
// that say where the records are and how long they are are read.
class BdfFileRepair
{
public:
    struct Result
    {
        bool ok = false;
        // Whole data records in the repaired file.
        int64_t records = 0;
        // False when the file already was consistent.
        bool changed = false;
        QString error;
    };

    static Result repair(const QString& path);
};

} // namespace Tavrix::Archive

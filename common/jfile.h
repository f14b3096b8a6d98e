#pragma once

#include <QByteArray>
#include <QString>

namespace Tavrix::Common {

class JFile
{
public:
    // Reads the whole file into one process-wide buffer and returns it; the
    // next call overwrites it, so copy or parse before reading another file.
    // A failure logs "file read error" and returns the emptied buffer.
    static QByteArray& readFile(const QString& path);
};

} // namespace Tavrix::Common

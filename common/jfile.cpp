#include "common/jfile.h"

#include "common/jterminal.h"

#include <QFile>

namespace Tavrix::Common {

QByteArray& JFile::readFile(const QString& path)
{
    static QByteArray buffer;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        buffer.clear();
        JTerminal('1') << "file read error" << path;
        return buffer;
    }
    buffer = file.readAll();
    file.close();
    return buffer;
}

} // namespace Tavrix::Common

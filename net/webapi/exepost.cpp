#include "net/webapi/exepost.h"

#include "common/jterminal.h"
#include "net/webapi/exeget.h"

#include <QFile>
#include <QTcpSocket>

namespace Tavrix::Net::WebApi {

void exePost::exe(ParsingURI&, QByteArray&, QTcpSocket* socket)
{
    m_makeResponse->ret501();
    sentResponse(socket);
}

void exePost::file_writer(const QString& path, QByteArray& data)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_makeResponse->ret404(path);
        return;
    }
    const qint64 written = file.write(data);
    file.close();
    if (written < data.size()) {
        m_makeResponse->ret500();
        Common::JTerminal('1') << "file write error" << path.toLocal8Bit().constData() << written
                               << data.size();
        return;
    }
    m_makeResponse->ret200();
}

} // namespace Tavrix::Net::WebApi

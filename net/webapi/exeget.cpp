#include "net/webapi/exeget.h"

#include "common/jterminal.h"
#include "net/webapi/accesspolicy.h"
#include "net/webapi/filesender.h"

#include <QFile>
#include <QTcpSocket>

namespace Tavrix::Net::WebApi {

void writeAndClose(QTcpSocket* socket, const MakeResponse& response)
{
    if (!write(socket, response))
        return;
    // Sent now rather than on the next turn of the event loop: the close
    // then follows at once, without waiting to be told the socket is writable.
    socket->flush();
    socket->disconnectFromHost();
}

bool write(QTcpSocket* socket, const MakeResponse& response)
{
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return false;
    const QVariant origin = socket->property(AccessPolicy::allowOriginProperty);
    if (!origin.isValid()) {
        socket->write(response.m_raw);
        return true;
    }
    MakeResponse named = response;
    for (HttpHeader& header : named.m_headers) {
        if (header.m_name == QLatin1String("Access-Control-Allow-Origin"))
            header.m_value = origin.toString();
        else if (header.m_name == QLatin1String("Access-Control-Allow-Headers"))
            header.m_value = QStringLiteral("Content-Type, Authorization");
    }
    named.m_headers.append(HttpHeader{"Vary", "Origin"});
    named.m_raw.clear();
    named.assemble();
    socket->write(named.m_raw);
    return true;
}

void exeGet::exe(ParsingURI&, QTcpSocket* socket)
{
    m_makeResponse->ret501();
    sentResponse(socket);
}

bool exeGet::buildAnswer(ParsingURI&)
{
    return false;
}

bool exeGet::sendFile(QTcpSocket* socket, const QString& path, const QString& extension)
{
    // Opened before anything is answered: the length announced is that of
    // the file sent.
    FileSender* sender = FileSender::open(socket, path);
    if (!sender)
        return false;
    m_makeResponse->ret200(extension, QByteArray());
    m_makeResponse->m_headers.append(HttpHeader{"Content-Length", QString::number(sender->size())});
    // The connection ends with the file, as after every answer; with a
    // length and no word of that, an HTTP/1.1 client would take it for kept
    // alive and send its next request into a closing socket (which the
    // closing side answers with a reset, losing the tail of this body at
    // the client).
    m_makeResponse->m_headers.append(HttpHeader{"Connection", "close"});
    m_makeResponse->m_raw.clear();
    m_makeResponse->assemble();
    if (write(socket, *m_makeResponse))
        sender->start();
    else
        delete sender;
    return true;
}

void exeGet::file_reader(const QString& path, const QString& extension)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_makeResponse->ret404(path);
        Common::JTerminal('1') << "file read error" << path.toLocal8Bit().constData();
        return;
    }
    const QByteArray contents = file.readAll();
    file.close();
    m_makeResponse->ret200(extension, contents);
}

} // namespace Tavrix::Net::WebApi

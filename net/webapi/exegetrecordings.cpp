#include "net/webapi/exegetrecordings.h"

#include "net/webapi/filesender.h"

#include <QJsonDocument>
#include <QTcpSocket>

namespace Tavrix::Net::WebApi {

exeGetRecordings::exeGetRecordings(std::function<QString(const QString&)> pathOf, std::function<QJsonArray()> list,
                                   QObject* parent)
    : exeGet(parent)
    , m_pathOf(std::move(pathOf))
    , m_list(std::move(list))
{
}

void exeGetRecordings::exe(ParsingURI& uri, QTcpSocket* socket)
{
    if (!uri.m_queryAndRemainder.isEmpty()) {
        m_makeResponse->ret501();
    } else if (uri.m_subPath.isEmpty()) {
        const QJsonArray entries = m_list ? m_list() : QJsonArray();
        m_makeResponse->ret200(QStringLiteral("json"), QJsonDocument(entries).toJson(QJsonDocument::Compact));
    } else {
        const QString path = m_pathOf ? m_pathOf(uri.m_subPath) : QString();
        // Opened before anything is answered, never through a symbolic link:
        // the length announced is that of the file sent.
        FileSender* sender = path.isEmpty() ? nullptr : FileSender::open(socket, path);
        if (!sender) {
            m_makeResponse->ret404(uri.m_path);
        } else {
            // Recordings grow to hundreds of MiB: the head now, the file in pieces.
            m_makeResponse->ret200(QStringLiteral("bin"), QByteArray());
            m_makeResponse->m_headers.append(HttpHeader{"Content-Length", QString::number(sender->size())});
            // The connection ends with the file, as after every answer; with
            // a length and no word of that, an HTTP/1.1 client would take it
            // for kept alive and send its next request into a closing socket
            // (which the closing side answers with a reset, losing the tail
            // of this body at the client).
            m_makeResponse->m_headers.append(HttpHeader{"Connection", "close"});
            m_makeResponse->m_raw.clear();
            m_makeResponse->assemble();
            if (write(socket, *m_makeResponse))
                sender->start();
            else
                delete sender;
            return;
        }
    }
    sentResponse(socket);
}

} // namespace Tavrix::Net::WebApi

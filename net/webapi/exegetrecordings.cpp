#include "net/webapi/exegetrecordings.h"


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

exeGetRecordings::exeGetRecordings(std::function<QString(const QString&)> pathOf,
                                   std::function<QByteArray()> listJson, QObject* parent)
    : exeGet(parent)
    , m_pathOf(std::move(pathOf))
    , m_listJson(std::move(listJson))
{
}

void exeGetRecordings::exe(ParsingURI& uri, QTcpSocket* socket)
{
    if (!uri.m_queryAndRemainder.isEmpty()) {
        m_makeResponse->ret501();
    } else if (uri.m_subPath.isEmpty()) {
        if (m_listJson) {
            m_makeResponse->ret200(QStringLiteral("json"), m_listJson());
        } else {
            const QJsonArray entries = m_list ? m_list() : QJsonArray();
            m_makeResponse->ret200(QStringLiteral("json"), QJsonDocument(entries).toJson(QJsonDocument::Compact));
        }
    } else {
        const QString path = m_pathOf ? m_pathOf(uri.m_subPath) : QString();
        // Recordings grow to hundreds of MiB: streamed from disk.
        if (!path.isEmpty() && sendFile(socket, path, QStringLiteral("bin")))
            return;
        m_makeResponse->ret404(uri.m_path);
    }
    sentResponse(socket);
}

} // namespace Tavrix::Net::WebApi

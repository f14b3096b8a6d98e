#pragma once

#include "net/webapi/exeget.h"

#include <QList>

namespace Tavrix::Net::WebApi {

// Server-sent events: answers the stream header and keeps the socket open.
class exeGetEvent : public exeGet
{
    Q_OBJECT

public:
    using exeGet::exeGet;

    void exe(ParsingURI& uri, QTcpSocket* socket) override;

    const QList<QTcpSocket*>& subscribers() const { return m_subscribers; }
    void removeSubscriber(QTcpSocket* socket);

private:
    QList<QTcpSocket*> m_subscribers;
};

} // namespace Tavrix::Net::WebApi

#include "net/webapi/exegetevent.h"

#include <QTcpSocket>

namespace Tavrix::Net::WebApi {

void exeGetEvent::exe(ParsingURI&, QTcpSocket* socket)
{
    m_subscribers.append(socket);
    m_makeResponse->retSse();
    if (socket)
        socket->write(m_makeResponse->m_raw);
}

void exeGetEvent::removeSubscriber(QTcpSocket* socket)
{
    m_subscribers.removeAll(socket);
}

} // namespace Tavrix::Net::WebApi

#include "net/webapi/acceptretry.h"

#include "common/jterminal.h"

#include <QTcpServer>
#include <QTimer>

namespace Tavrix::Net::WebApi {

void keepAcceptingAfterErrors(QTcpServer* server, int retryMs)
{
    QObject::connect(server, &QTcpServer::acceptError, server, [server, retryMs](QAbstractSocket::SocketError) {
        Common::JTerminal('1') << "accepting a connection on port" << server->serverPort()
                               << "failed:" << server->errorString().toLocal8Bit().constData()
                               << "- accepting again in" << retryMs << "ms";
        QTimer::singleShot(retryMs, server, [server] { server->resumeAccepting(); });
    });
}

} // namespace Tavrix::Net::WebApi

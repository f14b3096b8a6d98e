#include "net/webapi/exehandler.h"

#include "net/webapi/exeget.h"

namespace Tavrix::Net::WebApi {

exeHandler::exeHandler(QObject* parent)
    : QObject(parent)
{
}

void exeHandler::sentResponse(QTcpSocket* socket)
{
    writeAndClose(socket, *m_makeResponse);
}

} // namespace Tavrix::Net::WebApi

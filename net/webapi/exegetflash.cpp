#include "net/webapi/exegetflash.h"

namespace Tavrix::Net::WebApi {

void exeGetFlash::exe(ParsingURI& uri, QTcpSocket* socket)
{
    if (uri.m_queryAndRemainder.isEmpty()) {
        m_makeResponse->ret200();
        emit signalSetFlash();
    } else {
        m_makeResponse->ret501();
    }
    sentResponse(socket);
}

} // namespace Tavrix::Net::WebApi

#include "devicewebapi/socketcommandrequester.h"

namespace Tavrix::DeviceWebApi {

SocketCommandRequester::SocketCommandRequester(QTcpSocket* socket)
    : m_socket(socket)
{
}

bool SocketCommandRequester::isGone() const
{
    return !m_socket || m_socket->state() != QAbstractSocket::ConnectedState;
}

} // namespace Tavrix::DeviceWebApi

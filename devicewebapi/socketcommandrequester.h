#pragma once

#include "usb/commandrequester.h"

#include <QPointer>
#include <QTcpSocket>

namespace Tavrix::DeviceWebApi {

// A web client's connection as the requester of the commands its request
// sends: gone once the connection is closed or deleted.
class SocketCommandRequester : public Usb::CommandRequester
{
public:
    explicit SocketCommandRequester(QTcpSocket* socket);

    bool isGone() const override;

private:
    QPointer<QTcpSocket> m_socket;
};

} // namespace Tavrix::DeviceWebApi

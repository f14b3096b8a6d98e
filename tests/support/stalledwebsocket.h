#pragma once

#include <QHostAddress>
#include <QTcpSocket>
#include <memory>

namespace TestSupport {

// A WebSocket client on a plain socket that sends the opening handshake,
// takes its answer and then reads nothing more: the server's backlog for it
// only grows. Null when it could not connect.
inline std::unique_ptr<QTcpSocket> stalledWebSocket(quint16 port, int waitMs = 5000)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->setReadBufferSize(1024);
    socket->connectToHost(QHostAddress::LocalHost, port);
    if (!socket->waitForConnected(waitMs))
        return nullptr;
    socket->write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                  "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    return socket;
}

} // namespace TestSupport

#include "net/websockets/handshakegate.h"

#include "common/jterminal.h"
#include "net/webapi/acceptretry.h"
#include "net/webapi/parsingquery.h"
#include "net/webapi/securityheaders.h"
#include "net/websockets/clientframeguard.h"

#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

namespace Tavrix::Net::WebSockets {

using Common::JTerminal;
using WebApi::AccessPolicy;

HandshakeGate::HandshakeGate(QWebSocketServer* target, QObject* parent)
    : QObject(parent)
    , m_target(target)
{
    connect(&m_listener, &QTcpServer::newConnection, this, &HandshakeGate::onNewConnection);
    Net::WebApi::keepAcceptingAfterErrors(&m_listener);
}

bool HandshakeGate::listen(const QHostAddress& address, quint16 port)
{
    return m_listener.listen(address, port);
}

QUrl HandshakeGate::serverUrl() const
{
    QUrl url;
    url.setScheme(QStringLiteral("ws"));
    url.setHost(m_listener.serverAddress().toString());
    url.setPort(m_listener.serverPort());
    return url;
}

void HandshakeGate::onNewConnection()
{
    while (QTcpSocket* socket = m_listener.nextPendingConnection()) {
        if (connectionCount() >= m_maxClients) {
            if (!m_refusalLogged)
                JTerminal('3') << "too many clients on port" << serverPort() << "- refused";
            m_refusalLogged = true;
            WebApi::ConnectionLimits::refuse(socket);
            continue;
        }
        if (m_limits && !m_limits->admit(socket)) {
            WebApi::ConnectionLimits::refuse(socket);
            continue;
        }
        m_live.append(socket);
        // What a client sends beyond this stays in the kernel, not here.
        socket->setReadBufferSize(readBufferBytes);
        // Signal and event messages are small and must leave at once; Nagle
        // would hold one back until the previous one is acknowledged.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // A client that never finishes its handshake does not hold a socket for ever.
        auto* timer = new QTimer(socket);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, socket, &QTcpSocket::abort);
        timer->start(handshakeTimeoutMs);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { examine(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (socket->bytesAvailable() > 0)
            examine(socket);
    }
}

int HandshakeGate::connectionCount()
{
    m_live.removeAll(QPointer<QTcpSocket>());
    if (m_live.size() < m_maxClients * 3 / 4)
        m_refusalLogged = false;
    return m_live.size();
}

void HandshakeGate::examine(QTcpSocket* socket)
{
    // Only peeked: the WebSocket server reads the handshake itself.
    const QByteArray bytes = socket->peek(maxHandshakeBytes + 1);
    const int end = bytes.indexOf("\r\n\r\n");
    if (end < 0) {
        if (bytes.size() > maxHandshakeBytes)
            refuse(socket, "431 Request Header Fields Too Large");
        return;
    }
    socket->disconnect(this);
    for (QTimer* timer : socket->findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly))
        delete timer;

    if (m_access) {
        WebApi::ParsingQuery request;
        request(bytes.left(end + 4));
        switch (m_access->check(request.m_http, request.m_uri, true, true)) {
        case AccessPolicy::EVerdict::Allowed:
            break;
        case AccessPolicy::EVerdict::ForbiddenHost: {
            const QString host = AccessPolicy::headerValue(request.m_http, QStringLiteral("Host"));
            if (m_access->firstRefusal(QStringLiteral("host ") + host))
                JTerminal('3') << "refused host" << host.toLocal8Bit().constData() << "on port" << serverPort();
            refuse(socket, "403 Forbidden");
            return;
        }
        case AccessPolicy::EVerdict::ForbiddenOrigin: {
            const QString origin = AccessPolicy::headerValue(request.m_http, QStringLiteral("Origin"));
            if (m_access->firstRefusal(QStringLiteral("origin ") + origin))
                JTerminal('3') << "refused origin" << origin.toLocal8Bit().constData() << "on port" << serverPort();
            refuse(socket, "403 Forbidden");
            return;
        }
        case AccessPolicy::EVerdict::Unauthorized:
            if (m_access->firstRefusal(QStringLiteral("token ") + socket->peerAddress().toString()))
                JTerminal('3') << "WebSocket without a valid access token on port" << serverPort() << "from"
                               << socket->peerAddress().toString().toLocal8Bit().constData();
            refuse(socket, "401 Unauthorized", "WWW-Authenticate: Bearer\r\n");
            return;
        }
    }
    disconnect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    m_handedOver.append(socket);
    // A handshake the server rejects itself never becomes a WebSocket.
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        if (m_handedOver.removeAll(socket) > 0)
            socket->deleteLater();
    });
    m_target->handleConnection(socket);
}

void HandshakeGate::adopt(QWebSocket* webSocket)
{
    webSocket->setMaxAllowedIncomingFrameSize(maxIncomingMessageBytes);
    webSocket->setMaxAllowedIncomingMessageSize(maxIncomingMessageBytes);
    for (auto it = m_handedOver.begin(); it != m_handedOver.end();) {
        QTcpSocket* socket = *it;
        if (!socket) {
            it = m_handedOver.erase(it);
            continue;
        }
        if (socket->peerPort() == webSocket->peerPort() && socket->peerAddress() == webSocket->peerAddress()) {
            socket->disconnect(this);
            socket->setParent(webSocket);
            // The WebSocket may let go of its connection before it goes
            // itself; the connection still goes with it.
            connect(webSocket, &QObject::destroyed, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, client = QPointer<QWebSocket>(webSocket)] {
                if (client)
                    emit clientSentBytes(client);
            });
            auto* guard = new ClientFrameGuard(socket, webSocket);
            connect(guard, &ClientFrameGuard::unmaskedFrame, this, [this, peer = socket->peerAddress().toString()] {
                if (!m_access || m_access->firstRefusal(QStringLiteral("unmasked ") + peer))
                    JTerminal('3') << "closed a WebSocket client that sent an unmasked frame on port" << serverPort()
                                   << "from" << peer.toLocal8Bit().constData();
            });
            m_handedOver.erase(it);
            return;
        }
        ++it;
    }
}

void HandshakeGate::refuse(QTcpSocket* socket, const QByteArray& status, const QByteArray& extraHeaders)
{
    socket->disconnect(this);
    socket->write("HTTP/1.1 " + status + "\r\n" + extraHeaders + WebApi::SecurityHeaders::lines()
                  + "Content-Length: 0\r\nConnection: close\r\n\r\n");
    socket->disconnectFromHost();
}

} // namespace Tavrix::Net::WebSockets

#include "net/websockets/websocketserver.h"

#include "common/freedmemory.h"
#include "common/jterminal.h"
#include "net/websockets/backlogbound.h"
#include "net/websockets/handshakegate.h"

#include <QHostAddress>
#include <QWebSocket>
#include <QWebSocketServer>

namespace Tavrix::Net::WebSockets {

using Common::JTerminal;

WebSocketServer::WebSocketServer(unsigned short port, QObject* parent)
    : WebSocketServer(port, QHostAddress(QHostAddress::Any), parent)
{
}

WebSocketServer::WebSocketServer(unsigned short port, const QHostAddress& address, QObject* parent)
    : QObject(parent)
{
    Init(port, address);
}

WebSocketServer::~WebSocketServer()
{
    if (m_debugOutput)
        JTerminal('0');
    if (m_gate)
        m_gate->close();
    if (m_server)
        m_server->close();
    const QList<QWebSocket*> sockets = m_clients.keys();
    m_clients.clear();
    for (QWebSocket* socket : sockets) {
        // The server is going away: its own disconnect handling must not run.
        socket->disconnect(this);
        socket->deleteLater();
    }
}

void WebSocketServer::Init(unsigned short port, const QHostAddress& address)
{
    if (m_debugOutput)
        JTerminal('0');
    m_server = new QWebSocketServer(QStringLiteral("WebSocketServer"), QWebSocketServer::NonSecureMode, this);
    // The gate listens and hands over the handshakes it lets through.
    m_gate = new HandshakeGate(m_server, this);
    if (!m_gate->listen(address, port)) {
        JTerminal('3') << "listen error" << port;
        return;
    }
    JTerminal('2') << "listen ..." << port << m_gate->serverUrl().toString().toStdString();
    connect(m_server, &QWebSocketServer::newConnection, this, &WebSocketServer::slotNewConnection);
    connect(m_gate, &HandshakeGate::clientSentBytes, this, [this] { enforceBacklogBounds(0); });
    connect(m_server, &QWebSocketServer::closed, this, &WebSocketServer::slotClosed);
}

bool WebSocketServer::isListening() const
{
    return m_gate && m_gate->isListening();
}

unsigned short WebSocketServer::serverPort() const
{
    return m_gate ? m_gate->serverPort() : 0;
}

void WebSocketServer::setAccessPolicy(std::shared_ptr<const WebApi::AccessPolicy> policy)
{
    if (m_gate)
        m_gate->setAccessPolicy(std::move(policy));
}

void WebSocketServer::setMaxClients(int maxClients)
{
    if (m_gate)
        m_gate->setMaxClients(maxClients);
}

void WebSocketServer::setConnectionLimits(WebApi::ConnectionLimits* limits)
{
    if (m_gate)
        m_gate->setConnectionLimits(limits);
}

void WebSocketServer::connectMessageListener(QWebSocket* socket)
{
    connect(socket, &QWebSocket::textMessageReceived, this, &WebSocketServer::slotMessageReceived);
}

void WebSocketServer::slotNewConnection()
{
    QWebSocket* socket = m_server->nextPendingConnection();
    if (!socket)
        return;
    if (m_gate)
        m_gate->adopt(socket);
    connectMessageListener(socket);
    connect(socket, &QWebSocket::disconnected, this, &WebSocketServer::socketDisconnected);
    m_clients.insert(socket, true);
    JTerminal('0') << "clients:" << m_clients.size() << socket;
}

void WebSocketServer::socketDisconnected()
{
    auto* socket = qobject_cast<QWebSocket*>(sender());
    if (!socket)
        return;
    m_clients.remove(socket);
    socket->deleteLater();
    JTerminal('0') << "clients:" << m_clients.size() << socket;
    Common::releaseFreedMemorySoon();
}

void WebSocketServer::slotMessageReceived(QString msg)
{
    if (m_debugOutput)
        JTerminal('0') << sender() << msg.toStdString();
}

void WebSocketServer::slotClosed()
{
    JTerminal('0');
}

void WebSocketServer::slotTransfer(QByteArray _data)
{
    for (QWebSocket* socket : enforceBacklogBounds(_data.size())) {
        if (m_clients.value(socket, false))
            socket->sendBinaryMessage(_data);
    }
}

QList<QWebSocket*> WebSocketServer::enforceBacklogBounds(qint64 incoming)
{
    // Iterate a snapshot: the map must not change under the loop should a
    // socket report its disconnection while sending.
    QList<QWebSocket*> sockets;
    std::vector<qint64> unsent;
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it) {
        if (it.value()) {
            sockets.append(it.key());
            unsent.push_back(it.key()->bytesToWrite());
        }
    }
    const BacklogBound bound(m_maxBacklogBytes, m_maxTotalBacklogBytes);
    for (const auto& [index, reason] : bound.clientsToDrop(unsent, incoming))
        dropClient(sockets[static_cast<int>(index)],
                   reason == BacklogBound::EReason::OwnBound
                       ? "client too slow, closed:"
                       : "clients too slow together, closed the furthest behind:");
    return sockets;
}

void WebSocketServer::dropClient(QWebSocket* socket, const char* reason)
{
    // Dropped without a closing handshake: a close frame would wait behind
    // the very backlog that is the problem. The socket leaves the map when
    // its disconnection is reported.
    m_clients.insert(socket, false);
    JTerminal('3') << reason << socket->bytesToWrite() << "bytes unsent" << socket;
    socket->abort();
}

} // namespace Tavrix::Net::WebSockets

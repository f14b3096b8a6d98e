#pragma once

#include "net/webapi/accesspolicy.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QUrl>
#include <memory>

class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

namespace Tavrix::Net::WebSockets {

// Listens for a WebSocket server and reads each opening handshake before
// the server sees it: one whose Host, Origin or access token the policy
// refuses is answered with a plain HTTP refusal ("403 Forbidden" or
// "401 Unauthorized") and closed, so a refused client never becomes a
// WebSocket and never receives a message. The rest are handed over whole.
class HandshakeGate : public QObject
{
    Q_OBJECT

public:
    static constexpr int maxHandshakeBytes = 16 * 1024;
    static constexpr int handshakeTimeoutMs = 10000;

    explicit HandshakeGate(QWebSocketServer* target, QObject* parent = nullptr);

    bool listen(const QHostAddress& address, quint16 port);
    void close() { m_listener.close(); }
    bool isListening() const { return m_listener.isListening(); }
    quint16 serverPort() const { return m_listener.serverPort(); }
    QUrl serverUrl() const;

    // Without a policy every handshake is handed over.
    void setAccessPolicy(std::shared_ptr<const WebApi::AccessPolicy> policy) { m_access = std::move(policy); }

    // Hands the TCP connection under a new WebSocket to that WebSocket, so
    // that it lives and goes with it rather than with the listener. Called
    // for every socket the server's nextPendingConnection gives.
    void adopt(QWebSocket* socket);

private:
    void onNewConnection();
    void examine(QTcpSocket* socket);
    void refuse(QTcpSocket* socket, const QByteArray& status, const QByteArray& extraHeaders = {});

    QWebSocketServer* m_target;
    QTcpServer m_listener;
    std::shared_ptr<const WebApi::AccessPolicy> m_access;
    QList<QPointer<QTcpSocket>> m_handedOver; // let through, WebSocket not yet taken
};

} // namespace Tavrix::Net::WebSockets

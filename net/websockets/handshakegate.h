#pragma once

#include "net/webapi/accesspolicy.h"
#include "net/webapi/connectionlimits.h"

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
    // What a client may send in one frame or message. Clients of these
    // ports send a word or two at most; a larger message is never
    // buffered, its sender is closed.
    static constexpr quint64 maxIncomingMessageBytes = 4096;
    static constexpr int defaultMaxClients = 64;
    static constexpr qint64 readBufferBytes = 64 * 1024;

    explicit HandshakeGate(QWebSocketServer* target, QObject* parent = nullptr);

    bool listen(const QHostAddress& address, quint16 port);
    void close() { m_listener.close(); }
    bool isListening() const { return m_listener.isListening(); }
    quint16 serverPort() const { return m_listener.serverPort(); }
    QUrl serverUrl() const;

    // Without a policy every handshake is handed over.
    void setAccessPolicy(std::shared_ptr<const WebApi::AccessPolicy> policy) { m_access = std::move(policy); }
    // Connections beyond the service-wide bounds, or beyond `maxClients` on
    // this port (clients and handshakes in progress), are answered
    // "503 Service Unavailable" and closed.
    void setConnectionLimits(WebApi::ConnectionLimits* limits) { m_limits = limits; }
    void setMaxClients(int maxClients) { m_maxClients = maxClients; }
    int maxClients() const { return m_maxClients; }
    // Connections of this port: clients and handshakes in progress.
    int connectionCount();

    // Hands the TCP connection under a new WebSocket to that WebSocket, so
    // that it lives and goes with it rather than with the listener. Called
    // for every socket the server's nextPendingConnection gives. Also sets
    // the socket's bounds on what it takes in.
    void adopt(QWebSocket* socket);

signals:
    // An adopted client's connection brought bytes. The WebSocket answers
    // pings and closes itself, unseen by its server, so the server checks
    // its unsent bytes here too: a client that sends and never reads
    // cannot grow them past the bound.
    void clientSentBytes(QWebSocket* socket);

private:
    void onNewConnection();
    void examine(QTcpSocket* socket);
    void refuse(QTcpSocket* socket, const QByteArray& status, const QByteArray& extraHeaders = {});

    QWebSocketServer* m_target;
    QTcpServer m_listener;
    std::shared_ptr<const WebApi::AccessPolicy> m_access;
    QList<QPointer<QTcpSocket>> m_handedOver; // let through, WebSocket not yet taken
    QList<QPointer<QTcpSocket>> m_live;       // every connection taken on this port
    WebApi::ConnectionLimits* m_limits = nullptr;
    int m_maxClients = defaultMaxClients;
    bool m_refusalLogged = false;
};

} // namespace Tavrix::Net::WebSockets

#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QObject>
#include <QString>
#include <memory>

class QWebSocket;
class QWebSocketServer;

namespace Tavrix::Net::WebApi {
class AccessPolicy;
class ConnectionLimits;
}

namespace Tavrix::Net::WebSockets {

class HandshakeGate;

// Pushes ready-made binary messages (signal blocks or events) to every
// connected WebSocket client. Clients send nothing that the server acts on.
class WebSocketServer : public QObject
{
    Q_OBJECT

public:
    // Starts listening at once, on all addresses unless told otherwise; a
    // failed listen is logged and leaves a server without clients.
    WebSocketServer(unsigned short port, QObject* parent = nullptr);
    WebSocketServer(unsigned short port, const QHostAddress& address, QObject* parent = nullptr);
    ~WebSocketServer() override;

    bool isListening() const;
    // The port actually listened on (the given one, or the chosen one for 0).
    unsigned short serverPort() const;
    int clientCount() const { return m_clients.size(); }

    // Host, origin and token checks on every handshake; without a policy
    // every client is taken.
    void setAccessPolicy(std::shared_ptr<const WebApi::AccessPolicy> policy);

    // A client that does not read keeps every message queued in the service.
    // Once its unsent bytes pass this bound its connection is dropped (and
    // logged) instead of growing the service's memory for ever; it may
    // connect again. The default holds minutes of the signal stream.
    static constexpr qint64 defaultMaxBacklogBytes = 16 * 1024 * 1024;
    void setMaxBacklogBytes(qint64 bytes) { m_maxBacklogBytes = bytes; }
    qint64 maxBacklogBytes() const { return m_maxBacklogBytes; }
    // The same for all clients together: when their unsent bytes pass this
    // bound, the client furthest behind is dropped until they fit again.
    static constexpr qint64 defaultMaxTotalBacklogBytes = 128 * 1024 * 1024;
    void setMaxTotalBacklogBytes(qint64 bytes) { m_maxTotalBacklogBytes = bytes; }
    // Clients (and handshakes in progress) this port takes at once.
    void setMaxClients(int maxClients);
    // Connections beyond the service-wide bounds are refused.
    void setConnectionLimits(WebApi::ConnectionLimits* limits);

    // Connects the socket's incoming text messages; called for every new socket.
    virtual void connectMessageListener(QWebSocket* socket);

public slots:
    void slotClosed();
    void slotNewConnection();
    void socketDisconnected();
    void slotMessageReceived(QString msg);
    // Sends the bytes as one binary message to every receiving client.
    void slotTransfer(QByteArray _data);

protected:
    void Init(unsigned short port, const QHostAddress& address = QHostAddress::Any);

private:
    void dropClient(QWebSocket* socket, const char* reason);
    // Drops the clients past a bound, counting `incoming` more bytes for
    // each; returns the clients still served.
    QList<QWebSocket*> enforceBacklogBounds(qint64 incoming);

    bool m_debugOutput = false;
    QWebSocketServer* m_server = nullptr;
    HandshakeGate* m_gate = nullptr;
    QMap<QWebSocket*, bool> m_clients;
    qint64 m_maxBacklogBytes = defaultMaxBacklogBytes;
    qint64 m_maxTotalBacklogBytes = defaultMaxTotalBacklogBytes;
};

} // namespace Tavrix::Net::WebSockets

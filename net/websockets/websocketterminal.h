#pragma once

#include "common/jextterminal.h"
#include "net/websockets/handshakegate.h"

#include <QHash>
#include <QHostAddress>
#include <mutex>
#include <QObject>
#include <QStringList>
#include <QWebSocketServer>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

class QWebSocket;

namespace Tavrix::Net::WebSockets {

// One log line as the compact JSON text a terminal client receives.
class WebSocketTerminalFrame
{
public:
    static QString exe(char colour, const char* time, const char* type, const char* text);
};

class WebSocketTerminalServiceCommand
{
public:
    explicit WebSocketTerminalServiceCommand(std::string name)
        : m_name(std::move(name))
    {
    }
    virtual ~WebSocketTerminalServiceCommand() = default;
    virtual bool tryParse(const std::string& name, const std::vector<std::string>& args) = 0;
    virtual std::string execute(std::vector<std::string> args) = 0;

    const std::string& name() const { return m_name; }

protected:
    std::string m_name;
};

class WebSocketTerminalHelpCommand : public WebSocketTerminalServiceCommand
{
public:
    WebSocketTerminalHelpCommand();
    bool tryParse(const std::string& name, const std::vector<std::string>& args) override;
    std::string execute(std::vector<std::string> args) override;
};

// Mirrors every log line to the connected WebSocket clients and takes the
// service words "exit" (end the process) and "?" (list the parameters).
// out() may be called from any thread: lines are queued under a mutex and
// sent, in order, from the terminal's own thread.
class WebSocketTerminal : public QObject, public Common::JExtTerminal
{
    Q_OBJECT

public:
    explicit WebSocketTerminal(unsigned short port, QObject* parent = nullptr);
    WebSocketTerminal(unsigned short port, const QHostAddress& address, QObject* parent = nullptr);
    ~WebSocketTerminal() override;

    void out(char colour, char* time, char* type, char* text) override;

    bool isListening() const { return m_gate.isListening(); }
    unsigned short serverPort() const { return m_gate.serverPort(); }
    // Host, origin and token checks on every handshake: whoever reaches the
    // terminal can stop the service with "exit".
    void setAccessPolicy(std::shared_ptr<const WebApi::AccessPolicy> policy) { m_gate.setAccessPolicy(std::move(policy)); }
    void setConnectionLimits(WebApi::ConnectionLimits* limits) { m_gate.setConnectionLimits(limits); }
    void setMaxClients(int maxClients) { m_gate.setMaxClients(maxClients); }
    // A client that does not read is closed once its unsent lines pass this
    // bound, as on the signal stream; it may connect again.
    static constexpr qint64 defaultMaxBacklogBytes = 4 * 1024 * 1024;
    void setMaxBacklogBytes(qint64 bytes) { m_maxBacklogBytes = bytes; }
    // All clients together; the one furthest behind goes first.
    static constexpr qint64 defaultMaxTotalBacklogBytes = 32 * 1024 * 1024;
    void setMaxTotalBacklogBytes(qint64 bytes) { m_maxTotalBacklogBytes = bytes; }
    int clientCount() const { return m_clients.size(); }
    bool isActive() const { return m_active.load(); }

signals:
    void signalConnection();
    void signalDisConnection();
    void signalError(std::string errorType, std::string message);

public slots:
    void slotDeviceConnect();
    void slotDeviceDisconnect();
    void slotClosed();
    void slotNewConnection();
    void socketDisconnected();
    void slotMessageReceived(QString msg);
    void slotTransfer(QString msg);

private:
    void init(unsigned short port, const QHostAddress& address);
    void drainLines();
    void sendToAll(const QString& message);
    // Drops the clients past a bound, counting `incoming` more bytes for each.
    void enforceBacklogBounds(qint64 incoming);

    bool m_debugOutput = true;
    std::atomic<bool> m_active{false};
    QWebSocketServer m_server;
    HandshakeGate m_gate{&m_server};
    QHash<QWebSocket*, bool> m_clients;
    std::vector<std::shared_ptr<WebSocketTerminalServiceCommand>> m_serviceCommands;

    std::mutex m_linesMutex;
    QStringList m_lines; // logged, not yet sent
    bool m_sending = false;
    qint64 m_maxBacklogBytes = defaultMaxBacklogBytes;
    qint64 m_maxTotalBacklogBytes = defaultMaxTotalBacklogBytes;
};

} // namespace Tavrix::Net::WebSockets

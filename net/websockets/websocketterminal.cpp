#include "net/websockets/websocketterminal.h"

#include "common/jconfig.h"
#include "common/freedmemory.h"
#include "common/jterminal.h"
#include "common/stringcomparer.h"
#include "net/websockets/backlogbound.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QThread>
#include <QWebSocket>
#include <cstdio>
#include <cstdlib>

namespace Tavrix::Net::WebSockets {

using Common::JTerminal;

QString WebSocketTerminalFrame::exe(char colour, const char* time, const char* type, const char* text)
{
    // The message handler passes the colour as its number (0-7); clients get
    // the digit's character code either way.
    const int digit = (colour >= 0 && colour < 8) ? '0' + colour : static_cast<unsigned char>(colour);
    QJsonObject object;
    object.insert("Color", digit);
    object.insert("Time", QString::fromLocal8Bit(time ? time : ""));
    object.insert("Type", QString::fromLocal8Bit(type ? type : ""));
    object.insert("Text", QString::fromLocal8Bit(text ? text : ""));
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

WebSocketTerminalHelpCommand::WebSocketTerminalHelpCommand()
    : WebSocketTerminalServiceCommand("Help")
{
}

bool WebSocketTerminalHelpCommand::tryParse(const std::string& name, const std::vector<std::string>&)
{
    return Common::StringComparer::isEqualsInsensitive(name, m_name);
}

std::string WebSocketTerminalHelpCommand::execute(std::vector<std::string>)
{
    return std::string("--------- СПИСОК КОМАНД ---------\r\n")
         + "  \"CmdList\" - Получить список команд подключенного прибора\r\n"
         + "---------------------------------";
}

WebSocketTerminal::WebSocketTerminal(unsigned short port, QObject* parent)
    : WebSocketTerminal(port, QHostAddress::Any, parent)
{
}

WebSocketTerminal::WebSocketTerminal(unsigned short port, const QHostAddress& address, QObject* parent)
    : QObject(parent)
    , m_server(QStringLiteral("WebSocketServer"), QWebSocketServer::NonSecureMode)
{
    init(port, address);
}

WebSocketTerminal::~WebSocketTerminal()
{
    m_active = false;
    m_gate.close();
    m_server.close();
    const QList<QWebSocket*> sockets = m_clients.keys();
    m_clients.clear();
    for (QWebSocket* socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
}

void WebSocketTerminal::init(unsigned short port, const QHostAddress& address)
{
    if (m_debugOutput)
        JTerminal('0') << "";
    m_serviceCommands.push_back(std::make_shared<WebSocketTerminalHelpCommand>());

    if (!m_gate.listen(address, port)) {
        JTerminal('3') << "listen error" << port;
        return;
    }
    JTerminal('2') << "listen ..." << m_gate.serverPort()
                   << m_gate.serverUrl().toString().toLocal8Bit().constData();
    connect(&m_server, &QWebSocketServer::newConnection, this, &WebSocketTerminal::slotNewConnection);
    connect(&m_gate, &HandshakeGate::clientSentBytes, this, [this] { enforceBacklogBounds(0); });
    connect(&m_server, &QWebSocketServer::closed, this, &WebSocketTerminal::slotClosed);
}

void WebSocketTerminal::out(char colour, char* time, char* type, char* text)
{
    if (!m_active.load())
        return;
    // A line raised by sending lines (a socket warning) would feed itself.
    if (QThread::currentThread() == thread() && m_sending)
        return;
    const QString message = WebSocketTerminalFrame::exe(colour, time, type, text);
    bool first;
    {
        std::lock_guard lock(m_linesMutex);
        first = m_lines.isEmpty();
        m_lines.append(message);
    }
    // One queued drain per batch; the queue keeps the logging order.
    if (first)
        QMetaObject::invokeMethod(this, &WebSocketTerminal::drainLines, Qt::QueuedConnection);
}

void WebSocketTerminal::drainLines()
{
    QStringList lines;
    {
        std::lock_guard lock(m_linesMutex);
        lines.swap(m_lines);
    }
    m_sending = true;
    for (const QString& line : qAsConst(lines))
        sendToAll(line);
    m_sending = false;
}

void WebSocketTerminal::sendToAll(const QString& message)
{
    if (!m_active.load())
        return;
    enforceBacklogBounds(message.size());
    // A snapshot: aborting a client reports its disconnection at once.
    const QList<QWebSocket*> sockets = m_clients.keys();
    for (QWebSocket* socket : sockets) {
        if (m_clients.contains(socket))
            socket->sendTextMessage(message);
    }
}

void WebSocketTerminal::enforceBacklogBounds(qint64 incoming)
{
    // A snapshot: aborting a client reports its disconnection at once.
    const QList<QWebSocket*> sockets = m_clients.keys();
    std::vector<qint64> unsent;
    for (QWebSocket* socket : sockets)
        unsent.push_back(socket->bytesToWrite());
    const BacklogBound bound(m_maxBacklogBytes, m_maxTotalBacklogBytes);
    for (const auto& [index, reason] : bound.clientsToDrop(unsent, incoming)) {
        QWebSocket* socket = sockets[static_cast<int>(index)];
        JTerminal('3') << (reason == BacklogBound::EReason::OwnBound ? "terminal client too slow, closed:"
                                                                      : "terminal clients too slow together, closed:")
                       << socket->bytesToWrite() << "bytes unsent";
        socket->abort();
    }
}

void WebSocketTerminal::slotNewConnection()
{
    while (QWebSocket* socket = m_server.nextPendingConnection()) {
        m_gate.adopt(socket);
        m_clients.insert(socket, false);
        if (m_debugOutput)
            JTerminal('0') << "terminal clients:" << m_clients.size();
        connect(socket, &QWebSocket::textMessageReceived, this, &WebSocketTerminal::slotMessageReceived);
        connect(socket, &QWebSocket::disconnected, this, &WebSocketTerminal::socketDisconnected);
        if (!m_active.load()) {
            m_active = true;
            emit signalConnection();
        }
    }
}

void WebSocketTerminal::slotMessageReceived(QString msg)
{
    auto* socket = qobject_cast<QWebSocket*>(sender());
    if (m_debugOutput)
        JTerminal('0') << "terminal message from" << static_cast<void*>(socket) << msg;
    if (socket && m_clients.contains(socket))
        m_clients[socket] = true;

    if (msg == QLatin1String("exit")) {
        if (QCoreApplication::instance()) {
            QCoreApplication::exit(0);
        } else {
            std::fflush(stdout);
            std::exit(0);
        }
    } else if (msg == QLatin1String("?")) {
        Common::JConfig::priRgs();
    }
}

void WebSocketTerminal::socketDisconnected()
{
    auto* socket = qobject_cast<QWebSocket*>(sender());
    if (!socket)
        return;
    m_clients.remove(socket);
    socket->deleteLater();
    JTerminal('0') << "terminal clients:" << m_clients.size()
                   << socket->peerAddress().toString().toLocal8Bit().constData();
    Common::releaseFreedMemorySoon();
    if (m_clients.isEmpty() && m_active.load()) {
        m_active = false;
        emit signalDisConnection();
        JTerminal('0') << "all external terminals are off ";
    }
}

void WebSocketTerminal::slotTransfer(QString msg)
{
    sendToAll(msg);
}

void WebSocketTerminal::slotDeviceConnect()
{
    std::printf("\n");
    std::fflush(stdout);
}

void WebSocketTerminal::slotDeviceDisconnect()
{
}

void WebSocketTerminal::slotClosed()
{
    JTerminal('1') << "";
}

} // namespace Tavrix::Net::WebSockets

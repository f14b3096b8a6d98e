#include "net/webapi/webapiserver.h"

#include "common/jterminal.h"
#include "net/webapi/exeget.h"
#include "net/webapi/exegetevent.h"
#include "net/webapi/exepost.h"

#include "net/webapi/acceptretry.h"
#include "net/webapi/arrivalwatch.h"
#include "net/webapi/descriptoranswer.h"

#include <QAbstractEventDispatcher>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <limits>
#include <sys/socket.h>
#include <unistd.h>

namespace Tavrix::Net::WebApi {

using Common::JTerminal;

WebApiServer::WebApiServer(quint16 port, QMap<QString, exeGet*>& getTable, QMap<QString, exePost*>& postTable,
                           QObject* parent, const QHostAddress& address)
    : QTcpServer(parent)
    , m_exeGet(getTable)
    , m_exePost(postTable)
{
    m_eventHandler = qobject_cast<exeGetEvent*>(m_exeGet.value(QStringLiteral("event"), nullptr));

    if (listen(address, port)) {
        JTerminal('2') << "listen...." << serverAddress().toString().toLocal8Bit().constData() << serverPort()
                       << maxPendingConnections();
    } else {
        JTerminal('3') << "Error" << errorString().toLocal8Bit().constData();
    }

    connect(this, &QTcpServer::newConnection, this, &WebApiServer::onNewConnection);
    keepAcceptingAfterErrors(this);
    // "In a row" means within one turn of the event loop: a new turn starts
    // the count again, so that a steady stream of connections, each taken
    // on its own turn, never pauses the listener.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread())) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] { m_takenInARow = 0; });
        connect(dispatcher, &QAbstractEventDispatcher::awake, this, [this] { m_takenInARow = 0; });
    }
    m_arrivals = new ArrivalWatch([this](int descriptor, qint64 waitedMs, const QHostAddress& peer) {
            onArrival(descriptor, waitedMs, peer);
        }, this);
}

void WebApiServer::incomingConnection(qintptr descriptor)
{
    // QTcpServer takes connections for as long as they keep coming, and a
    // client answered at once comes back at once: every so many, taking
    // more waits until the event loop has served everything else once.
    if (++m_takenInARow == connectionsInARow) {
        // Seen by QTcpServer before its next accept: it stops listening
        // for more until resumed.
        m_maxPendingConnections = maxPendingConnections();
        setMaxPendingConnections(0);
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_takenInARow = 0;
                setMaxPendingConnections(m_maxPendingConnections);
                resumeAccepting();
            },
            Qt::QueuedConnection);
    }
    QByteArray taken;
    if (m_directAnswers) {
        const EDirect outcome = answerDirectly(int(descriptor), QHostAddress(), taken);
        if (outcome == EDirect::Answered)
            return;
        // Until the first bytes come, or until the socket path would have
        // refused it for its silence.
        if (outcome == EDirect::NotYet
            && m_arrivals->watch(int(descriptor), std::min(m_idleTimeoutMs, m_headerTimeoutMs), m_limits))
            return;
    }
    handToSocketPath(int(descriptor), taken);
}

void WebApiServer::handToSocketPath(int descriptor, const QByteArray& taken)
{
    // What QTcpServer does with a new connection, and the bytes already
    // read from it kept with the socket for onNewConnection.
    auto* socket = new QTcpSocket(this);
    socket->setSocketDescriptor(descriptor);
    if (!taken.isEmpty())
        socket->setProperty(takenBytesProperty, taken);
    addPendingConnection(socket);
}

void WebApiServer::onArrival(int descriptor, qint64 waitedMs, const QHostAddress& peer)
{
    QByteArray taken;
    if (m_directAnswers && answerDirectly(descriptor, peer, taken) == EDirect::Answered)
        return;
    // As if just taken, with its deadlines counted from when it was.
    handToSocketPath(descriptor, taken);
    m_waitedMs = waitedMs;
    onNewConnection();
    m_waitedMs = 0;
}

WebApiServer::EDirect WebApiServer::answerDirectly(int descriptor, const QHostAddress& knownPeer, QByteArray& taken)
{
    // Read, not peeked: a connection handed on gets these bytes with it.
    char buffer[directReadBytes];
    ssize_t received;
    do {
        received = ::recv(descriptor, buffer, sizeof buffer, MSG_DONTWAIT);
    } while (received < 0 && errno == EINTR);
    if (received < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? EDirect::NotYet : EDirect::SocketPath;
    QHostAddress peer = knownPeer;
    auto takePlace = [&] {
        if (!m_limits)
            return true;
        if (!peer.isNull())
            return m_limits->take(peer);
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getpeername(descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return false;
        peer.setAddress(reinterpret_cast<const sockaddr*>(&address));
        // Over a bound: the socket path refuses it as it refuses every other.
        return m_limits->take(peer);
    };
    if (received == 0) {
        // Closed before it sent anything: the socket path would only see it
        // leave and close it. Closed at once, it holds nothing the bounds
        // guard, so it is not counted (some clients open one such
        // connection beside every request they send).
        ::close(descriptor);
        return EDirect::Answered;
    }
    // A request still arriving, or with bytes behind its header block (a
    // body, a second request), is the socket path's to judge.
    QByteArray request(buffer, int(received));
    taken = request;
    if (headerBlockEnd(request) != request.size())
        return EDirect::SocketPath;
    m_query(request);
    if (m_query.m_method != QLatin1String("GET") || !m_query.m_http.values(QStringLiteral("Content-Length")).isEmpty()
        || !m_query.m_http.values(QStringLiteral("Transfer-Encoding")).isEmpty())
        return EDirect::SocketPath;
    exeGet* handler = getHandler(m_query.m_uri.m_path);
    // Refusals, and answers naming a foreign origin, stay where they are
    // logged and shaped today.
    if (!handler || handler->guarded())
        return EDirect::SocketPath;
    if (m_access) {
        if (m_access->check(m_query.m_http, m_query.m_uri, false, false) != AccessPolicy::EVerdict::Allowed)
            return EDirect::SocketPath;
        const QString origin = AccessPolicy::headerValue(m_query.m_http, QStringLiteral("Origin"));
        if (!origin.isEmpty()
            && m_access->originIsListedForeign(origin, AccessPolicy::headerValue(m_query.m_http, QStringLiteral("Host"))))
            return EDirect::SocketPath;
    }
    if (!takePlace())
        return EDirect::SocketPath;
    if (!handler->buildAnswer(m_query.m_uri)) {
        if (m_limits)
            m_limits->giveBack(peer);
        return EDirect::SocketPath;
    }
    ++m_directAnswerCount;
    std::function<void()> finished;
    if (m_limits) {
        finished = [limits = QPointer<ConnectionLimits>(m_limits), peer] {
            if (limits)
                limits->giveBack(peer);
        };
    }
    DescriptorAnswer::start(descriptor, handler->response()->m_raw, 0, std::move(finished), this, m_idleTimeoutMs);
    return EDirect::Answered;
}

void WebApiServer::onNewConnection()
{
    while (QTcpSocket* socket = nextPendingConnection()) {
        if (m_limits && !m_limits->admit(socket)) {
            ConnectionLimits::refuse(socket);
            continue;
        }
        Connection connection;
        connection.m_idleTimer = new QTimer(socket);
        connection.m_idleTimer->setSingleShot(true);
        connect(connection.m_idleTimer, &QTimer::timeout, this, [this, socket] { onIdleTimeout(socket); });
        connection.m_idleTimer->start(int(std::max<qint64>(0, m_idleTimeoutMs - m_waitedMs)));
        // Every byte the client takes of its answer gives it the time again.
        connect(socket, &QTcpSocket::bytesWritten, connection.m_idleTimer, [this, idle = connection.m_idleTimer] {
            if (idle->isActive())
                idle->start(m_idleTimeoutMs);
        });
        connection.m_headerTimer = new QTimer(socket);
        connection.m_headerTimer->setSingleShot(true);
        connect(connection.m_headerTimer, &QTimer::timeout, this, [this, socket] { onIdleTimeout(socket); });
        connection.m_headerTimer->start(int(std::max<qint64>(0, m_headerTimeoutMs - m_waitedMs)));
        connection.m_requestTimer = new QTimer(socket);
        connection.m_requestTimer->setSingleShot(true);
        connect(connection.m_requestTimer, &QTimer::timeout, this, [this, socket] { onIdleTimeout(socket); });
        connection.m_requestTimer->start(int(std::max<qint64>(0, m_requestTimeoutMs - m_waitedMs)));
        m_connections.insert(socket, connection);

        connect(socket, &QTcpSocket::readyRead, this, &WebApiServer::onReadyRead);
        connect(socket, &QTcpSocket::disconnected, this, &WebApiServer::onDisConnected);

        const QVariant taken = socket->property(takenBytesProperty);
        if (taken.isValid()) {
            socket->setProperty(takenBytesProperty, QVariant());
            receive(socket, taken.toByteArray());
        }
    }
}

void WebApiServer::onDisConnected()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (!socket)
        return;
    socket->disconnect(this);
    const auto connection = m_connections.find(socket);
    if (connection != m_connections.end()) {
        connection->m_idleTimer->stop();
        connection->m_headerTimer->stop();
        connection->m_requestTimer->stop();
        m_connections.erase(connection);
    }
    socket->close();
    // Deferred: a handler further up the stack may still hold the socket.
    socket->deleteLater();
    erasePending(findPending(socket));
    if (m_eventHandler)
        m_eventHandler->removeSubscriber(socket);
}

void WebApiServer::onReadyRead()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (!socket)
        return;
    receive(socket, socket->readAll());
}

void WebApiServer::receive(QTcpSocket* socket, const QByteArray& bytes)
{
    const auto connection = m_connections.find(socket);
    if (connection == m_connections.end())
        return;
    // One request per connection; what comes after it has been handed on
    // cannot be answered, but is not dropped without a word.
    if (connection->m_dispatched) {
        if (!isBlank(bytes))
            JTerminal('3') << "bytes after the request on one connection ignored:" << bytes.size();
        return;
    }
    connection->m_idleTimer->start(m_idleTimeoutMs);

    const auto pending = findPending(socket);
    if (pending != m_pending.end()) {
        pending->m_query.m_http.m_body.append(bytes);
        if (pending->m_query.m_http.m_body.size() < pending->m_contentLength)
            return;
        ParsingQuery query = std::move(pending->m_query);
        const qint64 length = pending->m_contentLength;
        erasePending(pending);
        if (!takeBody(query, length, socket))
            return;
        dispatch(query, socket);
        return;
    }

    // The request line and headers are collected until the empty line that
    // ends them, so a header block split over reads is parsed whole.
    connection->m_header.append(bytes);
    const int end = headerBlockEnd(connection->m_header);
    if (end < 0 ? connection->m_header.size() > maxHeaderSize : end > maxHeaderSize) {
        refuse(socket, QStringLiteral("431 Request Header Fields Too Large"));
        return;
    }
    if (end < 0)
        return;
    connection->m_headerTimer->stop();
    QByteArray request;
    request.swap(connection->m_header);
    m_query(request);
    executor(m_query, socket);
}

void WebApiServer::executor(ParsingQuery& query, QTcpSocket* socket)
{
    // No transfer coding is understood here: a body framed by one would be
    // read by its Content-Length (or not at all) while a proxy in front
    // reads it by the coding, and the two would disagree on where the
    // request ends. Both framings at once is a smuggling shape (400); a
    // coding alone is one this server does not implement (501).
    if (!query.m_http.values(QStringLiteral("Transfer-Encoding")).isEmpty()) {
        refuse(socket, query.m_http.values(QStringLiteral("Content-Length")).isEmpty()
                           ? QStringLiteral("501 Not Implemented")
                           : QStringLiteral("400 Bad Request"));
        return;
    }
    const QList<QString> lengths = query.m_http.values(QStringLiteral("Content-Length"));
    if (lengths.isEmpty()) {
        // Without a length a POST body is what came with the headers; any
        // other request has no body, so bytes after it are a second request.
        if (query.m_method != QLatin1String("POST") && !isBlank(query.m_http.m_body)) {
            refuse(socket, QStringLiteral("400 Bad Request"));
            return;
        }
        dispatch(query, socket);
        return;
    }
    // Every Content-Length must be the same plain decimal number: a client and
    // the server must never disagree on where the body ends.
    qint64 length = -1;
    for (const QString& text : lengths) {
        const qint64 value = contentLengthOf(text);
        if (value < 0 || (length >= 0 && value != length)) {
            refuse(socket, QStringLiteral("400 Bad Request"));
            return;
        }
        length = value;
    }
    if (length > maxBodySize) {
        refuse(socket, QStringLiteral("413 Payload Too Large"));
        return;
    }
    if (query.m_http.m_body.size() < length) {
        // Counted by what is announced, so that the bound holds however the
        // bodies arrive.
        if (m_pendingBodyBytes + length > m_maxPendingBodyBytes) {
            refuse(socket, QStringLiteral("503 Service Unavailable"));
            return;
        }
        m_pendingBodyBytes += length;
        m_pending.push_back({socket, length, query});
        return;
    }
    if (!takeBody(query, length, socket))
        return;
    dispatch(query, socket);
}

bool WebApiServer::takeBody(ParsingQuery& query, qint64 length, QTcpSocket* socket)
{
    QByteArray& body = query.m_http.m_body;
    // One request per connection, and each answer closes it: a request sent
    // behind this one could never be answered, so both are refused rather
    // than the second silently dropped. Line ends some clients add after a
    // body are no request.
    if (!isBlank(body.mid(static_cast<int>(length)))) {
        refuse(socket, QStringLiteral("400 Bad Request"));
        return false;
    }
    body.truncate(static_cast<int>(length));
    return true;
}

qint64 WebApiServer::contentLengthOf(const QString& text)
{
    if (text.isEmpty())
        return -1;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
    }
    // Digits beyond what fits are simply too large, not malformed.
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok ? value : std::numeric_limits<qint64>::max();
}

bool WebApiServer::isBlank(const QByteArray& bytes)
{
    for (const char c : bytes) {
        if (c != '\r' && c != '\n')
            return false;
    }
    return true;
}

void WebApiServer::dispatch(ParsingQuery& query, QTcpSocket* socket)
{
    const auto connection = m_connections.find(socket);
    if (connection != m_connections.end()) {
        connection->m_dispatched = true;
        // From here on it times the answer's leaving, not the request.
        connection->m_idleTimer->start(m_idleTimeoutMs);
        connection->m_headerTimer->stop();
        connection->m_requestTimer->stop();
    }

    const QString& method = query.m_method;
    if (method == QLatin1String("GET")) {
        if (exeGet* handler = getHandler(query.m_uri.m_path)) {
            if (admit(query, socket, handler->guarded()))
                handler->exe(query.m_uri, socket);
            return;
        }
    } else if (method == QLatin1String("POST")) {
        if (!admit(query, socket, true))
            return;
        exePost* handler = m_exePost.value(query.m_uri.m_path, nullptr);
        if (!handler)
            handler = m_exePost.value(QStringLiteral("__err"), nullptr);
        if (handler) {
            // A handler without its own exe answers 501 through the base.
            handler->exe(query.m_uri, query.m_http.m_body, socket);
            return;
        }
    } else if (method == QLatin1String("OPTIONS")) {
        // A preflight carries no token; its origin is judged all the same so
        // that a foreign page learns at once that it may not send.
        if (!admit(query, socket, false))
            return;
        if (m_access) {
            const QString origin = AccessPolicy::headerValue(query.m_http, QStringLiteral("Origin"));
            const QString host = AccessPolicy::headerValue(query.m_http, QStringLiteral("Host"));
            if (!origin.isEmpty() && !m_access->originAllowed(origin, host)) {
                if (m_access->firstRefusal(QStringLiteral("origin ") + origin))
                    JTerminal('3') << "refused origin" << origin.toLocal8Bit().constData();
                m_response.ret403();
                writeAndClose(socket, m_response);
                return;
            }
        }
        m_response.ret200Options();
        writeAndClose(socket, m_response);
        return;
    } else {
        JTerminal('3') << "error";
        if (exeGet* handler = m_exeGet.value(QStringLiteral("__err"), nullptr)) {
            if (admit(query, socket, false))
                handler->exe(query.m_uri, socket);
            return;
        }
    }
    // A route table without its fallback entries: still answer.
    m_response.ret501();
    writeAndClose(socket, m_response);
}

exeGet* WebApiServer::getHandler(const QString& path) const
{
    exeGet* handler = m_exeGet.value(path, nullptr);
    if (!handler) {
        // A route that owns a whole subtree ("flash/<file>") before static files.
        exeGet* owner = m_exeGet.value(path.section(QLatin1Char('/'), 0, 0), nullptr);
        if (owner && owner->servesSubpaths())
            handler = owner;
    }
    if (!handler)
        handler = m_exeGet.value(QStringLiteral("__file"), nullptr);
    return handler;
}

bool WebApiServer::admit(const ParsingQuery& query, QTcpSocket* socket, bool guarded)
{
    if (!m_access)
        return true;
    const AccessPolicy::EVerdict verdict = m_access->check(query.m_http, query.m_uri, guarded, false);
    const QString origin = AccessPolicy::headerValue(query.m_http, QStringLiteral("Origin"));
    const QString host = AccessPolicy::headerValue(query.m_http, QStringLiteral("Host"));
    switch (verdict) {
    case AccessPolicy::EVerdict::Allowed:
        if (!origin.isEmpty() && m_access->originIsListedForeign(origin, host))
            socket->setProperty(AccessPolicy::allowOriginProperty, AccessPolicy::normalizedOrigin(origin));
        return true;
    case AccessPolicy::EVerdict::ForbiddenHost:
        if (m_access->firstRefusal(QStringLiteral("host ") + host))
            JTerminal('3') << "refused host" << host.toLocal8Bit().constData();
        m_response.ret403();
        break;
    case AccessPolicy::EVerdict::ForbiddenOrigin:
        if (m_access->firstRefusal(QStringLiteral("origin ") + origin))
            JTerminal('3') << "refused origin" << origin.toLocal8Bit().constData();
        m_response.ret403();
        break;
    case AccessPolicy::EVerdict::Unauthorized:
        if (m_access->firstRefusal(QStringLiteral("token ") + socket->peerAddress().toString()))
            JTerminal('3') << "request without a valid access token from"
                           << socket->peerAddress().toString().toLocal8Bit().constData();
        m_response.ret401();
        break;
    }
    writeAndClose(socket, m_response);
    return false;
}

void WebApiServer::refuse(QTcpSocket* socket, const QString& status)
{
    const auto connection = m_connections.find(socket);
    if (connection != m_connections.end()) {
        connection->m_dispatched = true;
        connection->m_header.clear();
        connection->m_idleTimer->start(m_idleTimeoutMs);
        connection->m_headerTimer->stop();
        connection->m_requestTimer->stop();
    }
    erasePending(findPending(socket));
    JTerminal('3') << "request refused:" << status.toLocal8Bit().constData();
    m_response.retError(status);
    writeAndClose(socket, m_response);
}

void WebApiServer::onIdleTimeout(QTcpSocket* socket)
{
    const auto connection = m_connections.find(socket);
    if (connection == m_connections.end())
        return;
    if (!connection->m_dispatched) {
        refuse(socket, QStringLiteral("408 Request Timeout"));
        return;
    }
    // A handler still working, or an event stream with nothing to send,
    // owes the client nothing yet: it keeps its connection.
    if (socket->bytesToWrite() == 0) {
        connection->m_idleTimer->start(m_idleTimeoutMs);
        return;
    }
    // A client that stopped taking its answer would hold the connection,
    // its place under the bounds and the unsent bytes for ever.
    JTerminal('3') << "answer not taken by the client for" << m_idleTimeoutMs << "ms: connection closed";
    DescriptorAnswer::abortive(int(socket->socketDescriptor()));
    socket->abort();
}

std::list<SocketInfo>::iterator WebApiServer::findPending(QTcpSocket* socket)
{
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        if (it->m_socket == socket)
            return it;
    }
    return m_pending.end();
}

void WebApiServer::erasePending(std::list<SocketInfo>::iterator pending)
{
    if (pending == m_pending.end())
        return;
    m_pendingBodyBytes -= pending->m_contentLength;
    m_pending.erase(pending);
}

int WebApiServer::headerBlockEnd(const QByteArray& bytes)
{
    const int firstLineEnd = bytes.indexOf('\n');
    if (firstLineEnd < 0)
        return -1;
    const int crlf = bytes.indexOf("\n\r\n", firstLineEnd);
    const int lf = bytes.indexOf("\n\n", firstLineEnd);
    if (crlf < 0 && lf < 0)
        return -1;
    if (crlf >= 0 && (lf < 0 || crlf < lf))
        return crlf + 3;
    return lf + 2;
}

} // namespace Tavrix::Net::WebApi

#pragma once

#include "net/webapi/accesspolicy.h"
#include "net/webapi/connectionlimits.h"
#include "net/webapi/makeresponse.h"
#include "net/webapi/parsingquery.h"

#include <QHash>
#include <QHostAddress>
#include <QMap>
#include <QTcpServer>
#include <list>
#include <memory>

class QTcpSocket;
class QTimer;

namespace Tavrix::Net::WebApi {

class ArrivalWatch;
class exeGet;
class exeGetEvent;
class exePost;

// A connection whose headers are in and whose body is still owed.
struct SocketInfo
{
    QTcpSocket* m_socket = nullptr;
    qint64 m_contentLength = 0;
    ParsingQuery m_query;
};

// The HTTP/1.1 endpoint: one request per connection, handed to the GET or POST
// route table; OPTIONS (CORS preflight) is answered here.
class WebApiServer : public QTcpServer
{
    Q_OBJECT

public:
    // What one client can make the server hold before its request is complete.
    static constexpr qint64 maxBodySize = 1024 * 1024;
    static constexpr int maxHeaderSize = 64 * 1024;
    static constexpr int defaultIdleTimeoutMs = 30000;
    // Time from connecting to the end of the header block, however steadily
    // its bytes trickle in.
    static constexpr int defaultHeaderTimeoutMs = 10000;
    // Time from connecting to the end of the body: a body trickling in a
    // byte at a time would otherwise hold its share of the body budget for
    // good, each byte restarting the idle time.
    static constexpr int defaultRequestTimeoutMs = 30000;
    // Body bytes all incomplete requests together may announce.
    static constexpr qint64 defaultMaxPendingBodyBytes = 32 * 1024 * 1024;

    WebApiServer(quint16 port, QMap<QString, exeGet*>& getTable, QMap<QString, exePost*>& postTable,
                 QObject* parent = nullptr, const QHostAddress& address = QHostAddress::Any);

    void executor(ParsingQuery& query, QTcpSocket* socket);

    // Time a client may stay silent while its request is incomplete.
    void setIdleTimeout(int milliseconds) { m_idleTimeoutMs = milliseconds; }
    void setHeaderTimeout(int milliseconds) { m_headerTimeoutMs = milliseconds; }
    void setRequestTimeout(int milliseconds) { m_requestTimeoutMs = milliseconds; }
    // A request whose body would take the bytes announced by all incomplete
    // requests past this bound is answered "503 Service Unavailable".
    void setMaxPendingBodyBytes(qint64 bytes) { m_maxPendingBodyBytes = bytes; }
    qint64 pendingBodyBytes() const { return m_pendingBodyBytes; }

    // Connections beyond the shared bounds are refused as they arrive;
    // without limits every connection is taken.
    void setConnectionLimits(ConnectionLimits* limits) { m_limits = limits; }

    // Host, origin and token checks; without a policy every request is served.
    void setAccessPolicy(std::shared_ptr<const AccessPolicy> policy) { m_access = std::move(policy); }

    // A plain GET of a UI file that comes whole in the connection's first
    // bytes is answered on the bare descriptor, without a QTcpSocket: the
    // same bytes, log lines and checks, at a fraction of the cost per
    // connection. Off, every connection takes the socket path.
    void setDirectAnswers(bool on) { m_directAnswers = on; }
    qint64 directAnswerCount() const { return m_directAnswerCount; }

public slots:
    void onNewConnection();
    void onDisConnected();
    void onReadyRead();

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    // Bytes of a connection read before it is taken the usual way.
    static constexpr int directReadBytes = 8192;
    // The socket property that carries them to onNewConnection.
    static constexpr const char* takenBytesProperty = "webApiTakenBytes";
    // Connections taken one after the other before the event loop serves
    // everything else once.
    static constexpr int connectionsInARow = 16;

    enum class EDirect { Answered, NotYet, SocketPath };

    struct Connection
    {
        QByteArray m_header; // bytes before the end of the header block
        bool m_dispatched = false;
        QTimer* m_idleTimer = nullptr;
        QTimer* m_headerTimer = nullptr;
        QTimer* m_requestTimer = nullptr;
    };

    void dispatch(ParsingQuery& query, QTcpSocket* socket);
    // NotYet when nothing has arrived yet; SocketPath when the socket path
    // must take it, with `taken` holding what was read from it already.
    // `knownPeer`: the peer address when it was asked for already.
    EDirect answerDirectly(int descriptor, const QHostAddress& knownPeer, QByteArray& taken);
    // A connection for the socket path, as QTcpServer takes it, with the
    // bytes read from it already; onNewConnection handles them first.
    void handToSocketPath(int descriptor, const QByteArray& taken);
    // Bytes that came on a socket, as they came.
    void receive(QTcpSocket* socket, const QByteArray& bytes);
    // A watched connection whose first bytes came or whose time ran out.
    void onArrival(int descriptor, qint64 waitedMs, const QHostAddress& peer);
    exeGet* getHandler(const QString& path) const;
    // Cuts the body to `length`; false (and the request refused) when more
    // than line ends follow it.
    bool takeBody(ParsingQuery& query, qint64 length, QTcpSocket* socket);
    // A Content-Length value: its number, or -1 when it is not plain digits.
    static qint64 contentLengthOf(const QString& text);
    static bool isBlank(const QByteArray& bytes);
    void refuse(QTcpSocket* socket, const QString& status);
    // False when the request was refused (and answered) by the access checks.
    bool admit(const ParsingQuery& query, QTcpSocket* socket, bool guarded);
    void onIdleTimeout(QTcpSocket* socket);
    std::list<SocketInfo>::iterator findPending(QTcpSocket* socket);
    void erasePending(std::list<SocketInfo>::iterator pending);
    // Offset just past the empty line that ends the header block, or -1.
    static int headerBlockEnd(const QByteArray& bytes);

    QMap<QString, exeGet*>& m_exeGet;
    QMap<QString, exePost*>& m_exePost;
    ParsingQuery m_query;
    exeGetEvent* m_eventHandler = nullptr;
    MakeResponse m_response;
    std::list<SocketInfo> m_pending;
    QHash<QTcpSocket*, Connection> m_connections;
    int m_idleTimeoutMs = defaultIdleTimeoutMs;
    int m_headerTimeoutMs = defaultHeaderTimeoutMs;
    int m_requestTimeoutMs = defaultRequestTimeoutMs;
    qint64 m_maxPendingBodyBytes = defaultMaxPendingBodyBytes;
    qint64 m_pendingBodyBytes = 0;
    ConnectionLimits* m_limits = nullptr;
    std::shared_ptr<const AccessPolicy> m_access;
    bool m_directAnswers = true;
    qint64 m_directAnswerCount = 0;
    int m_takenInARow = 0;
    ArrivalWatch* m_arrivals = nullptr;
    // Time a connection handed to the socket path has already waited.
    qint64 m_waitedMs = 0;
    int m_maxPendingConnections = 30;
};

} // namespace Tavrix::Net::WebApi

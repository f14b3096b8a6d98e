#include "net/webapi/connectionlimits.h"

#include "net/webapi/securityheaders.h"

#include "common/jterminal.h"

#include <QTcpSocket>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <algorithm>
#include <sys/resource.h>

namespace Tavrix::Net::WebApi {

using Common::JTerminal;

namespace {

// Lives as a child of an admitted socket and gives its place back when the
// socket goes. A child, not a connection to the socket's signals: the
// WebSocket classes disconnect every signal of the sockets they take over.
class Place : public QObject
{
public:
    Place(QTcpSocket* socket, std::function<void()> release)
        : QObject(socket)
        , m_release(std::move(release))
    {
    }
    ~Place() override { m_release(); }

private:
    std::function<void()> m_release;
};

} // namespace

ConnectionLimits::ConnectionLimits(int maxConnections, int maxConnectionsPerAddress, QObject* parent)
    : QObject(parent)
    , m_maxConnections(std::max(1, maxConnections))
    , m_maxPerAddress(std::max(1, maxConnectionsPerAddress))
{
}

QString ConnectionLimits::key(const QHostAddress& address)
{
    // An IPv4 peer on a dual-stack listener shows as ::ffff:a.b.c.d.
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

bool ConnectionLimits::admit(QTcpSocket* socket)
{
    if (!socket)
        return false;
    const QString address = key(socket->peerAddress());
    int& count = m_perAddress[address];
    if (m_total >= m_maxConnections || count >= m_maxPerAddress) {
        if (count == 0)
            m_perAddress.remove(address);
        // Once per burst: a flood must not also flood the log.
        if (!m_refusalLogged) {
            m_refusalLogged = true;
            JTerminal('3') << "connection refused: too many connections" << (m_total >= m_maxConnections ? "in all" : "from")
                           << address.toLocal8Bit().constData() << "(" << m_total << "open)";
        }
        return false;
    }
    ++count;
    ++m_total;
    new Place(socket, [limits = QPointer<ConnectionLimits>(this), address] {
        if (limits)
            limits->release(address);
    });
    return true;
}

bool ConnectionLimits::take(const QHostAddress& peer)
{
    const QString address = key(peer);
    const auto it = m_perAddress.constFind(address);
    const int count = it == m_perAddress.constEnd() ? 0 : it.value();
    if (m_total >= m_maxConnections || count >= m_maxPerAddress)
        return false;
    m_perAddress[address] = count + 1;
    ++m_total;
    return true;
}

void ConnectionLimits::release(const QString& address)
{
    --m_total;
    const auto it = m_perAddress.find(address);
    if (it != m_perAddress.end() && --*it <= 0)
        m_perAddress.erase(it);
    if (m_total < m_maxConnections * 3 / 4)
        m_refusalLogged = false;
}

int ConnectionLimits::fitToDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    const rlim_t soft = std::min<rlim_t>(limit.rlim_cur, 1 << 30);
    const int usable = static_cast<int>(soft) - reservedDescriptors;
    if (usable < m_maxConnections) {
        m_maxConnections = std::max(1, usable);
        JTerminal('1') << "open file limit" << static_cast<long long>(soft) << "allows" << m_maxConnections
                       << "connections";
    }
    return static_cast<int>(soft);
}

void ConnectionLimits::refuse(QTcpSocket* socket)
{
    socket->write("HTTP/1.1 503 Service Unavailable\r\n" + SecurityHeaders::lines()
                  + "Content-Length: 0\r\nConnection: close\r\n\r\n");
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    // A peer that takes nothing does not keep the descriptor either.
    QTimer::singleShot(refusalLingerMs, socket, &QTcpSocket::abort);
    socket->disconnectFromHost();
}

} // namespace Tavrix::Net::WebApi

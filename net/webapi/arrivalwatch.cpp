#include "net/webapi/arrivalwatch.h"

#include "net/webapi/connectionlimits.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Tavrix::Net::WebApi {

namespace {

qint64 nowMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed();
}

} // namespace

ArrivalWatch::ArrivalWatch(Ready ready, QObject* parent)
    : QObject(parent)
    , m_ready(std::move(ready))
{
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &ArrivalWatch::onTimeout);
}

ArrivalWatch::~ArrivalWatch()
{
    const QList<int> descriptors = m_entries.keys();
    for (const int descriptor : descriptors) {
        if (release(descriptor, nullptr))
            ::close(descriptor);
    }
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (m_epoll >= 0)
        ::close(m_epoll);
}

bool ArrivalWatch::watch(int descriptor, qint64 timeoutMs, ConnectionLimits* limits)
{
    if (m_epoll < 0) {
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
        if (m_epoll < 0)
            return false;
        m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &ArrivalWatch::onEvents);
    }
    Entry entry;
    if (limits) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getpeername(descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return false;
        entry.peer.setAddress(reinterpret_cast<const sockaddr*>(&address));
        if (!limits->take(entry.peer))
            return false;
        entry.limits = limits;
    }
    epoll_event event{};
    // One event is all it takes: the descriptor then leaves the watch, and
    // is taken out of the set only when it is closed (or its time runs out),
    // not with a system call of its own.
    event.events = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;
    event.data.fd = descriptor;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, descriptor, &event) != 0) {
        if (limits)
            limits->giveBack(entry.peer);
        return false;
    }
    entry.startMs = nowMs();
    entry.deadlineMs = entry.startMs + std::max<qint64>(0, timeoutMs);
    m_entries.insert(descriptor, entry);
    if (!m_timer->isActive() || entry.deadlineMs < nowMs() + m_timer->remainingTime())
        armTimer();
    return true;
}

bool ArrivalWatch::release(int descriptor, qint64* waitedMs, QHostAddress* peer, bool fired)
{
    const auto it = m_entries.find(descriptor);
    if (it == m_entries.end())
        return false;
    // One that fired is disarmed already.
    if (!fired)
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, descriptor, nullptr);
    if (it->limits)
        it->limits->giveBack(it->peer);
    if (waitedMs)
        *waitedMs = nowMs() - it->startMs;
    if (peer)
        *peer = it->peer;
    m_entries.erase(it);
    return true;
}

void ArrivalWatch::onEvents()
{
    epoll_event events[64];
    const int count = ::epoll_wait(m_epoll, events, 64, 0);
    for (int i = 0; i < count; ++i) {
        const int descriptor = events[i].data.fd;
        qint64 waited = 0;
        QHostAddress peer;
        // The callback for an earlier one may have changed the set.
        if (release(descriptor, &waited, &peer, true))
            m_ready(descriptor, waited, peer);
    }
}

void ArrivalWatch::onTimeout()
{
    const qint64 now = nowMs();
    QList<int> expired;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (it->deadlineMs <= now)
            expired.append(it.key());
    }
    for (const int descriptor : expired) {
        qint64 waited = 0;
        QHostAddress peer;
        if (release(descriptor, &waited, &peer))
            m_ready(descriptor, waited, peer);
    }
    if (!m_entries.isEmpty() && !m_timer->isActive())
        armTimer();
}

void ArrivalWatch::armTimer()
{
    qint64 earliest = -1;
    for (const Entry& entry : qAsConst(m_entries)) {
        if (earliest < 0 || entry.deadlineMs < earliest)
            earliest = entry.deadlineMs;
    }
    if (earliest >= 0)
        m_timer->start(int(std::max<qint64>(0, earliest - nowMs())));
}

} // namespace Tavrix::Net::WebApi

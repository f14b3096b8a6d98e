#pragma once

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>

#include <functional>

class QSocketNotifier;
class QTimer;

namespace Tavrix::Net::WebApi {

class ConnectionLimits;

// Connections taken before their first bytes arrived, watched together in
// one epoll set until something comes (bytes, the end, an error) or their
// time runs out. Far cheaper per connection than a socket object with its
// own notifiers, and a request that is there a moment later can still be
// answered on the bare descriptor. A connection watched holds its place
// under the connection bounds.
class ArrivalWatch : public QObject
{
    Q_OBJECT

public:
    // Called with the descriptor (no longer watched, its place given back),
    // how long it was watched and its peer (null when no limits were given).
    using Ready = std::function<void(int descriptor, qint64 waitedMs, const QHostAddress& peer)>;

    ArrivalWatch(Ready ready, QObject* parent = nullptr);
    // Closes the descriptors still watched.
    ~ArrivalWatch() override;

    // False, and nothing taken, when the descriptor cannot be watched or
    // would pass a bound of `limits`: the caller then takes the usual path.
    bool watch(int descriptor, qint64 timeoutMs, ConnectionLimits* limits);
    int watched() const { return m_entries.size(); }

private:
    struct Entry
    {
        qint64 startMs = 0;
        qint64 deadlineMs = 0;
        QPointer<ConnectionLimits> limits;
        QHostAddress peer;
    };

    void onEvents();
    void onTimeout();
    void armTimer();
    // Stops watching; true when the descriptor was watched. `fired`: its
    // one event came, which took it out of the set's events already.
    bool release(int descriptor, qint64* waitedMs, QHostAddress* peer = nullptr, bool fired = false);

    Ready m_ready;
    int m_epoll = -1;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_timer = nullptr;
    QHash<int, Entry> m_entries;
};

} // namespace Tavrix::Net::WebApi

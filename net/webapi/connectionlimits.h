#pragma once

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>

class QTcpSocket;

namespace Tavrix::Net::WebApi {

// Counts the open connections of every listener of the service (the HTTP API
// and the three WebSocket ports), per peer address and in total. Each one
// holds a file descriptor: without a bound, one client trickling connections
// could take them all, and with them the descriptors libusb needs to find
// the recorder again after it re-enumerates.
class ConnectionLimits : public QObject
{
    Q_OBJECT

public:
    static constexpr int defaultMaxConnections = 512;
    static constexpr int defaultMaxConnectionsPerAddress = 128;
    // Descriptors kept free of connections: libusb, the device node, the
    // error log, read-out files and the web UI's files.
    static constexpr int reservedDescriptors = 64;
    static constexpr int refusalLingerMs = 2000;

    explicit ConnectionLimits(int maxConnections = defaultMaxConnections,
                              int maxConnectionsPerAddress = defaultMaxConnectionsPerAddress,
                              QObject* parent = nullptr);

    // Takes the connection into the count, or false when it would pass a
    // bound (the caller refuses it). A connection taken leaves the count when
    // its socket is destroyed, whoever destroys it.
    bool admit(QTcpSocket* socket);
    // The same for a connection answered on its bare descriptor, without a
    // socket object: nothing is counted (and nothing logged) when it would
    // pass a bound, so that the caller can hand it to the path that refuses
    // it. A connection taken is given back with `giveBack`.
    bool take(const QHostAddress& peer);
    void giveBack(const QHostAddress& peer) { release(key(peer)); }

    int openCount() const { return m_total; }
    int openCount(const QHostAddress& address) const { return m_perAddress.value(key(address), 0); }
    int maxConnections() const { return m_maxConnections; }
    int maxConnectionsPerAddress() const { return m_maxPerAddress; }

    // Raises the soft limit of open files to the hard one and lowers
    // `maxConnections` so that the reserve stays free under either. Returns
    // the soft limit in force.
    int fitToDescriptorLimit();

    // The refusal a socket over a bound gets before it is closed.
    static void refuse(QTcpSocket* socket);

private:
    static QString key(const QHostAddress& address);
    void release(const QString& address);

    int m_maxConnections;
    int m_maxPerAddress;
    int m_total = 0;
    QHash<QString, int> m_perAddress;
    bool m_refusalLogged = false;
};

} // namespace Tavrix::Net::WebApi

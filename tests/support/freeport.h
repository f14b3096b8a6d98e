#pragma once

#include <QFile>
#include <QMutex>
#include <QRandomGenerator>
#include <QSet>
#include <QTcpServer>

namespace TestSupport {

// A loopback port that is free now, for a server a test starts later.
// Ports the kernel hands out by itself (a listen on port 0, and the source
// port of every outgoing connection) come from its ephemeral range, so a
// port taken from there can be gone again before the server binds it. This
// one is picked at random below that range, where only another test that
// picks the same way could take it, and never twice in one process.
inline quint16 freeLoopbackPort()
{
    static QMutex mutex;
    static QSet<quint16> handedOut;
    quint16 ephemeralLow = 32768;
    QFile range("/proc/sys/net/ipv4/ip_local_port_range");
    if (range.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> bounds = range.readAll().simplified().split(' ');
        const uint low = bounds.value(0).toUInt();
        if (low > 12000 && low <= 65535)
            ephemeralLow = static_cast<quint16>(low);
    }
    QMutexLocker lock(&mutex);
    for (int attempt = 0; attempt < 500; ++attempt) {
        const auto port = static_cast<quint16>(QRandomGenerator::global()->bounded(10000, int(ephemeralLow)));
        if (handedOut.contains(port))
            continue;
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, port))
            continue;
        handedOut.insert(port);
        return port;
    }
    // Nothing free below the range: let the kernel choose, as before.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace TestSupport

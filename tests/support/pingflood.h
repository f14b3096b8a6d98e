#pragma once

#include "support/loopbacksocket.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <QByteArray>
#include <QTest>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>

namespace TestSupport {

// What a ping flood came to: the bytes it sent and whether the server cut
// the connection before the flood's end.
struct PingFloodResult
{
    bool connected = false;
    bool cutByServer = false;
    qint64 bytesSent = 0;
};

// A WebSocket client on a blocking socket that sends masked ping frames
// with 125 bytes each and never reads: every ping makes the server queue a
// pong it cannot send. Stops at `maxBytes`, at the first failed send or
// after a send blocked for 10 s. Meant for a thread of its own, beside the
// event loop that serves `port`.
inline PingFloodResult pingFlood(quint16 port, qint64 maxBytes)
{
    PingFloodResult result;
    // A small window: the pongs pile up at the server, not in this
    // socket's kernel buffer.
    const int fd = connectLoopback(port, 4096);
    if (fd < 0)
        return result;
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const QByteArray handshake("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                               "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    ::send(fd, handshake.constData(), static_cast<size_t>(handshake.size()), MSG_NOSIGNAL);
    QByteArray answer;
    char chunk[512];
    while (!answer.contains("\r\n\r\n")) {
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0)
            break;
        answer.append(chunk, static_cast<int>(got));
    }
    result.connected = answer.startsWith("HTTP/1.1 101");
    if (!result.connected) {
        ::close(fd);
        return result;
    }
    // Many pings per send: FIN + ping, masked, 125 bytes, a zero mask key.
    QByteArray frame("\x89\xfd\0\0\0\0", 6);
    frame.append(QByteArray(125, 'p'));
    QByteArray burst;
    for (int i = 0; i < 128; ++i)
        burst.append(frame);
    while (result.bytesSent < maxBytes) {
        const ssize_t sent = ::send(fd, burst.constData(), static_cast<size_t>(burst.size()), MSG_NOSIGNAL);
        if (sent < 0) {
            result.cutByServer = errno == EPIPE || errno == ECONNRESET;
            break;
        }
        result.bytesSent += sent;
    }
    ::close(fd);
    return result;
}

// Floods `port` from a thread of its own while this thread's event loop
// serves it; succeeds when the server cut the connection before 96 MiB.
inline ::testing::AssertionResult serverCutsPingFlood(quint16 port)
{
    PingFloodResult flood;
    std::atomic<bool> done{false};
    std::thread client([&] {
        flood = pingFlood(port, 96 * 1024 * 1024);
        done = true;
    });
    const bool finished = QTest::qWaitFor([&] { return done.load(); }, 120000);
    client.join();
    if (!finished)
        return ::testing::AssertionFailure() << "the flood took over 120 s";
    if (!flood.connected)
        return ::testing::AssertionFailure() << "the flood's client was not let in";
    if (!flood.cutByServer)
        return ::testing::AssertionFailure() << flood.bytesSent << " bytes of pings sent without the connection being cut";
    return ::testing::AssertionSuccess();
}

} // namespace TestSupport

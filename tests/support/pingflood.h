#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <QByteArray>
#include <atomic>
#include <cstring>

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
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return result;
    // A small window: the pongs pile up at the server, not in this
    // socket's kernel buffer.
    const int receiveBuffer = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return result;
    }
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

} // namespace TestSupport

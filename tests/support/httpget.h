#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QString>
#include <QTcpSocket>

namespace TestSupport {

// One GET on loopback, read until the server closes (it answers one
// request per connection); a chunked body is joined. Status 0 when the
// connection failed or no header came.
struct HttpAnswer
{
    int status = 0;
    QByteArray body;
};

inline HttpAnswer httpGet(quint16 port, const QString& target)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    HttpAnswer answer;
    if (!socket.waitForConnected(5000))
        return answer;
    socket.write("GET " + target.toUtf8() + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray raw;
    QElapsedTimer timer;
    timer.start();
    while (socket.state() != QAbstractSocket::UnconnectedState && timer.elapsed() < 30000) {
        socket.waitForReadyRead(50);
        raw += socket.readAll();
    }
    raw += socket.readAll();
    const int split = raw.indexOf("\r\n\r\n");
    if (split < 0)
        return answer;
    answer.status = raw.mid(9, 3).toInt();
    answer.body = raw.mid(split + 4);
    if (raw.left(split).toLower().contains("transfer-encoding: chunked")) {
        QByteArray joined;
        int at = 0;
        const QByteArray& body = answer.body;
        while (at < body.size()) {
            const int lineEnd = body.indexOf("\r\n", at);
            if (lineEnd < 0)
                break;
            const int size = body.mid(at, lineEnd - at).toInt(nullptr, 16);
            if (size == 0)
                break;
            joined += body.mid(lineEnd + 2, size);
            at = lineEnd + 2 + size + 2;
        }
        answer.body = joined;
    }
    return answer;
}

} // namespace TestSupport

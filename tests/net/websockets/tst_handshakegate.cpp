#include "net/webapi/accesspolicy.h"
#include "net/websockets/websocketserver.h"
#include "net/websockets/websocketterminal.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>
#include <gtest/gtest.h>

#include <memory>

using Tavrix::Net::WebApi::AccessPolicy;
using Tavrix::Net::WebSockets::WebSocketServer;
using Tavrix::Net::WebSockets::WebSocketTerminal;

namespace {

// The answer head to one raw handshake, or what came before the server closed.
QByteArray handshakeAnswer(quint16 port, const QByteArray& target, const QByteArray& headers)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return {};
    socket.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n" + headers
                 + "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                   "Sec-WebSocket-Version: 13\r\n\r\n");
    QByteArray received;
    QTest::qWaitFor([&] {
        received += socket.readAll();
        return received.contains("\r\n\r\n") || socket.state() == QAbstractSocket::UnconnectedState;
    }, 5000);
    return received.left(received.indexOf("\r\n"));
}

std::shared_ptr<AccessPolicy> policy(quint16 httpPort)
{
    auto access = std::make_shared<AccessPolicy>();
    access->setServicePort(httpPort);
    access->setAccessToken("tok");
    return access;
}

} // namespace

TEST(HandshakeGate, RefusedHandshakesNeverBecomeClients)
{
    WebSocketServer server(0, QHostAddress(QHostAddress::LocalHost));
    ASSERT_TRUE(server.isListening());
    server.setAccessPolicy(policy(8180));
    const quint16 port = server.serverPort();
    const std::pair<QByteArray, QByteArray> refused[] = {
        {"/", ""},
        {"/?token=no", ""},
        {"/?token=tok", "Origin: http://evil.example\r\n"},
        {"/?token=tok", "Origin: http://127.0.0.1:9999\r\n"},
    };
    for (const auto& [target, headers] : refused) {
        const QByteArray status = handshakeAnswer(port, target, headers);
        EXPECT_TRUE(status == "HTTP/1.1 401 Unauthorized" || status == "HTTP/1.1 403 Forbidden")
            << target.constData() << headers.constData() << " -> " << status.constData();
    }
    QTest::qWait(100);
    EXPECT_EQ(server.clientCount(), 0);

    // A client that is let in gets the messages; a refused one stays out.
    QWebSocket allowed(QStringLiteral("http://localhost:8180"));
    QWebSocket foreign(QStringLiteral("http://evil.example"));
    QSignalSpy allowedMessages(&allowed, &QWebSocket::binaryMessageReceived);
    QSignalSpy foreignMessages(&foreign, &QWebSocket::binaryMessageReceived);
    QSignalSpy connected(&allowed, &QWebSocket::connected);
    allowed.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/?token=tok").arg(port)));
    foreign.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/?token=tok").arg(port)));
    ASSERT_TRUE(connected.wait(5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.clientCount() == 1; }, 5000));
    server.slotTransfer("block");
    ASSERT_TRUE(allowedMessages.wait(5000));
    EXPECT_EQ(allowedMessages.at(0).at(0).toByteArray(), "block");
    QTest::qWait(100);
    EXPECT_EQ(foreignMessages.count(), 0);
    EXPECT_NE(foreign.state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(server.clientCount(), 1);
}

TEST(HandshakeGate, HalfHandshakesAreAnsweredOnceComplete)
{
    WebSocketServer server(0, QHostAddress(QHostAddress::LocalHost));
    server.setAccessPolicy(policy(8180));
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.serverPort());
    ASSERT_TRUE(socket.waitForConnected(3000));
    socket.write("GET /?token=tok HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n");
    socket.flush();
    QTest::qWait(100);
    EXPECT_EQ(socket.bytesAvailable(), 0);
    socket.write("Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
    QByteArray received;
    ASSERT_TRUE(QTest::qWaitFor([&] { received += socket.readAll(); return received.contains("\r\n\r\n"); }, 5000));
    EXPECT_TRUE(received.startsWith("HTTP/1.1 101 Switching Protocols\r\n")) << received.constData();
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.clientCount() == 1; }, 5000));
}

TEST(HandshakeGate, ForeignPageCannotStopTheServiceThroughTheTerminal)
{
    WebSocketTerminal terminal(0, QHostAddress(QHostAddress::LocalHost));
    ASSERT_TRUE(terminal.isListening());
    terminal.setAccessPolicy(policy(8180));
    EXPECT_EQ(handshakeAnswer(terminal.serverPort(), "/?token=tok", "Origin: http://evil.example\r\n"),
              "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(handshakeAnswer(terminal.serverPort(), "/", "Origin: http://127.0.0.1:8180\r\n"),
              "HTTP/1.1 401 Unauthorized");
    EXPECT_EQ(terminal.clientCount(), 0);
    EXPECT_FALSE(terminal.isActive());
}

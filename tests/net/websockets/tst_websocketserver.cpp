#include "net/websockets/websocketserver.h"

#include "net/webapi/connectionlimits.h"
#include "support/pingflood.h"
#include "support/stalledwebsocket.h"

#include <QSignalSpy>
#include <QStringList>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using Tavrix::Net::WebSockets::WebSocketServer;

namespace {

constexpr int waitMs = 5000;

// Collects the log lines written while it exists.
class LogCapture
{
public:
    LogCapture() { s_lines.clear(); m_previous = qInstallMessageHandler(&LogCapture::handler); }
    ~LogCapture() { qInstallMessageHandler(m_previous); }

    bool contains(const QString& text) const
    {
        for (const QString& line : s_lines) {
            if (line.contains(text))
                return true;
        }
        return false;
    }
    QString all() const { return s_lines.join('\n'); }

private:
    static void handler(QtMsgType, const QMessageLogContext&, const QString& text) { s_lines.append(text); }

    static QStringList s_lines;
    QtMessageHandler m_previous;
};

QStringList LogCapture::s_lines;

class Client
{
public:
    Client() : received(&socket, &QWebSocket::binaryMessageReceived), texts(&socket, &QWebSocket::textMessageReceived) {}

    bool open(unsigned short port)
    {
        QSignalSpy connected(&socket, &QWebSocket::connected);
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
        return connected.count() > 0 || connected.wait(waitMs);
    }

    bool waitForMessages(int count) { return QTest::qWaitFor([&] { return received.count() >= count; }, waitMs); }

    QByteArray message(int index) const { return received.at(index).at(0).toByteArray(); }

    QWebSocket socket;
    QSignalSpy received;
    QSignalSpy texts;
};

class WebSocketServerTest : public ::testing::Test
{
protected:
    WebSocketServer server{0, QHostAddress(QHostAddress::LocalHost)};

    bool waitForClients(int count)
    {
        return QTest::qWaitFor([&] { return server.clientCount() == count; }, waitMs);
    }
};

} // namespace

TEST_F(WebSocketServerTest, WithoutClientsATransferGoesNowhere)
{
    ASSERT_TRUE(server.isListening());
    server.slotTransfer(QByteArray("nobody"));
    EXPECT_EQ(server.clientCount(), 0);

    // A client that connects later gets only later messages.
    Client late;
    ASSERT_TRUE(late.open(server.serverPort()));
    ASSERT_TRUE(waitForClients(1));
    server.slotTransfer(QByteArray("later"));
    ASSERT_TRUE(late.waitForMessages(1));
    QTest::qWait(50);
    EXPECT_EQ(late.received.count(), 1);
    EXPECT_EQ(late.message(0), QByteArray("later"));
}

TEST_F(WebSocketServerTest, EveryClientReceivesEveryMessageInOrder)
{
    Client first, second;
    ASSERT_TRUE(first.open(server.serverPort()));
    ASSERT_TRUE(second.open(server.serverPort()));
    ASSERT_TRUE(waitForClients(2));

    // Binary content with every byte value, and one message larger than a
    // single WebSocket frame buffer.
    QByteArray allBytes;
    for (int i = 0; i < 256; ++i)
        allBytes.append(static_cast<char>(i));
    const QList<QByteArray> messages{allBytes, QByteArray(200000, '\x7E'), QByteArray("\x83\xA4type", 6)};
    for (const QByteArray& message : messages)
        server.slotTransfer(message);

    for (Client* client : {&first, &second}) {
        ASSERT_TRUE(client->waitForMessages(messages.size()));
        ASSERT_EQ(client->received.count(), messages.size());
        for (int i = 0; i < messages.size(); ++i)
            EXPECT_EQ(client->message(i), messages.at(i)) << i;
    }
}

TEST_F(WebSocketServerTest, TextFromAClientIsIgnored)
{
    Client talker, listener;
    ASSERT_TRUE(talker.open(server.serverPort()));
    ASSERT_TRUE(listener.open(server.serverPort()));
    ASSERT_TRUE(waitForClients(2));

    talker.socket.sendTextMessage(QStringLiteral("exit"));
    talker.socket.sendBinaryMessage(QByteArray("binary"));
    QTest::qWait(100);
    EXPECT_EQ(talker.texts.count(), 0);
    EXPECT_EQ(talker.received.count(), 0);
    EXPECT_EQ(listener.received.count(), 0);
    EXPECT_EQ(talker.socket.state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(server.clientCount(), 2);

    server.slotTransfer(QByteArray("after"));
    ASSERT_TRUE(talker.waitForMessages(1));
    ASSERT_TRUE(listener.waitForMessages(1));
}

TEST_F(WebSocketServerTest, AfterADisconnectTheOthersGoOn)
{
    auto leaving = std::make_unique<Client>();
    Client staying;
    ASSERT_TRUE(leaving->open(server.serverPort()));
    ASSERT_TRUE(staying.open(server.serverPort()));
    ASSERT_TRUE(waitForClients(2));

    server.slotTransfer(QByteArray("one"));
    ASSERT_TRUE(leaving->waitForMessages(1));
    ASSERT_TRUE(staying.waitForMessages(1));

    LogCapture log;
    leaving->socket.close();
    ASSERT_TRUE(waitForClients(1));
    EXPECT_TRUE(log.contains(QStringLiteral("clients: 1"))) << log.all().toStdString();

    server.slotTransfer(QByteArray("two"));
    server.slotTransfer(QByteArray("three"));
    ASSERT_TRUE(staying.waitForMessages(3));
    EXPECT_EQ(staying.message(1), QByteArray("two"));
    EXPECT_EQ(staying.message(2), QByteArray("three"));
    EXPECT_EQ(leaving->received.count(), 1);
    leaving.reset();

    // An abrupt drop (no close handshake) is noticed as well.
    staying.socket.abort();
    ASSERT_TRUE(waitForClients(0));
    server.slotTransfer(QByteArray("four"));
}

// A client that stops reading is closed once its unsent backlog passes the
// bound; the service's memory stays bounded and the reading clients get
// every message.
TEST_F(WebSocketServerTest, AClientThatDoesNotReadIsClosedAndTheOthersGoOn)
{
    server.setMaxBacklogBytes(4 * 1024 * 1024);
    Client reader;
    ASSERT_TRUE(reader.open(server.serverPort()));

    const auto stalled = TestSupport::stalledWebSocket(server.serverPort(), waitMs);
    ASSERT_TRUE(stalled);
    ASSERT_TRUE(waitForClients(2));

    LogCapture log;
    const QByteArray block(64 * 1024, '\x5A');
    const int messages = 600; // 37.5 MiB: more than the kernel's buffers and the bound together
    for (int i = 0; i < messages; ++i) {
        server.slotTransfer(block);
        QTest::qWait(1);
    }
    ASSERT_TRUE(waitForClients(1)) << "the stalled client is still served";
    EXPECT_TRUE(log.contains(QStringLiteral("client too slow, closed:"))) << log.all().toStdString();
    ASSERT_TRUE(reader.waitForMessages(messages));
    EXPECT_EQ(reader.received.count(), messages);
}

// A client that pings and never reads makes the server queue a pong per
// ping, though the port broadcasts nothing: it is cut at its bound too.
TEST_F(WebSocketServerTest, AClientThatPingsAndNeverReadsIsCutAtItsBound)
{
    server.setMaxBacklogBytes(1024 * 1024);
    LogCapture log;
    ASSERT_TRUE(TestSupport::serverCutsPingFlood(server.serverPort()));
    EXPECT_TRUE(waitForClients(0));
    EXPECT_TRUE(log.contains(QStringLiteral("client too slow, closed:"))) << log.all().toStdString();
}

// Each stalled client stays under its own bound; together they pass the
// server's, and the server sheds them instead of holding it all.
TEST_F(WebSocketServerTest, StalledClientsTogetherAreCutAtTheServersBound)
{
    server.setMaxBacklogBytes(64 * 1024 * 1024);
    server.setMaxTotalBacklogBytes(12 * 1024 * 1024);
    Client reader;
    ASSERT_TRUE(reader.open(server.serverPort()));
    std::vector<std::unique_ptr<QTcpSocket>> stalled;
    for (int i = 0; i < 3; ++i) {
        stalled.push_back(TestSupport::stalledWebSocket(server.serverPort(), waitMs));
        ASSERT_TRUE(stalled.back());
    }
    ASSERT_TRUE(waitForClients(4));

    LogCapture log;
    const QByteArray block(64 * 1024, '\x5A');
    const int messages = 400; // 25 MiB to each client
    for (int i = 0; i < messages; ++i) {
        server.slotTransfer(block);
        QTest::qWait(1);
    }
    ASSERT_TRUE(waitForClients(1)) << "stalled clients are still served";
    EXPECT_TRUE(log.contains(QStringLiteral("clients too slow together"))) << log.all().toStdString();
    ASSERT_TRUE(reader.waitForMessages(messages));
    EXPECT_EQ(reader.received.count(), messages);
}

TEST_F(WebSocketServerTest, AMessageLargerThanAClientMaySendClosesItsSender)
{
    Client small, large;
    ASSERT_TRUE(small.open(server.serverPort()));
    ASSERT_TRUE(large.open(server.serverPort()));
    ASSERT_TRUE(waitForClients(2));

    small.socket.sendTextMessage(QString(100, QLatin1Char('s')));
    large.socket.sendBinaryMessage(QByteArray(1024 * 1024, 'L'));
    EXPECT_TRUE(QTest::qWaitFor([&] { return large.socket.state() == QAbstractSocket::UnconnectedState; }, waitMs));
    EXPECT_TRUE(waitForClients(1));
    EXPECT_EQ(small.socket.state(), QAbstractSocket::ConnectedState);
}

TEST_F(WebSocketServerTest, ClientsBeyondThePortsBoundAreRefused)
{
    server.setMaxClients(2);
    Client first, second, third;
    ASSERT_TRUE(first.open(server.serverPort()));
    ASSERT_TRUE(second.open(server.serverPort()));
    ASSERT_TRUE(waitForClients(2));
    QSignalSpy refused(&third.socket, &QWebSocket::disconnected);
    third.socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(server.serverPort())));
    ASSERT_TRUE(refused.wait(waitMs));
    EXPECT_NE(third.socket.state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(server.clientCount(), 2);

    // A place that frees up is taken again.
    first.socket.close();
    ASSERT_TRUE(waitForClients(1));
    Client fourth;
    EXPECT_TRUE(fourth.open(server.serverPort()));
}

TEST_F(WebSocketServerTest, AClientThatLeftGivesItsConnectionBack)
{
    Tavrix::Net::WebApi::ConnectionLimits limits(100, 100);
    server.setConnectionLimits(&limits);
    for (int round = 0; round < 3; ++round) {
        {
            Client client;
            ASSERT_TRUE(client.open(server.serverPort()));
            ASSERT_TRUE(waitForClients(1));
            EXPECT_EQ(limits.openCount(), 1);
        }
        ASSERT_TRUE(waitForClients(0));
        EXPECT_TRUE(QTest::qWaitFor([&] { return limits.openCount() == 0; }, waitMs)) << "round " << round;
    }
    server.setConnectionLimits(nullptr);
}

TEST_F(WebSocketServerTest, ASecondServerOnTheSamePortLogsListenError)
{
    ASSERT_TRUE(server.isListening());
    const unsigned short port = server.serverPort();
    LogCapture log;
    WebSocketServer second(port, QHostAddress(QHostAddress::LocalHost));
    EXPECT_FALSE(second.isListening());
    EXPECT_TRUE(log.contains(QStringLiteral("listen error %1").arg(port))) << log.all().toStdString();
    second.slotTransfer(QByteArray("harmless"));
    EXPECT_EQ(second.clientCount(), 0);
}

TEST(WebSocketServer, DestroyedWithClientsConnected)
{
    auto server = std::make_unique<WebSocketServer>(0, QHostAddress(QHostAddress::LocalHost));
    Client client;
    ASSERT_TRUE(client.open(server->serverPort()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->clientCount() == 1; }, waitMs));
    server.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return client.socket.state() == QAbstractSocket::UnconnectedState; }, waitMs));
}

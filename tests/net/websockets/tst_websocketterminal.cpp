#include "common/jconfig.h"
#include "common/jmessagehandler.h"
#include "common/jterminal.h"
#include "net/webapi/exeget.h"
#include "net/webapi/exepost.h"
#include "net/webapi/securityheaders.h"
#include "net/webapi/webapiserver.h"
#include "net/websockets/websocketterminal.h"
#include "net/websockets/webterminalexeget.h"
#include "support/pingflood.h"
#include "support/stalledwebsocket.h"
#include "support/terminalfixture.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QEventLoop>
#include <QWebSocket>
#include <cstdio>
#include <gtest/gtest.h>
#include <thread>

using namespace Tavrix::Common;
using namespace Tavrix::Net::WebSockets;
using namespace Tavrix::Net::WebApi;

namespace {

// A terminal client that keeps every text message it receives.
class TerminalClient
{
public:
    explicit TerminalClient(quint16 port)
    {
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived,
                         [this](const QString& message) { messages.append(message); });
        m_socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    }
    bool waitConnected()
    {
        return QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, 5000);
    }
    void send(const QString& text) { m_socket.sendTextMessage(text); }
    void close() { m_socket.close(); }

    // The "Text" members of the received lines that start with `prefix`.
    QStringList texts(const QString& prefix) const
    {
        QStringList result;
        for (const QString& message : messages) {
            const QString text = QJsonDocument::fromJson(message.toUtf8()).object().value("Text").toString();
            if (text.startsWith(prefix))
                result.append(text);
        }
        return result;
    }

    QStringList messages;

private:
    QWebSocket m_socket;
};

QByteArray readConsole(FILE* file)
{
    std::fflush(file);
    std::rewind(file);
    QByteArray text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, static_cast<int>(n));
    return text;
}

class WebSocketTerminalTest : public TestSupport::TerminalFixture<>
{
protected:
    std::unique_ptr<TerminalClient> connectClient()
    {
        const int before = m_terminal->clientCount();
        auto client = std::make_unique<TerminalClient>(m_terminal->serverPort());
        EXPECT_TRUE(client->waitConnected());
        EXPECT_TRUE(QTest::qWaitFor([&] { return m_terminal->clientCount() == before + 1; }, 5000));
        return client;
    }
};

} // namespace

TEST(WebSocketTerminalFrame, IsCompactJsonWithTheColourDigitCode)
{
    char time[] = "[10:11:12.013]";
    EXPECT_EQ(WebSocketTerminalFrame::exe(1, time, "Debug", "Error: \"x\""),
              R"({"Color":49,"Text":"Error: \"x\"","Time":"[10:11:12.013]","Type":"Debug"})");
    EXPECT_EQ(WebSocketTerminalFrame::exe('0', time, "Debug", ""),
              R"({"Color":48,"Text":"","Time":"[10:11:12.013]","Type":"Debug"})");
}

TEST_F(WebSocketTerminalTest, EveryLogLineReachesEveryClientAsTheSameJson)
{
    JTerminal('0') << "before any client";
    auto first = connectClient();
    auto second = connectClient();
    JTerminal('1') << "probe one";
    JTerminal('3') << "probe two";
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return second->texts("probe").size() == 2 && first->texts("probe").size() == 2; }, 5000));

    const QRegularExpression line(
        R"(^\{"Color":49,"Text":"probe one","Time":"\[\d\d:\d\d:\d\d\.\d\d\d\]","Type":"Debug"\}$)");
    QString firstProbe;
    for (const QString& message : first->messages) {
        if (message.contains("probe one"))
            firstProbe = message;
    }
    EXPECT_TRUE(line.match(firstProbe).hasMatch()) << firstProbe.toStdString();
    EXPECT_TRUE(second->messages.contains(firstProbe));
    EXPECT_EQ(first->texts("probe"), QStringList({"probe one", "probe two"}));
    EXPECT_TRUE(first->texts("before any client").isEmpty());
}

TEST_F(WebSocketTerminalTest, AClientThatDoesNotReadIsClosedAndTheOthersGoOn)
{
    m_terminal->setMaxBacklogBytes(256 * 1024);
    auto reader = connectClient();
    const auto stalled = TestSupport::stalledWebSocket(m_terminal->serverPort());
    ASSERT_TRUE(stalled);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_terminal->clientCount() == 2; }, 5000));

    const QString filler(2000, QLatin1Char('f'));
    const int lines = 8000; // 16 MB of log: past the kernel's buffers and the bound
    const int before = reader->messages.size();
    for (int i = 0; i < lines; ++i) {
        JTerminal('1') << "flood" << i << filler;
        // The reader shares this thread: it is let to keep up, so that only
        // the stalled client falls behind.
        if (i % 50 == 49)
            ASSERT_TRUE(QTest::qWaitFor([&] { return reader->messages.size() >= before + i + 1; }, 10000)) << i;
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_terminal->clientCount() == 1; }, 10000))
        << "the stalled client is still served";
    ASSERT_TRUE(QTest::qWaitFor([&] { return reader->texts("flood").size() == lines; }, 20000));
    EXPECT_TRUE(readConsole(m_console).contains("terminal client too slow, closed:"));
}

// The pongs of a client that pings and never reads count against its bound
// like log lines do, though the terminal itself sends it nothing.
TEST_F(WebSocketTerminalTest, AClientThatPingsAndNeverReadsIsCutAtItsBound)
{
    m_terminal->setMaxBacklogBytes(1024 * 1024);
    ASSERT_TRUE(TestSupport::serverCutsPingFlood(m_terminal->serverPort()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_terminal->clientCount() == 0; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return readConsole(m_console).contains("terminal client too slow, closed:"); }, 5000));
}

TEST_F(WebSocketTerminalTest, AMessageLargerThanAClientMaySendClosesItsSender)
{
    auto sender = connectClient();
    auto other = connectClient();
    sender->send(QString(HandshakeGate::maxIncomingMessageBytes + 1, QLatin1Char('x')));
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_terminal->clientCount() == 1; }, 5000));
    JTerminal('0') << "still here";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !other->texts("still here").isEmpty(); }, 5000));
}

TEST_F(WebSocketTerminalTest, LinesFromOtherThreadsArriveCompleteAndInOrder)
{
    auto client = connectClient();
    const int count = 300;
    std::thread writer([] {
        for (int i = 0; i < count; ++i)
            JTerminal('0') << "worker line" << i;
    });
    // Lines logged here at the same time must not disturb the worker's order.
    for (int i = 0; i < 50; ++i) {
        JTerminal('0') << "main line" << i;
        QCoreApplication::processEvents();
    }
    writer.join();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return client->texts("worker line").size() == count && client->texts("main line").size() == 50; },
        10000))
        << client->texts("worker line").size() << " " << client->texts("main line").size();
    QStringList expected;
    for (int i = 0; i < count; ++i)
        expected.append(QStringLiteral("worker line %1").arg(i));
    EXPECT_EQ(client->texts("worker line"), expected);
}

TEST_F(WebSocketTerminalTest, ConnectionSignalsMarkTheFirstArrivalAndTheLastDeparture)
{
    QSignalSpy connected(m_terminal.get(), &WebSocketTerminal::signalConnection);
    QSignalSpy disconnected(m_terminal.get(), &WebSocketTerminal::signalDisConnection);
    auto first = connectClient();
    auto second = connectClient();
    EXPECT_EQ(connected.count(), 1);
    EXPECT_TRUE(m_terminal->isActive());

    first->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_terminal->clientCount() == 1; }, 5000));
    EXPECT_EQ(disconnected.count(), 0);
    second->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return disconnected.count() == 1; }, 5000));
    EXPECT_FALSE(m_terminal->isActive());
    EXPECT_TRUE(readConsole(m_console).contains("all external terminals are off \n"));

    // A line logged now goes to the console only; a new client starts clean.
    JTerminal('0') << "after everyone left";
    auto third = connectClient();
    EXPECT_EQ(connected.count(), 2);
    QTest::qWait(50);
    EXPECT_TRUE(third->texts("after everyone left").isEmpty());
}

TEST_F(WebSocketTerminalTest, QuestionMarkListsTheParameters)
{
    if (!JConfig::hasRg("terminalTestParameter"))
        JConfig::addRg("terminalTestParameter", QStringLiteral("value42"));
    auto client = connectClient();
    client->send("?");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !client->texts("\"terminalTestParameter\"").isEmpty(); }, 5000));
    EXPECT_EQ(client->texts("\"terminalTestParameter\"").first(),
              R"("terminalTestParameter" = QVariant(QString, "value42"))");
}

// Runs only as the child process of ExitEndsTheProcessAndOtherWordsDoNot.
TEST(TerminalChild, DISABLED_RunsUntilExit)
{
    if (qEnvironmentVariableIsEmpty("DASTEL_TERMINAL_CHILD"))
        GTEST_SKIP() << "started by the exit test only";
    qInstallMessageHandler(&JMessageHandler::handler);
    WebSocketTerminal terminal(0, QHostAddress::LocalHost);
    JMessageHandler::ExtTerminal(&terminal, true);
    if (!JConfig::hasRg("childParameter"))
        JConfig::addRg("childParameter", QStringLiteral("alive"));
    std::printf("TERMINAL PORT %d\n", terminal.serverPort());
    std::fflush(stdout);
    const int code = QCoreApplication::exec();
    JMessageHandler::ExtTerminal(&terminal, false);
    std::printf("EVENT LOOP ENDED %d\n", code);
    std::fflush(stdout);
    std::_Exit(code);
}

TEST(WebSocketTerminalExit, ExitEndsTheProcessAndOtherWordsDoNot)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DASTEL_TERMINAL_CHILD", "1");
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    QByteArray output;
    QObject::connect(&child, &QProcess::readyRead, [&] { output += child.readAll(); });
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=TerminalChild.DISABLED_RunsUntilExit", "--gtest_also_run_disabled_tests"});
    const QRegularExpression portLine("TERMINAL PORT (\\d+)");
    ASSERT_TRUE(QTest::qWaitFor([&] { return portLine.match(output).hasMatch(); }, 10000)) << output.constData();
    const quint16 port = static_cast<quint16>(portLine.match(output).captured(1).toUInt());

    TerminalClient client(port);
    ASSERT_TRUE(client.waitConnected());
    client.send("Exit");
    client.send("?");
    // Still running after "Exit": it answers "?" with its parameters.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !client.texts("\"childParameter\"").isEmpty(); }, 5000));
    EXPECT_EQ(child.state(), QProcess::Running);

    client.send("exit");
    ASSERT_TRUE(QTest::qWaitFor([&] { return child.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0);
    EXPECT_TRUE(output.contains("EVENT LOOP ENDED 0")) << output.constData();
}

namespace {

class TerminalPageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_saved = JConfig::all();
        JConfig::clear();
        m_console = std::tmpfile();
        JMessageHandler::setConsole(m_console, m_console);
        m_previousHandler = qInstallMessageHandler(&JMessageHandler::handler);

        QDir(m_appDir.path()).mkpath("terminal");
        QFile page(m_appDir.filePath("terminal/index.html"));
        ASSERT_TRUE(page.open(QIODevice::WriteOnly));
        page.write("<p>terminal</p>");
        page.close();

        m_page.setApplicationDirectory(m_appDir.path());
        m_get.insert("__file", &m_error);
        m_get.insert("__err", &m_error);
        m_get.insert("terminal", &m_page);
        m_post.insert("__err", &m_postError);
        m_server = std::make_unique<WebApiServer>(0, m_get, m_post, nullptr, QHostAddress::LocalHost);
        ASSERT_TRUE(m_server->isListening());
    }
    void TearDown() override
    {
        m_server.reset();
        JConfig::clear();
        for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it)
            JConfig::addRg(it.key(), it.value());
        qInstallMessageHandler(m_previousHandler);
        JMessageHandler::setConsole(nullptr, nullptr);
        std::fclose(m_console);
    }

    QByteArray requestPage()
    {
        QTcpSocket socket;
        QByteArray received;
        QObject::connect(&socket, &QTcpSocket::readyRead, [&] { received += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, m_server->serverPort());
        socket.write("GET /terminal HTTP/1.1\r\n\r\n");
        EXPECT_TRUE(QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 5000));
        return received + socket.readAll();
    }

    const QByteArray m_cors = "Access-Control-Allow-Origin: *\r\nAccess-Control-Allow-Headers: Content-Type\r\n" + SecurityHeaders::lines();
    QMap<QString, QVariant> m_saved;
    QTemporaryDir m_appDir;
    WebTerminalExeGet m_page;
    exeGetError m_error;
    exePostError m_postError;
    QMap<QString, exeGet*> m_get;
    QMap<QString, exePost*> m_post;
    std::unique_ptr<WebApiServer> m_server;
    FILE* m_console = nullptr;
    QtMessageHandler m_previousHandler = nullptr;
};

} // namespace

TEST_F(TerminalPageTest, WithoutThePathParameterThePageIsNotFoundAndTheProcessRuns)
{
    EXPECT_EQ(requestPage(), "HTTP/1.1 404 Error; not found : PathToWebTerminal\r\n" + m_cors + "\r\n");
    // A quit request would make this loop end at once with -1.
    QEventLoop loop;
    QTimer::singleShot(30, &loop, [&] { loop.exit(7); });
    EXPECT_EQ(loop.exec(), 7);
    EXPECT_FALSE(JConfig::hasRg("PathToWebTerminal")) << "the lookup must not invent the parameter";
}

TEST_F(TerminalPageTest, ServesTheTerminalPageFromTheConfiguredDirectory)
{
    JConfig::addRg("PathToWebTerminal", QStringLiteral("terminal/"));
    EXPECT_EQ(requestPage(),
              "HTTP/1.1 200 OK\r\n" + m_cors + "Content-Type: text/html; charset=utf8;\r\n\r\n<p>terminal</p>");
}

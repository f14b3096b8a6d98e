#include "common/jmessagehandler.h"
#include "archive/signalrecorder.h"
#include "net/webapi/accesspolicy.h"
#include "net/webapi/connectionlimits.h"
#include "net/webapi/directoryqueue.h"
#include "net/webapi/exeget.h"
#include "net/webapi/exegetfilehtml.h"
#include "net/webapi/exegetconfigfile.h"
#include "net/webapi/exegetevent.h"
#include "net/webapi/exegetflash.h"
#include "net/webapi/exegetrecordings.h"
#include "net/webapi/exepost.h"
#include "net/webapi/exepostconfigfile.h"
#include "net/webapi/jsoncommandanswer.h"
#include "net/webapi/jsoncommandfactory.h"
#include "net/webapi/jsonwebapicommandwrapper.h"
#include "net/webapi/securityheaders.h"
#include "net/webapi/webapiserver.h"
#include "support/loopbacksocket.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimer>
#include <gtest/gtest.h>

#include <cerrno>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Tavrix::Net::WebApi;

namespace {

// Every answer carries the security headers right after the CORS ones.
const QByteArray cors = "Access-Control-Allow-Origin: *\r\nAccess-Control-Allow-Headers: Content-Type\r\n" + SecurityHeaders::lines();

QByteArray statusOnly(const QByteArray& status)
{
    return "HTTP/1.1 " + status + "\r\n" + cors + "\r\n";
}

QByteArray ok(const QByteArray& contentType, const QByteArray& body)
{
    return "HTTP/1.1 200 OK\r\n" + cors + "Content-Type: " + contentType + "\r\n\r\n" + body;
}

// A file sent from disk a piece at a time: its length announced, the
// connection closed after it.
QByteArray streamed(const QByteArray& contentType, const QByteArray& body)
{
    return "HTTP/1.1 200 OK\r\n" + cors + "Content-Type: " + contentType + "\r\nContent-Length: "
           + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

QByteArray postRequest(const QByteArray& route, const QByteArray& body)
{
    return "POST /" + route + " HTTP/1.1\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// A raw client: sends each chunk as its own read on the server side, then
// collects everything until the server closes the connection.
struct Exchange
{
    QByteArray received;
    bool closedByServer = false;
};

Exchange exchange(quint16 port, const QList<QByteArray>& chunks, int waitMs = 5000)
{
    Exchange result;
    QTcpSocket socket;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { result.received += socket.readAll(); });
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 5000))
        return result;
    for (int i = 0; i < chunks.size(); ++i) {
        socket.write(chunks[i]);
        socket.flush();
        if (i + 1 < chunks.size())
            QTest::qWait(60); // let the server read this chunk on its own
    }
    result.closedByServer =
        QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, waitMs);
    result.received += socket.readAll();
    return result;
}

// Answers with the body it got, counting its calls.
class EchoPost : public exePost
{
public:
    void exe(ParsingURI&, QByteArray& body, QTcpSocket* socket) override
    {
        ++calls;
        m_makeResponse->ret200("txt", body);
        sentResponse(socket);
    }
    int calls = 0;
};

// The JSON command route as the device side will run it, without a device:
// request envelope, factory lookup, start, answer.
class TestJsonRoute : public exePost
{
public:
    explicit TestJsonRoute(JsonCommandFactory& factory)
        : m_factory(factory)
    {
    }

    void exe(ParsingURI&, QByteArray& body, QTcpSocket* socket) override
    {
        const QJsonDocument document = QJsonDocument::fromJson(body);
        if (!document.isObject()) {
            m_makeResponse->retError("400 Bad Request");
            sentResponse(socket);
            return;
        }
        const QVariantMap request = document.object().toVariantMap();
        const QString name = request.value("cmd").toString();
        const uint32_t uid = request.value("uid").toUInt();
        const auto item = m_factory.find(name.toStdString());
        std::string failure;
        if (!item) {
            failure = "NOT_EXIST";
        } else {
            auto info = std::make_shared<VariantJsonCommandInfo>(name.toStdString(), uid, request.value("data"));
            const bool started = JsonWebApiCommandWrapper::start(
                *item, info, socket, this,
                [this](JsonWebApiCommandWrapper* wrapper, QJsonDocument answer,
                       std::shared_ptr<JsonCommandStatus> status) {
                    JsonCommandAnswer::write(*m_makeResponse, wrapper, answer, status);
                });
            if (started)
                return;
            failure = "BAD_DATA";
        }
        m_makeResponse->ret200("json",
                               JsonCommandAnswer::toBytes(JsonCommandAnswer::failureBeforeStart(name, uid, failure)));
        sentResponse(socket);
    }

private:
    JsonCommandFactory& m_factory;
};

int liveCommands = 0;

// Data {"delay": ms, "fail": "CODE", "answer": any, "reject": true}.
class ScriptedCommand : public JsonCommand
{
public:
    explicit ScriptedCommand(std::shared_ptr<JsonCommandDescription> description)
        : JsonCommand(std::move(description))
    {
        ++liveCommands;
    }
    ~ScriptedCommand() override { --liveCommands; }

    std::shared_ptr<JsonCommandStatus> execute(std::shared_ptr<IJsonCommandInfo> info) override
    {
        m_uid = info->m_uid;
        const QVariantMap data = static_cast<VariantJsonCommandInfo*>(info.get())->m_data.toMap();
        if (data.value("reject").toBool())
            return std::make_shared<ErrorJsonCommandStatus>("TIMEOUT");
        const QJsonDocument answer = QJsonDocument::fromVariant(data.value("answer"));
        std::shared_ptr<JsonCommandStatus> status = std::make_shared<OkJsonCommandStatus>();
        if (data.contains("fail"))
            status = std::make_shared<ErrorJsonCommandStatus>(data.value("fail").toString().toStdString());
        if (!data.contains("delay")) {
            emit answerIsReady(this, answer, status);
        } else {
            QTimer::singleShot(data.value("delay").toInt(), this, [this, answer, status] {
                emit answerIsReady(this, answer, status);
            });
        }
        return std::make_shared<OkJsonCommandStatus>();
    }
};

class WebApiServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Keep the server's log lines out of the test output.
        m_previousHandler = qInstallMessageHandler(&Tavrix::Common::JMessageHandler::handler);
        m_console = std::tmpfile();
        Tavrix::Common::JMessageHandler::setConsole(m_console, m_console);

        ASSERT_TRUE(m_appDir.isValid());
        write("web/index.html", "<html>index</html>");
        write("web/logo.png", "PNG");
        write("web/data.json", "{\"a\":1}");
        write("web/style.css", "b{}");
        write("web/sub/page.html", "sub page");
        write("web/a..b.txt", "dots");
        write("extra/app.js", "var x;");
        write("secret.txt", "SECRET");
        m_directories.append("web");
        m_directories.append("extra");
        m_file = new exeGetFileHtml(&m_directories, "web");
        m_file->setApplicationDirectory(m_appDir.path());

        m_get.insert("__file", m_file);
        m_get.insert("__err", &m_getError);
        m_post.insert("__err", &m_postError);
        m_post.insert("echo", &m_echo);
        m_post.insert("cmd", &m_route);
        m_configGet = std::make_unique<exeGetConfigFile>(path("web/data.json"));
        m_configPost = std::make_unique<exePostConfigFile>(path("written.json"));
        m_unwritablePost = std::make_unique<exePostConfigFile>(path("no/such/dir/x.json"));
        m_get.insert("event", &m_event);
        m_get.insert("flash", &m_flash);
        m_get.insert("config", m_configGet.get());
        m_post.insert("config", m_configPost.get());
        m_post.insert("unwritable", m_unwritablePost.get());
        m_factory.add<ScriptedCommand>(std::make_shared<JsonCommandDescription>(
            "RunScript", std::make_shared<NamelessEmptyJsonCommandUnit>(),
            std::make_shared<NamelessEmptyJsonCommandUnit>()));

        m_server = std::make_unique<WebApiServer>(0, m_get, m_post, nullptr, QHostAddress::LocalHost);
        ASSERT_TRUE(m_server->isListening());
        m_port = m_server->serverPort();
    }

    void TearDown() override
    {
        m_server.reset();
        delete m_file;
        Tavrix::Common::JMessageHandler::setConsole(nullptr, nullptr);
        qInstallMessageHandler(m_previousHandler);
        std::fclose(m_console);
    }

    void write(const QString& relative, const QByteArray& content)
    {
        const QString path = m_appDir.filePath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    QByteArray get(const QByteArray& target)
    {
        return exchange(m_port, {"GET " + target + " HTTP/1.1\r\nHost: localhost\r\n\r\n"}).received;
    }

    QJsonObject command(const QByteArray& body)
    {
        const Exchange result = exchange(m_port, {postRequest("cmd", body)});
        const QByteArray head = "HTTP/1.1 200 OK\r\n" + cors + "Content-Type: application/json\r\n\r\n";
        EXPECT_TRUE(result.closedByServer);
        EXPECT_TRUE(result.received.startsWith(head)) << result.received.constData();
        m_lastAnswerBody = result.received.mid(head.size());
        return QJsonDocument::fromJson(m_lastAnswerBody).object();
    }

    QString path(const QString& relative) const { return m_appDir.path() + "/" + relative; }

    QTemporaryDir m_appDir;
    DirectoryQueue m_directories;
    exeGetFileHtml* m_file = nullptr;
    exeGetError m_getError;
    exePostError m_postError;
    EchoPost m_echo;
    exeGetEvent m_event;
    exeGetFlash m_flash;
    std::unique_ptr<exeGetConfigFile> m_configGet;
    std::unique_ptr<exePostConfigFile> m_configPost;
    std::unique_ptr<exePostConfigFile> m_unwritablePost;
    JsonCommandFactory m_factory;
    TestJsonRoute m_route{m_factory};
    QMap<QString, exeGet*> m_get;
    QMap<QString, exePost*> m_post;
    std::unique_ptr<WebApiServer> m_server;
    quint16 m_port = 0;
    QByteArray m_lastAnswerBody;
    QtMessageHandler m_previousHandler = nullptr;
    FILE* m_console = nullptr;
};

} // namespace

TEST_F(WebApiServerTest, AnswersWithExactStatusLinesAndClosesTheConnection)
{
    const QByteArray notImplemented = statusOnly("501 Error; Not Implemented");
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"GET /x HTTP/1.0\r\n\r\n", notImplemented},
        {"PUT /cmd HTTP/1.1\r\n\r\n", notImplemented},
        {"get / HTTP/1.1\r\n\r\n", notImplemented},
        {"GET  / HTTP/1.1\r\n\r\n", notImplemented},
        {"\x01\x02 garbage \xff\r\n\r\n", notImplemented},
        {"POST /nowhere HTTP/1.1\r\n\r\n", notImplemented},
        {"GET /__err HTTP/1.1\r\n\r\n", notImplemented},
        {"OPTIONS /anything?x=1 HTTP/1.1\r\n\r\n",
         "HTTP/1.1 200 OK\r\n" + cors
             + "Access-Control-Allow-Methods: POST, GET, OPTIONS\r\nAccess-Control-Max-Age: 86400\r\n\r\n"},
        {"GET /missing.html HTTP/1.1\r\n\r\n",
         statusOnly("404 Error; not found : " + path("web/missing.html").toUtf8())},
    };
    for (const auto& [request, expected] : cases) {
        const Exchange result = exchange(m_port, {request});
        EXPECT_TRUE(result.closedByServer) << request.constData();
        EXPECT_EQ(result.received, expected) << request.constData();
    }
}

// Spelled out here rather than taken from the server's code: these are
// what browsers must see on every answer, refusals included.
TEST_F(WebApiServerTest, EveryAnswerForbidsForeignFramesInlineScriptsAndSniffing)
{
    const QByteArray required[] = {
        "\r\nX-Frame-Options: SAMEORIGIN\r\n",
        "\r\nX-Content-Type-Options: nosniff\r\n",
        "\r\nReferrer-Policy: no-referrer\r\n",
    };
    const QByteArray overLongHeader = "GET / HTTP/1.1\r\nX-Filler: " + QByteArray(70 * 1024, 'f') + "\r\n\r\n";
    const QByteArray requests[] = {
        "GET / HTTP/1.1\r\n\r\n",
        "GET /style.css HTTP/1.1\r\n\r\n",
        "GET /missing.html HTTP/1.1\r\n\r\n",
        "GET /../secret.txt HTTP/1.1\r\n\r\n",
        "GET /flash/ HTTP/1.1\r\n\r\n",
        "OPTIONS /cmd HTTP/1.1\r\n\r\n",
        postRequest("echo", "x"),
        postRequest("cmd", "[]"),
        "POST /echo HTTP/1.1\r\nContent-Length: x\r\n\r\n",
        "PUT / HTTP/1.1\r\n\r\n",
        overLongHeader,
    };
    for (const QByteArray& request : requests) {
        const Exchange result = exchange(m_port, {request});
        const QByteArray head = result.received.left(result.received.indexOf("\r\n\r\n") + 2);
        ASSERT_TRUE(head.startsWith("HTTP/1.1 ")) << request.left(40).constData();
        for (const QByteArray& line : required)
            EXPECT_TRUE(head.contains(line)) << request.left(40).constData() << " lacks " << line.constData();
        const int policy = head.indexOf("\r\nContent-Security-Policy: ");
        ASSERT_GE(policy, 0) << request.left(40).constData();
        const QByteArray csp = head.mid(policy + 2, head.indexOf("\r\n", policy + 2) - policy - 2);
        EXPECT_TRUE(csp.contains("frame-ancestors 'self'")) << csp.constData();
        // Scripts from the service's own files only: no inline script, no eval.
        EXPECT_TRUE(csp.contains("script-src 'self';")) << csp.constData();
    }
}

// A transfer coding this server does not decode must never run a request
// whose end it would judge differently from a proxy in front of it.
TEST_F(WebApiServerTest, RequestsWithATransferCodingAreRefusedAndNeverRun)
{
    struct Case
    {
        const char* name;
        QByteArray request;
        QByteArray status;
    };
    const Case cases[] = {
        {"length and chunked", "POST /echo HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\nhello",
         "400 Bad Request"},
        {"chunked and length, lower case",
         "POST /echo HTTP/1.1\r\ntransfer-encoding: chunked\r\ncontent-length: 4\r\n\r\n0\r\n\r\n", "400 Bad Request"},
        {"chunked alone", "POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
         "501 Not Implemented"},
        {"identity", "POST /echo HTTP/1.1\r\nTransfer-Encoding: identity\r\n\r\nhello", "501 Not Implemented"},
        {"empty value", "POST /echo HTTP/1.1\r\nTransfer-Encoding:\r\nContent-Length: 2\r\n\r\nhi", "400 Bad Request"},
        {"on a GET of a UI file", "GET /style.css HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
         "501 Not Implemented"},
    };
    for (const Case& c : cases) {
        m_echo.calls = 0;
        const Exchange result = exchange(m_port, {c.request});
        EXPECT_TRUE(result.closedByServer) << c.name;
        EXPECT_EQ(result.received, statusOnly(c.status)) << c.name;
        EXPECT_EQ(m_echo.calls, 0) << c.name;
    }
}

// An accept error that is not temporary (no descriptor left) makes
// QTcpServer pause accepting; the server resumes on its own and answers again.
TEST_F(WebApiServerTest, AcceptsAgainAfterAnAcceptErrorThatIsNotTemporary)
{
    m_server->pauseAccepting();
    emit m_server->acceptError(QAbstractSocket::SocketResourceError);
    EXPECT_EQ(get("/style.css"), ok("text/css; charset=utf8;", "b{}"));
}

TEST_F(WebApiServerTest, ServesStaticFilesWithTheirContentTypes)
{
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"/", ok("text/html; charset=utf8;", "<html>index</html>")},
        {"/index.html?v=2", ok("text/html; charset=utf8;", "<html>index</html>")},
        {"/app.js", ok("text/javascript; charset=utf8;", "var x;")}, // only in the second directory
        {"/style.css", ok("text/css; charset=utf8;", "b{}")},
        {"/data.json", ok("application/json", "{\"a\":1}")},
        {"/logo.png", ok("text/plain; charset=utf8;", "PNG")},
        {"/sub/page.html", ok("text/html; charset=utf8;", "sub page")},
        {"/a..b.txt", ok("text/plain; charset=utf8;", "dots")},
    };
    for (const auto& [target, expected] : cases)
        EXPECT_EQ(get(target), expected) << target.constData();
}

TEST_F(WebApiServerTest, IndexRequestMovesTheDefaultDirectoryToTheFront)
{
    m_directories.SetLastName("extra");
    get("/");
    EXPECT_EQ(m_directories.names(), QStringList({"web", "extra"}));
}

TEST_F(WebApiServerTest, PathsClimbingOutOfTheWebDirectoriesAreRefused)
{
    const QByteArray targets[] = {
        "/../secret.txt",          "/sub/../../secret.txt",  "/%2e%2e/secret.txt",
        "/%2E%2e/secret.txt",      "/.%2e/secret.txt",       "/sub/..%2f..%2fsecret.txt",
        "/..\\secret.txt",         "/sub\\..\\..\\secret.txt", "/..%5csecret.txt",
        "/../web/index.html",      "/%00index.html",
    };
    for (const QByteArray& target : targets) {
        const QByteArray answer = get(target);
        EXPECT_EQ(answer, statusOnly("404 Error; not found : " + path("web/").toUtf8() + target.mid(1)))
            << target.constData();
        EXPECT_FALSE(answer.contains("SECRET"));
    }
}

TEST_F(WebApiServerTest, SymbolicLinksLeadingOutOfTheWebDirectoriesAreRefused)
{
    ASSERT_TRUE(QFile::link(path("secret.txt"), path("web/escape.txt")));
    ASSERT_TRUE(QFile::link(m_appDir.path(), path("web/up")));
    ASSERT_TRUE(QFile::link(path("secret.txt"), path("extra/escape2.txt")));
    ASSERT_TRUE(QFile::link(path("web/sub/page.html"), path("web/inside.html")));
    ASSERT_TRUE(QFile::link(path("web/sub"), path("web/insidedir")));
    ASSERT_TRUE(QFile::link(path("web/up"), path("web/sub/upagain")));
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"/sub/upagain/secret.txt", statusOnly("404 Error; not found : " + path("web/sub/upagain/secret.txt").toUtf8())},
        {"/insidedir/page.html", ok("text/html; charset=utf8;", "sub page")},
        {"/./sub//page.html", ok("text/html; charset=utf8;", "sub page")},
        {"/index.html/x", statusOnly("404 Error; not found : " + path("web/index.html/x").toUtf8())},
        {"/escape.txt", statusOnly("404 Error; not found : " + path("web/escape.txt").toUtf8())},
        {"/up/secret.txt", statusOnly("404 Error; not found : " + path("web/up/secret.txt").toUtf8())},
        {"/escape2.txt", statusOnly("404 Error; not found : " + path("extra/escape2.txt").toUtf8())},
        // A link that stays inside is served.
        {"/inside.html", ok("text/html; charset=utf8;", "sub page")},
    };
    for (const auto& [target, expected] : cases)
        EXPECT_EQ(get(target), expected) << target.constData();
}

TEST_F(WebApiServerTest, FilesKeptInMemoryAreServedAsTheyAreNow)
{
    // Kept from the first request on, so every later answer could be stale.
    m_file->setCacheSettleTime(0);
    ASSERT_TRUE(QFile::link(path("web/sub/page.html"), path("web/link.html")));
    EXPECT_EQ(get("/data.json"), ok("application/json", "{\"a\":1}"));
    EXPECT_EQ(get("/link.html"), ok("text/html; charset=utf8;", "sub page"));
    EXPECT_EQ(get("/style.css"), ok("text/css; charset=utf8;", "b{}"));
    EXPECT_GE(m_file->cache().entries(), 3);

    write("web/data.json", "{\"a\":2,\"b\":3}");
    EXPECT_EQ(get("/data.json"), ok("application/json", "{\"a\":2,\"b\":3}"));

    // A link turned to lead out is refused, though its old target's bytes were kept.
    ASSERT_TRUE(QFile::remove(path("web/link.html")));
    ASSERT_TRUE(QFile::link(path("secret.txt"), path("web/link.html")));
    EXPECT_EQ(get("/link.html"), statusOnly("404 Error; not found : " + path("web/link.html").toUtf8()));

    ASSERT_TRUE(QFile::remove(path("web/style.css")));
    EXPECT_EQ(get("/style.css"), statusOnly("404 Error; not found : " + path("web/style.css").toUtf8()));
    write("web/style.css", "i{}");
    EXPECT_EQ(get("/style.css"), ok("text/css; charset=utf8;", "i{}"));
}

// Whatever happens on disk between two requests for a file whose bytes are
// kept, the next answer is what a first request would get now.
TEST_F(WebApiServerTest, KeptFilesFollowEveryChangeOnDisk)
{
    struct Case
    {
        const char* name;
        QByteArray target;
        // Run in a fresh application directory holding web/data.json,
        // web/sub/page.html, extra/app.js and secret.txt.
        std::function<void(const QString& root)> change;
        // The answer a first request gets after the change.
        std::function<QByteArray(const QString& root)> expected;
    };
    auto put = [](const QString& file, const QByteArray& content) {
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(content);
    };
    auto missing = [](const char* relative) {
        return [relative](const QString& root) {
            return statusOnly("404 Error; not found : " + (root + "/" + relative).toUtf8());
        };
    };
    auto json = [](const QByteArray& body) { return [body](const QString&) { return ok("application/json", body); }; };
    // `path` removed and made a link to `target`, both under the root.
    auto linkInstead = [](const char* path, const char* target) {
        return [path, target](const QString& root) {
            ASSERT_TRUE(QFile::remove(root + path));
            ASSERT_TRUE(QFile::link(root + target, root + path));
        };
    };
    const Case cases[] = {
        {"file replaced by a rename", "/data.json",
         [&](const QString& root) {
             put(root + "/web/data.json.new", "{\"v\":2}");
             ASSERT_EQ(::rename(QFile::encodeName(root + "/web/data.json.new").constData(),
                                QFile::encodeName(root + "/web/data.json").constData()), 0);
         },
         json("{\"v\":2}")},
        {"web directory is a link turned to another directory", "/data.json", linkInstead("/web", "/web-two"),
         json("{\"v\":3}")},
        {"web directory moved away and another put in its place", "/data.json",
         [&](const QString& root) {
             ASSERT_TRUE(QDir().rename(root + "/web", root + "/web-old"));
             put(root + "/web/data.json", "{\"v\":4}");
         },
         json("{\"v\":4}")},
        {"file replaced by a link leading out", "/data.json", linkInstead("/web/data.json", "/secret.txt"),
         missing("web/data.json")},
        {"directory on the way replaced by a link leading out", "/sub/page.html",
         [&](const QString& root) {
             put(root + "/page.html", "SECRET PAGE");
             ASSERT_TRUE(QDir().rename(root + "/web/sub", root + "/web/sub-old"));
             ASSERT_TRUE(QFile::link(root, root + "/web/sub"));
         },
         missing("web/sub/page.html")},
        {"file removed", "/sub/page.html",
         [&](const QString& root) { ASSERT_TRUE(QFile::remove(root + "/web/sub/page.html")); },
         missing("web/sub/page.html")},
        {"file turned into a directory", "/data.json",
         [&](const QString& root) {
             ASSERT_TRUE(QFile::remove(root + "/web/data.json"));
             ASSERT_TRUE(QDir().mkpath(root + "/web/data.json"));
         },
         missing("web/data.json")},
        {"file put into an earlier web directory", "/app.js",
         [&](const QString& root) { put(root + "/web/app.js", "var first;"); },
         [](const QString&) { return ok("text/javascript; charset=utf8;", "var first;"); }},
    };
    m_file->setCacheSettleTime(0); // kept from the first request on
    for (const Case& c : cases) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString root = dir.path();
        // The web directory is a link to web-one, so that it can be turned.
        put(root + "/web-one/data.json", "{\"v\":1}");
        put(root + "/web-one/sub/page.html", "sub page");
        put(root + "/web-two/data.json", "{\"v\":3}");
        put(root + "/extra/app.js", "var x;");
        put(root + "/secret.txt", "SECRET");
        ASSERT_TRUE(QFile::link(root + "/web-one", root + "/web"));
        m_file->setApplicationDirectory(root);

        const QByteArray first = get(c.target);
        ASSERT_TRUE(first.startsWith("HTTP/1.1 200 OK\r\n")) << c.name << first.constData();
        EXPECT_EQ(get(c.target), first) << c.name; // now from memory
        c.change(root);
        const QByteArray after = get(c.target);
        EXPECT_EQ(after, c.expected(root)) << c.name;
        EXPECT_FALSE(after.contains("SECRET")) << c.name;
    }
}

TEST_F(WebApiServerTest, AccessPolicyGuardsRoutesButNotTheUi)
{
    auto policy = std::make_shared<AccessPolicy>();
    policy->setServicePort(m_port);
    policy->setAllowedOrigins({"https://app.example"});
    policy->setAccessToken("tok");
    m_server->setAccessPolicy(policy);
    const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(m_port) + "\r\n";
    const QByteArray own = "Origin: http://127.0.0.1:" + QByteArray::number(m_port) + "\r\n";
    const QByteArray bearer = "Authorization: Bearer tok\r\n";
    auto post = [](const QByteArray& headers) {
        return "POST /echo HTTP/1.1\r\n" + headers + "Content-Type: text/plain\r\nContent-Length: 2\r\n\r\nhi";
    };
    struct Case
    {
        QByteArray request;
        QByteArray status;
        bool executed;
    };
    const Case cases[] = {
        {post(host + bearer + "Origin: http://evil.example\r\n"), "HTTP/1.1 403 Forbidden", false},
        {post("Host: evil.example\r\n" + bearer), "HTTP/1.1 403 Forbidden", false},
        {post(host), "HTTP/1.1 401 Unauthorized", false},
        {post(host + own), "HTTP/1.1 401 Unauthorized", false},
        {post(host + "Authorization: Bearer tok2\r\n"), "HTTP/1.1 401 Unauthorized", false},
        {post(host + bearer + own), "HTTP/1.1 200 OK", true},
        {post(bearer), "HTTP/1.1 200 OK", true},
        {post(host + bearer + "Origin: https://app.example\r\n"), "HTTP/1.1 200 OK", true},
        {"GET /flash HTTP/1.1\r\n" + host + "\r\n", "HTTP/1.1 401 Unauthorized", false},
        {"GET /flash HTTP/1.1\r\n" + host + bearer + "Origin: http://evil.example\r\n\r\n", "HTTP/1.1 403 Forbidden", false},
        {"GET /index.html HTTP/1.1\r\n" + host + "Origin: http://evil.example\r\n\r\n", "HTTP/1.1 200 OK", false},
        {"GET /index.html HTTP/1.1\r\nHost: rebound.example\r\n\r\n", "HTTP/1.1 403 Forbidden", false},
        {"OPTIONS /echo HTTP/1.1\r\n" + host + "Origin: http://evil.example\r\n\r\n", "HTTP/1.1 403 Forbidden", false},
        {"OPTIONS /echo HTTP/1.1\r\n" + host + own + "\r\n", "HTTP/1.1 200 OK", false},
    };
    QSignalSpy flashRequests(&m_flash, &exeGetFlash::signalSetFlash);
    for (const Case& c : cases) {
        const int before = m_echo.calls;
        const Exchange result = exchange(m_port, {c.request});
        EXPECT_TRUE(result.closedByServer) << c.request.constData();
        EXPECT_TRUE(result.received.startsWith(c.status + "\r\n")) << c.request.constData() << result.received.constData();
        EXPECT_EQ(m_echo.calls - before, c.executed ? 1 : 0) << c.request.constData();
    }
    EXPECT_EQ(flashRequests.count(), 0);

    // The listed app reads its answer; everyone else gets the answer's usual bytes.
    const Exchange listed = exchange(m_port, {post(host + bearer + "Origin: https://app.example\r\n")});
    EXPECT_EQ(listed.received, "HTTP/1.1 200 OK\r\nAccess-Control-Allow-Origin: https://app.example\r\n"
                               "Access-Control-Allow-Headers: Content-Type, Authorization\r\n"
                                   + SecurityHeaders::lines()
                                   + "Content-Type: text/plain; charset=utf8;\r\nVary: Origin\r\n\r\nhi");
    const Exchange plain = exchange(m_port, {post(bearer)});
    EXPECT_EQ(plain.received, ok("text/plain; charset=utf8;", "hi"));
}

TEST_F(WebApiServerTest, BodyIsCollectedUntilTheAnnouncedLength)
{
    struct Case
    {
        const char* name;
        QList<QByteArray> chunks;
        QByteArray body;
    };
    const Case cases[] = {
        {"headers, then body", {"POST /echo HTTP/1.1\r\nContent-Length: 5\r\n\r\n", "hello"}, "hello"},
        {"body over three reads",
         {"POST /echo HTTP/1.1\r\nContent-Length: 9\r\n\r\nabc", "def", "ghi"},
         "abcdefghi"},
        {"header block split", {"POST /echo HTTP/1.1\r\nConte", "nt-Length: 3\r\n\r\nxyz"}, "xyz"},
        {"line end after the body is cut off", {"POST /echo HTTP/1.1\r\nContent-Length: 4\r\n\r\nab", "cd\r\n"}, "abcd"},
        {"zero length", {"POST /echo HTTP/1.1\r\nContent-Length: 0\r\n\r\n"}, ""},
        // Header names in any letter case, as real clients send them.
        {"lower-case length, body in a second read", {"POST /echo HTTP/1.1\r\ncontent-length: 5\r\n\r\n", "hello"}, "hello"},
        {"upper-case length", {"POST /echo HTTP/1.1\r\nCONTENT-LENGTH: 5\r\n\r\nab", "cde"}, "abcde"},
        {"the same length twice", {"POST /echo HTTP/1.1\r\nContent-Length: 3\r\ncontent-length: 3\r\n\r\nxyz"}, "xyz"},
    };
    for (const Case& c : cases) {
        m_echo.calls = 0;
        const Exchange result = exchange(m_port, c.chunks);
        EXPECT_TRUE(result.closedByServer) << c.name;
        EXPECT_EQ(result.received, ok("text/plain; charset=utf8;", c.body)) << c.name;
        EXPECT_EQ(m_echo.calls, 1) << c.name;
    }
}

TEST_F(WebApiServerTest, BadOrConflictingLengthsAndPipelinedRequestsAreRefused)
{
    struct Case
    {
        const char* name;
        QList<QByteArray> chunks;
    };
    const Case cases[] = {
        {"not a number", {"POST /echo HTTP/1.1\r\nContent-Length: lots\r\n\r\nab"}},
        {"negative", {"POST /echo HTTP/1.1\r\nContent-Length: -5\r\n\r\nab"}},
        {"signed", {"POST /echo HTTP/1.1\r\nContent-Length: +2\r\n\r\nab"}},
        {"empty", {"POST /echo HTTP/1.1\r\nContent-Length:\r\n\r\nab"}},
        {"list", {"POST /echo HTTP/1.1\r\nContent-Length: 2, 2\r\n\r\nab"}},
        {"two lengths differ", {"POST /echo HTTP/1.1\r\nContent-Length: 2\r\ncontent-length: 4\r\n\r\nabcd"}},
        // A second request behind the first: each answer closes the
        // connection, so it could never be answered; neither runs.
        {"pipelined after a body", {postRequest("echo", "one") + postRequest("echo", "two")}},
        {"pipelined, completing read", {"POST /echo HTTP/1.1\r\nContent-Length: 3\r\n\r\no", "neGET / HTTP/1.1\r\n\r\n"}},
        {"pipelined GETs", {"GET /one.html HTTP/1.1\r\n\r\nGET /two.html HTTP/1.1\r\n\r\n", postRequest("echo", "x")}},
    };
    for (const Case& c : cases) {
        m_echo.calls = 0;
        const Exchange result = exchange(m_port, c.chunks);
        EXPECT_TRUE(result.closedByServer) << c.name;
        EXPECT_EQ(result.received, statusOnly("400 Bad Request")) << c.name;
        EXPECT_EQ(m_echo.calls, 0) << c.name;
    }
}

TEST_F(WebApiServerTest, OversizedBodyIsRefusedWithoutWaitingForIt)
{
    const QByteArray tooLong = QByteArray::number(WebApiServer::maxBodySize + 1);
    const Exchange refused = exchange(m_port, {"POST /echo HTTP/1.1\r\nContent-Length: " + tooLong + "\r\n\r\n"});
    EXPECT_TRUE(refused.closedByServer);
    EXPECT_EQ(refused.received, statusOnly("413 Payload Too Large"));
    EXPECT_EQ(m_echo.calls, 0);

    // The limit itself is still accepted.
    const QByteArray body(WebApiServer::maxBodySize, 'b');
    const QByteArray request = postRequest("echo", body);
    const Exchange accepted = exchange(m_port, {request.left(request.size() - body.size()), body});
    EXPECT_EQ(accepted.received, ok("text/plain; charset=utf8;", body));
}

TEST_F(WebApiServerTest, EndlessHeaderBlockIsRefused)
{
    const QByteArray line = "X-Filler: " + QByteArray(1000, 'f') + "\r\n";
    QList<QByteArray> chunks{"GET / HTTP/1.1\r\n"};
    for (int i = 0; i < 70; ++i)
        chunks.append(line);
    const Exchange result = exchange(m_port, {chunks.join()});
    EXPECT_TRUE(result.closedByServer);
    EXPECT_EQ(result.received, statusOnly("431 Request Header Fields Too Large"));
}

TEST_F(WebApiServerTest, IncompleteRequestsTimeOut)
{
    m_server->setIdleTimeout(200);
    const QList<QByteArray> cases[] = {
        {},                                                     // nothing at all
        {"GET / HTTP/1.1\r\nHost: x\r\n"},                      // no empty line
        {"POST /echo HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc"}, // body owed
    };
    for (const QList<QByteArray>& chunks : cases) {
        const Exchange result = exchange(m_port, chunks);
        EXPECT_TRUE(result.closedByServer);
        EXPECT_EQ(result.received, statusOnly("408 Request Timeout"));
    }
    EXPECT_EQ(m_echo.calls, 0);
}

namespace {

// An open connection that sends what it is told and keeps what comes back.
std::unique_ptr<QTcpSocket> openConnection(quint16 port, const QHostAddress& from = QHostAddress::LocalHost)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->bind(from);
    socket->connectToHost(QHostAddress::LocalHost, port);
    if (!socket->waitForConnected(5000))
        return nullptr;
    return socket;
}

bool closedWith(QTcpSocket& socket, const QByteArray& answer)
{
    QByteArray received;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { received += socket.readAll(); });
    const bool closed = QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 5000);
    received += socket.readAll();
    EXPECT_EQ(received, answer);
    return closed && received == answer;
}

} // namespace

TEST_F(WebApiServerTest, AHeaderBlockTricklingInPastItsDeadlineIsRefused)
{
    m_server->setIdleTimeout(60000);
    m_server->setHeaderTimeout(300);
    auto socket = openConnection(m_port);
    ASSERT_TRUE(socket);
    QByteArray received;
    QObject::connect(socket.get(), &QTcpSocket::readyRead, [&] { received += socket->readAll(); });
    socket->write("GET / HTTP/1.1\r\n");
    // Each line comes well within the idle time; only the deadline can end it.
    for (int i = 0; i < 200 && socket->state() == QAbstractSocket::ConnectedState; ++i) {
        socket->write("X-Slow: " + QByteArray::number(i) + "\r\n");
        socket->flush();
        QTest::qWait(25);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return socket->state() == QAbstractSocket::UnconnectedState; }, 5000));
    received += socket->readAll();
    EXPECT_EQ(received, statusOnly("408 Request Timeout"));
}

// A body that trickles in a byte at a time, each byte well within the idle
// time, is cut off by the request's own deadline: its share of the body
// budget is given back and a later request with a body is taken again.
TEST_F(WebApiServerTest, ABodyTricklingInPastTheRequestDeadlineIsRefusedAndItsShareFreed)
{
    m_server->setIdleTimeout(60000);
    m_server->setRequestTimeout(300);
    m_server->setMaxPendingBodyBytes(1000);
    auto socket = openConnection(m_port);
    ASSERT_TRUE(socket);
    QByteArray received;
    QObject::connect(socket.get(), &QTcpSocket::readyRead, [&] { received += socket->readAll(); });
    socket->write("POST /echo HTTP/1.1\r\nContent-Length: 1000\r\n\r\n");
    socket->flush();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_server->pendingBodyBytes() == 1000; }, 5000));
    for (int i = 0; i < 200 && socket->state() == QAbstractSocket::ConnectedState; ++i) {
        socket->write("b");
        socket->flush();
        QTest::qWait(25);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return socket->state() == QAbstractSocket::UnconnectedState; }, 5000));
    received += socket->readAll();
    EXPECT_EQ(received, statusOnly("408 Request Timeout"));
    EXPECT_EQ(m_server->pendingBodyBytes(), 0);
    EXPECT_EQ(m_echo.calls, 0);

    m_server->setRequestTimeout(WebApiServer::defaultRequestTimeoutMs);
    const QByteArray body(600, 'c');
    const QByteArray request = postRequest("echo", body);
    EXPECT_EQ(exchange(m_port, {request.left(request.size() - 300), request.right(300)}).received,
              ok("text/plain; charset=utf8;", body));
}

TEST_F(WebApiServerTest, BodiesOwedByAllClientsTogetherAreBounded)
{
    m_server->setMaxPendingBodyBytes(1000);
    auto first = openConnection(m_port);
    ASSERT_TRUE(first);
    first->write("POST /echo HTTP/1.1\r\nContent-Length: 600\r\n\r\n" + QByteArray(10, 'a'));
    first->flush();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_server->pendingBodyBytes() == 600; }, 5000));

    // Announcing more than is left is refused at once, whatever actually follows.
    auto second = openConnection(m_port);
    ASSERT_TRUE(second);
    second->write("POST /echo HTTP/1.1\r\nContent-Length: 401\r\n\r\nb");
    EXPECT_TRUE(closedWith(*second, statusOnly("503 Service Unavailable")));

    // What fits is taken, and what finishes gives its share back.
    const QByteArray body(400, 'c');
    const QByteArray request = postRequest("echo", body);
    EXPECT_EQ(exchange(m_port, {request.left(request.size() - 300), request.right(300)}).received,
              ok("text/plain; charset=utf8;", body));
    first->write(QByteArray(590, 'a'));
    EXPECT_TRUE(closedWith(*first, ok("text/plain; charset=utf8;", QByteArray(600, 'a'))));
    EXPECT_EQ(m_server->pendingBodyBytes(), 0);
    EXPECT_EQ(m_echo.calls, 2);
}

TEST_F(WebApiServerTest, ConnectionsBeyondTheSharedBoundsAreRefused)
{
    ConnectionLimits limits(3, 2);
    m_server->setConnectionLimits(&limits);
    const QHostAddress one("127.0.0.1"), two("127.0.0.2"), three("127.0.0.3");

    std::vector<std::unique_ptr<QTcpSocket>> held;
    held.push_back(openConnection(m_port, one));
    held.push_back(openConnection(m_port, one));
    ASSERT_TRUE(held[0] && held[1]);
    ASSERT_TRUE(QTest::qWaitFor([&] { return limits.openCount() == 2; }, 5000));

    auto sameAddress = openConnection(m_port, one);
    ASSERT_TRUE(sameAddress);
    EXPECT_TRUE(closedWith(*sameAddress, "HTTP/1.1 503 Service Unavailable\r\n" + SecurityHeaders::lines()
                                             + "Content-Length: 0\r\nConnection: close\r\n\r\n"));

    held.push_back(openConnection(m_port, two));
    ASSERT_TRUE(held[2]);
    ASSERT_TRUE(QTest::qWaitFor([&] { return limits.openCount() == 3; }, 5000));
    EXPECT_EQ(limits.openCount(one), 2);
    EXPECT_EQ(limits.openCount(two), 1);
    auto overAll = openConnection(m_port, three);
    ASSERT_TRUE(overAll);
    EXPECT_TRUE(closedWith(*overAll, "HTTP/1.1 503 Service Unavailable\r\n" + SecurityHeaders::lines()
                                         + "Content-Length: 0\r\nConnection: close\r\n\r\n"));

    // A connection that ends frees its place.
    held[0]->abort();
    ASSERT_TRUE(QTest::qWaitFor([&] { return limits.openCount() == 2; }, 5000));
    EXPECT_EQ(exchange(m_port, {"POST /echo HTTP/1.1\r\nContent-Length: 2\r\n\r\nok"}).received,
              ok("text/plain; charset=utf8;", "ok"));
    m_server->setConnectionLimits(nullptr);
}

TEST_F(WebApiServerTest, ClientLeavingWithABodyOwedIsForgotten)
{
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        ASSERT_TRUE(QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 5000));
        socket.write("POST /echo HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc");
        socket.flush();
        QTest::qWait(60);
        socket.abort();
    }
    QTest::qWait(60);
    EXPECT_EQ(exchange(m_port, {"POST /echo HTTP/1.1\r\nContent-Length: 2\r\n\r\nok"}).received,
              ok("text/plain; charset=utf8;", "ok"));
    EXPECT_EQ(m_echo.calls, 1);
}

TEST_F(WebApiServerTest, JsonAnswersHaveTheirThreeShapesWithMembersInNameOrder)
{
    struct Case
    {
        const char* request;
        const char* answer;
    };
    const Case cases[] = {
        {R"({"cmd":"RunScript","uid":7,"data":{"answer":{"b":1,"a":[2]}}})",
         R"({"data":{"a":[2],"b":1},"status":"ok","uid":7})"},
        {R"({"cmd":"runscript","uid":8,"data":{"answer":[1,"x"]}})", R"({"data":[1,"x"],"status":"ok","uid":8})"},
        {R"({"cmd":"RUNSCRIPT","data":{}})", R"({"data":null,"status":"ok","uid":0})"},
        {R"({"cmd":"RunScript","uid":9,"data":{"delay":30,"fail":"TIMEOUT"}})",
         R"({"errorcode":"TIMEOUT","status":"error","uid":9})"},
        {R"({"cmd":"RunScript","uid":10,"data":{"delay":10,"answer":{"late":true}}})",
         R"({"data":{"late":true},"status":"ok","uid":10})"},
        {R"({"cmd":"NoSuchThing","uid":11})",
         R"({"cmd":"NoSuchThing","errorcode":"NOT_EXIST","status":"error","uid":11})"},
        {R"({"cmd":"runScript","uid":12,"data":{"reject":true}})",
         R"({"cmd":"runScript","errorcode":"BAD_DATA","status":"error","uid":12})"},
        {R"({"cmd":"RunScript","uid":4294967295})", R"({"data":null,"status":"ok","uid":4294967295})"},
    };
    for (const Case& c : cases) {
        command(c.request);
        EXPECT_EQ(m_lastAnswerBody, QByteArray(c.answer)) << c.request;
    }
    QTest::qWait(10); // released wrappers are deleted later
    EXPECT_EQ(liveCommands, 0);
}

TEST_F(WebApiServerTest, BodyThatIsNotAJsonObjectIsABadRequest)
{
    for (const QByteArray body : {QByteArray("[1,2]"), QByteArray("garbage"), QByteArray("")}) {
        const Exchange result = exchange(m_port, {postRequest("cmd", body)});
        EXPECT_EQ(result.received, statusOnly("400 Bad Request")) << body.constData();
    }
}

TEST_F(WebApiServerTest, CommandsInFlightAnswerEachOnItsOwnConnection)
{
    QTcpSocket slow;
    QTcpSocket fast;
    QByteArray slowAnswer;
    QByteArray fastAnswer;
    QObject::connect(&slow, &QTcpSocket::readyRead, [&] { slowAnswer += slow.readAll(); });
    QObject::connect(&fast, &QTcpSocket::readyRead, [&] { fastAnswer += fast.readAll(); });
    slow.connectToHost(QHostAddress::LocalHost, m_port);
    fast.connectToHost(QHostAddress::LocalHost, m_port);
    const QByteArray slowBody = R"({"cmd":"RunScript","uid":1,"data":{"delay":600,"answer":{"who":"slow"}}})";
    const QByteArray fastBody = R"({"cmd":"RunScript","uid":2,"data":{"delay":10,"answer":{"who":"fast"}}})";
    slow.write(postRequest("cmd", slowBody));
    fast.write(postRequest("cmd", fastBody));

    ASSERT_TRUE(QTest::qWaitFor([&] { return fast.state() == QAbstractSocket::UnconnectedState; }, 5000));
    EXPECT_TRUE(fastAnswer.endsWith(R"({"data":{"who":"fast"},"status":"ok","uid":2})"));
    EXPECT_TRUE(slowAnswer.isEmpty()) << "the slow command is still running";
    ASSERT_TRUE(QTest::qWaitFor([&] { return slow.state() == QAbstractSocket::UnconnectedState; }, 5000));
    EXPECT_TRUE(slowAnswer.endsWith(R"({"data":{"who":"slow"},"status":"ok","uid":1})"));
}

TEST_F(WebApiServerTest, AnswerForAClientThatLeftIsDroppedAndTheCommandReleased)
{
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        ASSERT_TRUE(QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 5000));
        const QByteArray body = R"({"cmd":"RunScript","uid":3,"data":{"delay":150}})";
        socket.write(postRequest("cmd", body));
        ASSERT_TRUE(QTest::qWaitFor([] { return liveCommands == 1; }, 5000));
        socket.abort();
    }
    // The server deletes the socket before the command answers.
    EXPECT_TRUE(QTest::qWaitFor([] { return liveCommands == 0; }, 5000));
    EXPECT_EQ(get("/data.json"), ok("application/json", "{\"a\":1}"));
}

TEST_F(WebApiServerTest, UnregisteredHandlerKindsAnswerAsTheirKindRequires)
{
    QSignalSpy flashRequests(&m_flash, &exeGetFlash::signalSetFlash);
    EXPECT_EQ(get("/flash"), statusOnly("200 OK"));
    EXPECT_EQ(flashRequests.count(), 1);
    EXPECT_EQ(get("/flash?now=1"), statusOnly("501 Error; Not Implemented"));
    EXPECT_EQ(flashRequests.count(), 1);

    EXPECT_EQ(get("/config"), ok("application/json", "{\"a\":1}"));
    const Exchange written = exchange(m_port, {"POST /config HTTP/1.1\r\nContent-Length: 7\r\n\r\n{\"b\":2}"});
    EXPECT_EQ(written.received, statusOnly("200 OK"));
    QFile file(path("written.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("{\"b\":2}"));
    EXPECT_EQ(exchange(m_port, {"POST /unwritable HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}"}).received,
              statusOnly("404 Error; not found : " + path("no/such/dir/x.json").toUtf8()));
}

// The recordings route asks its owner which names are files and what the
// list holds; the read-out route lists its own directory.
TEST_F(WebApiServerTest, RecordingsAndReadOutsAreListedAndOnlyTheirFilesServed)
{
    write("rec/recording-a.bdf", "BDF-DATA");
    // Larger than a few of the pieces it is sent in.
    QByteArray big(1024 * 1024 + 123, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7 + i / 251);
    write("rec/recording-big.bdf", big);
    write("flash/readout-1.bin", "RAW");
    write("flash/readout-2.bin.part", "PART");
    write("flash/notes.txt", "X");
    QStringList asked;
    exeGetRecordings recordings(
        [&](const QString& name) {
            asked.append(name);
            if (name == "recording-big.bdf")
                return path("rec/recording-big.bdf");
            return name == "recording-a.bdf" || name == "latest" ? path("rec/recording-a.bdf") : QString();
        },
        [] { return QJsonArray{QJsonObject{{"name", "recording-a.bdf"}}}; });
    exeGetFlash flash(path("flash"));
    QMap<QString, exeGet*> get = m_get;
    get.insert("recordings", &recordings);
    get.insert("flash", &flash);
    WebApiServer server(0, get, m_post, nullptr, QHostAddress::LocalHost);
    ASSERT_TRUE(server.isListening());
    auto fetch = [&](const QByteArray& target) {
        return exchange(server.serverPort(), {"GET " + target + " HTTP/1.1\r\nHost: localhost\r\n\r\n"}).received;
    };

    const QByteArray list = ok("application/json", "[{\"name\":\"recording-a.bdf\"}]");
    EXPECT_EQ(fetch("/recordings/"), list);
    EXPECT_EQ(fetch("/recordings"), list);
    const QByteArray file = "HTTP/1.1 200 OK\r\n" + cors
                            + "Content-Type: application/octet-stream;\r\nContent-Length: 8\r\nConnection: close\r\n\r\nBDF-DATA";
    EXPECT_EQ(fetch("/recordings/recording-a.bdf"), file);
    EXPECT_EQ(fetch("/recordings/latest"), file);
    EXPECT_TRUE(fetch("/recordings/../secret.txt").startsWith("HTTP/1.1 404"));
    EXPECT_TRUE(fetch("/recordings/nothing.bdf").startsWith("HTTP/1.1 404"));
    EXPECT_EQ(fetch("/recordings/?all=1"), statusOnly("501 Error; Not Implemented"));
    EXPECT_EQ(asked, (QStringList{"recording-a.bdf", "latest", "../secret.txt", "nothing.bdf"}));
    const QByteArray large = fetch("/recordings/recording-big.bdf");
    ASSERT_TRUE(large.contains("Content-Length: 1048699\r\n")) << large.left(300).constData();
    EXPECT_TRUE(large.mid(large.indexOf("\r\n\r\n") + 4) == big) << large.size() << " bytes came";

    EXPECT_EQ(fetch("/flash/readout-1.bin"), streamed("application/octet-stream;", "RAW"));
    EXPECT_TRUE(fetch("/flash/readout-2.bin.part").startsWith("HTTP/1.1 404"));

    // Only complete read-outs are listed; "GET /flash" still asks for a new one.
    const QByteArray readouts = fetch("/flash/");
    ASSERT_TRUE(readouts.startsWith("HTTP/1.1 200 OK")) << readouts.constData();
    const QJsonArray entries = QJsonDocument::fromJson(readouts.mid(readouts.indexOf("\r\n\r\n") + 4)).array();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].toObject()["name"].toString(), "readout-1.bin");
    EXPECT_EQ(entries[0].toObject()["size"].toInt(), 3);
    EXPECT_FALSE(entries[0].toObject()["start"].toString().isEmpty());
    QSignalSpy flashRequests(&flash, &exeGetFlash::signalSetFlash);
    EXPECT_EQ(fetch("/flash"), statusOnly("200 OK"));
    EXPECT_EQ(flashRequests.count(), 1);
}

// A download is read from disk as the client takes it, never whole: a
// read-out larger than a byte array can hold is served too, and a client
// that reads only the head of it costs the service a few pieces.
TEST_F(WebApiServerTest, ReadoutsAndRecordingsLargerThanMemoryCanHoldAreStreamed)
{
    const qint64 size = (qint64(1) << 31) + 1;
    QDir().mkpath(path("flash"));
    QDir().mkpath(path("rec"));
    for (const QString& name : {QString("flash/readout-huge.bin"), QString("rec/recording-huge.bdf")}) {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        // Sparse: no disk space taken.
        ASSERT_TRUE(file.resize(size));
    }
    exeGetFlash flash(path("flash"));
    exeGetRecordings recordings([&](const QString&) { return path("rec/recording-huge.bdf"); }, [] { return QJsonArray(); });
    QMap<QString, exeGet*> get = m_get;
    get.insert("flash", &flash);
    get.insert("recordings", &recordings);
    WebApiServer server(0, get, m_post, nullptr, QHostAddress::LocalHost);
    ASSERT_TRUE(server.isListening());
    for (const QByteArray target : {QByteArray("/flash/readout-huge.bin"), QByteArray("/recordings/recording-huge.bdf")}) {
        QTcpSocket socket;
        QByteArray received;
        QObject::connect(&socket, &QTcpSocket::readyRead, [&] { received += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, server.serverPort());
        ASSERT_TRUE(socket.waitForConnected(5000));
        socket.write("GET " + target + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
        ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() > 1024 * 1024; }, 30000))
            << target.constData() << ": " << received.left(300).constData();
        EXPECT_TRUE(received.startsWith("HTTP/1.1 200 OK\r\n")) << received.left(300).constData();
        EXPECT_TRUE(received.contains("\r\nContent-Length: 2147483649\r\n")) << received.left(300).constData();
        socket.abort();
    }
    // The service still answers at once.
    EXPECT_EQ(exchange(server.serverPort(), {"GET /style.css HTTP/1.1\r\n\r\n"}).received, ok("text/css; charset=utf8;", "b{}"));
}

// Only regular files that really are in the recordings or read-out directory
// are listed and served: a symbolic link is never followed, whether it leads
// out of the directory, to another file of it or nowhere, and nothing that
// is no file (a directory, a pipe that would block the reader) is taken for one.
TEST_F(WebApiServerTest, LinksAndNonFilesInTheFileDirectoriesAreNeitherListedNorServed)
{
    struct Route
    {
        QByteArray key;
        QString directory;
        QString prefix;
        QString suffix;
    };
    const Route routes[] = {{"recordings", "rec", "recording-", ".bdf"}, {"flash", "flash", "readout-", ".bin"}};
    // How each entry is made in the route's directory (named prefix + name + suffix).
    enum class EKind { File, LinkOutside, LinkInside, LinkNowhere, LinkToDirectory, Directory, Pipe };
    struct Entry
    {
        const char* name;
        EKind kind;
        bool served;
    };
    const Entry entries[] = {
        {"real", EKind::File, true},
        {"outside", EKind::LinkOutside, false},     // to secret.txt beside the directory
        {"inside", EKind::LinkInside, false},       // to the real file of the directory
        {"nowhere", EKind::LinkNowhere, false},     // dangling
        {"linkdir", EKind::LinkToDirectory, false}, // to a directory outside
        {"directory", EKind::Directory, false},
        {"pipe", EKind::Pipe, false},
    };

    Tavrix::Archive::SignalRecorder recorder(path("rec"));
    exeGetRecordings recordings([&recorder](const QString& name) { return recorder.pathOf(name); },
                                [&recorder] { return recorder.list(); });
    exeGetFlash flash(path("flash"));
    QMap<QString, exeGet*> get = m_get;
    get.insert("recordings", &recordings);
    get.insert("flash", &flash);
    WebApiServer server(0, get, m_post, nullptr, QHostAddress::LocalHost);
    ASSERT_TRUE(server.isListening());
    auto fetch = [&](const QByteArray& target) {
        return exchange(server.serverPort(), {"GET " + target + " HTTP/1.1\r\nHost: localhost\r\n\r\n"}).received;
    };

    for (const Route& route : routes) {
        SCOPED_TRACE(route.key.constData());
        auto nameOf = [&route](const char* name) { return route.prefix + name + route.suffix; };
        auto at = [&](const char* name) { return path(route.directory + "/" + nameOf(name)); };
        write(route.directory + "/" + nameOf("real"), "REAL");
        QDir().mkpath(path("elsewhere"));
        for (const Entry& entry : entries) {
            const QByteArray target = QFile::encodeName(at(entry.name));
            switch (entry.kind) {
            case EKind::File:
                break;
            case EKind::LinkOutside:
                ASSERT_EQ(::symlink(QFile::encodeName(path("secret.txt")).constData(), target.constData()), 0);
                break;
            case EKind::LinkInside:
                ASSERT_EQ(::symlink(QFile::encodeName(nameOf("real")).constData(), target.constData()), 0);
                break;
            case EKind::LinkNowhere:
                ASSERT_EQ(::symlink("no-such-file", target.constData()), 0);
                break;
            case EKind::LinkToDirectory:
                ASSERT_EQ(::symlink(QFile::encodeName(path("elsewhere")).constData(), target.constData()), 0);
                break;
            case EKind::Directory:
                ASSERT_TRUE(QDir().mkpath(at(entry.name)));
                break;
            case EKind::Pipe:
                ASSERT_EQ(::mkfifo(target.constData(), 0600), 0);
                break;
            }
        }
        // The file a link leads to is the newest: "latest" must still be the real one.
        write("secret.txt", "SECRET");

        QStringList listed;
        const QByteArray list = fetch("/" + route.key + "/");
        ASSERT_TRUE(list.startsWith("HTTP/1.1 200 OK")) << list.constData();
        for (const QJsonValue& item : QJsonDocument::fromJson(list.mid(list.indexOf("\r\n\r\n") + 4)).array())
            listed.append(item.toObject()["name"].toString());
        for (const Entry& entry : entries) {
            SCOPED_TRACE(entry.name);
            EXPECT_EQ(listed.contains(nameOf(entry.name)), entry.served);
            const QByteArray answer = fetch("/" + route.key + "/" + nameOf(entry.name).toUtf8());
            if (entry.served) {
                EXPECT_TRUE(answer.startsWith("HTTP/1.1 200 OK") && answer.endsWith("\r\n\r\nREAL")) << answer.constData();
            } else {
                EXPECT_TRUE(answer.startsWith("HTTP/1.1 404")) << answer.constData();
                EXPECT_FALSE(answer.contains("SECRET")) << answer.constData();
            }
        }
        EXPECT_EQ(listed.join(", ").toStdString(), nameOf("real").toStdString());
        const QByteArray latest = fetch("/" + route.key + "/latest");
        EXPECT_TRUE(latest.startsWith("HTTP/1.1 200 OK") && latest.endsWith("\r\n\r\nREAL")) << latest.constData();
    }
}

TEST_F(WebApiServerTest, EventStreamStaysOpenAndForgetsClientsThatLeave)
{
    m_server->setIdleTimeout(100); // a stream that is answered never times out
    {
        QTcpSocket socket;
        QByteArray received;
        QObject::connect(&socket, &QTcpSocket::readyRead, [&] { received += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        socket.write("GET /event HTTP/1.1\r\n\r\n");
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_event.subscribers().size() == 1; }, 5000));
        QTest::qWait(300);
        EXPECT_EQ(received, "HTTP/1.1 200 OK\r\nCache-Control: no-cache\r\nContent-Type: text/event-stream\r\n" + cors
                                + "\r\n");
        EXPECT_EQ(socket.state(), QAbstractSocket::ConnectedState);
        socket.disconnectFromHost();
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_event.subscribers().isEmpty(); }, 5000));
}

namespace {

using TestSupport::connectLoopback;

// A client that writes its first bytes before the server's event loop runs
// again, as a browser's request is usually there by the time the server takes
// the connection; later chunks follow once the server has had time to look.
// `readAfterMs`: how long the answer is left unread. `leaveAfterMs` >= 0
// closes the connection that long after the last chunk, whatever came.
Exchange rawExchange(quint16 port, const QList<QByteArray>& chunks, int readAfterMs = 0, int leaveAfterMs = -1)
{
    Exchange result;
    const int fd = connectLoopback(port);
    if (fd < 0)
        return result;
    auto sendAll = [fd](const QByteArray& bytes) {
        for (qint64 sent = 0; sent < bytes.size();) {
            const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += n;
        }
    };
    for (int i = 0; i < chunks.size(); ++i) {
        if (i > 0)
            QTest::qWait(60);
        sendAll(chunks[i]);
    }
    if (leaveAfterMs >= 0) {
        QTest::qWait(leaveAfterMs);
        ::close(fd);
        return result;
    }
    QTest::qWait(readAfterMs);
    QElapsedTimer timer;
    timer.start();
    char buffer[65536];
    while (timer.elapsed() < 10000) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            result.received.append(buffer, int(n));
            continue;
        }
        if (n == 0) {
            result.closedByServer = true;
            break;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            break;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd one{fd, POLLIN, 0};
        ::poll(&one, 1, 1);
    }
    ::close(fd);
    return result;
}

} // namespace

class DirectAnswerTest : public WebApiServerTest
{
protected:
    // The console's log lines since `offset`, without their times.
    QByteArray consoleSince(long offset) const
    {
        std::fflush(m_console);
        QByteArray text;
        char buffer[4096];
        for (ssize_t n; (n = ::pread(fileno(m_console), buffer, sizeof buffer, offset + text.size())) > 0;)
            text.append(buffer, int(n));
        return QString::fromLocal8Bit(text)
            .replace(QRegularExpression(R"(\d\d:\d\d:\d\d\.\d\d\d)"), "[time]")
            .toLocal8Bit();
    }
    long consoleEnd() const
    {
        std::fflush(m_console);
        return long(::lseek(fileno(m_console), 0, SEEK_END));
    }

    struct Seen
    {
        Exchange exchange;
        QByteArray log;
        qint64 direct = 0;
    };
    Seen run(bool direct, const QList<QByteArray>& chunks, int readAfterMs = 0)
    {
        if (m_beforeEachRun)
            m_beforeEachRun();
        m_server->setDirectAnswers(direct);
        const qint64 before = m_server->directAnswerCount();
        const long offset = consoleEnd();
        Seen seen;
        seen.exchange = rawExchange(m_port, chunks, readAfterMs);
        QTest::qWait(5); // a refusal's log line may follow its answer
        seen.log = consoleSince(offset);
        seen.direct = m_server->directAnswerCount() - before;
        return seen;
    }

    // Sends the request both ways; the answers and log lines must be the same.
    // Returns whether the direct way took it.
    bool sameBothWays(const QList<QByteArray>& chunks, const char* name, int readAfterMs = 0)
    {
        const Seen socketPath = run(false, chunks, readAfterMs);
        const Seen direct = run(true, chunks, readAfterMs);
        EXPECT_EQ(socketPath.direct, 0) << name;
        EXPECT_TRUE(socketPath.exchange.closedByServer) << name;
        EXPECT_TRUE(direct.exchange.closedByServer) << name;
        EXPECT_FALSE(direct.exchange.received.isEmpty()) << name;
        EXPECT_EQ(direct.exchange.received.size(), socketPath.exchange.received.size()) << name;
        EXPECT_TRUE(direct.exchange.received == socketPath.exchange.received) << name;
        EXPECT_EQ(direct.log, socketPath.log) << name;
        EXPECT_LE(direct.direct, 1) << name;
        return direct.direct == 1;
    }

    std::function<void()> m_beforeEachRun;
};

TEST_F(DirectAnswerTest, AnswersAreTheSocketPathsBytesAndLogLines)
{
    struct Case
    {
        const char* name;
        QList<QByteArray> chunks;
        bool direct;
    };
    const Case cases[] = {
        {"index page", {"GET / HTTP/1.1\r\nHost: localhost\r\n\r\n"}, true},
        {"no headers", {"GET / HTTP/1.1\r\n\r\n"}, true},
        {"query and remainder", {"GET /index.html?v=2&x;y HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"}, true},
        {"second directory", {"GET /app.js HTTP/1.1\r\n\r\n"}, true},
        {"line feeds only", {"GET /style.css HTTP/1.1\nHost: localhost\n\n"}, true},
        {"missing file", {"GET /missing.html HTTP/1.1\r\n\r\n"}, true},
        {"climbing out", {"GET /../secret.txt HTTP/1.1\r\n\r\n"}, true},
        {"whole request arriving after the connection was taken", {"", "GET /data.json HTTP/1.1\r\n\r\n"}, true},
        {"header block in three pieces", {"GET /data.json HT", "TP/1.1\r\nHost: loc", "alhost\r\n\r\n"}, false},
        {"request line only, then the end", {"GET /data.json HTTP/1.1\r\n", "\r\n"}, false},
        {"HEAD", {"HEAD / HTTP/1.1\r\n\r\n"}, false},
        {"HTTP/1.0", {"GET / HTTP/1.0\r\n\r\n"}, false},
        {"lower-case method", {"get / HTTP/1.1\r\n\r\n"}, false},
        {"announced empty body", {"GET / HTTP/1.1\r\nContent-Length: 0\r\n\r\n"}, false},
        {"pipelined", {"GET /one.html HTTP/1.1\r\n\r\nGET /two.html HTTP/1.1\r\n\r\n"}, false},
        {"POST", {postRequest("echo", "hi")}, false},
        // Longer than what is read from a connection before it is handed on.
        {"POST body longer than one read", {postRequest("echo", QByteArray(20000, 'b'))}, false},
        {"header block longer than one read",
         {"GET /data.json HTTP/1.1\r\nX-Filler: " + QByteArray(10000, 'f') + "\r\n\r\n"}, false},
        {"OPTIONS", {"OPTIONS /x HTTP/1.1\r\n\r\n"}, false},
        {"route of its own", {"GET /flash HTTP/1.1\r\n\r\n"}, false},
        {"guarded file route", {"GET /config HTTP/1.1\r\n\r\n"}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sameBothWays(c.chunks, c.name), c.direct) << c.name;
    EXPECT_EQ(m_echo.calls, 4);
}

TEST_F(DirectAnswerTest, ALargeFileIsSentWholeToAClientThatReadsLate)
{
    // Far more than a connection's send buffer takes at once.
    QByteArray large(6 * 1024 * 1024, '\0');
    for (int i = 0; i < large.size(); ++i)
        large[i] = char((i * 7 + i / 251) & 0xff);
    write("web/large.bin", large);
    const QList<QByteArray> request{"GET /large.bin HTTP/1.1\r\n\r\n"};
    // Too large to keep in memory: streamed from disk on the socket path.
    EXPECT_FALSE(sameBothWays(request, "large", 200));
    const Seen direct = run(true, request, 200);
    // Larger than the files kept in memory: streamed from disk.
    EXPECT_TRUE(direct.exchange.received == streamed("application/octet-stream;", large));
}

TEST_F(DirectAnswerTest, AClientLeavingEarlyGivesItsPlaceBackAndNothingElseIsDisturbed)
{
    ConnectionLimits limits(8, 4);
    m_server->setConnectionLimits(&limits);
    // Far more than a send buffer, small enough to be kept and answered directly.
    write("web/large.bin", QByteArray(3 * 1024 * 1024, 'x'));
    for (int i = 0; i < 6; ++i) {
        const qint64 before = m_server->directAnswerCount();
        rawExchange(m_port, {"GET /large.bin HTTP/1.1\r\n\r\n"}, 0, 20);
        EXPECT_EQ(m_server->directAnswerCount(), before + 1);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return limits.openCount() == 0; }, 5000)) << limits.openCount();
    const Exchange after = rawExchange(m_port, {"GET /data.json HTTP/1.1\r\n\r\n"});
    EXPECT_EQ(after.received, ok("application/json", "{\"a\":1}"));
    EXPECT_EQ(limits.openCount(), 0);
    m_server->setConnectionLimits(nullptr);
}

namespace {

// A raw loopback client that has sent `request`: its descriptor.
int sendRaw(quint16 port, const QByteArray& request, int receiveBuffer = 0)
{
    const int fd = connectLoopback(port, receiveBuffer);
    if (fd >= 0 && ::send(fd, request.constData(), size_t(request.size()), 0) != request.size()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads what `fd` holds until the server ends the connection, pausing
// `pauseMs` between reads while the server's event loop runs; the bytes read.
QByteArray readToEnd(int fd, int pauseMs, int deadlineMs)
{
    QByteArray received;
    char buffer[65536];
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < deadlineMs) {
        QTest::qWait(pauseMs);
        ssize_t n;
        while ((n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
            received.append(buffer, int(n));
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK))
            break;
    }
    return received;
}

} // namespace

// Without a bound, a client that asks for a large answer and never reads it
// holds its connection, its place under the bounds and the unsent bytes for
// as long as it likes; a few such clients lock everyone else out.
TEST_F(DirectAnswerTest, AClientThatStopsTakingItsAnswerIsCutOffAndGivesItsPlaceBack)
{
    ConnectionLimits limits(8, 4);
    m_server->setConnectionLimits(&limits);
    m_server->setIdleTimeout(1000);
    const QByteArray large(6 * 1024 * 1024, 'x');
    write("web/large.bin", large);
    const QByteArray request = "GET /large.bin HTTP/1.1\r\n\r\n";
    for (const bool direct : {false, true}) {
        m_server->setDirectAnswers(direct);
        const long offset = consoleEnd();
        const int fd = sendRaw(m_port, request, 4096);
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return consoleSince(offset).contains("answer not taken by the client"); },
                                    20000))
            << "direct " << direct;
        EXPECT_TRUE(QTest::qWaitFor([&] { return limits.openCount() == 0; }, 5000)) << "direct " << direct;
        const QByteArray received = readToEnd(fd, 5, 10000);
        ::close(fd);
        EXPECT_LT(received.size(), large.size()) << "direct " << direct;
    }

    // One that takes its answer with pauses shorter than the bound gets it whole.
    m_server->setIdleTimeout(3000);
    for (const bool direct : {false, true}) {
        m_server->setDirectAnswers(direct);
        const long offset = consoleEnd();
        const int fd = sendRaw(m_port, request);
        ASSERT_GE(fd, 0);
        const QByteArray received = readToEnd(fd, 20, 60000);
        ::close(fd);
        EXPECT_TRUE(received == streamed("application/octet-stream;", large))
            << "direct " << direct << ": " << received.size() << " bytes";
        EXPECT_FALSE(consoleSince(offset).contains("answer not taken by the client")) << "direct " << direct;
    }
    m_server->setConnectionLimits(nullptr);
}

TEST_F(DirectAnswerTest, ConnectionBoundsHoldForDirectAnswers)
{
    ConnectionLimits limits(3, 2);
    m_server->setConnectionLimits(&limits);
    std::vector<std::unique_ptr<QTcpSocket>> held;
    held.push_back(openConnection(m_port));
    held.push_back(openConnection(m_port));
    ASSERT_TRUE(held[0] && held[1]);
    ASSERT_TRUE(QTest::qWaitFor([&] { return limits.openCount() == 2; }, 5000));

    const QByteArray refusal = "HTTP/1.1 503 Service Unavailable\r\n" + SecurityHeaders::lines()
                               + "Content-Length: 0\r\nConnection: close\r\n\r\n";
    const qint64 before = m_server->directAnswerCount();
    EXPECT_EQ(rawExchange(m_port, {"GET /data.json HTTP/1.1\r\n\r\n"}).received, refusal);
    EXPECT_EQ(m_server->directAnswerCount(), before);

    // A connection that ends before it asks anything holds nothing: it is
    // closed unanswered, bounds full or not, and leaves the count alone.
    {
        const int fd = connectLoopback(m_port);
        ASSERT_GE(fd, 0);
        ::shutdown(fd, SHUT_WR); // before the server's event loop runs again
        QByteArray received;
        bool closed = false;
        char buffer[4096];
        QElapsedTimer timer;
        timer.start();
        while (!closed && timer.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                received.append(buffer, int(n));
            closed = n == 0;
        }
        ::close(fd);
        EXPECT_TRUE(closed);
        EXPECT_EQ(received, QByteArray());
        EXPECT_EQ(limits.openCount(), 2);
    }

    held[0]->abort();
    ASSERT_TRUE(QTest::qWaitFor([&] { return limits.openCount() == 1; }, 5000));
    EXPECT_EQ(rawExchange(m_port, {"GET /data.json HTTP/1.1\r\n\r\n"}).received, ok("application/json", "{\"a\":1}"));
    EXPECT_EQ(m_server->directAnswerCount(), before + 1);
    EXPECT_EQ(limits.openCount(), 1);
    m_server->setConnectionLimits(nullptr);
}

TEST_F(DirectAnswerTest, AccessChecksDecideAsOnTheSocketPath)
{
    // A fresh policy each time: a refusal is logged the first time only.
    m_beforeEachRun = [this] {
        auto policy = std::make_shared<AccessPolicy>();
        policy->setServicePort(m_port);
        policy->setAllowedOrigins({"https://app.example"});
        policy->setAccessToken("tok");
        m_server->setAccessPolicy(policy);
    };
    const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(m_port) + "\r\n";
    struct Case
    {
        const char* name;
        QByteArray request;
        QByteArray status;
        bool direct;
    };
    const Case cases[] = {
        {"own host", "GET /index.html HTTP/1.1\r\n" + host + "\r\n", "200 OK", true},
        {"foreign page loading the UI", "GET /index.html HTTP/1.1\r\n" + host + "Origin: http://evil.example\r\n\r\n",
         "200 OK", true},
        {"rebound host", "GET /index.html HTTP/1.1\r\nHost: rebound.example\r\n\r\n", "403 Forbidden", false},
        {"listed app names its origin", "GET /index.html HTTP/1.1\r\n" + host + "Origin: https://app.example\r\n\r\n",
         "200 OK", false},
        {"guarded route without the token", "GET /flash HTTP/1.1\r\n" + host + "\r\n", "401 Unauthorized", false},
        {"guarded route with the token", "GET /flash HTTP/1.1\r\n" + host + "Authorization: Bearer tok\r\n\r\n",
         "200 OK", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sameBothWays({c.request}, c.name), c.direct) << c.name;
        const Seen seen = run(true, {c.request});
        EXPECT_TRUE(seen.exchange.received.startsWith("HTTP/1.1 " + c.status + "\r\n"))
            << c.name << seen.exchange.received.constData();
    }
}

// What a client sends reaches the log only with its control characters
// written out: no escape sequence of a client reaches the console (or every
// log terminal), and no line end of a client starts a forged log line.
TEST_F(DirectAnswerTest, ClientInputIsLoggedWithItsControlCharactersEscaped)
{
    auto policy = std::make_shared<AccessPolicy>();
    policy->setServicePort(m_port);
    m_server->setAccessPolicy(policy);
    const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(m_port) + "\r\n";
    struct Case
    {
        const char* name;
        QByteArray request;
        QByteArray raw;
        QByteArray written;
    };
    const Case cases[] = {
        {"host", "GET /flash HTTP/1.1\r\nHost: a\x1b]0;X\x07\r\n\r\n", "\x1b]0;X\x07", "a\\x1B]0;X\\x07"},
        {"origin", "POST /echo HTTP/1.1\r\n" + host + "Origin: http://e\x1b[2Jvil\r\nContent-Length: 0\r\n\r\n",
         "\x1b[2J", "http://e\\x1B[2Jvil"},
        {"path", "GET /x\x1b[31m\x7fy.html HTTP/1.1\r\n" + host + "\r\n", "\x1b[31m\x7f", "x\\x1B[31m\\x7Fy.html"},
        {"a line of its own", "GET /flash HTTP/1.1\r\nHost: b\rforged line\r\n\r\n", "\rforged", "b\\x0Dforged line"},
    };
    for (const Case& c : cases) {
        const long offset = consoleEnd();
        const Exchange result = rawExchange(m_port, {c.request});
        EXPECT_TRUE(result.received.startsWith("HTTP/1.1 ")) << c.name;
        const QByteArray log = consoleSince(offset);
        EXPECT_FALSE(log.contains(c.raw)) << c.name << ": " << log.toPercentEncoding(" :/\"").constData();
        EXPECT_TRUE(log.contains(c.written)) << c.name << ": " << log.constData();
    }
}

TEST_F(DirectAnswerTest, ManyConnectionsWaitingAtOnceAreAllAnswered)
{
    // More than are taken in one turn of the event loop, all queued before it
    // runs, half of them answered directly and half closed unasked.
    constexpr int count = 40;
    std::vector<int> clients;
    for (int i = 0; i < count; ++i) {
        const int fd = connectLoopback(m_port);
        ASSERT_GE(fd, 0);
        if (i % 2 == 0) {
            const QByteArray request = "GET /data.json HTTP/1.1\r\n\r\n";
            ASSERT_EQ(::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL), request.size());
        } else {
            ::shutdown(fd, SHUT_WR);
        }
        clients.push_back(fd);
    }
    const qint64 before = m_server->directAnswerCount();
    int closed = 0;
    std::vector<QByteArray> received(count);
    QElapsedTimer timer;
    timer.start();
    while (closed < count && timer.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        for (int i = 0; i < count; ++i) {
            if (clients[i] < 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::recv(clients[i], buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                received[i].append(buffer, int(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                ::close(clients[i]);
                clients[i] = -1;
                ++closed;
            }
        }
    }
    EXPECT_EQ(closed, count);
    for (int i = 0; i < count; ++i) {
        if (clients[i] >= 0)
            ::close(clients[i]);
        EXPECT_EQ(received[i], i % 2 == 0 ? ok("application/json", "{\"a\":1}") : QByteArray()) << i;
    }
    EXPECT_EQ(m_server->directAnswerCount() - before, count / 2);
    // And the server still takes new connections after pausing.
    EXPECT_EQ(rawExchange(m_port, {"GET /style.css HTTP/1.1\r\n\r\n"}).received, ok("text/css; charset=utf8;", "b{}"));
}

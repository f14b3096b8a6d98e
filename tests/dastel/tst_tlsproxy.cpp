// The shipped nginx site file in front of the real service: HTTPS for the
// command API and WSS for the signal stream, on loopback, with a
// certificate made for the test.

#include "support/freeport.h"
#include "support/serviceundersimulator.h"

#include <QCoreApplication>
#include <algorithm>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QWebSocket>
#include <functional>
#include <gtest/gtest.h>

namespace {

const QByteArray token = "tls-test-token-5d1e";

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

// Replaces every `from` in `text`; false when there was none, so that a
// changed site file fails here instead of testing something else.
bool replaceAll(QByteArray& text, const QByteArray& from, const QByteArray& to)
{
    if (!text.contains(from))
        return false;
    text.replace(from, to);
    return true;
}

class TlsProxyTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        if (m_nginx.state() != QProcess::NotRunning) {
            m_nginx.terminate();
            if (!m_nginx.waitForFinished(5000))
                m_nginx.kill();
            m_nginx.waitForFinished(2000);
        }
        if (m_service.running())
            EXPECT_EQ(m_service.stop(), 0) << m_service.sim().output();
    }

    QSslConfiguration tlsConfiguration() const
    {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setCaCertificates(QSslCertificate::fromPath(m_dir.filePath("cert.pem")));
        configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
        return configuration;
    }

    // One HTTPS request through nginx; everything until it closes.
    QByteArray https(const QByteArray& request)
    {
        QSslSocket socket;
        socket.setSslConfiguration(tlsConfiguration());
        socket.connectToHostEncrypted(QStringLiteral("localhost"), m_ports[0]);
        if (!socket.waitForEncrypted(10000)) {
            ADD_FAILURE() << "TLS: " << socket.errorString().toStdString();
            return {};
        }
        socket.write(request);
        QByteArray received;
        QElapsedTimer timer;
        timer.start();
        while (socket.state() != QAbstractSocket::UnconnectedState && timer.elapsed() < 10000) {
            socket.waitForReadyRead(50);
            received += socket.readAll();
        }
        return received + socket.readAll();
    }

    QByteArray command(const QByteArray& body, const QByteArray& headers)
    {
        return https("POST /cmd HTTP/1.1\r\nHost: localhost:" + QByteArray::number(m_ports[0]) + "\r\n" + headers
                     + "Content-Type: application/json\r\nConnection: close\r\nContent-Length: "
                     + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }

    QByteArray origin() const { return "https://localhost:" + QByteArray::number(m_ports[0]); }

    ServiceUnderSimulator m_service;
    QTemporaryDir m_dir;
    QProcess m_nginx;
    quint16 m_ports[5] = {0, 0, 0, 0, 0}; // UI, signal, events, terminal, plain HTTP
};

TEST_F(TlsProxyTest, ApiAndSignalStreamWorkThroughNginx)
{
    const QString nginx = QStandardPaths::findExecutable("nginx", {"/usr/sbin", "/usr/local/sbin", "/sbin"});
    const QString openssl = QStandardPaths::findExecutable("openssl");
    if (nginx.isEmpty() || openssl.isEmpty())
        GTEST_SKIP() << "nginx or openssl is not installed (scripts/setup.sh installs both)";
    QProcess version;
    version.start(nginx, {"-v"});
    if (!version.waitForFinished(5000) || version.exitStatus() != QProcess::NormalExit || version.exitCode() != 0)
        GTEST_SKIP() << "nginx cannot run here: " << version.readAllStandardError().toStdString();
    ASSERT_TRUE(QSslSocket::supportsSsl()) << "Qt has no TLS support";
    ASSERT_TRUE(m_dir.isValid());

    // A self-signed certificate for localhost, made now.
    QProcess makeCertificate;
    makeCertificate.start(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=localhost",
                                    "-addext", "subjectAltName=DNS:localhost", "-keyout", m_dir.filePath("key.pem"),
                                    "-out", m_dir.filePath("cert.pem")});
    ASSERT_TRUE(makeCertificate.waitForFinished(60000));
    ASSERT_EQ(makeCertificate.exitCode(), 0) << makeCertificate.readAllStandardError().toStdString();

    m_service.setExtraSettings(QJsonObject{{"accessToken", QString(token)}});
    ServiceUnderSimulator::Launcher::Options options;
    DASTEL_START_SERVICE_OR_SKIP(m_service, options);

    // The shipped site file, moved to loopback, free ports and the test's files.
    QFile siteFile(QStringLiteral(DASTEL_CONFIG_DIR "/../packaging/nginx-dastel.conf"));
    ASSERT_TRUE(siteFile.open(QIODevice::ReadOnly)) << siteFile.fileName().toStdString();
    QByteArray site = siteFile.readAll();
    for (quint16& port : m_ports)
        port = TestSupport::freeLoopbackPort();
    QByteArrayList lines = site.split('\n');
    lines.erase(std::remove_if(lines.begin(), lines.end(), [](const QByteArray& line) { return line.contains("listen [::]"); }),
                lines.end());
    site = lines.join('\n');
    const QByteArray number[5] = {QByteArray::number(m_ports[0]), QByteArray::number(m_ports[1]),
                                  QByteArray::number(m_ports[2]), QByteArray::number(m_ports[3]),
                                  QByteArray::number(m_ports[4])};
    ASSERT_TRUE(replaceAll(site, "listen 80;", "listen 127.0.0.1:" + number[4] + ";"));
    ASSERT_TRUE(replaceAll(site, "listen 443 ssl;", "listen 127.0.0.1:" + number[0] + " ssl;"));
    ASSERT_TRUE(replaceAll(site, "listen 444 ssl;", "listen 127.0.0.1:" + number[1] + " ssl;"));
    ASSERT_TRUE(replaceAll(site, "listen 445 ssl;", "listen 127.0.0.1:" + number[2] + " ssl;"));
    ASSERT_TRUE(replaceAll(site, "listen 446 ssl;", "listen 127.0.0.1:" + number[3] + " ssl;"));
    ASSERT_TRUE(replaceAll(site, "$host:443;", "$host:" + number[0] + ";"));
    ASSERT_TRUE(replaceAll(site, "127.0.0.1:8180;", "127.0.0.1:" + QByteArray::number(m_service.httpPort()) + ";"));
    ASSERT_TRUE(replaceAll(site, "127.0.0.1:8181;", "127.0.0.1:" + QByteArray::number(m_service.adcPort()) + ";"));
    ASSERT_TRUE(replaceAll(site, "127.0.0.1:8182;", "127.0.0.1:" + QByteArray::number(m_service.eventPort()) + ";"));
    ASSERT_TRUE(replaceAll(site, "127.0.0.1:8183;", "127.0.0.1:" + QByteArray::number(m_service.terminalPort()) + ";"));
    ASSERT_TRUE(replaceAll(site, "/etc/ssl/dastel/dastel.crt", m_dir.filePath("cert.pem").toUtf8()));
    ASSERT_TRUE(replaceAll(site, "/etc/ssl/dastel/dastel.key", m_dir.filePath("key.pem").toUtf8()));
    ASSERT_FALSE(site.contains("listen 443")) << "every listening port is moved";
    ASSERT_TRUE(replaceAll(site, "/var/log/nginx/", m_dir.path().toUtf8() + "/"));

    const QByteArray dir = m_dir.path().toUtf8();
    {
        QFile out(m_dir.filePath("site.conf"));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(site);
    }
    {
        QFile out(m_dir.filePath("nginx.conf"));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("daemon off;\npid " + dir + "/nginx.pid;\nerror_log " + dir + "/error.log;\n"
                  "events { worker_connections 64; }\n"
                  // As Debian's nginx.conf: every request logged, with its query,
                  // where a site does not say otherwise.
                  "http {\n  access_log " + dir + "/access.log;\n"
                  "  client_body_temp_path " + dir + "/body;\n  proxy_temp_path " + dir + "/proxy;\n"
                  "  fastcgi_temp_path " + dir + "/fastcgi;\n  uwsgi_temp_path " + dir + "/uwsgi;\n"
                  "  scgi_temp_path " + dir + "/scgi;\n"
                  "  include " + dir + "/site.conf;\n}\n");
    }
    m_nginx.setProcessChannelMode(QProcess::MergedChannels);
    m_nginx.start(nginx, {"-p", m_dir.path() + "/", "-c", m_dir.filePath("nginx.conf"), "-e", m_dir.filePath("error.log")});
    ASSERT_TRUE(m_nginx.waitForStarted(5000));
    const bool listening = waitFor([&] {
        if (m_nginx.state() == QProcess::NotRunning)
            return true;
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_ports[0]);
        return probe.waitForConnected(200);
    }, 15000);
    QFile errorLog(m_dir.filePath("error.log"));
    errorLog.open(QIODevice::ReadOnly);
    ASSERT_TRUE(listening && m_nginx.state() == QProcess::Running)
        << "nginx did not start: " << m_nginx.readAll().toStdString() << errorLog.readAll().toStdString();

    // The command API over HTTPS: served with the token, refused without it
    // or from a foreign page.
    const QByteArray bearer = "Authorization: Bearer " + token + "\r\n";
    ASSERT_TRUE(waitFor([&] { return command(R"({"cmd":"GetPower","uid":1})", bearer + "Origin: " + origin() + "\r\n")
                                  .contains("\"status\":\"ok\""); }, 20000))
        << m_service.sim().output();
    const QByteArray served = command(R"({"cmd":"GetTime","uid":2})", bearer + "Origin: " + origin() + "\r\n");
    EXPECT_TRUE(served.startsWith("HTTP/1.1 200 OK\r\n")) << served.toStdString();
    EXPECT_TRUE(served.contains("\"status\":\"ok\"")) << served.toStdString();
    EXPECT_TRUE(command(R"({"cmd":"GetTime","uid":3})", "").startsWith("HTTP/1.1 401 ")) ;
    EXPECT_TRUE(command(R"({"cmd":"GetTime","uid":4})", bearer + "Origin: https://evil.example\r\n").startsWith("HTTP/1.1 403 "));
    const QByteArray page = https("GET / HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(page.startsWith("HTTP/1.1 200 OK\r\n")) << page.left(200).toStdString();
    EXPECT_TRUE(page.contains("access.js"));

    // The signal stream over WSS, as the UI's page opens it.
    QWebSocket stream{QString(origin())};
    stream.setSslConfiguration(tlsConfiguration());
    QList<QByteArray> blocks;
    QObject::connect(&stream, &QWebSocket::binaryMessageReceived, [&](const QByteArray& block) { blocks.append(block); });
    stream.open(QUrl(QStringLiteral("wss://localhost:%1/?token=%2").arg(m_ports[1]).arg(QString(token))));
    EXPECT_TRUE(waitFor([&] { return blocks.size() >= 3; }, 20000))
        << "state " << stream.state() << " " << stream.errorString().toStdString() << "\n" << m_service.sim().output();
    for (const QByteArray& block : blocks)
        EXPECT_FALSE(block.isEmpty());

    // Without the token the stream stays shut.
    QWebSocket refused{QString(origin())};
    refused.setSslConfiguration(tlsConfiguration());
    int refusedBlocks = 0;
    QObject::connect(&refused, &QWebSocket::binaryMessageReceived, [&] { ++refusedBlocks; });
    refused.open(QUrl(QStringLiteral("wss://localhost:%1/").arg(m_ports[1])));
    waitFor([&] { return false; }, 1000);
    EXPECT_NE(refused.state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(refusedBlocks, 0);

    // A token in a query reaches no access log of nginx: not the stream's,
    // whose every connect carries it, nor the UI's should a link carry one.
    const QByteArray linked = https("GET /?token=" + token + "&terminal=1 HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(linked.startsWith("HTTP/1.1 200 OK\r\n")) << linked.left(200).toStdString();
    stream.close();
    m_nginx.terminate();
    m_nginx.waitForFinished(10000);
    QByteArray logged;
    for (const char* name : {"access.log", "dastel-access.log"}) {
        QFile log(m_dir.filePath(name));
        if (log.open(QIODevice::ReadOnly))
            logged += log.readAll();
    }
    EXPECT_TRUE(logged.contains("\"POST /cmd HTTP/1.1\" 200")) << "the API is still logged:\n" << logged.toStdString();
    EXPECT_FALSE(logged.contains(token)) << logged.toStdString();
    EXPECT_FALSE(logged.contains("?token=")) << logged.toStdString();
}

} // namespace

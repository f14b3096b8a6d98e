// The device web API of the real service, run from a scratch directory under
// the simulated recorder, seen by a raw HTTP client on loopback.

#if __has_include("fixture/simulatorlauncher.h")

#include "fixture/simulatorlauncher.h"
#include "support/serviceundersimulator.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegExp>
#include <QSet>
#include <QTcpSocket>
#include <QThread>
#include <gtest/gtest.h>

#include <memory>

using Tavrix::Simulator::Testing::SimulatorLauncher;

namespace {

struct HttpAnswer
{
    QByteArray statusLine;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

HttpAnswer parse(const QByteArray& received)
{
    HttpAnswer answer;
    answer.statusLine = received.left(received.indexOf("\r\n"));
    const int headersEnd = received.indexOf("\r\n\r\n");
    if (headersEnd >= 0)
        answer.body = received.mid(headersEnd + 4);
    return answer;
}

QByteArray postRequest(const QByteArray& body)
{
    return "POST /cmd HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: "
           + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// One connection: sends, then reads until the server closes.
class Connection
{
public:
    bool open(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        return m_socket.waitForConnected(3000);
    }
    void send(const QByteArray& bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }
    HttpAnswer receive(int timeoutMs = 8000)
    {
        QByteArray received;
        QElapsedTimer timer;
        timer.start();
        while (m_socket.state() == QAbstractSocket::ConnectedState && timer.elapsed() < timeoutMs) {
            m_socket.waitForReadyRead(100);
            received += m_socket.readAll();
        }
        received += m_socket.readAll();
        return parse(received);
    }
    void abort() { m_socket.abort(); }

private:
    QTcpSocket m_socket;
};

// The service with its own ports and a device description that also binds
// the simple command "GetPower" (the recorder's power read).
class Service
{
public:
    // Empty on success, else why not; `skip` when the environment lacks it.
    std::string start(bool unplugged, bool* skip)
    {
        *skip = false;
        m_service.setConfigEdit([](const QString& path, const QByteArray& content) {
            if (!path.startsWith("DeviceCommands/") || !content.contains("\"ReadPower\""))
                return content;
            QByteArray edited = content;
            return edited.replace("\"Commands\": [",
                                  "\"Commands\": [\n{\"Name\": \"GetPower\", \"Description\": \"power, as a simple "
                                  "command\", \"Code\": \"0x0C\", \"Data\": {\"SourceType\": \"FIXED\", "
                                  "\"AnswerType\": \"INT\", \"Width\": 0, \"Options\": []}},");
        });
        SimulatorLauncher::Options options;
        options.startUnplugged = unplugged;
        std::string reason;
        const auto result = m_service.start(options, &reason);
        if (result == SimulatorLauncher::StartResult::Unavailable) {
            *skip = true;
            return reason;
        }
        if (result != SimulatorLauncher::StartResult::Started)
            return reason;
        // The service listens a moment after it starts.
        for (int i = 0; i < 100; ++i) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port());
            if (probe.waitForConnected(200))
                return std::string();
            if (!m_service.running())
                return "the service ended: " + sim().output();
            QThread::msleep(100);
        }
        return "the service does not serve HTTP on its port: " + sim().output();
    }

    HttpAnswer post(const QByteArray& body)
    {
        Connection connection;
        if (!connection.open(port()))
            return {};
        connection.send(postRequest(body));
        return connection.receive();
    }

    // Polls until the recorder is identified and its clock can be read.
    bool waitUntilIdentified(int timeoutMs = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            if (post(R"({"cmd":"GetTime"})").json().value("status").toString() == "ok")
                return true;
            QThread::msleep(200);
        }
        return false;
    }

    quint16 port() const { return m_service.httpPort(); }
    SimulatorLauncher& sim() { return m_service.sim(); }

private:
    ServiceUnderSimulator m_service;
};

// One service for the tests that need a connected recorder: starting it
// costs seconds.
class DeviceWebApiEndToEnd : public ::testing::Test
{
protected:
    static void TearDownTestSuite() { s_service.reset(); }

    void SetUp() override
    {
        if (!s_failure.empty())
            GTEST_SKIP() << s_failure;
        if (s_service)
            return;
        s_service = std::make_unique<Service>();
        bool skip = false;
        const std::string reason = s_service->start(false, &skip);
        if (!reason.empty() || !s_service->waitUntilIdentified()) {
            // The service's own output says why it did not get there.
            s_failure = reason.empty() ? "the recorder was not identified; the service said:\n" + s_service->sim().output()
                                       : reason;
            s_service.reset();
            if (skip)
                GTEST_SKIP() << s_failure;
            FAIL() << s_failure;
        }
    }

    Service& service() { return *s_service; }

    static std::unique_ptr<Service> s_service;
    static std::string s_failure;
};

std::unique_ptr<Service> DeviceWebApiEndToEnd::s_service;
std::string DeviceWebApiEndToEnd::s_failure;

const QByteArray kOk = "HTTP/1.1 200 OK";

} // namespace

TEST(DeviceWebApiEndToEndUnplugged, commandsAreDeviceDisconnectedUntilTheRecorderIsIdentified)
{
    Service service;
    bool skip = false;
    const std::string reason = service.start(true, &skip);
    if (skip)
        GTEST_SKIP() << reason;
    ASSERT_EQ(reason, "");

    for (const char* name : {"GetTime", "GetCmdList", "ReadPower"}) {
        const HttpAnswer answer = service.post(QByteArray(R"({"cmd":")") + name + R"(","uid":5})");
        EXPECT_EQ(answer.statusLine, kOk);
        EXPECT_EQ(answer.body.toStdString(),
                  std::string(R"({"cmd":")") + name + R"(","errorcode":"DEVICE_DISCONNECTED","status":"error","uid":5})");
    }
    ASSERT_NE(service.sim().request("plug"), "");
    EXPECT_TRUE(service.waitUntilIdentified());
}

TEST_F(DeviceWebApiEndToEnd, customByteCommandSendsRawBytes)
{
    const HttpAnswer answer = service().post(
        R"({"cmd":"CustomByteCommand","uid":1,"data":["0x7e","0x01","0x00","0x01","0xdd","0xff","0xff","0xbd"]})");
    EXPECT_EQ(answer.statusLine, kOk);
    EXPECT_EQ(answer.body.toStdString(), R"({"data":["0xdd"],"status":"ok","uid":1})");
}

TEST_F(DeviceWebApiEndToEnd, describedSimpleCommandsRunInAnyLetterCaseAndBeforeWebCommands)
{
    // "GetPower" is both a simple command of this description and a web
    // command name: the simple command answers its raw payload.
    for (const char* name : {"rEaDpOwEr", "GETPOWER"}) {
        const QJsonObject answer = service().post(QByteArray(R"({"cmd":")") + name + R"(","uid":2})").json();
        EXPECT_EQ(answer.value("status").toString(), "ok") << name;
        EXPECT_EQ(answer.value("uid").toInt(), 2);
        const QJsonArray data = answer.value("data").toArray();
        ASSERT_EQ(data.size(), 2) << name;
        for (const QJsonValue& byte : data)
            EXPECT_TRUE(QRegExp("0x[0-9a-f]{2}").exactMatch(byte.toString())) << byte.toString().toStdString();
    }
}

TEST_F(DeviceWebApiEndToEnd, badRequestsAreRefusedAndTheServiceGoesOn)
{
    for (const QByteArray body : {QByteArray("[]"), QByteArray("nonsense"),
                                  QByteArray(R"({"cmd":"CustomByteCommand","data":["0xZZ"]})"),
                                  QByteArray(R"({"cmd":"ReadPower","data":[12]})")}) {
        const HttpAnswer answer = service().post(body);
        EXPECT_EQ(answer.statusLine, "HTTP/1.1 400 Bad Request") << body.constData();
        EXPECT_TRUE(answer.body.isEmpty());
    }
    EXPECT_EQ(service().post(R"({"cmd":"NoSuchCommand","uid":3})").body.toStdString(),
              R"({"cmd":"NoSuchCommand","errorcode":"NOT_EXIST","status":"error","uid":3})");
}

TEST_F(DeviceWebApiEndToEnd, commandListDescribesEveryCommandOnce)
{
    const QJsonObject answer = service().post(R"({"cmd":"GetCmdList","uid":4})").json();
    EXPECT_EQ(answer.value("status").toString(), "ok");
    const QJsonArray list = answer.value("data").toArray();
    QSet<QString> names;
    for (const QJsonValue& entry : list) {
        const QJsonObject description = entry.toObject();
        EXPECT_EQ(description.keys(), (QStringList{"answer", "cmd", "data"}));
        names.insert(description.value("cmd").toString());
    }
    EXPECT_EQ(names.size(), list.size());
    EXPECT_TRUE(names.contains("GetCmdList"));
    EXPECT_TRUE(names.contains("GetTime"));
}

TEST_F(DeviceWebApiEndToEnd, getTimeReadsTheRecorderClock)
{
    ASSERT_EQ(service().sim().requestJson("set clock 2031-05-17 08:09:10").value("ok").toBool(), true);
    const HttpAnswer answer = service().post(R"({"cmd":"gettime","uid":6})");
    const QJsonObject data = answer.json().value("data").toObject();
    EXPECT_EQ(answer.json().value("status").toString(), "ok") << answer.body.toStdString();
    EXPECT_EQ(data.value("Year").toInt(), 2031);
    EXPECT_EQ(data.value("Month").toInt(), 5);
    EXPECT_EQ(data.value("Day").toInt(), 17);
    EXPECT_EQ(data.value("Hours").toInt(), 8);
    EXPECT_EQ(data.value("Minutes").toInt(), 9);
    // The simulated clock ticks on.
    EXPECT_GE(data.value("Seconds").toInt(), 10);
    EXPECT_LE(data.value("Seconds").toInt(), 15);
}

TEST_F(DeviceWebApiEndToEnd, requestsInFlightOnTwoConnectionsAreAnsweredEachOnItsOwn)
{
    Connection clock;
    Connection power;
    ASSERT_TRUE(clock.open(service().port()));
    ASSERT_TRUE(power.open(service().port()));
    clock.send(postRequest(R"({"cmd":"GetTime","uid":101})"));
    power.send(postRequest(R"({"cmd":"ReadPower","uid":102})"));
    const QJsonObject powerAnswer = power.receive().json();
    const QJsonObject clockAnswer = clock.receive().json();
    EXPECT_EQ(clockAnswer.value("uid").toInt(), 101);
    EXPECT_TRUE(clockAnswer.value("data").toObject().contains("Year"));
    EXPECT_EQ(powerAnswer.value("uid").toInt(), 102);
    EXPECT_TRUE(powerAnswer.value("data").isArray());
}

TEST_F(DeviceWebApiEndToEnd, clientsLeavingBeforeTheirAnswerDoNotDisturbTheService)
{
    for (int i = 0; i < 5; ++i) {
        Connection leaving;
        ASSERT_TRUE(leaving.open(service().port()));
        leaving.send(postRequest(i % 2 ? R"({"cmd":"GetTime","uid":7})" : R"({"cmd":"ReadPower","uid":7})"));
        leaving.abort();
    }
    const QJsonObject answer = service().post(R"({"cmd":"GetTime","uid":8})").json();
    EXPECT_EQ(answer.value("status").toString(), "ok");
    EXPECT_EQ(answer.value("uid").toInt(), 8);
    EXPECT_TRUE(service().sim().running());
}

#endif

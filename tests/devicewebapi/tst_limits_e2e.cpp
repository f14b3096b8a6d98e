// What clients can make the real service hold or do is bounded: waiting
// commands, how long they wait, commands of clients that left, and the
// connections that would otherwise take the descriptors the recorder needs.

#include "serviceclient.h"

#include <QJsonArray>
#include <sys/resource.h>
#include <vector>

using ServiceTesting::PendingRequest;

namespace {

constexpr int kMaxWaiting = 3;
constexpr int kQueueTimeoutMs = 2500;

class CommandLimitsTest : public ServiceTesting::ServiceFixture
{
protected:
    void SetUp() override
    {
        service.setExtraSettings({{"limits", QJsonObject{{"maxWaitingCommands", kMaxWaiting},
                                                          {"commandQueueTimeoutMs", kQueueTimeoutMs}}}});
        startService(22);
    }

    qint64 requestsSeen() { return model()["requestsSeen"].toVariant().toLongLong(); }
};

} // namespace

TEST_F(CommandLimitsTest, AFloodOnASilentRecorderIsBoundedInCountAndTime)
{
    control("fault no-answer count=50");
    const qint64 seen = requestsSeen();
    const int requests = 10;
    std::vector<std::unique_ptr<PendingRequest>> pending;
    for (int i = 0; i < requests; ++i)
        pending.push_back(std::make_unique<PendingRequest>(service.httpPort(), R"({"cmd":"GetTime","uid":7})"));

    int busy = 0, timeouts = 0;
    for (auto& request : pending) {
        const QJsonObject answer = QJsonDocument::fromJson(request->body(15000)).object();
        SCOPED_TRACE(QJsonDocument(answer).toJson(QJsonDocument::Compact).toStdString());
        EXPECT_EQ(answer["uid"].toInt(), 7);
        EXPECT_EQ(answer["status"].toString(), "error");
        const QString code = answer["errorcode"].toString();
        if (code == "BUSY") {
            ++busy;
            EXPECT_FALSE(answer["errortext"].toString().isEmpty());
        } else {
            EXPECT_EQ(code, "TIMEOUT");
            ++timeouts;
        }
    }
    // One in flight and kMaxWaiting behind it; the rest are turned away
    // (fewer when a place frees up before the last request arrives).
    EXPECT_EQ(busy + timeouts, requests);
    EXPECT_GE(busy, 1);
    // With a 1000 ms answer time-out, the last one taken would be sent
    // 3000 ms after it was queued: its deadline has passed and it never goes out.
    EXPECT_LE(requestsSeen() - seen, kMaxWaiting);
    EXPECT_GE(requestsSeen() - seen, 1);

    control("clear-faults");
    EXPECT_EQ(answerOf("GetTime")["status"].toString(), "ok");
}

TEST_F(CommandLimitsTest, ACommandWhoseClientLeftBeforeItWasSentIsNeverSent)
{
    control("fault no-answer count=50");
    const qint64 seen = requestsSeen();
    PendingRequest inFlight(service.httpPort(), R"({"cmd":"GetTime","uid":1})");
    ASSERT_TRUE(waitFor([&] { return requestsSeen() > seen; }, 5000));
    {
        // A clock write behind it, whose client gives up before its turn.
        PendingRequest gaveUp(service.httpPort(),
                              R"({"cmd":"SetTime","uid":2,"data":{"Year":2031,"Month":1,"Day":2,"Hours":3,"Minutes":4,"Seconds":5}})");
        QThread::msleep(300);
    }
    const QJsonObject answer = QJsonDocument::fromJson(inFlight.body(5000)).object();
    EXPECT_EQ(answer["errorcode"].toString(), "TIMEOUT");
    // Past the time the write would have gone out.
    QThread::msleep(1500);
    EXPECT_EQ(requestsSeen() - seen, 1);

    control("clear-faults");
    EXPECT_EQ(answerOf("GetTime")["status"].toString(), "ok");
}

namespace {

constexpr rlim_t kServiceFileLimit = 256;

class ConnectionFloodTest : public ServiceTesting::ServiceFixture
{
protected:
    void SetUp() override
    {
        // Only the open file limit bounds the connections here: a service
        // without its own bound would run out of descriptors.
        service.setExtraSettings({{"limits", QJsonObject{{"maxConnections", 100000},
                                                          {"maxConnectionsPerAddress", 100000}}}});
        service.setCommandPrefix({"prlimit", "--nofile=" + std::to_string(kServiceFileLimit) + ":"
                                                 + std::to_string(kServiceFileLimit), "--"});
        rlimit own{};
        getrlimit(RLIMIT_NOFILE, &own);
        own.rlim_cur = own.rlim_max;
        setrlimit(RLIMIT_NOFILE, &own);
        if (own.rlim_cur < 2 * kServiceFileLimit)
            GTEST_SKIP() << "this process may not open enough files for the flood";
        startService(22);
    }
};

} // namespace

TEST_F(ConnectionFloodTest, TheRecorderIsFoundAgainWhileConnectionsFloodEveryPort)
{
    std::vector<std::unique_ptr<QTcpSocket>> held;
    const quint16 ports[] = {service.httpPort(), service.adcPort(), service.eventPort(), service.terminalPort()};
    for (rlim_t i = 0; i < kServiceFileLimit + 40; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, ports[i % 4]);
        held.push_back(std::move(socket));
    }
    for (auto& socket : held)
        socket->waitForConnected(2000);
    // Time to take them all in, well before any of them could time out.
    QThread::msleep(1000);

    // The recorder re-enumerates meanwhile: it must be opened and identified
    // again, without the service ever running out of descriptors.
    const std::size_t from = service.sim().output().size();
    control("unplug");
    QThread::msleep(500);
    control("plug");
    EXPECT_NE(service.waitForOutput("connected device name:", 20000, from), std::string::npos)
        << service.sim().output().substr(from);
    const std::string output = service.sim().output().substr(from);
    // libusb reports running out of descriptors as errno 24 (EMFILE).
    EXPECT_EQ(output.find("errno=24"), std::string::npos) << output;
    EXPECT_EQ(output.find("open error"), std::string::npos) << output;

    // What the descriptors did not allow was refused at once.
    int refused = 0;
    for (auto& socket : held) {
        socket->waitForReadyRead(0);
        if (socket->state() == QAbstractSocket::UnconnectedState || socket->peek(64).startsWith("HTTP/1.1 503"))
            ++refused;
    }
    EXPECT_GE(refused, 40);

    held.clear();
    EXPECT_TRUE(waitFor([&] { return answerOf("GetPower")["status"].toString() == "ok"; }, 10000));
}

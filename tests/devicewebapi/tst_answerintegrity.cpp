// Every answer of the recorder reaches the request it belongs to, through the
// real libusb path: answers that land in a read libusb is cancelling are
// kept, and a late answer of a timed-out request is never taken as the answer
// of the next one.

#include "serviceclient.h"

#include <QJsonArray>

using ServiceTesting::PendingRequest;

namespace {

const char* const kPowerFrame = R"(["0x7e","0x00","0x00","0x0c","0xff","0xff","0xbd"])";

// The recorder's power in its raw answer bytes: 3950 mV.
const QJsonArray kPowerBytes{"0x6e", "0x0f"};

struct Request
{
    const char* what;
    QByteArray body;
    std::function<void(const QJsonObject&)> check;
};

std::vector<Request> powerRequests()
{
    auto rawPower = [](const QJsonObject& answer) { EXPECT_EQ(answer["data"].toArray(), kPowerBytes); };
    return {
        {"described simple command", R"({"cmd":"ReadPower","uid":41})", rawPower},
        {"raw bytes", QByteArray(R"({"cmd":"CustomByteCommand","uid":41,"data":)") + kPowerFrame + "}", rawPower},
        {"web command", R"({"cmd":"GetPower","uid":41})",
         [](const QJsonObject& answer) { EXPECT_EQ(answer["data"].toObject()["Power"].toInt(), 3950); }},
    };
}

class AnswerIntegrityTest : public ServiceTesting::ServiceFixture
{
protected:
    qint64 modelCounter(const char* name) { return model()[name].toVariant().toLongLong(); }
};

TEST_F(AnswerIntegrityTest, AnswerCompletedIntoACancelledReadIsTheRequestsOwn)
{
    std::vector<Request> requests = powerRequests();
    requests.push_back({"clock", R"({"cmd":"GetTime","uid":41})",
                        [](const QJsonObject& answer) { EXPECT_GE(answer["data"].toObject()["Year"].toInt(), 2000); }});
    for (const Request& r : requests) {
        SCOPED_TRACE(r.what);
        const qint64 released = modelCounter("framesReleasedAtCancel");
        control("fault answer-at-cancel");
        const QJsonObject answer = QJsonDocument::fromJson(postRaw(r.body)).object();
        SCOPED_TRACE(QJsonDocument(answer).toJson(QJsonDocument::Compact).toStdString());
        EXPECT_EQ(answer["status"].toString(), "ok");
        EXPECT_EQ(answer["uid"].toInt(), 41);
        r.check(answer);
        // The answer did travel in a cancelled read.
        EXPECT_EQ(modelCounter("framesReleasedAtCancel"), released + 1);
    }
}

TEST_F(AnswerIntegrityTest, LateAnswerIsNeverTheNextRequestsAnswer)
{
    for (const Request& r : powerRequests()) {
        SCOPED_TRACE(r.what);
        const std::size_t logFrom = service.sim().output().size();
        const qint64 seen = modelCounter("requestsSeen");
        // The clock's answer comes 1500 ms late, after its 1000 ms time-out.
        control("fault late-answer");
        PendingRequest clock(service.httpPort(), R"({"cmd":"GetTime","uid":40})");
        ASSERT_TRUE(waitFor([&] { return modelCounter("requestsSeen") > seen; }, 5000));
        // Queued behind the clock, so the service sends it the moment the
        // clock times out, and the late clock frame arrives while it waits.
        PendingRequest next(service.httpPort(), r.body);

        const QJsonObject clockAnswer = QJsonDocument::fromJson(clock.body()).object();
        EXPECT_EQ(clockAnswer["status"].toString(), "error");
        EXPECT_EQ(clockAnswer["errorcode"].toString(), "TIMEOUT");

        const QJsonObject answer = QJsonDocument::fromJson(next.body()).object();
        SCOPED_TRACE(QJsonDocument(answer).toJson(QJsonDocument::Compact).toStdString());
        EXPECT_EQ(answer["status"].toString(), "ok");
        EXPECT_EQ(answer["uid"].toInt(), 41);
        r.check(answer);
        EXPECT_NE(service.waitForOutput("Dropped a frame that is not the answer of", 2000, logFrom), std::string::npos)
            << service.sim().output().substr(logFrom);

        // In step again: the clock answers with the clock.
        const QJsonObject again = answerOf("GetTime");
        EXPECT_EQ(again["status"].toString(), "ok");
        EXPECT_GE(again["data"].toObject()["Year"].toInt(), 2000);
        EXPECT_EQ(answerOf("GetPower")["data"].toObject()["Power"].toInt(), 3950);
    }
}

} // namespace

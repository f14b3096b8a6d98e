// Beats and heart rate end to end: the simulator plays MIT-BIH record 100,
// the service detects its beats from the live ECG, and both the beat events
// and "GetHeartRate" are checked against the cardiologists' annotations.

#include "devicewebapi/serviceclient.h"
#include "support/msgpackreader.h"
#include "wfdbrecord.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QWebSocket>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>

using TestSupport::MsgReader;
using TestSupport::MsgValue;

namespace {

const std::string kRecord = std::string(DASTEL_DATA_DIR) + "/ecg/100";

struct BeatEvent
{
    int64_t frame = 0;
    int64_t rr = 0;
    int64_t hr = 0;
};

class HeartRateTest : public ServiceTesting::ServiceFixture
{
protected:
    // Waits while the event loop runs, so the WebSocket client receives.
    static bool spinUntil(const std::function<bool()>& condition, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (!condition() && timer.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return condition();
    }

    std::vector<BeatEvent> beats() const
    {
        std::vector<BeatEvent> out;
        for (const QByteArray& message : m_messages) {
            MsgValue value;
            MsgReader reader(message);
            if (!reader.readDocument(value))
                continue;
            const MsgValue& data = value["data"];
            if (data.kind != MsgValue::Kind::Array)
                continue;
            for (const MsgValue& event : data.items)
                if (event["type"].text == "beat")
                    out.push_back({event["frame"].integer, event["rr"].integer, event["hr"].integer});
        }
        return out;
    }

    QWebSocket m_events;
    std::vector<QByteArray> m_messages;
};

} // namespace

TEST_F(HeartRateTest, BeatsOfRecord100MatchTheAnnotationsAndTheRateAgrees)
{
    Tavrix::Analysis::WfdbAnnotations annotations;
    ASSERT_TRUE(annotations.load(kRecord + ".atr")) << annotations.error();
    const std::vector<int64_t> reference = annotations.beatSamples();
    constexpr double recordRate = 360.0;
    constexpr double frameRate = 500.0; // the simulated recorder's default
    // Played from 9:50; the 30 s scored start at 10:00, once the detector has
    // had the leads the record lacks go flat (their channels drop from the
    // synthetic ECG to 0 at the switch) and has learnt the record's levels.
    constexpr double offsetSeconds = 590.0;
    constexpr double leadInSeconds = 10.0;
    constexpr double spanSeconds = 30.0;

    QObject::connect(&m_events, &QWebSocket::binaryMessageReceived,
                     [this](const QByteArray& message) { m_messages.push_back(message); });
    m_events.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(service.eventPort())));
    ASSERT_TRUE(spinUntil([this] { return m_events.state() == QAbstractSocket::ConnectedState; }, 5000));
    // The service measures the frame rate before it detects.
    ASSERT_NE(service.waitForOutput("streams 500 frames a second", 30000), std::string::npos)
        << service.sim().output();

    const QJsonObject played =
        service.sim().requestJson("ecg-record " + kRecord + " offset=" + std::to_string(offsetSeconds));
    ASSERT_TRUE(played.value("ok").toBool()) << service.sim().request("state");
    const auto first = static_cast<int64_t>(played.value("frame").toDouble());
    const int64_t from = first + static_cast<int64_t>(leadInSeconds * frameRate);
    const int64_t last = from + static_cast<int64_t>(spanSeconds * frameRate);
    // The counter wraps at 65535; this test's span stays clear of it.
    ASSERT_LT(last + 2000, 65535) << "the simulator ran too long before the test";

    // Every beat of the span is reported a fraction of a second after its R peak.
    ASSERT_TRUE(spinUntil(
        [&] {
            const auto b = beats();
            return !b.empty() && b.back().frame >= last;
        },
        120000))
        << service.sim().output();
    const QJsonObject rate = answerOf("GetHeartRate");

    // Frames mapped through the resampling to the record's own samples.
    auto toRecordSample = [&](int64_t frame) {
        return (offsetSeconds + (frame - first) / frameRate) * recordRate;
    };
    const double window = 0.150 * recordRate;
    std::vector<double> detected;
    for (const BeatEvent& beat : beats())
        if (beat.frame >= from - frameRate / 4 && beat.frame < last + frameRate / 4)
            detected.push_back(toRecordSample(beat.frame)); // a little either side: matches across the edges
    std::vector<int64_t> expected;
    for (int64_t sample : reference)
        if (sample >= toRecordSample(from) && sample < toRecordSample(last))
            expected.push_back(sample);
    ASSERT_GT(expected.size(), 30u);

    std::vector<bool> used(detected.size(), false);
    int missed = 0;
    for (int64_t r : expected) {
        size_t match = detected.size();
        for (size_t i = 0; i < detected.size() && match == detected.size(); ++i)
            if (!used[i] && std::fabs(detected[i] - r) <= window)
                match = i;
        if (match == detected.size()) {
            ++missed;
            ADD_FAILURE() << "annotated beat at sample " << r << " not reported";
        } else {
            used[match] = true;
        }
    }
    for (size_t i = 0; i < detected.size(); ++i)
        if (detected[i] >= toRecordSample(from) && detected[i] < toRecordSample(last))
            EXPECT_TRUE(used[i]) << "a beat reported at record sample " << detected[i] << " is not annotated";
    EXPECT_EQ(missed, 0);

    // The service's rate against the annotated rate at its last beat: the
    // median of the eight annotated intervals before it.
    ASSERT_TRUE(rate.value("HeartRate").isDouble()) << QJsonDocument(rate).toJson().toStdString();
    ASSERT_TRUE(rate.value("LastBeatFrame").isDouble());
    const double lastBeat = toRecordSample(static_cast<int64_t>(rate.value("LastBeatFrame").toDouble()));
    std::vector<double> intervals;
    auto upTo = std::upper_bound(reference.begin(), reference.end(), static_cast<int64_t>(lastBeat + window));
    for (auto it = upTo - 1; it != reference.begin() && intervals.size() < 8; --it)
        intervals.push_back((*it - *(it - 1)) * 1000.0 / recordRate);
    std::sort(intervals.begin(), intervals.end());
    const double annotatedBpm = 60000.0 / (0.5 * (intervals[3] + intervals[4]));
    EXPECT_NEAR(rate.value("HeartRate").toDouble(), annotatedBpm, 2.0);

    // The beat events carry the interval and the rate too.
    const auto all = beats();
    ASSERT_GE(all.size(), 10u);
    const BeatEvent& lastEvent = all.back();
    EXPECT_NEAR(lastEvent.hr, annotatedBpm, 3.0);
    EXPECT_GT(lastEvent.rr, 300);
    EXPECT_LT(lastEvent.rr, 1500);

    // GetCmdList lists the new command.
    EXPECT_NE(post("GetCmdList").indexOf("GetHeartRate"), -1);
}

TEST_F(HeartRateTest, NoBeatsAndNoRateFromFlatLeads)
{
    // A record whose leads the recorder lacks plays as flat channels.
    const std::string dir = service.directory().toStdString();
    {
        std::ofstream hea(dir + "/flat.hea");
        hea << "flat 1 500 5000\nflat.dat 16 1000 16 0 0 0 0 aVR\n";
        std::ofstream dat(dir + "/flat.dat", std::ios::binary);
        dat << std::string(10000, '\0');
    }
    // It has none of the recorder's leads: refused, and the synthetic ECG plays on.
    EXPECT_FALSE(service.sim().requestJson("ecg-record " + dir + "/flat").value("ok").toBool());

    QObject::connect(&m_events, &QWebSocket::binaryMessageReceived,
                     [this](const QByteArray& message) { m_messages.push_back(message); });
    m_events.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(service.eventPort())));
    ASSERT_TRUE(spinUntil([this] { return m_events.state() == QAbstractSocket::ConnectedState; }, 5000));
    ASSERT_NE(service.waitForOutput("streams 500 frames a second", 30000), std::string::npos);
    // The synthetic beats are detected ...
    ASSERT_TRUE(spinUntil([this] { return beats().size() >= 3; }, 30000)) << service.sim().output();
    // ... and a record of one lead the recorder does not carry elsewhere
    // leaves every channel but II flat: II is 0 too here, so nothing beats.
    {
        std::ofstream hea(dir + "/flat2.hea");
        hea << "flat2 1 500 5000\nflat2.dat 16 1000 16 0 0 0 0 II\n";
        std::ofstream dat(dir + "/flat2.dat", std::ios::binary);
        dat << std::string(10000, '\0');
    }
    const QJsonObject played = service.sim().requestJson("ecg-record " + dir + "/flat2 once");
    ASSERT_TRUE(played.value("ok").toBool());
    const auto flatFrom = static_cast<int64_t>(played.value("frame").toDouble());
    // Six seconds of flat signal: no beat after the splice settles, and the rate goes stale.
    ASSERT_TRUE(spinUntil([&] { return answerOf("GetHeartRate").value("HeartRate").isNull(); }, 30000))
        << QJsonDocument(answerOf("GetHeartRate")).toJson().toStdString();
    for (const BeatEvent& beat : beats())
        EXPECT_LT(beat.frame, flatFrom + 250) << "a beat from a flat signal";
    const QJsonObject rate = answerOf("GetHeartRate");
    EXPECT_TRUE(rate.value("LastBeatFrame").isNull());
}

#include "devicewebapi/beatdetectorlink.h"
#include "support/msgpackreader.h"
#include "support/signalframes.h"
#include "usb/deviceinfo.h"
#include "usb/useradcchannelsmanager.h"

#include <QDataStream>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

using Tavrix::DeviceWebApi::BeatDetectorLink;
using Tavrix::DevicesInfo::DeviceChannelTypeInfo;
using Tavrix::DevicesInfo::EChannelSource;
using Tavrix::DevicesInfo::EChannelType;
using namespace Tavrix::Usb;
using TestSupport::handOver;
using TestSupport::MsgReader;
using TestSupport::put24;
using TestSupport::signalFrame;
using TestSupport::MsgValue;

namespace {

constexpr int kRate = 500;          // frames a second
constexpr int kRrFrames = 400;      // 75 beats a minute
constexpr int kFirstR = 150;

// A recorder frame (type 21 layout) whose eight ECG slots carry `ecg` counts (µV).
void appendFrame(std::vector<uint8_t>& stream, uint16_t number, const std::function<int32_t(int)>& ecg)
{
    std::vector<uint8_t> frame = signalFrame(57, 0x80, 52, number);
    for (int lead = 0; lead < 8; ++lead)
        put24(frame, 4 + 3 * lead, ecg(lead));
    stream.insert(stream.end(), frame.begin(), frame.end());
}

DeviceInfo device()
{
    DeviceInfo info;
    info.type = 21;
    info.visFrameFormat = "DeviceFerrowSeries";
    info.channels = {{"ecg", {EChannelType::Ecg, EChannelSource::Device}, 8},
                     {"reo", {EChannelType::Reo, EChannelSource::Device}, 2},
                     {"acc", {EChannelType::Acc, EChannelSource::Device}, 3}};
    return info;
}

// A QRS-like bump of 1.2 mV every kRrFrames, with a small T wave.
int32_t ecgAt(int64_t frame, int lead)
{
    const int64_t since = (frame - kFirstR) % kRrFrames;
    const double t = (since > kRrFrames / 2 ? since - kRrFrames : since) / double(kRate);
    const double v = 1200.0 * std::exp(-0.5 * std::pow(t / 0.010, 2)) + 250.0 * std::exp(-0.5 * std::pow((t - 0.25) / 0.04, 2));
    return static_cast<int32_t>(v * (lead % 2 ? 0.8 : 1.0));
}

struct Beat
{
    int64_t frame, rr, hr;
};

class BeatDetectorLinkFrames : public ::testing::Test
{
protected:
    BeatDetectorLinkFrames()
    {
        manager->setConnectedDeviceInfo(device());
        link.attach(manager);
        link.setFrameRate(kRate);
        QObject::connect(&link, &BeatDetectorLink::beatIsReady, [this](const QByteArray& message) {
            MsgValue value;
            MsgReader reader(message);
            ASSERT_TRUE(reader.readDocument(value));
            const MsgValue& beat = value["data"].items.at(0);
            ASSERT_EQ(beat["type"].text, "beat");
            beats.push_back({beat["frame"].integer, beat["rr"].integer, beat["hr"].integer});
        });
    }

    // Frames [from, to) in hand-overs of 10, numbered from `from` on (+`skew`).
    void feed(int64_t from, int64_t to, const std::function<int32_t(int64_t, int)>& ecg, int64_t skew = 0)
    {
        for (int64_t first = from; first < to; first += 10) {
            std::vector<uint8_t> stream;
            for (int64_t n = first; n < std::min(to, first + 10); ++n)
                appendFrame(stream, static_cast<uint16_t>(n + skew), [&](int lead) { return ecg(n, lead); });
            manager->slotAdcAnswer(handOver(stream), 0);
        }
    }

    std::shared_ptr<UserAdcChannelsManager> manager = std::make_shared<UserAdcChannelsManager>(128, nullptr);
    BeatDetectorLink link;
    std::vector<Beat> beats;
};

} // namespace

TEST_F(BeatDetectorLinkFrames, EveryBeatIsAnEventAtItsRPeakFrame)
{
    feed(0, 20 * kRate, ecgAt);
    ASSERT_GE(beats.size(), 20u);
    for (size_t i = 0; i < beats.size(); ++i) {
        const int64_t nearestR = kFirstR + std::llround(double(beats[i].frame - kFirstR) / kRrFrames) * kRrFrames;
        EXPECT_LE(std::llabs(beats[i].frame - nearestR), 10) << "beat " << i; // 20 ms
        if (i == 0) {
            EXPECT_EQ(beats[i].rr, 0);
        } else {
            EXPECT_EQ(beats[i].rr, 800);
            EXPECT_EQ(beats[i].hr, 75);
        }
    }
    const BeatDetectorLink::HeartRate rate = link.heartRate();
    ASSERT_TRUE(rate.bpm && rate.lastBeatFrame);
    EXPECT_DOUBLE_EQ(*rate.bpm, 75.0);
    EXPECT_EQ(*rate.lastBeatFrame, beats.back().frame);
    // Five seconds without a beat and the rate is gone.
    const BeatDetectorLink::HeartRate stale = link.heartRate(BeatDetectorLink::Clock::now() + std::chrono::seconds(6));
    EXPECT_FALSE(stale.bpm);
    EXPECT_FALSE(stale.lastBeatFrame);
}

TEST_F(BeatDetectorLinkFrames, LostFramesRestartTheDetectorWithoutInventingBeats)
{
    feed(0, 10 * kRate, ecgAt);
    const size_t before = beats.size();
    ASSERT_GE(before, 8u);
    // 137 frames never arrive: the numbering jumps, the signal too.
    feed(10 * kRate + 137, 25 * kRate, ecgAt);
    ASSERT_GT(beats.size(), before + 8);
    for (size_t i = before; i < beats.size(); ++i) {
        const int64_t nearestR = kFirstR + std::llround(double(beats[i].frame - kFirstR) / kRrFrames) * kRrFrames;
        EXPECT_LE(std::llabs(beats[i].frame - nearestR), 10) << "beat " << i; // 20 ms
    }
    // The first beat after the gap has no interval to the last one before it.
    EXPECT_EQ(beats[before].rr, 0);
}

TEST_F(BeatDetectorLinkFrames, NoBeatsFromFlatOrFullScaleChannels)
{
    feed(0, 10 * kRate, [](int64_t, int) { return 0; });
    feed(10 * kRate, 20 * kRate, [](int64_t, int) { return 8388607; });
    feed(20 * kRate, 30 * kRate, [](int64_t n, int) { return (n / 700) % 2 ? 8388607 : -8388608; });
    EXPECT_TRUE(beats.empty());
    EXPECT_FALSE(link.heartRate().bpm);
}

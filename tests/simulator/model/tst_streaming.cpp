// Signal frames on 0x83: how many, in which format, with which contents,
// all driven by the time the host passes in.

#include "modeltesthelpers.h"

#include <algorithm>

namespace Tavrix::Simulator::Test {

namespace {

bool isDeviceFrame(const Bytes& f)
{
    return f.size() == 57 && f[0] == 0x7E && f[1] == 0x32 && f[2] == 0x00 && f[3] == 0x80;
}

bool isCableFrame(const Bytes& f)
{
    return f.size() == 21 && f[0] == 0x7E && f[1] == 0x0E && f[2] == 0x00 && f[3] == 0x81;
}

class Streaming : public ModelTest {
protected:
    explicit Streaming(uint16_t type = 21)
        : ModelTest(type)
    {
        // The recorder streams from power-up; the first look starts its time.
        model.read(Endpoint::Signal, 128, now);
    }

    std::vector<Bytes> framesAfter(std::chrono::milliseconds span)
    {
        now += span;
        return signalFrames();
    }
};

class CuffStreaming : public Streaming {
protected:
    CuffStreaming()
        : Streaming(22)
    {
    }
};

TEST_F(Streaming, FrameCountFollowsTheFrequency)
{
    struct Row {
        const char* frequency;
        std::size_t perSecond;
    };
    for (const Row& row : {Row{"250", 250}, Row{"500", 500}, Row{"1000", 1000}, Row{"2000", 2000}}) {
        ASSERT_TRUE(model.setValue("frequency", row.frequency));
        // Read in small steps, as a host polling every few milliseconds would.
        std::size_t count = 0;
        for (int step = 0; step < 100; ++step) {
            now += 10ms;
            for (const Bytes& f : signalFrames()) {
                EXPECT_TRUE(isDeviceFrame(f));
                ++count;
            }
        }
        EXPECT_EQ(count, row.perSecond) << row.frequency << " Hz";
    }
    EXPECT_EQ(cutter.skipped, 0u);
}

TEST_F(Streaming, NothingIsDueBeforeItsTime)
{
    EXPECT_TRUE(framesAfter(1ms).empty()) << "500 Hz: the first frame is due after 2 ms";
    EXPECT_EQ(framesAfter(1ms).size(), 1u);
    const auto next = model.nextReadyTime(Endpoint::Signal, now);
    ASSERT_TRUE(next.has_value());
    EXPECT_EQ(*next - now, 2ms);
}

TEST_F(Streaming, FrameNumbersCountUpAndWrap)
{
    ASSERT_TRUE(model.setValue("frameNumber", "65533"));
    const auto frames = framesAfter(10ms);
    ASSERT_EQ(frames.size(), 5u);
    std::vector<uint64_t> numbers;
    for (const Bytes& f : frames)
        numbers.push_back(le(f, 52, 2));
    EXPECT_EQ(numbers, (std::vector<uint64_t>{65533, 65534, 65535, 0, 1}));
}

TEST_F(Streaming, ButtonPushMarksExactlyOneFrame)
{
    framesAfter(100ms);
    model.pressButton();
    const auto frames = framesAfter(100ms);
    ASSERT_EQ(frames.size(), 50u);
    EXPECT_EQ(std::count_if(frames.begin(), frames.end(), [](const Bytes& f) { return f[43] & 1; }), 1);
    EXPECT_EQ(frames.front()[43] & 1, 1) << "the next frame after the push";
}

// Instruments time a frame from its due time to where it shows downstream.
TEST_F(Streaming, MarkAndButtonTellTheDueTimeOfTheFrameTheyFlag)
{
    EXPECT_EQ(jsonNumber(model.stateJson(), "lastMarkedFrameDueNs"), 0);
    EXPECT_EQ(jsonNumber(model.stateJson(), "lastButtonFrameDueNs"), 0);
    framesAfter(100ms); // frames 0..49
    model.markFrame();
    EXPECT_EQ(jsonNumber(model.stateJson(), "marksPending"), 1);
    framesAfter(10ms);
    model.pressButton();
    model.markFrame();
    const auto frames = framesAfter(100ms);
    ASSERT_EQ(frames.size(), 50u);
    std::vector<std::size_t> marked;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        int markerSlots = 0;
        for (std::size_t slot = 0; slot < 8; ++slot)
            markerSlots += sample24(frames[i], 4 + slot * 3) == 8388607; // the marker value
        EXPECT_TRUE(markerSlots == 0 || markerSlots == 8) << "frame " << i;
        if (markerSlots)
            marked.push_back(i);
    }
    // Frame k is due at start + (k + 1) * 2 ms; this read began with frame 55.
    EXPECT_EQ(marked, (std::vector<std::size_t>{0}));
    EXPECT_EQ(frames[0][43] & 1, 1);
    const long long start = 3600LL * 1000000000;
    EXPECT_EQ(jsonNumber(model.stateJson(), "lastButtonFrameDueNs"), start + 56 * 2000000LL);
    EXPECT_EQ(jsonNumber(model.stateJson(), "lastMarkedFrameDueNs"), start + 56 * 2000000LL);
    EXPECT_EQ(jsonNumber(model.stateJson(), "marksPending"), 0);
}

TEST_F(CuffStreaming, ButtonSitsAfterPressureAndTone)
{
    model.pressButton();
    const auto frames = framesAfter(10ms);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0][49] & 1, 1);
    for (const Bytes& f : frames)
        EXPECT_EQ(f[43] & 1, sample24(f, 43) & 1) << "byte 43 is the pressure sample here";
}

TEST_F(CuffStreaming, PumpRaisesTheCuffPressure)
{
    model.writeCommand(request(0x13, {0x01}), now);
    const auto frames = framesAfter(2000ms);
    ASSERT_FALSE(frames.empty());
    const int32_t first = sample24(frames.front(), 43);
    const int32_t last = sample24(frames.back(), 43);
    EXPECT_GT(last, first + 2000) << "at least 20 mmHg in two seconds";
}

TEST_F(Streaming, CableFramesComeAt26HzWhileTheCableIsPresent)
{
    const auto without = framesAfter(1000ms);
    EXPECT_EQ(std::count_if(without.begin(), without.end(), isCableFrame), 0);
    model.setCablePresent(true);
    model.read(Endpoint::Signal, 0, now);
    const auto frames = framesAfter(1000ms);
    const auto cable = std::count_if(frames.begin(), frames.end(), isCableFrame);
    const auto device = std::count_if(frames.begin(), frames.end(), isDeviceFrame);
    EXPECT_EQ(cable, 26);
    EXPECT_EQ(device, 500);
    EXPECT_FALSE(isCableFrame(frames.front())) << "cable frames are interleaved, not bunched";
    std::vector<uint64_t> numbers;
    for (const Bytes& f : frames) {
        if (isCableFrame(f))
            numbers.push_back(le(f, 16, 2));
    }
    for (std::size_t i = 1; i < numbers.size(); ++i)
        EXPECT_EQ(numbers[i], numbers[i - 1] + 1);
    model.setCablePresent(false);
    const auto later = framesAfter(1000ms);
    EXPECT_EQ(std::count_if(later.begin(), later.end(), isCableFrame), 0);
}

TEST_F(Streaming, ConverterOffStopsFramesAndOnRestartsThem)
{
    model.writeCommand(request(0x07, {0x00}), now);
    framesAfter(0ms);
    EXPECT_TRUE(framesAfter(1000ms).empty());
    EXPECT_FALSE(model.nextReadyTime(Endpoint::Signal, now).has_value());
    model.writeCommand(request(0x07, {0x01}), now);
    EXPECT_EQ(framesAfter(1000ms).size(), 500u);
}

TEST_F(Streaming, HostThatStopsReadingLosesOnlyTheOldestWholeFrames)
{
    ASSERT_TRUE(model.setValue("backlogFrames", "100"));
    // Half a frame read, then the host goes away for ten seconds.
    now += 2ms;
    const Bytes head = model.read(Endpoint::Signal, 20, now);
    ASSERT_EQ(head.size(), 20u);
    cutter.put(head);
    const auto frames = framesAfter(10000ms);
    EXPECT_EQ(cutter.skipped, 0u) << "no partial frame in the stream";
    ASSERT_EQ(frames.size(), 101u) << "the started frame plus the backlog";
    EXPECT_EQ(le(frames[0], 52, 2), 0u);
    // 5001 frames fell due; frame 0 was started, the newest 100 are kept.
    EXPECT_EQ(le(frames[1], 52, 2), 4901u) << "the newest frames are kept";
    for (std::size_t i = 2; i < frames.size(); ++i)
        EXPECT_EQ(le(frames[i], 52, 2), le(frames[i - 1], 52, 2) + 1);
    EXPECT_EQ(jsonNumber(model.stateJson(), "framesDropped"), 4900);
}

TEST_F(Streaming, EcgShowsBeatsAtTheSetRate)
{
    ASSERT_TRUE(model.setValue("heartRate", "75"));
    const auto frames = framesAfter(8000ms);
    ASSERT_EQ(frames.size(), 4000u);
    // Lead II: R peaks are clear maxima above 0.8 mV; count upward crossings.
    int beats = 0;
    int32_t low = 0, high = 0;
    bool above = false;
    for (const Bytes& f : frames) {
        const int32_t v = sample24(f, 7);
        low = std::min(low, v);
        high = std::max(high, v);
        if (!above && v > 800)
            ++beats;
        above = v > 800;
    }
    EXPECT_EQ(beats, 10) << "75 beats a minute for eight seconds";
    EXPECT_GT(high, 1000);
    EXPECT_LT(high, 1500);
    EXPECT_GT(low, -500);
}

TEST_F(Streaming, LeadModeDecidesWhichSlotsCarryEcg)
{
    model.writeCommand(request(0x07, {0x00}), now);
    model.writeCommand(request(0x10, {0x01, 0x01}), now);
    model.writeCommand(request(0x07, {0x01}), now);
    const auto frames = framesAfter(2000ms);
    ASSERT_FALSE(frames.empty());
    int32_t slot0 = 0, others = 0;
    for (const Bytes& f : frames) {
        slot0 = std::max(slot0, std::abs(sample24(f, 4)));
        for (int s = 1; s < 8; ++s)
            others = std::max(others, std::abs(sample24(f, 4 + 3 * s)));
    }
    EXPECT_GT(slot0, 500);
    EXPECT_EQ(others, 0);
}

TEST_F(Streaming, AccelerometerShowsGravity)
{
    const auto frames = framesAfter(100ms);
    ASSERT_FALSE(frames.empty());
    EXPECT_NEAR(sample24(frames[0], 40), 1000, 30) << "Z in milli-g";
}

TEST_F(Streaming, ReoValuesOnlyWhileReoIsOn)
{
    EXPECT_EQ(sample24(framesAfter(10ms).at(0), 28), 0);
    model.writeCommand(request(0x0B, {0x27, 0x01, 0x00}), now);
    EXPECT_GT(sample24(framesAfter(10ms).at(0), 28), 400000);
}

TEST_F(Streaming, InvalidFrequencyCodeKeepsTheLastRate)
{
    ASSERT_TRUE(model.setValue("frequencyCode", "3"));
    model.writeCommand(request(0x0D), now);
    EXPECT_EQ(model.read(Endpoint::Answer, 65535, now)[4], 3);
    EXPECT_EQ(framesAfter(1000ms).size(), 500u);
    EXPECT_FALSE(model.setValue("frequency", "300"));
}

TEST_F(Streaming, ResetPipesForgetsQueuedFramesWithoutCountingDrops)
{
    now += 100ms;
    model.resetPipes();
    EXPECT_TRUE(signalFrames().empty());
    EXPECT_EQ(framesAfter(100ms).size(), 50u);
    EXPECT_EQ(jsonNumber(model.stateJson(), "framesDropped"), 0);
}

} // namespace

} // namespace Tavrix::Simulator::Test

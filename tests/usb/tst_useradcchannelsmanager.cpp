#include "support/channelkeys.h"
#include "support/signalframes.h"
#include "usb/deviceinfo.h"
#include "usb/usbadclistener.h"
#include "support/msgpackreader.h"
#include "usb/useradcchannelsmanager.h"

#include <QDataStream>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace Tavrix::Usb;
using namespace TestSupport::ChannelKeys;
using TestSupport::handOver;
using TestSupport::put24;
using TestSupport::signalFrame;
using TestSupport::MsgReader;
using TestSupport::MsgValue;

namespace {

MsgValue decode(const QByteArray& message)
{
    MsgValue value;
    EXPECT_TRUE(MsgReader(message).readDocument(value)) << message.toHex().toStdString();
    return value;
}

// ---------------------------------------------------------------------------
// Recorder frames with values that tell frame and slot apart.

int32_t sampleValue(uint32_t n, int slot)
{
    const int32_t magnitude = static_cast<int32_t>(((n % 4096) * 16 + static_cast<uint32_t>(slot)) * 101 % 8000000);
    return (slot % 2) ? -magnitude : magnitude;
}

std::vector<uint8_t> recorderFrame(uint32_t n, bool button = false, int buttonOffset = 43)
{
    std::vector<uint8_t> frame = signalFrame(57, 0x80, 52, n);
    for (int slot = 0; slot < 13; ++slot)
        put24(frame, 4 + 3 * slot, sampleValue(n, slot));
    if (buttonOffset == 49) { // pressure and tone occupy 43..48
        put24(frame, 43, sampleValue(n, 13));
        put24(frame, 46, sampleValue(n, 14));
    }
    if (button)
        frame[buttonOffset] |= 0x01;
    return frame;
}

int32_t cableValue(uint32_t n, int axis)
{
    return -static_cast<int32_t>(n) * 10 - axis;
}

std::vector<uint8_t> cableFrame(uint32_t n)
{
    std::vector<uint8_t> frame = signalFrame(21, 0x81, 16, n);
    for (int axis = 0; axis < 3; ++axis)
        put24(frame, 4 + 3 * axis, cableValue(n, axis));
    return frame;
}

std::vector<uint8_t> concat(const std::vector<std::vector<uint8_t>>& frames)
{
    std::vector<uint8_t> all;
    for (const auto& frame : frames)
        all.insert(all.end(), frame.begin(), frame.end());
    return all;
}

DeviceInfo ferrow8()
{
    DeviceInfo info;
    info.type = 21;
    info.name = "Orvim Ferrow 8";
    info.visFrameFormat = "DeviceFerrowSeries";
    info.channels = {{"ecg", ecgKey, 8}, {"reo", reoKey, 2}, {"acc", accKey, 3}, {"extAcc", extAccKey, 3}};
    info.dateTime.date.year = 2026;
    info.dateTime.date.month = 12;
    info.dateTime.date.day = 7;
    info.dateTime.date.unset = 0;
    info.dateTime.time.hour = 21;
    info.dateTime.time.minute = 5;
    info.dateTime.time.second = 9;
    info.dateTime.time.unset = 0;
    return info;
}

DeviceInfo ferrow8AD()
{
    DeviceInfo info = ferrow8();
    info.type = 22;
    info.visFrameFormat = "DeviceFerrowSeriesWithAD";
    info.channels = {{"ecg", ecgKey, 8}, {"reo", reoKey, 2}, {"acc", accKey, 3},
                     {"prs", prsKey, 1}, {"ton", tonKey, 1}, {"extAcc", extAccKey, 3}};
    return info;
}

std::vector<std::vector<uint8_t>> recorderFrames(uint32_t first, uint32_t count, int buttonOffset = 43)
{
    std::vector<std::vector<uint8_t>> frames;
    for (uint32_t n = first; n < first + count; ++n)
        frames.push_back(recorderFrame(n, false, buttonOffset));
    return frames;
}

// Expected point-major values of `slotCount` slots of frames first..first+count-1.
std::vector<int32_t> expectedValues(uint32_t first, uint32_t count, int firstSlot, int slotCount)
{
    std::vector<int32_t> values;
    for (uint32_t n = first; n < first + count; ++n)
        for (int slot = firstSlot; slot < firstSlot + slotCount; ++slot)
            values.push_back(sampleValue(n, slot));
    return values;
}

class UserAdcChannelsManagerTest : public ::testing::Test
{
protected:
    UserAdcChannelsManager manager{128, nullptr};
    QSignalSpy signalSpy{&manager, &AdcChannelsManager::signalTransfer};
    QSignalSpy eventSpy{&manager, &AdcChannelsManager::eventTransfer};

    void feed(const std::vector<std::vector<uint8_t>>& frames, size_t readSize = 128)
    {
        manager.slotAdcAnswer(handOver(concat(frames), readSize), 0);
    }

    MsgValue signalMessage(int index) { return decode(signalSpy.at(index).at(0).toByteArray()); }

    static const MsgValue& channelNamed(const MsgValue& message, const std::string& name)
    {
        for (const MsgValue& channel : message["channels"].items) {
            if (channel["name"].text == name)
                return channel;
        }
        static const MsgValue missing;
        ADD_FAILURE() << "no channel " << name;
        return missing;
    }

    static std::vector<int32_t> expected(uint32_t first, uint32_t count, int firstSlot, int slotCount)
    {
        return expectedValues(first, count, firstSlot, slotCount);
    }
};

} // namespace

TEST_F(UserAdcChannelsManagerTest, FortyFerrowFramesMakeOneSignalMessage)
{
    manager.setConnectedDeviceInfo(ferrow8());
    feed(recorderFrames(0, 39));
    EXPECT_EQ(signalSpy.count(), 0);
    feed(recorderFrames(39, 1));
    ASSERT_EQ(signalSpy.count(), 1);

    const MsgValue message = signalMessage(0);
    EXPECT_EQ(message.keys(), (std::vector<std::string>{"type", "time", "channels"}));
    EXPECT_EQ(message["type"].text, "adc");
    EXPECT_EQ(message["time"].text, "2026-12-07T21:05:09z03");

    const auto& channels = message["channels"].items;
    ASSERT_EQ(channels.size(), 4u);
    struct Expect
    {
        std::string name;
        int64_t blockSize, signalCount;
        std::vector<int32_t> data;
    };
    const Expect expect[] = {
        {"ecg", 40, 8, expected(0, 40, 0, 8)},
        {"reo", 40, 2, expected(0, 40, 8, 2)},
        {"acc", 40, 3, expected(0, 40, 10, 3)},
        {"extAcc", 0, 3, {}},
    };
    for (size_t i = 0; i < 4; ++i) {
        const MsgValue& channel = channels[i];
        EXPECT_EQ(channel.keys(), (std::vector<std::string>{"name", "blockSize", "pointCounter", "signalCount", "data"}));
        EXPECT_EQ(channel["name"].text, expect[i].name);
        EXPECT_EQ(channel["blockSize"].integer, expect[i].blockSize) << expect[i].name;
        EXPECT_EQ(channel["pointCounter"].integer, 0) << expect[i].name;
        EXPECT_EQ(channel["signalCount"].integer, expect[i].signalCount) << expect[i].name;
        EXPECT_EQ(channel["data"].ints(), expect[i].data) << expect[i].name;
    }

    // The 41st frame starts the next block.
    feed(recorderFrames(40, 40));
    ASSERT_EQ(signalSpy.count(), 2);
    const MsgValue second = signalMessage(1);
    EXPECT_EQ(channelNamed(second, "ecg")["pointCounter"].integer, 40);
    EXPECT_EQ(channelNamed(second, "ecg")["data"].ints(), expected(40, 40, 0, 8));
    EXPECT_EQ(channelNamed(second, "extAcc")["pointCounter"].integer, 0);
    EXPECT_EQ(eventSpy.count(), 0);
    EXPECT_EQ(manager.rejectedFrames(), 0u);
}

TEST_F(UserAdcChannelsManagerTest, FramesSplitAcrossReadsAreNotLost)
{
    manager.setConnectedDeviceInfo(ferrow8());
    // Reads of 30 bytes split almost every frame, and every length prefix
    // falls inside a frame.
    feed(recorderFrames(0, 80), 30);
    feed(recorderFrames(80, 40), 1);
    ASSERT_EQ(signalSpy.count(), 3);
    for (int block = 0; block < 3; ++block)
        EXPECT_EQ(channelNamed(signalMessage(block), "ecg")["data"].ints(), expected(40 * block, 40, 0, 8)) << block;
    EXPECT_EQ(manager.rejectedFrames(), 0u);
}

TEST_F(UserAdcChannelsManagerTest, CablePointsTravelWithTheNextBlock)
{
    manager.setConnectedDeviceInfo(ferrow8());
    std::vector<std::vector<uint8_t>> frames;
    for (uint32_t n = 0; n < 50; ++n)
        frames.push_back(cableFrame(n));
    feed(frames);
    EXPECT_EQ(signalSpy.count(), 0) << "cable frames alone never complete a block";

    frames = recorderFrames(0, 40);
    frames.insert(frames.begin() + 10, cableFrame(50));
    feed(frames);
    ASSERT_EQ(signalSpy.count(), 1);

    std::vector<int32_t> cableValues;
    for (uint32_t n = 0; n <= 50; ++n)
        for (int axis = 0; axis < 3; ++axis)
            cableValues.push_back(cableValue(n, axis));
    const MsgValue message = signalMessage(0);
    const MsgValue& extAcc = channelNamed(message, "extAcc");
    EXPECT_EQ(extAcc["blockSize"].integer, 51);
    EXPECT_EQ(extAcc["data"].ints(), cableValues);

    feed(recorderFrames(40, 40));
    ASSERT_EQ(signalSpy.count(), 2);
    EXPECT_EQ(channelNamed(signalMessage(1), "extAcc")["blockSize"].integer, 0);
    EXPECT_EQ(channelNamed(signalMessage(1), "extAcc")["pointCounter"].integer, 51);
}

TEST_F(UserAdcChannelsManagerTest, WithAdDeviceCarriesPressureAndTone)
{
    manager.setConnectedDeviceInfo(ferrow8AD());
    feed(recorderFrames(0, 40, 49));
    ASSERT_EQ(signalSpy.count(), 1);
    const MsgValue message = signalMessage(0);
    std::vector<std::string> names;
    for (const MsgValue& channel : message["channels"].items)
        names.push_back(channel["name"].text);
    EXPECT_EQ(names, (std::vector<std::string>{"ecg", "reo", "acc", "prs", "ton", "extAcc"}));
    EXPECT_EQ(channelNamed(message, "prs")["data"].ints(), expected(0, 40, 13, 1));
    EXPECT_EQ(channelNamed(message, "ton")["data"].ints(), expected(0, 40, 14, 1));
}

TEST_F(UserAdcChannelsManagerTest, ButtonBecomesAnEventWithTheFrameCounterModulo65535)
{
    manager.setConnectedDeviceInfo(ferrow8());
    feed({recorderFrame(65535, true), recorderFrame(65534, true), recorderFrame(7, false)});
    ASSERT_EQ(eventSpy.count(), 2);

    auto expectedEvent = [](std::vector<uint8_t> counter) {
        std::vector<uint8_t> bytes{0x82, 0xA4, 't', 'y', 'p', 'e', 0xA5, 'e', 'v', 'e', 'n', 't',
                                   0xA4, 'd', 'a', 't', 'a', 0x91, 0x82, 0xA4, 't', 'y', 'p', 'e',
                                   0xAA, 'b', 'u', 't', 't', 'o', 'n', 'P', 'u', 's', 'h',
                                   0xA4, 'd', 'a', 't', 'a', 0x81, 0xAC, 'f', 'r', 'a', 'm', 'e',
                                   'C', 'o', 'u', 'n', 't', 'e', 'r'};
        bytes.insert(bytes.end(), counter.begin(), counter.end());
        return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
    };
    EXPECT_EQ(eventSpy.at(0).at(0).toByteArray().toHex(), expectedEvent({0x00}).toHex());
    EXPECT_EQ(eventSpy.at(1).at(0).toByteArray().toHex(), expectedEvent({0xCD, 0xFF, 0xFE}).toHex());
    EXPECT_EQ(decode(eventSpy.at(1).at(0).toByteArray())["data"].items.at(0)["data"]["frameCounter"].integer, 65534);
}

TEST_F(UserAdcChannelsManagerTest, RejectedFramesAreCountedAndNothingElse)
{
    manager.setConnectedDeviceInfo(ferrow8());
    auto wrongCode = recorderFrame(1, true);
    wrongCode[3] = 0x82;
    feed({wrongCode, wrongCode, {0x7E, 0x00, 0x00, 0x02, 0x99, 0xCD, 0xBD}});
    EXPECT_EQ(manager.rejectedFrames(), 3u);
    EXPECT_EQ(eventSpy.count(), 0);

    // The rejected frames added no points: 40 good frames still make one block of 40.
    feed(recorderFrames(0, 40));
    ASSERT_EQ(signalSpy.count(), 1);
    EXPECT_EQ(channelNamed(signalMessage(0), "ecg")["blockSize"].integer, 40);
}

TEST_F(UserAdcChannelsManagerTest, NothingIsDecodedAfterRestartUntilTheNextDevice)
{
    manager.setConnectedDeviceInfo(ferrow8());
    feed(recorderFrames(0, 20));
    manager.restart();
    feed(recorderFrames(20, 40));
    EXPECT_EQ(signalSpy.count(), 0);
    EXPECT_EQ(manager.rejectedFrames(), 40u);
    EXPECT_TRUE(manager.getSignalsLsbInfo().empty());

    // A frame cut off by the restart does not join the next stream.
    const auto cut = recorderFrame(99);
    manager.slotAdcAnswer(handOver(std::vector<uint8_t>(cut.begin(), cut.begin() + 30)), 0);
    manager.restart();
    manager.setConnectedDeviceInfo(ferrow8());
    feed(recorderFrames(100, 40));
    ASSERT_EQ(signalSpy.count(), 1);
    EXPECT_EQ(channelNamed(signalMessage(0), "ecg")["data"].ints(), expected(100, 40, 0, 8));
    EXPECT_EQ(channelNamed(signalMessage(0), "ecg")["pointCounter"].integer, 0);
}

TEST_F(UserAdcChannelsManagerTest, SetSignalCountChangesTheEcgValuesPerPoint)
{
    manager.setConnectedDeviceInfo(ferrow8());
    manager.setSignalCount(ecgKey, 3);
    feed(recorderFrames(0, 40));
    ASSERT_EQ(signalSpy.count(), 1);
    const MsgValue first = signalMessage(0);
    const MsgValue& ecg = channelNamed(first, "ecg");
    EXPECT_EQ(ecg["signalCount"].integer, 3);
    EXPECT_EQ(ecg["data"].ints(), expected(0, 40, 0, 3));

    // A key without a channel changes nothing.
    manager.setSignalCount(oxyKey, 5);
    feed(recorderFrames(40, 40));
    ASSERT_EQ(signalSpy.count(), 2);
    const MsgValue second = signalMessage(1);
    EXPECT_EQ(second["channels"].items.size(), 4u);
    EXPECT_EQ(channelNamed(second, "ecg")["data"].ints(), expected(40, 40, 0, 3));
    EXPECT_EQ(channelNamed(second, "acc")["data"].ints(), expected(40, 40, 10, 3));
}

TEST_F(UserAdcChannelsManagerTest, ChannelsNeverReadPastTheirGroupsValues)
{
    // The description declares 12 ECG signalSpy; the Ferrow frame carries 8.
    DeviceInfo info = ferrow8();
    info.channels[0].maxSignalCount = 12;
    info.channels[2].maxSignalCount = 6;
    manager.setConnectedDeviceInfo(info);
    feed(recorderFrames(0, 40));
    ASSERT_EQ(signalSpy.count(), 1);
    EXPECT_EQ(channelNamed(signalMessage(0), "ecg")["signalCount"].integer, 8);
    EXPECT_EQ(channelNamed(signalMessage(0), "ecg")["data"].ints(), expected(0, 40, 0, 8));
    EXPECT_EQ(channelNamed(signalMessage(0), "acc")["signalCount"].integer, 3);

    // A WithAD device without a channel named "ecg": its ECG group is empty
    // until the count is set, and blocks still complete.
    DeviceInfo withAd = ferrow8AD();
    withAd.channels[0].name = "ECG";
    manager.setConnectedDeviceInfo(withAd);
    feed(recorderFrames(0, 40, 49));
    ASSERT_EQ(signalSpy.count(), 2);
    EXPECT_EQ(channelNamed(signalMessage(1), "ECG")["signalCount"].integer, 0);
    EXPECT_EQ(channelNamed(signalMessage(1), "ECG")["blockSize"].integer, 40);
    EXPECT_TRUE(channelNamed(signalMessage(1), "ECG")["data"].items.empty());

    manager.setSignalCount(ecgKey, 8);
    feed(recorderFrames(40, 40, 49));
    ASSERT_EQ(signalSpy.count(), 3);
    EXPECT_EQ(channelNamed(signalMessage(2), "ECG")["data"].ints(), expected(40, 40, 0, 8));
}

TEST_F(UserAdcChannelsManagerTest, PointsWaitingForABlockAreBounded)
{
    // Cable frames without recorder frames would otherwise pile up forever.
    manager.setConnectedDeviceInfo(ferrow8());
    const uint32_t limit = UserAdcChannelsManager::maxPointsPerBlock;
    std::vector<std::vector<uint8_t>> frames;
    for (uint32_t n = 0; n < limit + 10; ++n)
        frames.push_back(cableFrame(n));
    feed(frames);
    feed(recorderFrames(0, 40));
    ASSERT_EQ(signalSpy.count(), 1);
    const MsgValue message = signalMessage(0);
    const MsgValue& extAcc = channelNamed(message, "extAcc");
    EXPECT_EQ(extAcc["blockSize"].integer, limit);
    const auto values = extAcc["data"].ints();
    ASSERT_EQ(values.size(), 3u * limit);
    EXPECT_EQ(values.front(), cableValue(0, 0));
    EXPECT_EQ(values.back(), cableValue(limit - 1, 2));
}

TEST_F(UserAdcChannelsManagerTest, MalformedHandOversAreHarmless)
{
    manager.setConnectedDeviceInfo(ferrow8());
    const auto frame = recorderFrame(3);
    // A length prefix promising more than is there, a cut-off prefix, a null array.
    std::vector<uint8_t> truncated{0x00, 0x00, 0x10, 0x00};
    truncated.insert(truncated.end(), frame.begin(), frame.end());
    manager.slotAdcAnswer(truncated, 0);
    manager.slotAdcAnswer({0x00, 0x00}, 0);
    manager.slotAdcAnswer({0xFF, 0xFF, 0xFF, 0xFF}, 0);
    manager.slotAdcAnswer({}, 0);
    feed(recorderFrames(4, 39));
    ASSERT_EQ(signalSpy.count(), 1);
    EXPECT_EQ(channelNamed(signalMessage(0), "ecg")["data"].ints(), expected(3, 40, 0, 8));
}

TEST_F(UserAdcChannelsManagerTest, ChannelNamesAndLsbTable)
{
    EXPECT_EQ(manager.getChannelName(ecgKey), "");
    EXPECT_TRUE(manager.getSignalsLsbInfo().empty());

    DeviceInfo info = ferrow8();
    info.channels[0].maxSignalCount = 6;
    manager.setConnectedDeviceInfo(info);
    EXPECT_EQ(manager.getChannelName(ecgKey), "ecg");
    EXPECT_EQ(manager.getChannelName(extAccKey), "extAcc");
    EXPECT_EQ(manager.getChannelName(prsKey), "");

    const auto table = manager.getSignalsLsbInfo();
    const std::map<std::pair<int, int>, std::pair<int, uint64_t>> expectedTable{
        {{0, 0}, {0, 6}}, {{1, 0}, {3, 2}}, {{2, 0}, {1, 3}}, {{2, 1}, {1, 3}},
        {{3, 0}, {7, 1}}, {{4, 0}, {8, 1}}, {{5, 0}, {6, 3}},
    };
    std::map<std::pair<int, int>, std::pair<int, uint64_t>> actual;
    for (const auto& [key, entry] : table)
        actual[{static_cast<int>(key.type), static_cast<int>(key.source)}] = {entry.code, entry.signalCount};
    EXPECT_EQ(actual, expectedTable);

    // A record of type 0 is no device: no names, even with channels.
    DeviceInfo none = ferrow8();
    none.type = 0;
    manager.setConnectedDeviceInfo(none);
    EXPECT_EQ(manager.getChannelName(ecgKey), "");

    // The manager keeps no reference to the record it was given.
    {
        DeviceInfo shortLived = ferrow8();
        manager.setConnectedDeviceInfo(shortLived);
    }
    EXPECT_EQ(manager.getChannelName(reoKey), "reo");
}

TEST(UserAdcChannelsManager, HandOversFromTheUsbThreadArriveThroughTheListener)
{
    UsbAdcListener<131> listener(QStringLiteral("l_adc"), nullptr, 128, 20);
    UserAdcChannelsManager manager(128, &listener);
    QSignalSpy signalSpy(&manager, &AdcChannelsManager::signalTransfer);
    manager.setConnectedDeviceInfo(ferrow8());

    const auto block = handOver(concat(recorderFrames(0, 40)));
    std::thread usbThread([&] { emit listener.signalAnswer(block, 0); });
    usbThread.join();
    EXPECT_EQ(signalSpy.count(), 0) << "delivered on the main thread's event loop, not on the USB thread";
    ASSERT_TRUE(QTest::qWaitFor([&] { return signalSpy.count() == 1; }, 5000));
    EXPECT_EQ(decode(signalSpy.at(0).at(0).toByteArray())["channels"].items.at(0)["data"].ints(),
              expectedValues(0, 40, 0, 8));
}

namespace {
// Keeps what the manager hands a frame sink.
struct SeenFrame
{
    std::string decoder;
    uint16_t frameNumber;
    uint32_t frameCounter;
    bool button;
    int32_t firstEcgValue;
};

class RecordingSink : public Tavrix::Usb::IDecodedFrameSink
{
public:
    void handleDecodedFrame(const Tavrix::Usb::FrameDecoder& decoder, uint16_t frameNumber) override
    {
        const auto* ecg = decoder.findGroup(ecgKey);
        frames.push_back({decoder.name(), frameNumber, decoder.frameCounter(), decoder.buttonFlag(),
                          ecg && !ecg->values.empty() ? ecg->values[0] : 0});
    }
    std::vector<SeenFrame> frames;
};
} // namespace

TEST_F(UserAdcChannelsManagerTest, FrameSinkSeesEveryDecodedFrameWithItsOwnNumber)
{
    RecordingSink sink;
    manager.setDecodedFrameSink(&sink);
    feed(recorderFrames(0, 2)); // no decoders yet: nothing decoded, nothing seen
    EXPECT_TRUE(sink.frames.empty());
    EXPECT_TRUE(manager.channelLayout().empty());

    manager.setConnectedDeviceInfo(ferrow8());
    const auto layout = manager.channelLayout();
    ASSERT_EQ(layout.size(), 4u);
    EXPECT_EQ(layout[0].name, "ecg");
    EXPECT_EQ(layout[0].signalCount, 8);
    EXPECT_EQ(layout[3].key, extAccKey);

    // 65535 and 0 share the counter 0; the sink still sees them apart.
    feed({recorderFrame(65535, true), cableFrame(9), recorderFrame(0)});
    ASSERT_EQ(sink.frames.size(), 3u);
    EXPECT_EQ(sink.frames[0].decoder, "DeviceFerrowSeries");
    EXPECT_EQ(sink.frames[0].frameNumber, 65535);
    EXPECT_EQ(sink.frames[0].frameCounter, 0u);
    EXPECT_TRUE(sink.frames[0].button);
    EXPECT_EQ(sink.frames[0].firstEcgValue, sampleValue(65535, 0)) << "seen after decoding";
    EXPECT_EQ(sink.frames[1].decoder, "Cable");
    EXPECT_EQ(sink.frames[2].frameNumber, 0);
    EXPECT_FALSE(sink.frames[2].button);

    manager.setDecodedFrameSink(nullptr);
    feed(recorderFrames(1, 1));
    EXPECT_EQ(sink.frames.size(), 3u);
}

TEST_F(UserAdcChannelsManagerTest, LayoutChangesAreAnnouncedOnlyWhenTheyHappen)
{
    QSignalSpy changes(&manager, &AdcChannelsManager::channelLayoutIsChanged);
    manager.setConnectedDeviceInfo(ferrow8());
    manager.setSignalCount(ecgKey, 8); // as it is: the ECG mode poll repeats it
    manager.setSignalCount(ecgKey, 3);
    manager.setSignalCount(ecgKey, 3);
    manager.setSignalCount(oxyKey, 2); // no such channel
    manager.restart();
    std::vector<QString> reasons;
    for (const QList<QVariant>& change : changes)
        reasons.push_back(change.at(0).toString());
    EXPECT_EQ(reasons, (std::vector<QString>{"Recorder identified", "ECG mode changed", "Recorder reopened"}));
    EXPECT_EQ(manager.channelLayout().size(), 0u) << "nothing is decoded after a restart";
}

#include "support/msgpackreader.h"
#include "support/samplepacking.h"
#include "usb/adcviewermessage.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace Tavrix::Usb;
using Tavrix::Common::DateTimeObject;
using Tavrix::DevicesInfo::EChannelSource;
using Tavrix::DevicesInfo::EChannelType;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const QByteArray& data)
{
    return Bytes(data.begin(), data.end());
}

using TestSupport::cat;
using TestSupport::str;

std::shared_ptr<AdcViewerChannel> channel(const std::string& name, uint8_t signalCount, std::vector<int32_t> values)
{
    auto result = std::make_shared<AdcViewerChannel>();
    result->key = {EChannelType::Ecg, EChannelSource::Device};
    result->name = name;
    result->signalCount = signalCount;
    result->pointCount = signalCount ? static_cast<uint32_t>(values.size() / signalCount) : 0;
    result->values = std::move(values);
    return result;
}

DateTimeObject dateTime(int year, int month, int day, int hour, int minute, int second)
{
    DateTimeObject value;
    value.date.year = year;
    value.date.month = static_cast<uint8_t>(month);
    value.date.day = static_cast<uint8_t>(day);
    value.date.unset = 0;
    value.time.hour = static_cast<uint8_t>(hour);
    value.time.minute = static_cast<uint8_t>(minute);
    value.time.second = static_cast<uint8_t>(second);
    value.time.unset = 0;
    return value;
}

// Bytes of the message for one channel holding a single point of one value.
Bytes packedSingleValue(int32_t value)
{
    AdcViewerMessage message;
    message.setTimeText("t");
    message.channels().push_back(channel("v", 1, {value}));
    Bytes all = bytesOf(message.getAdcBson());
    const Bytes prefix = cat({{0x83}, str("type"), str("adc"), str("time"), str("t"), str("channels"), {0x91, 0x85},
                              str("name"), str("v"), str("blockSize"), {0x01}, str("pointCounter"), {0x00},
                              str("signalCount"), {0x01}, str("data"), {0x91}});
    if (all.size() < prefix.size() || !std::equal(prefix.begin(), prefix.end(), all.begin()))
        return {};
    return Bytes(all.begin() + static_cast<long>(prefix.size()), all.end());
}

} // namespace

TEST(AdcViewerMessage, SignalMessageOfFortyEcgPointsBeginsAsPublished)
{
    AdcViewerMessage message;
    message.setTimeText(AdcViewerMessage::getTimeText(dateTime(2026, 12, 7, 21, 5, 9)));
    message.channels().push_back(channel("ecg", 8, std::vector<int32_t>(320, 1)));

    const Bytes packed = bytesOf(message.getAdcBson());
    const Bytes expectedHead = cat({{0x83}, str("type"), str("adc"), str("time"), {0xB6},
                                    Bytes{'2', '0', '2', '6', '-', '1', '2', '-', '0', '7', 'T',
                                          '2', '1', ':', '0', '5', ':', '0', '9', 'z', '0', '3'},
                                    str("channels"), {0x91, 0x85}, str("name"), str("ecg"),
                                    str("blockSize"), {40}, str("pointCounter"), {0x00},
                                    str("signalCount"), {0x08}, str("data"), {0xDC, 0x01, 0x40}});
    ASSERT_EQ(packed.size(), expectedHead.size() + 320);
    EXPECT_EQ(Bytes(packed.begin(), packed.begin() + static_cast<long>(expectedHead.size())), expectedHead);
    EXPECT_EQ(Bytes(packed.begin() + static_cast<long>(expectedHead.size()), packed.end()), Bytes(320, 0x01));
}

TEST(AdcViewerMessage, SampleValuesTakeTheirSmallestForm)
{
    for (const auto& [value, packed] : TestSupport::sampleEncodings)
        EXPECT_EQ(packedSingleValue(value), packed) << value;
}

TEST(AdcViewerMessage, PointCounterOfConsecutiveBlocksAndEmptyChannels)
{
    AdcViewerMessage message;
    message.setTimeText("t");
    auto ecg = channel("ecg", 1, std::vector<int32_t>(40, 5));
    auto ext = channel("extAcc", 3, {});
    message.channels().push_back(ecg);
    message.channels().push_back(ext);

    const Bytes emptyChannel = cat({{0x85}, str("name"), str("extAcc"), str("blockSize"), {0x00},
                                    str("pointCounter"), {0x00}, str("signalCount"), {0x03},
                                    str("data"), {0x90}});
    const Bytes first = bytesOf(message.getAdcBson());
    EXPECT_EQ(Bytes(first.end() - static_cast<long>(emptyChannel.size()), first.end()), emptyChannel);
    EXPECT_EQ(ecg->pointCounter, 40u);
    EXPECT_EQ(ext->pointCounter, 0u);

    const Bytes second = bytesOf(message.getAdcBson());
    const Bytes pointCounter40 = cat({str("pointCounter"), {40}});
    EXPECT_NE(std::search(second.begin(), second.end(), pointCounter40.begin(), pointCounter40.end()),
              second.end());
    EXPECT_EQ(ecg->pointCounter, 80u);

    // Past 127 points the counter needs the one-byte unsigned form.
    message.getAdcBson();
    message.getAdcBson();
    const Bytes fifth = bytesOf(message.getAdcBson());
    const Bytes pointCounter160 = cat({str("pointCounter"), {0xCC, 160}});
    EXPECT_NE(std::search(fifth.begin(), fifth.end(), pointCounter160.begin(), pointCounter160.end()),
              fifth.end());
}

TEST(AdcViewerMessage, NoChannelsGiveAnEmptyChannelArray)
{
    AdcViewerMessage message;
    message.setTimeText("");
    EXPECT_EQ(bytesOf(message.getAdcBson()),
              cat({{0x83}, str("type"), str("adc"), str("time"), {0xA0}, str("channels"), {0x90}}));
}

TEST(AdcViewerMessage, TimeTextAndLeadingZeros)
{
    EXPECT_EQ(AdcViewerMessage::toLeadZeroText(7, 2), "07");
    EXPECT_EQ(AdcViewerMessage::toLeadZeroText(2026, 4), "2026");
    EXPECT_EQ(AdcViewerMessage::toLeadZeroText(12345, 4), "12345");
    EXPECT_EQ(AdcViewerMessage::toLeadZeroText(0, 3), "000");
    EXPECT_EQ(AdcViewerMessage::toLeadZeroText(5, 0), "5");

    EXPECT_EQ(AdcViewerMessage::getTimeText(dateTime(2026, 12, 7, 21, 5, 9)), "2026-12-07T21:05:09z03");
    EXPECT_EQ(AdcViewerMessage::getTimeText(dateTime(999, 1, 2, 0, 0, 0)), "0999-01-02T00:00:00z03");
    EXPECT_EQ(AdcViewerMessage::getTimeText(dateTime(10000, 10, 31, 23, 59, 59)), "10000-10-31T23:59:59z03");
}

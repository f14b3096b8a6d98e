#include "support/channelkeys.h"
#include "support/signalframes.h"
#include "usb/cableframedecoder.h"
#include "usb/deviceferrowseriesframedecoder.h"
#include "usb/deviceferrowserieswithadframedecoder.h"
#include "usb/deviceinfo.h"
#include "usb/visframedecoderfactory.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace Tavrix::Usb;
using namespace TestSupport::ChannelKeys;
using TestSupport::put24;
using TestSupport::signalFrame;

namespace {

// A recorder 0x80 frame whose every 3-byte slot from byte 4 holds a distinct
// value, so a read from a wrong offset shows.
std::vector<uint8_t> recorderFrame(uint16_t number)
{
    std::vector<uint8_t> frame = signalFrame(57, 0x80, 52, number);
    for (int slot = 0; slot < 13; ++slot) // bytes 4..42
        put24(frame, 4 + 3 * slot, -1000 * (slot + 1) + slot);
    return frame;
}

std::vector<uint8_t> cableFrame(uint16_t number)
{
    std::vector<uint8_t> frame = signalFrame(21, 0x81, 16, number);
    put24(frame, 4, 111);
    put24(frame, 7, -222);
    put24(frame, 10, 333);
    return frame;
}

// `frame` with the bytes at the given offsets replaced.
std::vector<uint8_t> withBytes(std::vector<uint8_t> frame, std::initializer_list<std::pair<std::size_t, uint8_t>> bytes)
{
    for (const auto& [offset, value] : bytes)
        frame[offset] = value;
    return frame;
}

std::vector<int32_t> valuesOf(const FrameDecoder& decoder, const DeviceChannelTypeInfo& key)
{
    const AdcChannelData* group = decoder.findGroup(key);
    return group ? group->values : std::vector<int32_t>{};
}

DeviceInfo deviceWith(const std::string& format, std::vector<DeviceChannelCommonInfo> channels)
{
    DeviceInfo info;
    info.type = 21;
    info.visFrameFormat = format;
    info.channels = std::move(channels);
    return info;
}

std::vector<std::string> namesOf(const std::vector<std::shared_ptr<FrameDecoder>>& decoders)
{
    std::vector<std::string> names;
    for (const auto& decoder : decoders)
        names.push_back(decoder->name());
    return names;
}

} // namespace

TEST(FrameDecoders, AcceptOnlyTheirExactLengthAndHeader)
{
    DeviceFerrowSeriesFrameDecoder ferrow;
    DeviceFerrowSeriesWithADFrameDecoder withAd(8);
    CableFrameDecoder cable;

    const auto wrongCode = withBytes(recorderFrame(1), {{3, 0x81}});
    auto tooLong = recorderFrame(1);
    tooLong.insert(tooLong.end() - 1, 0x00);
    auto tooShort = recorderFrame(1);
    tooShort.erase(tooShort.begin() + 10);
    const auto wrongLength = withBytes(recorderFrame(1), {{1, 0x31}});
    const auto wrongStart = withBytes(recorderFrame(1), {{0, 0x7D}});
    const auto cableAsRecorder = withBytes(cableFrame(1), {{3, 0x80}});
    auto longCable = cableFrame(1);
    longCable.push_back(0xBD);

    struct Case
    {
        const char* what;
        std::vector<uint8_t> frame;
        bool ferrow, withAd, cable;
    };
    const Case cases[] = {
        {"recorder frame", recorderFrame(1), true, true, false},
        {"57 bytes with code 0x81", wrongCode, false, false, false},
        {"58 bytes", tooLong, false, false, false},
        {"56 bytes", tooShort, false, false, false},
        {"declared length 49", wrongLength, false, false, false},
        {"no start byte", wrongStart, false, false, false},
        {"cable frame", cableFrame(1), false, false, true},
        {"21 bytes with code 0x80", cableAsRecorder, false, false, false},
        {"22-byte cable frame", longCable, false, false, false},
        {"empty", {}, false, false, false},
        {"header only", {0x7E, 0x32, 0x00, 0x80}, false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ferrow.isValidFrame(c.frame), c.ferrow) << c.what;
        EXPECT_EQ(withAd.isValidFrame(c.frame), c.withAd) << c.what;
        EXPECT_EQ(cable.isValidFrame(c.frame), c.cable) << c.what;
    }
}

TEST(FrameDecoders, SamplesAre24BitSignedLittleEndian)
{
    struct Case
    {
        uint8_t b0, b1, b2;
        int32_t value;
    };
    const Case cases[] = {
        {0xFF, 0xFF, 0xFF, -1},
        {0x00, 0x00, 0x80, -8388608},
        {0xFF, 0xFF, 0x7F, 8388607},
        {0x01, 0x00, 0x00, 1},
        {0x00, 0x01, 0x00, 256},
        {0x00, 0x00, 0x00, 0},
        {0x38, 0xFF, 0xFF, -200},
    };
    DeviceFerrowSeriesFrameDecoder decoder;
    for (const Case& c : cases) {
        auto frame = recorderFrame(0);
        frame[4] = c.b0;
        frame[5] = c.b1;
        frame[6] = c.b2;
        decoder.parseData(frame);
        EXPECT_EQ(valuesOf(decoder, ecgKey).at(0), c.value)
            << std::hex << int(c.b0) << " " << int(c.b1) << " " << int(c.b2);
    }
}

TEST(FrameDecoders, FerrowLayoutPutsEachGroupAtItsOffset)
{
    DeviceFerrowSeriesFrameDecoder decoder;
    const auto frame = recorderFrame(0x1234);
    decoder.parseData(frame);

    EXPECT_EQ(decoder.name(), "DeviceFerrowSeries");
    EXPECT_EQ(valuesOf(decoder, ecgKey),
              (std::vector<int32_t>{-1000, -1999, -2998, -3997, -4996, -5995, -6994, -7993}));
    EXPECT_EQ(valuesOf(decoder, reoKey), (std::vector<int32_t>{-8992, -9991}));
    EXPECT_EQ(valuesOf(decoder, accKey), (std::vector<int32_t>{-10990, -11989, -12988}));
    EXPECT_EQ(decoder.findGroup(prsKey), nullptr);
    EXPECT_EQ(decoder.getFrameNumber(frame), 0x1234u);
}

TEST(FrameDecoders, WithAdLayoutAddsPressureAndTone)
{
    DeviceFerrowSeriesWithADFrameDecoder decoder(8);
    auto frame = recorderFrame(0xFFFF);
    put24(frame, 43, 4321);
    put24(frame, 46, -77);
    decoder.parseData(frame);

    EXPECT_EQ(decoder.name(), "DeviceFerrowSeriesWithAD");
    ASSERT_EQ(decoder.groups().size(), 5u);
    EXPECT_EQ(valuesOf(decoder, ecgKey).size(), 8u);
    EXPECT_EQ(valuesOf(decoder, reoKey), (std::vector<int32_t>{-8992, -9991}));
    EXPECT_EQ(valuesOf(decoder, prsKey), (std::vector<int32_t>{4321}));
    EXPECT_EQ(valuesOf(decoder, tonKey), (std::vector<int32_t>{-77}));
    EXPECT_EQ(decoder.getFrameNumber(frame), 65535u);
}

TEST(FrameDecoders, CableLayout)
{
    CableFrameDecoder decoder;
    const auto frame = cableFrame(513);
    decoder.parseData(frame);
    EXPECT_EQ(decoder.name(), "Cable");
    EXPECT_EQ(valuesOf(decoder, extAccKey), (std::vector<int32_t>{111, -222, 333}));
    EXPECT_EQ(decoder.getFrameNumber(frame), 513u);
    auto pressed = frame;
    pressed[13] = 0xFF;
    pressed[14] = 0xFF;
    EXPECT_FALSE(decoder.hasButtonLabel(pressed));
}

TEST(FrameDecoders, ButtonBitIsByte43ForFerrowAnd49WithAd)
{
    DeviceFerrowSeriesFrameDecoder ferrow;
    DeviceFerrowSeriesWithADFrameDecoder withAd(8);

    const auto at43 = withBytes(recorderFrame(1), {{43, 0x01}});
    const auto at49 = withBytes(recorderFrame(1), {{49, 0x01}});
    const auto otherBits = withBytes(recorderFrame(1), {{43, 0xFE}, {49, 0xFE}});

    EXPECT_TRUE(ferrow.hasButtonLabel(at43));
    EXPECT_FALSE(withAd.hasButtonLabel(at43));
    EXPECT_FALSE(ferrow.hasButtonLabel(at49));
    EXPECT_TRUE(withAd.hasButtonLabel(at49));
    EXPECT_FALSE(ferrow.hasButtonLabel(otherBits));
    EXPECT_FALSE(withAd.hasButtonLabel(otherBits));
}

TEST(FrameDecoders, RaisedEcgCountReadsOnlySamplesStartingBeforeByte53)
{
    DeviceFerrowSeriesFrameDecoder decoder;
    ASSERT_TRUE(decoder.setGroupCount(ecgKey, 20));
    auto frame = recorderFrame(0x0201);
    for (size_t i = 43; i < 52; ++i)
        frame[i] = 0x11;
    decoder.parseData(frame);

    const auto values = valuesOf(decoder, ecgKey);
    ASSERT_EQ(values.size(), 20u);
    EXPECT_EQ(values[13], 0x111111); // bytes 43..45
    // Sample 16 starts at byte 52: frame number 01 02 and the checksum byte FF.
    EXPECT_EQ(values[16], static_cast<int32_t>(0xFFFF0201u));
    for (size_t i = 17; i < 20; ++i)
        EXPECT_EQ(values[i], 0) << i;
}

TEST(FrameDecoders, LoweredAndRaisedCountsOfOtherGroupsStayInsideTheLayout)
{
    DeviceFerrowSeriesFrameDecoder decoder;
    ASSERT_TRUE(decoder.setGroupCount(ecgKey, 3));
    ASSERT_TRUE(decoder.setGroupCount(accKey, 5));
    EXPECT_FALSE(decoder.setGroupCount(prsKey, 1));
    decoder.parseData(recorderFrame(0));

    EXPECT_EQ(valuesOf(decoder, ecgKey), (std::vector<int32_t>{-1000, -1999, -2998}));
    EXPECT_EQ(valuesOf(decoder, accKey), (std::vector<int32_t>{-10990, -11989, -12988, 0, 0}));

    CableFrameDecoder cable;
    ASSERT_TRUE(cable.setGroupCount(extAccKey, 4));
    cable.parseData(cableFrame(0));
    EXPECT_EQ(valuesOf(cable, extAccKey), (std::vector<int32_t>{111, -222, 333, 0}));
}

TEST(VisFrameDecoderFactory, ChoosesDecodersByExactFormatName)
{
    const std::vector<DeviceChannelCommonInfo> channels{{"ecg", ecgKey, 6}, {"extAcc", extAccKey, 3}};
    struct Case
    {
        std::string format;
        std::vector<std::string> decoders;
    };
    const Case cases[] = {
        {"", {}},
        {"DeviceFerrowSeries", {"DeviceFerrowSeries", "Cable"}},
        {"DeviceFerrowSeriesWithAD", {"DeviceFerrowSeriesWithAD", "Cable"}},
        {"deviceferrowseries", {"Cable"}},
        {"Unknown", {"Cable"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(namesOf(VisFrameDecoderFactory::create(deviceWith(c.format, channels))), c.decoders)
            << c.format;
}

TEST(VisFrameDecoderFactory, WithAdEcgCountComesFromTheChannelNamedEcg)
{
    const auto decoders = VisFrameDecoderFactory::create(
        deviceWith("DeviceFerrowSeriesWithAD", {{"ECG", ecgKey, 12}, {"ecg", ecgKey, 6}}));
    ASSERT_EQ(decoders.size(), 2u);
    EXPECT_EQ(decoders[0]->findGroup(ecgKey)->count, 6u);

    const auto withoutEcg = VisFrameDecoderFactory::create(
        deviceWith("DeviceFerrowSeriesWithAD", {{"Ecg", ecgKey, 8}}));
    ASSERT_EQ(withoutEcg.size(), 2u);
    withoutEcg[0]->parseData(recorderFrame(0));
    EXPECT_TRUE(valuesOf(*withoutEcg[0], ecgKey).empty());
    withoutEcg[0]->setGroupCount(ecgKey, 2);
    withoutEcg[0]->parseData(recorderFrame(0));
    EXPECT_EQ(valuesOf(*withoutEcg[0], ecgKey), (std::vector<int32_t>{-1000, -1999}));

    // The plain Ferrow layout always carries 8 ECG samples, whatever the description says.
    const auto ferrow = VisFrameDecoderFactory::create(deviceWith("DeviceFerrowSeries", {{"ecg", ecgKey, 3}}));
    EXPECT_EQ(ferrow[0]->findGroup(ecgKey)->count, 8u);
}

#include "usb/devicebaseinfoaggregator.h"

#include <gtest/gtest.h>

using namespace Tavrix::Usb;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes identityAnswer(const Bytes& text)
{
    Bytes answer{0x7E, 0, 0, 0x02, 0, 0, 0x07, 0x00, 0x00, 0x01, 0x03, 0x01};
    for (const uint8_t byte : text)
        answer.push_back(byte);
    answer.insert(answer.end(), {0xFF, 0xFF, 0xBD});
    return answer;
}

TEST(DeviceBaseInfoAggregator, versionTexts)
{
    const std::pair<unsigned short, const char*> cases[] = {
        {0x0103, "1.03"}, {0x0A0F, "a.0f"}, {0x0100, "1.00"}, {0x0000, "0.00"}, {0xFFFF, "ff.ff"}};
    for (const auto& [version, text] : cases)
        EXPECT_EQ(DeviceBaseInfoAggregator::toVersionText(version).toStdString(), text) << version;
}

TEST(DeviceBaseInfoAggregator, deviceNameJoinsExtensionTypeAndVersions)
{
    DeviceInfo info;
    info.type = 7;
    info.hardwareVersion = 0x0100;
    info.softwareVersion = 0x0A0F;
    info.versionExtension = "Ferrow";
    EXPECT_EQ(DeviceBaseInfoAggregator::getDeviceName(info), "Ferrow(7):1.00:a.0f");
}

TEST(DeviceBaseInfoAggregator, extensionIsCutToFrameAndFirstZero)
{
    // 20 bytes: at most 5 text bytes from offset 12, the checksum is not text.
    Bytes twenty = identityAnswer({'A', 'B', 'C', 'D', 'E'});
    ASSERT_EQ(twenty.size(), 20u);
    EXPECT_EQ(DeviceBaseInfoAggregator::getDeviceExtension(twenty), "ABCDE");
    EXPECT_EQ(DeviceBaseInfoAggregator::getDeviceExtension(identityAnswer({'A', 'B', 0, 'D'})), "AB");
    EXPECT_EQ(DeviceBaseInfoAggregator::getDeviceExtension(identityAnswer({0, 'B'})), "");
    EXPECT_EQ(DeviceBaseInfoAggregator::getDeviceExtension(identityAnswer({})), "");
    EXPECT_EQ(DeviceBaseInfoAggregator::getDeviceExtension(Bytes(8, 'A')), "");
    // Never more than 99 text bytes.
    EXPECT_EQ(DeviceBaseInfoAggregator::getDeviceExtension(identityAnswer(Bytes(150, 'x'))), std::string(99, 'x'));
}

TEST(DeviceBaseInfoAggregator, extensionIsDecodedFromWindows1251)
{
    // 0xCA 0xE0 is "Ка" in Windows-1251.
    EXPECT_EQ(DeviceBaseInfoAggregator::getDeviceExtension(identityAnswer({0xCA, 0xE0})), "\xD0\x9A\xD0\xB0");
}

} // namespace

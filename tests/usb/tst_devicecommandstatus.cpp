#include "usb/devicecommandstatusconverter.h"
#include "usb/devicecommandstatuscreator.h"
#include "usb/devicecommandstatusinfo.h"

#include <gtest/gtest.h>

using namespace Tavrix::Usb;

namespace {

TEST(DeviceCommandStatusConverter, namesEveryStatusAndNothingElse)
{
    const std::vector<std::pair<uint32_t, std::string>> table = {
        {0, "OK"},
        {1, "UNKNOWN_ERROR"},
        {2, "NOT_EXIST"},
        {3, "BAD_DATA"},
        {4, "TIMEOUT"},
        {5, "DEVICE_DISCONNECTED"},
        {6, "WRONG_FRAME_FORMAT"},
        {7, "BUSY"},
        {8, ""},
        {0xFFFFFFFFu, ""},
    };
    for (const auto& [value, text] : table)
        EXPECT_EQ(DeviceCommandStatusConverter::toText(static_cast<DeviceCommand::EStatus>(value)), text) << value;
}

TEST(DeviceCommandStatusCreator, wrongFrameFormatKeepsTheAnswer)
{
    const std::vector<uint8_t> answer{0x7E, 0x02, 0x00, 0xEE, 0x02, 0x01, 0xFF, 0xFF, 0xBD};
    const auto status = DeviceCommandStatusCreator::create(answer, 6);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->status, DeviceCommand::WRONG_FRAME_FORMAT);
    const auto info = std::dynamic_pointer_cast<DeviceCommandStatusInfo<std::vector<uint8_t>>>(status);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->info, answer);
}

TEST(DeviceCommandStatusCreator, otherStatusesCarryNoAnswer)
{
    for (int code : {0, 1, 3, 4, 5}) {
        const auto status = DeviceCommandStatusCreator::create({1, 2, 3}, code);
        ASSERT_TRUE(status);
        EXPECT_EQ(status->status, static_cast<DeviceCommand::EStatus>(code));
        EXPECT_FALSE(std::dynamic_pointer_cast<DeviceCommandStatusInfo<std::vector<uint8_t>>>(status)) << code;
    }
}

} // namespace

#include "devicecomplexcommands/orvimgettimecommand.h"

#include <gtest/gtest.h>

using namespace Tavrix;
using Tavrix::DeviceComplexCommands::OrvimGetTimeCommand;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes clockAnswer(uint8_t s, uint8_t m, uint8_t h, uint8_t d, uint8_t mo, uint8_t y)
{
    return {0x7E, 0x06, 0x00, 0x05, s, m, h, d, mo, y, 0xFF, 0xFF, 0xBD};
}

struct ClockCase
{
    const char* label;
    Bytes answer;
    bool valid;
    std::string text;
};

class ClockDecodeTest : public ::testing::TestWithParam<ClockCase>
{
};

TEST_P(ClockDecodeTest, decodesBcdClock)
{
    const ClockCase& c = GetParam();
    Common::DateTimeObject value;
    EXPECT_EQ(OrvimGetTimeCommand::decodeAnswer(c.answer, value), c.valid);
    if (c.valid) {
        EXPECT_EQ(value.toString(), c.text);
        EXPECT_TRUE(value.isSet());
    } else {
        EXPECT_FALSE(value.isSet()); // left untouched
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ClockDecodeTest,
    ::testing::Values(
        ClockCase{"plain", clockAnswer(0x56, 0x34, 0x12, 0x29, 0x02, 0x24), true, "2024-02-29 12:34:56"},
        ClockCase{"year99", clockAnswer(0x00, 0x00, 0x00, 0x01, 0x01, 0x99), true, "2099-01-01 00:00:00"},
        ClockCase{"flagBitsMasked", clockAnswer(0x80 | 0x59, 0x80 | 0x01, 0xC0 | 0x23, 0xC0 | 0x15, 0xE0 | 0x12, 0x00),
                  true, "2000-12-15 23:01:59"},
        ClockCase{"hourNotBcd", clockAnswer(0x00, 0x00, 0x2A, 0x01, 0x01, 0x24), false, ""},
        ClockCase{"yearHighNibbleNotBcd", clockAnswer(0x00, 0x00, 0x00, 0x01, 0x01, 0xA0), false, ""},
        ClockCase{"clampedToCalendar", clockAnswer(0x00, 0x00, 0x39, 0x31, 0x02, 0x23), true, "2023-02-28 23:00:00"},
        ClockCase{"zeroMonthAndDay", clockAnswer(0x00, 0x00, 0x00, 0x00, 0x00, 0x24), true, "2024-01-01 00:00:00"},
        ClockCase{"tooShort", Bytes{0x7E, 0x05, 0x00, 0x05, 0, 0, 0, 1, 1, 0xFF, 0xFF, 0xBD}, false, ""},
        ClockCase{"tooLong", Bytes(14, 0x00), false, ""}),
    [](const ::testing::TestParamInfo<ClockCase>& info) { return std::string(info.param.label); });

TEST(OrvimGetTimeCommand, withoutManagerDoesNotStart)
{
    OrvimGetTimeCommand command(1, nullptr);
    int answers = 0;
    QObject::connect(&command, &OrvimGetTimeCommand::answerIsReady, [&answers] { ++answers; });
    const auto status = command.execute();
    ASSERT_TRUE(status);
    EXPECT_NE(status->status, Usb::DeviceCommand::OK);
    EXPECT_EQ(answers, 0);
    EXPECT_EQ(command.name(), "GetTime");
}

} // namespace

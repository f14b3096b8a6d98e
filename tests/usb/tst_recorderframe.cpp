#include "usb/recorderframe.h"

#include <gtest/gtest.h>

using Tavrix::Usb::RecorderFrame;
using Bytes = std::vector<uint8_t>;

TEST(RecorderFrame, RequestsAreFramedAroundTheirData)
{
    const struct {
        uint8_t code;
        Bytes data;
        uint16_t checksum;
        Bytes frame;
    } cases[] = {
        {0x07, {0x01}, RecorderFrame::noChecksum, {0x7E, 0x01, 0x00, 0x07, 0x01, 0xFF, 0xFF, 0xBD}},
        {0x0E, {}, RecorderFrame::noChecksum, {0x7E, 0x00, 0x00, 0x0E, 0xFF, 0xFF, 0xBD}},
        // The identity request's real checksum goes low byte first.
        {0x02, {}, 0xCD99, {0x7E, 0x00, 0x00, 0x02, 0x99, 0xCD, 0xBD}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RecorderFrame::request(c.code, c.data, c.checksum), c.frame) << int(c.code);

    const Bytes longest(0xFFFF, 0x11);
    const Bytes frame = RecorderFrame::request(0x04, longest);
    ASSERT_EQ(frame.size(), longest.size() + RecorderFrame::overhead);
    EXPECT_EQ(frame[1], 0xFF);
    EXPECT_EQ(frame[2], 0xFF);
    EXPECT_TRUE(RecorderFrame::request(0x04, Bytes(0x10000, 0x11)).empty());
}

// Answer fields end where the checksum begins: a short answer's missing field
// fails to read instead of being taken from its checksum or end byte.
TEST(RecorderFrame, AnswerFieldsStopBeforeTheChecksum)
{
    const Bytes power{0x7E, 0x02, 0x00, 0x0C, 0x6E, 0x0F, 0xFF, 0xFF, 0xBD};
    uint16_t millivolts = 0;
    ASSERT_TRUE(RecorderFrame::fields(power).readU16(millivolts));
    EXPECT_EQ(millivolts, 3950);

    const Bytes shortPower{0x7E, 0x01, 0x00, 0x0C, 0x6E, 0xFF, 0xFF, 0xBD};
    millivolts = 0;
    EXPECT_FALSE(RecorderFrame::fields(shortPower).readU16(millivolts));
    EXPECT_EQ(millivolts, 0);

    for (const Bytes& tiny : {Bytes{}, Bytes{0x7E}, Bytes{0x7E, 0x00, 0x00}, Bytes{0x7E, 0x00, 0x00, 0x0C, 0xBD}}) {
        Tavrix::Common::ByteReader fields = RecorderFrame::fields(tiny);
        EXPECT_EQ(fields.remaining(), 0u) << tiny.size();
    }
    EXPECT_EQ(RecorderFrame::fields(power, 5).remaining(), 1u);
    EXPECT_EQ(RecorderFrame::fields(power, 50).remaining(), 0u);
}

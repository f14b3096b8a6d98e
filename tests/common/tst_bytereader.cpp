#include "common/bytereader.h"
#include "common/bytewriter.h"

#include <gtest/gtest.h>

using Tavrix::Common::ByteReader;
using Tavrix::Common::ByteWriter;
using Bytes = std::vector<uint8_t>;

TEST(ByteReader, ReadsLittleEndianFieldsInOrder)
{
    const Bytes bytes{0x01, 0x34, 0x12, 0x56, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0x99};
    ByteReader reader(bytes);
    uint8_t u8 = 0;
    uint16_t u16 = 0;
    uint32_t u24 = 0;
    uint32_t u32 = 0;
    int32_t s24 = 0;
    ASSERT_TRUE(reader.readU8(u8));
    ASSERT_TRUE(reader.readU16(u16));
    ASSERT_TRUE(reader.readU24(u24));
    ASSERT_TRUE(reader.readU32(u32));
    ASSERT_TRUE(reader.readS24(s24));
    EXPECT_EQ(u8, 0x01);
    EXPECT_EQ(u16, 0x1234);
    EXPECT_EQ(u24, 0x123456u);
    EXPECT_EQ(u32, 0x12345678u);
    EXPECT_EQ(s24, -2);
    EXPECT_EQ(reader.position(), 13u);
    EXPECT_EQ(reader.remaining(), 1u);
    uint8_t last = 0;
    ASSERT_TRUE(reader.peekU8(last));
    EXPECT_EQ(last, 0x99);
    EXPECT_EQ(reader.position(), 13u);
}

TEST(ByteReader, SignedTwentyFourBitExtremes)
{
    const struct {
        Bytes bytes;
        int32_t value;
    } cases[] = {
        {{0x00, 0x00, 0x80}, -8388608},
        {{0xFF, 0xFF, 0x7F}, 8388607},
        {{0xFF, 0xFF, 0xFF}, -1},
        {{0x00, 0x00, 0x00}, 0},
    };
    for (const auto& c : cases) {
        int32_t value = 12345;
        ASSERT_TRUE(ByteReader(c.bytes).readS24(value));
        EXPECT_EQ(value, c.value);
        // The writer puts back the same three bytes.
        EXPECT_EQ(ByteWriter().s24(c.value).data(), c.bytes);
    }
}

// A read that does not fit fails whole: output and position stay as they were.
TEST(ByteReader, AShortReadFailsAndChangesNothing)
{
    const Bytes bytes{0x01, 0x02, 0x03};
    ByteReader reader(bytes, 1);
    uint32_t u32 = 7;
    uint16_t u16 = 7;
    uint64_t wide = 7;
    Bytes run{9};
    EXPECT_FALSE(reader.readU32(u32));
    EXPECT_FALSE(reader.readU24(u32));
    EXPECT_FALSE(reader.readUnsigned(3, wide));
    EXPECT_FALSE(reader.readUnsigned(0, wide));
    EXPECT_FALSE(reader.readUnsigned(9, wide));
    EXPECT_FALSE(reader.readBytes(3, run));
    EXPECT_FALSE(reader.skip(3));
    EXPECT_FALSE(reader.seek(4));
    EXPECT_EQ(u32, 7u);
    EXPECT_EQ(wide, 7u);
    EXPECT_EQ(run, Bytes{9});
    EXPECT_EQ(reader.position(), 1u);
    ASSERT_TRUE(reader.readU16(u16));
    EXPECT_EQ(u16, 0x0302);
    uint8_t byte = 7;
    EXPECT_FALSE(reader.readU8(byte));
    EXPECT_FALSE(reader.peekU8(byte));
    EXPECT_EQ(byte, 7);
    EXPECT_TRUE(reader.readBytes(0, run));
    EXPECT_TRUE(run.empty());
}

TEST(ByteReader, StartsNoFurtherThanTheEnd)
{
    const Bytes bytes{0x01};
    ByteReader reader(bytes, 5);
    EXPECT_EQ(reader.position(), 1u);
    EXPECT_EQ(reader.remaining(), 0u);
    ByteReader none(nullptr, 10);
    uint8_t byte = 0;
    EXPECT_EQ(none.size(), 0u);
    EXPECT_FALSE(none.readU8(byte));
}

TEST(ByteReader, BigEndianField)
{
    const Bytes bytes{0x01, 0x02};
    uint16_t value = 0;
    ASSERT_TRUE(ByteReader(bytes).readU16BigEndian(value));
    EXPECT_EQ(value, 0x0102);
}

TEST(ByteReader, BcdDigits)
{
    const struct {
        uint8_t byte;
        uint8_t mask;
        bool valid;
        uint8_t value;
    } cases[] = {
        {0x00, 0xFF, true, 0},
        {0x59, 0xFF, true, 59},
        {0x99, 0xFF, true, 99},
        {0x0A, 0xFF, false, 0},
        {0xA0, 0xFF, false, 0},
        {0xFF, 0xFF, false, 0},
        // A flag in the high bit is masked off before the digits are read.
        {0xD9, 0x7F, true, 59},
        {0xD9, 0xFF, false, 0},
    };
    for (const auto& c : cases) {
        const Bytes bytes{c.byte};
        ByteReader reader(bytes);
        uint8_t value = 200;
        EXPECT_EQ(reader.readBcd(value, c.mask), c.valid) << int(c.byte);
        EXPECT_EQ(value, c.valid ? c.value : 200) << int(c.byte);
        EXPECT_EQ(reader.position(), c.valid ? 1u : 0u) << int(c.byte);
    }
}

TEST(ByteWriter, WritesFieldsLittleEndianAndBcd)
{
    const Bytes bytes = ByteWriter()
                            .u8(0x01)
                            .u16(0x1234)
                            .u24(0xAB123456)
                            .u32(0x12345678)
                            .unsignedLe(0x0102030405060708ull, 8)
                            .bcd(59)
                            .bcd(2026)
                            .bytes({0xAA, 0xBB})
                            .take();
    const Bytes expected{0x01, 0x34, 0x12, 0x56, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0x08, 0x07,
                         0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x59, 0x26, 0xAA, 0xBB};
    EXPECT_EQ(bytes, expected);
}

TEST(ByteWriter, WhatItWritesTheReaderReadsBack)
{
    ByteWriter writer;
    writer.u16(65535).u32(4000000000u).s24(-123456).bcd(7);
    const Bytes bytes = writer.take();
    ByteReader reader(bytes);
    uint16_t u16 = 0;
    uint32_t u32 = 0;
    int32_t s24 = 0;
    uint8_t bcd = 0;
    ASSERT_TRUE(reader.readU16(u16) && reader.readU32(u32) && reader.readS24(s24) && reader.readBcd(bcd));
    EXPECT_EQ(u16, 65535);
    EXPECT_EQ(u32, 4000000000u);
    EXPECT_EQ(s24, -123456);
    EXPECT_EQ(bcd, 7);
    EXPECT_EQ(reader.remaining(), 0u);
}

#include "common/messagepacker.h"

#include "support/samplepacking.h"

#include <gtest/gtest.h>

using Tavrix::Common::MessagePacker;

namespace {

std::vector<uint8_t> bytesOf(const MessagePacker& packer)
{
    const QByteArray& data = packer.data();
    return std::vector<uint8_t>(data.begin(), data.end());
}

std::vector<uint8_t> head(const MessagePacker& packer, size_t n)
{
    std::vector<uint8_t> all = bytesOf(packer);
    all.resize(std::min(n, all.size()));
    return all;
}

} // namespace

TEST(MessagePacker, StringHeadersAtTheirBoundaries)
{
    struct Case
    {
        size_t length;
        std::vector<uint8_t> header;
    };
    const Case cases[] = {
        {0, {0xA0}},
        {31, {0xBF}},
        {32, {0xD9, 0x20}},
        {255, {0xD9, 0xFF}},
        {256, {0xDA, 0x01, 0x00}},
        {65535, {0xDA, 0xFF, 0xFF}},
        {65536, {0xDB, 0x00, 0x01, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        MessagePacker packer;
        packer << std::string(c.length, 'x');
        EXPECT_EQ(head(packer, c.header.size()), c.header) << c.length;
        EXPECT_EQ(packer.data().size(), static_cast<int>(c.header.size() + c.length)) << c.length;
    }
}

TEST(MessagePacker, ArrayHeaders)
{
    const std::pair<uint32_t, std::vector<uint8_t>> cases[] = {
        {0, {0x90}},
        {15, {0x9F}},
        {16, {0xDC, 0x00, 0x10}},
        {320, {0xDC, 0x01, 0x40}},
        {65535, {0xDC, 0xFF, 0xFF}},
        {65536, {0xDD, 0x00, 0x01, 0x00, 0x00}},
    };
    for (const auto& [size, expected] : cases) {
        MessagePacker packer;
        packer.packArrayHeader(size);
        EXPECT_EQ(bytesOf(packer), expected) << size;
    }
}

TEST(MessagePacker, UnsignedNumbers)
{
    const std::pair<uint32_t, std::vector<uint8_t>> cases[] = {
        {0, {0x00}},
        {127, {0x7F}},
        {128, {0xCC, 0x80}},
        {255, {0xCC, 0xFF}},
        {256, {0xCD, 0x01, 0x00}},
        {65535, {0xCD, 0xFF, 0xFF}},
        {65536, {0xCE, 0x00, 0x01, 0x00, 0x00}},
    };
    for (const auto& [value, expected] : cases) {
        MessagePacker packer;
        packer.packUnsigned(value);
        EXPECT_EQ(bytesOf(packer), expected) << value;
    }
}

TEST(MessagePacker, SignedSampleValues)
{
    for (const auto& [value, expected] : TestSupport::sampleEncodings) {
        MessagePacker packer;
        packer.packSigned(value);
        EXPECT_EQ(bytesOf(packer), expected) << value;
    }
}

TEST(MessagePacker, MapHeaderAndStringsCompose)
{
    MessagePacker packer;
    packer.packMapHeader(1);
    packer << "type" << "deviceConnect";
    const std::vector<uint8_t> expected = {0x81, 0xA4, 't', 'y', 'p', 'e', 0xAD, 'd', 'e', 'v', 'i',
                                           'c',  'e',  'C', 'o', 'n', 'n', 'e', 'c', 't'};
    EXPECT_EQ(bytesOf(packer), expected);
}

#include "usb/frameparcer.h"

#include <gtest/gtest.h>
#include <random>
#include <vector>

using Tavrix::Usb::FrameParcer;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes frame(uint8_t code, const Bytes& data)
{
    Bytes out{0x7E, static_cast<uint8_t>(data.size() & 0xFF), static_cast<uint8_t>(data.size() >> 8), code};
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), {0xFF, 0xFF, 0xBD});
    return out;
}

Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

std::vector<Bytes> feed(FrameParcer& parcer, const Bytes& bytes)
{
    std::vector<Bytes> frames;
    for (uint8_t byte : bytes)
        if (parcer.put(byte))
            frames.push_back(parcer.frame());
    return frames;
}

struct ParseCase
{
    const char* name;
    std::size_t bufferSize;
    Bytes input;
    std::vector<Bytes> frames;
    uint64_t discarded;
};

class FrameParcerCases : public ::testing::TestWithParam<ParseCase>
{
};

TEST_P(FrameParcerCases, cutsExpectedFrames)
{
    const ParseCase& c = GetParam();
    FrameParcer parcer(c.bufferSize);
    EXPECT_EQ(feed(parcer, c.input), c.frames);
    EXPECT_EQ(parcer.discardedCount(), c.discarded);
    EXPECT_EQ(parcer.frameCount(), c.frames.size());
}

const Bytes echo = frame(0x01, {0xDD});
const Bytes name = frame(0x02, {0x00, 0x00, 0x05, 0x00, 0x01, 0x01, 0x03, 0x01, 'F', 'R'});

INSTANTIATE_TEST_SUITE_P(
    Frames,
    FrameParcerCases,
    ::testing::Values(
        ParseCase{"garbageBeforeFrame", 64, join({{0x00, 0xBD, 0x13}, echo}), {echo}, 3},
        ParseCase{"twoFramesInOneFeed", 64, join({echo, name}), {echo, name}, 0},
        ParseCase{"zeroLengthFrameIsSevenBytes", 64, frame(0x05, {}), {Bytes{0x7E, 0, 0, 0x05, 0xFF, 0xFF, 0xBD}}, 0},
        ParseCase{"startAndEndBytesInsideData",
                  64,
                  frame(0x09, {0xBD, 0x7E, 0xBD}),
                  {frame(0x09, {0xBD, 0x7E, 0xBD})},
                  0},
        // The broken frame is dropped as a whole and the parser waits for the
        // next start byte; the bytes of the broken frame are not re-scanned.
        ParseCase{"badEndByteDropsFrame",
                  64,
                  join({{0x7E, 0x01, 0x00, 0x01, 0xDD, 0xFF, 0xFF, 0xAA}, echo}),
                  {echo},
                  1},
        ParseCase{"lengthThatDoesNotFitIsDropped", 16, join({{0x7E, 0xFF, 0x00}, echo}), {echo}, 3},
        // The oversized "frame" hid a real start byte in its length field.
        ParseCase{"startByteInsideOversizedLengthIsFound",
                  16,
                  Bytes{0x7E, 0x7E, 0x00, 0x00, 0x05, 0xFF, 0xFF, 0xBD},
                  {Bytes{0x7E, 0x00, 0x00, 0x05, 0xFF, 0xFF, 0xBD}},
                  1},
        ParseCase{"frameFillingTheBufferExactlyIsKept", 9, frame(0x03, {1, 2}), {frame(0x03, {1, 2})}, 0},
        ParseCase{"frameOneByteTooLongIsDropped", 9, frame(0x03, {1, 2, 3}), {}, 10}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(FrameParcer, frameSplitOverTwoFeedsIsDeliveredOnceAfterTheSecond)
{
    FrameParcer parcer(64);
    const Bytes first(name.begin(), name.begin() + 6);
    const Bytes second(name.begin() + 6, name.end());
    EXPECT_TRUE(feed(parcer, first).empty());
    EXPECT_EQ(feed(parcer, second), std::vector<Bytes>{name});
}

TEST(FrameParcer, resetForgetsAPartialFrame)
{
    FrameParcer parcer(64);
    feed(parcer, Bytes(name.begin(), name.begin() + 5));
    parcer.reset();
    EXPECT_EQ(parcer.state(), 0);
    EXPECT_EQ(feed(parcer, echo), std::vector<Bytes>{echo});
}

TEST(FrameParcer, randomInputNeverYieldsAMalformedOrOversizedFrame)
{
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t bufferSize : {7u, 8u, 20u, 128u}) {
        FrameParcer parcer(bufferSize);
        for (int i = 0; i < 200000; ++i) {
            // Bias towards the framing bytes so that candidate frames are common.
            const int r = byte(random);
            const uint8_t value = r < 40 ? 0x7E : (r < 60 ? 0xBD : (r < 120 ? 0x00 : static_cast<uint8_t>(byte(random))));
            if (!parcer.put(value))
                continue;
            const Bytes f = parcer.frame();
            ASSERT_LE(f.size(), bufferSize);
            ASSERT_EQ(f.front(), 0x7E);
            ASSERT_EQ(f.back(), 0xBD);
            ASSERT_EQ(f.size(), static_cast<std::size_t>(f[1] + f[2] * 256 + 7));
        }
    }
}

} // namespace

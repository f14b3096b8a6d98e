// Memory read-out on 0x86: the bytes that arrive are the recorder's flash
// from the start address up to its write pointer.

#include "modeltesthelpers.h"

namespace Tavrix::Simulator::Test {

namespace {

Bytes startReading(uint64_t address, uint16_t words = 0x80)
{
    Bytes data{0x12};
    for (int i = 0; i < 8; ++i)
        data.push_back(static_cast<uint8_t>(address >> (8 * i)));
    data.push_back(static_cast<uint8_t>(words));
    data.push_back(static_cast<uint8_t>(words >> 8));
    return request(0x11, data);
}

class Readout : public ModelTest {
protected:
    // Reads 0x86 as the service does (big reads) until nothing more comes.
    std::vector<Bytes> readoutFrames(std::size_t readSize = 1048576)
    {
        std::vector<Bytes> frames;
        for (int guard = 0; guard < 100000; ++guard) {
            const Bytes piece = model.read(Endpoint::Data, readSize, now);
            if (piece.empty())
                break;
            for (auto& f : dataCutter.put(piece))
                frames.push_back(std::move(f));
        }
        return frames;
    }

    // Payloads without the trailing four-byte sequence number.
    static Bytes payloads(const std::vector<Bytes>& frames)
    {
        Bytes all;
        for (const Bytes& f : frames) {
            const std::size_t n = le(f, 1, 2);
            all.insert(all.end(), f.begin() + 4, f.begin() + 4 + static_cast<long>(n) - 4);
        }
        return all;
    }

    FrameCutter dataCutter;
};

TEST_F(Readout, StreamsTheWrittenRangeWithItsContents)
{
    ASSERT_TRUE(model.setValue("flashWrittenMax", "0x12FF"));   // 4864 bytes from 0
    ASSERT_TRUE(model.setValue("flashWrite", "0x200:DEADBEEF"));
    ASSERT_TRUE(model.setValue("flashWrite", "4863:7E"));          // last written byte
    EXPECT_EQ(ask(startReading(0))[4], 0);
    const auto frames = readoutFrames();
    ASSERT_EQ(frames.size(), 10u) << "nine full frames of 512 and one of 256";
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i][3], 0x82);
        const std::size_t n = le(frames[i], 1, 2);
        EXPECT_EQ(n, i < 9 ? 516u : 260u);
        EXPECT_EQ(le(frames[i], 4 + n - 4, 4), i) << "sequence number";
    }
    const Bytes data = payloads(frames);
    ASSERT_EQ(data.size(), 0x1300u);
    EXPECT_EQ(Bytes(data.begin() + 0x200, data.begin() + 0x204), (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_EQ(data.back(), 0x7E);
    // Every byte equals what the state reports for that address: unwritten
    // addresses follow the documented pattern.
    for (uint64_t a : {0x0ull, 0x1FFull, 0x205ull, 0x1234ull})
        EXPECT_EQ(data[a], static_cast<uint8_t>((a ^ (a >> 8) ^ (a >> 16)) & 0xFF)) << a;
    EXPECT_EQ(jsonNumber(model.stateJson(), "bytesReadOut"), 0x1300);
    EXPECT_NE(model.stateJson().find("\"flashRead\":true"), std::string::npos);
    EXPECT_EQ(ask(0x09, {0x21})[5], 1) << "GetFlashState: read out";
}

TEST_F(Readout, StartsAtTheRequestedAddressWithTheRequestedFrameSize)
{
    ASSERT_TRUE(model.setValue("flashWrittenMax", "0x13FF"));
    ask(startReading(0x1000, 0x40));   // 256-byte payloads
    const auto frames = readoutFrames(128);   // small reads split frames
    ASSERT_EQ(frames.size(), 4u);
    const Bytes data = payloads(frames);
    ASSERT_EQ(data.size(), 0x400u);
    EXPECT_EQ(data[0], static_cast<uint8_t>(0x1000 ^ 0x10));
}

TEST_F(Readout, StopEndsTheReadOut)
{
    ask(startReading(0));
    EXPECT_EQ(model.read(Endpoint::Data, 523, now).size(), 523u) << "one whole frame";
    ask(0x12);
    EXPECT_TRUE(readoutFrames().empty());
    EXPECT_FALSE(model.nextReadyTime(Endpoint::Data, now).has_value());
}

TEST_F(Readout, NothingIsSentWhenNothingIsWrittenBeyondTheStart)
{
    ASSERT_TRUE(model.setValue("flashEmpty", "true"));
    EXPECT_EQ(ask(0x0A, {0x03}), ask(0x0A, {0x01})) << "written maximum equals the minimum";
    EXPECT_EQ(ask(startReading(0))[4], 0);
    EXPECT_TRUE(readoutFrames().empty());
}

TEST_F(Readout, StartOutsideTheRecordingAreaIsRefused)
{
    EXPECT_EQ(ask(startReading(0x200000))[4], 1);
    EXPECT_TRUE(readoutFrames().empty());
    EXPECT_EQ(ask(startReading(0, 0))[3], 0xEE) << "zero-size frames";
}

TEST_F(Readout, RestartEndsARunningReadOut)
{
    ask(startReading(0));
    ask(0x06, {0x00, 0x08});
    EXPECT_TRUE(readoutFrames().empty());
}

} // namespace

} // namespace Tavrix::Simulator::Test

// What the host writes to the recorder reads back, and state that the
// recorder keeps on its own (clock, recording) moves with time.

#include "modeltesthelpers.h"

namespace Tavrix::Simulator::Test {

namespace {

class RoundTrip : public ModelTest {};

TEST_F(RoundTrip, ClockSetReadsBackAndTicks)
{
    // 2019-03-27 08:05:00, seconds first.
    EXPECT_EQ(ask(0x08, {0x00, 0x05, 0x08, 0x27, 0x03, 0x19}), (Bytes{0x7E, 0x01, 0x00, 0x08, 0x00, 0xFF, 0xFF, 0xBD}));
    EXPECT_EQ(ask(0x05), (Bytes{0x7E, 0x06, 0x00, 0x05, 0x00, 0x05, 0x08, 0x27, 0x03, 0x19, 0xFF, 0xFF, 0xBD}));
    now += 61s;
    EXPECT_EQ(ask(0x05), (Bytes{0x7E, 0x06, 0x00, 0x05, 0x01, 0x06, 0x08, 0x27, 0x03, 0x19, 0xFF, 0xFF, 0xBD}));
}

TEST_F(RoundTrip, ClockRollsOverTheYear)
{
    ask(0x08, {0x59, 0x59, 0x23, 0x31, 0x12, 0x99});
    now += 1s;
    EXPECT_EQ(ask(0x05), (Bytes{0x7E, 0x06, 0x00, 0x05, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0xFF, 0xFF, 0xBD}));
}

TEST_F(RoundTrip, InvalidClockWriteIsRefusedAndKeepsTheClock)
{
    ask(0x08, {0x00, 0x00, 0x12, 0x01, 0x02, 0x24});
    const Bytes before = ask(0x05);
    for (const Bytes& bad : {Bytes{0x00, 0x00, 0x2A, 0x01, 0x02, 0x24},   // hour not BCD
                             Bytes{0x00, 0x60, 0x12, 0x01, 0x02, 0x24},   // minute 60
                             Bytes{0x00, 0x00, 0x12, 0x30, 0x02, 0x24}}) { // 30 February
        EXPECT_EQ(ask(0x08, bad)[4], 1);
        EXPECT_EQ(ask(0x05), before);
    }
}

TEST_F(RoundTrip, RawClockBytesAreAnsweredAsSet)
{
    ASSERT_TRUE(model.setValue("clockBcd", "00 00 2A 01 02 24"));
    const Bytes a = ask(0x05);
    EXPECT_EQ(Bytes(a.begin() + 4, a.begin() + 10), (Bytes{0x00, 0x00, 0x2A, 0x01, 0x02, 0x24}));
    ASSERT_TRUE(model.setValue("clock", "2024-02-01 12:00:00"));
    EXPECT_EQ(ask(0x05)[6], 0x12);
}

TEST_F(RoundTrip, EepromWritesReadBack)
{
    const Bytes data{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    Bytes write{0x80, 0x09, 0x00, 0x05};
    write.insert(write.end(), data.begin(), data.end());
    EXPECT_EQ(ask(0x04, write)[4], 0);
    const Bytes a = ask(0x03, {0x80, 0x09, 0x00, 0x05, 0x10, 0x00});
    ASSERT_EQ(a.size(), 16u + 7);
    EXPECT_EQ(Bytes(a.begin() + 4, a.end() - 3), data);
    // Erased bytes read 0xFF; the last byte of the memory is addressable.
    EXPECT_EQ(ask(0x03, {0xFF, 0x0F, 0x00, 0x05, 0x01, 0x00}), (Bytes{0x7E, 0x01, 0x00, 0x03, 0xFF, 0xFF, 0xFF, 0xBD}));
    EXPECT_EQ(ask(0x04, {0xFF, 0x0F, 0x00, 0x05, 1, 2})[3], 0xEE);
}

TEST_F(RoundTrip, ReoAndPelSwitches)
{
    EXPECT_EQ(ask(0x0B, {0x27, 0x01, 0x00})[4], 0);
    Bytes a = ask(0x09, {0x27});
    EXPECT_EQ(a[5], 1);
    EXPECT_EQ(a[6], 0);
    ask(0x0B, {0x27, 0x00, 0x01});
    a = ask(0x09, {0x27});
    EXPECT_EQ(a[5], 0);
    EXPECT_EQ(a[6], 1);
}

TEST_F(RoundTrip, EcgModeChangesOnlyWithTheConverterOff)
{
    EXPECT_EQ(ask(0x10, {0x01, 0x02})[4], 1) << "refused while streaming";
    EXPECT_EQ(ask(0x10, {0x00, 0x00})[4], 4);
    ask(0x07, {0x00});
    EXPECT_EQ(ask(0x10, {0x01, 0x02})[4], 0);
    ask(0x07, {0x01});
    EXPECT_EQ(ask(0x10, {0x00, 0x00})[4], 2);
}

TEST_F(RoundTrip, RecordingGrowsTheWrittenRange)
{
    const uint64_t before = le(ask(0x0A, {0x03}), 4, 8);
    EXPECT_EQ(ask(0x07, {0x02})[4], 0);
    EXPECT_EQ(ask(0x0F)[4], 2);
    EXPECT_EQ(ask(0x0E)[4], 2);
    EXPECT_EQ(ask(0x09, {0x00})[4] & 0x02, 0x02) << "recording flag";
    now += 2s;
    const uint64_t after = le(ask(0x0A, {0x03}), 4, 8);
    EXPECT_EQ(after - before, 2u * 500 * 24) << "two seconds of 500 Hz, 24 bytes a frame";
    EXPECT_EQ(ask(0x07, {0x01})[4], 0);
    EXPECT_EQ(ask(0x0F)[4], 1);
    now += 2s;
    EXPECT_EQ(le(ask(0x0A, {0x03}), 4, 8), after);
}

TEST_F(RoundTrip, RecordingIsRefusedOnLowBatteryOrFullMemory)
{
    ASSERT_TRUE(model.setValue("power", "3300"));
    EXPECT_EQ(ask(0x07, {0x02})[4], 1);
    ASSERT_TRUE(model.setValue("power", "3900"));
    ASSERT_TRUE(model.setValue("flashWrittenMax", "1048575"));
    EXPECT_EQ(ask(0x07, {0x02})[4], 2);
    EXPECT_EQ(ask(0x0F)[4], 1);
}

TEST_F(RoundTrip, ExaminationDataPreparesTheRecorder)
{
    EXPECT_EQ(ask(0x09, {0x2A})[5], 0);
    EXPECT_EQ(ask(0x17, {0x04, 0x19, 0x85, 0x07, 0x21})[4], 0);
    EXPECT_EQ(ask(0x17, {0x04, 0x19})[3], 0xEE) << "birthday is four bytes";
    EXPECT_EQ(ask(0x18, {0x03, 0x1E})[4], 0);
    EXPECT_EQ(ask(0x09, {0x2A})[5], 1);
    const std::string json = model.stateJson();
    EXPECT_NE(json.find("\"examField4\":\"19850721\""), std::string::npos);
    EXPECT_NE(json.find("\"leadType\":30"), std::string::npos);
    ask(0x07, {0x02});
    EXPECT_EQ(ask(0x09, {0x2A})[5], 0) << "a started recording uses the prepared data";
}

TEST_F(RoundTrip, CableMemoryWritesReadBack)
{
    model.setCablePresent(true);
    EXPECT_EQ(ask(0x09, {0x00})[4] & 1, 1);
    // Number 4660, type 5, regime 1, made 2021-03-07.
    EXPECT_EQ(ask({0x7E, 0x0A, 0x00, 0x1E, 0x07, 0x01, 0x05, 0x34, 0x12, 0x00, 0x00, 0x07, 0x03, 0x21, 0xFF, 0xFF, 0xBD})[4], 0);
    EXPECT_EQ(ask(0x1E, {0x06, 0x2C, 0x00, 0x00, 0x00})[4], 0);
    const Bytes a = ask(0x1E, {0x0A});
    ASSERT_EQ(a.size(), 28u);
    EXPECT_EQ(a[6], 1);
    EXPECT_EQ(a[7], 5);
    EXPECT_EQ(le(a, 8, 4), 4660u);
    EXPECT_EQ(le(a, 12, 4), 0x2Cu);
    EXPECT_EQ(Bytes(a.begin() + 16, a.begin() + 19), (Bytes{0x07, 0x03, 0x21}));
}

TEST_F(RoundTrip, CableAdapterIsAwayAfterItsReset)
{
    model.setCablePresent(true);
    EXPECT_EQ(ask(0x1E, {0x0B})[4], 0);
    now += 1s;
    EXPECT_EQ(ask(0x1E, {0x0A})[3], 0xEE);
    now += 1s;
    EXPECT_EQ(ask(0x1E, {0x0A}).size(), 28u);
}

TEST_F(RoundTrip, CableVersionBlock)
{
    model.setCablePresent(true);
    ASSERT_TRUE(model.setValue("cableUid", "000102030405060708090a0b"));
    ASSERT_TRUE(model.setValue("cableSoftwareVersion", "0x0203"));
    const Bytes a = ask(0x1E, {0x00});
    ASSERT_EQ(a.size(), 23u);
    EXPECT_EQ(le(a, 5, 2), 0x0203u);
    EXPECT_EQ(Bytes(a.begin() + 7, a.begin() + 19), (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
}

Bytes pointWrite(uint8_t channel, uint8_t point, uint32_t adc, int32_t physical)
{
    const uint32_t p = static_cast<uint32_t>(physical) & 0xFFFFFF;
    return request(0x22, {0x01, 0x01, channel, point, static_cast<uint8_t>(adc), static_cast<uint8_t>(adc >> 8),
                          static_cast<uint8_t>(adc >> 16), static_cast<uint8_t>(adc >> 24), static_cast<uint8_t>(p),
                          static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p >> 16), 0x00});
}

TEST_F(RoundTrip, ExternalCalibrationWriteClearSaveAndRestart)
{
    EXPECT_EQ(ask(pointWrite(2, 1, 1234, -1))[4], 0);
    Bytes a = ask(0x22, {0x00, 0x01, 0x02, 0x01});
    ASSERT_EQ(a.size(), 17u);
    EXPECT_EQ(a[5], 1);
    EXPECT_EQ(le(a, 6, 4), 1234u);
    EXPECT_EQ(sample24(a, 10), -1);

    ask(0x22, {0x04});
    EXPECT_EQ(ask(0x22, {0x00, 0x01, 0x02, 0x01})[5], 0) << "cleared points are not valid";

    ask(pointWrite(0, 1, 1000, 1));
    ask(0x22, {0x03});
    ask(pointWrite(0, 1, 777, 5));
    ask(0x06, {0x00, 0x08});
    EXPECT_TRUE(model.takeRestartRequest());
    EXPECT_FALSE(model.takeRestartRequest());
    a = ask(0x22, {0x00, 0x01, 0x00, 0x01});
    EXPECT_EQ(le(a, 6, 4), 1000u) << "restart brings back the saved point";
    EXPECT_EQ(ask(0x22, {0x00, 0x01, 0x02, 0x01})[5], 0) << "the clear was saved too";
}

TEST_F(RoundTrip, InnerCalibrationPointsAreUsable)
{
    // Two valid points with different ADC values for every inner channel the
    // recorder lists, so the host computes real scales.
    const Bytes info = ask(0x1B);
    for (std::size_t at = 5; at + 8 <= info.size() - 3; at += 8) {
        for (uint8_t ch = 0; ch < info[at + 1]; ++ch) {
            const Bytes p0 = ask(0x21, {0x00, info[at], ch, 0});
            const Bytes p1 = ask(0x21, {0x00, info[at], ch, 1});
            ASSERT_EQ(p0.size(), 17u);
            EXPECT_TRUE(p0[5] && p1[5]);
            EXPECT_NE(le(p0, 6, 4), le(p1, 6, 4));
        }
    }
    EXPECT_EQ(ask(0x21, {0x00, 0x00, 0x08, 0x00})[3], 0xEE) << "there is no ninth ECG channel";
}

TEST_F(RoundTrip, PumpAndVentOnTheCuffRecorder)
{
    RecorderModel cuff(22);
    cuff.writeCommand(request(0x13, {0x01}), now);
    cuff.writeCommand(request(0x14, {0x01}), now);
    cuff.read(Endpoint::Answer, 65535, now);
    const std::string json = cuff.stateJson();
    EXPECT_NE(json.find("\"pump\":true"), std::string::npos);
    EXPECT_NE(json.find("\"vent\":true"), std::string::npos);
}

} // namespace

} // namespace Tavrix::Simulator::Test

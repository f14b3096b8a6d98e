#include "wfdbrecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace Tavrix::Analysis;

namespace {

const std::string kData = DASTEL_DATA_DIR;

class ScratchDir
{
public:
    ScratchDir()
    {
        char pattern[] = "/tmp/dastel-wfdb-XXXXXX";
        const char *made = mkdtemp(pattern);
        m_path = made ? made : "/tmp";
    }
    ~ScratchDir() { std::system(("rm -rf '" + m_path + "'").c_str()); }
    const std::string &path() const { return m_path; }
    void write(const std::string &name, const std::string &bytes) const
    {
        std::ofstream(m_path + "/" + name, std::ios::binary) << bytes;
    }

private:
    std::string m_path;
};

std::string le16(const std::vector<int> &values)
{
    std::string out;
    for (int v : values) {
        out += static_cast<char>(v & 0xff);
        out += static_cast<char>((v >> 8) & 0xff);
    }
    return out;
}

} // namespace

TEST(WfdbRecordTest, ReadsBothShippedRecords)
{
    WfdbRecord mit;
    ASSERT_TRUE(mit.load(kData + "/ecg/100")) << mit.error();
    EXPECT_EQ(mit.samplingFrequency(), 360.0);
    EXPECT_EQ(mit.sampleCount(), 650000);
    ASSERT_EQ(mit.signalList().size(), 2u);
    EXPECT_EQ(mit.signalList()[0].format, 212);
    EXPECT_EQ(mit.signalList()[0].baseline, 1024);
    EXPECT_EQ(mit.findSignal("mlii"), 0);
    EXPECT_EQ(mit.findSignal("V5"), 1);
    EXPECT_EQ(mit.findSignal("V1"), -1);
    // The header's initial values are the first samples.
    EXPECT_EQ(mit.adc(0, 0), 995);
    EXPECT_EQ(mit.adc(1, 0), 1011);
    EXPECT_NEAR(mit.millivolts(0, 0), (995 - 1024) / 200.0, 1e-9);

    WfdbRecord ptb;
    ASSERT_TRUE(ptb.load(kData + "/ecg/s0010_re")) << ptb.error();
    EXPECT_EQ(ptb.samplingFrequency(), 1000.0);
    EXPECT_EQ(ptb.sampleCount(), 38400);
    ASSERT_EQ(ptb.signalList().size(), 12u);
    EXPECT_EQ(ptb.signalList()[0].format, 16);
    EXPECT_EQ(ptb.findSignal("I"), 0);
    EXPECT_EQ(ptb.findSignal("v6"), 11);
    EXPECT_EQ(ptb.adc(0, 0), -489);
    EXPECT_EQ(ptb.adc(11, 0), 390);
}

TEST(WfdbRecordTest, Format212PacksTwelveBitPairs)
{
    ScratchDir dir;
    // Samples 1, -1, 2047, -2048 in two frames of two signals.
    const unsigned char bytes[] = {0x01, 0xf0, 0xff, 0xff, 0x07, 0x00, 0x00, 0x08 >> 0};
    std::string dat(reinterpret_cast<const char *>(bytes), 6);
    dat[3] = static_cast<char>(0xff);
    dat[4] = static_cast<char>(0x87); // low nibble 7 -> 0x7ff, high nibble 8 -> 0x800
    dat[5] = static_cast<char>(0x00);
    dir.write("r.dat", dat);
    dir.write("r.hea", "r 2 100 2\nr.dat 212 100 12 0 0 0 0 I\nr.dat 212 100 12 0 0 0 0 II\n");
    WfdbRecord record;
    ASSERT_TRUE(record.load(dir.path() + "/r")) << record.error();
    EXPECT_EQ(record.adc(0, 0), 1);
    EXPECT_EQ(record.adc(1, 0), -1);
    EXPECT_EQ(record.adc(0, 1), 2047);
    EXPECT_EQ(record.adc(1, 1), -2048);
}

TEST(WfdbRecordTest, RefusesBrokenRecordsWithAClearMessage)
{
    struct Row
    {
        const char *name;
        std::string header; // empty: no header file at all
        std::string dat;    // empty: no signal file
        const char *message;
    } rows[] = {
        {"no header", "", le16({1, 2}), "cannot read WFDB header"},
        {"no signal file", "r 1 100 2\nr.dat 16 100 16 0 0 0 0 I\n", "", "cannot read WFDB signal file"},
        {"short signal file", "r 1 100 4\nr.dat 16 100 16 0 0 0 0 I\n", le16({1, 2, 3}), "is short: 3 of 4"},
        {"empty header", "# only a comment\n", le16({1}), "no record line"},
        {"bad signal count", "r x 100 2\nr.dat 16 100 16 0 0 0 0 I\n", le16({1, 2}), "bad signal count"},
        {"missing signal lines", "r 2 100 2\nr.dat 16 100 16 0 0 0 0 I\n", le16({1, 2, 3, 4}),
         "announces 2 signals but describes 1"},
        {"bad frequency", "r 1 fast 2\nr.dat 16 100 16 0 0 0 0 I\n", le16({1, 2}), "bad sampling frequency"},
        {"zero frequency", "r 1 0 2\nr.dat 16 100 16 0 0 0 0 I\n", le16({1, 2}), "bad sampling frequency"},
        {"unknown format", "r 1 100 2\nr.dat 80 100 8 0 0 0 0 I\n", le16({1, 2}), "format 80 is not supported"},
        {"bad gain", "r 1 100 2\nr.dat 16 lots 16 0 0 0 0 I\n", le16({1, 2}), "bad gain"},
        {"negative gain", "r 1 100 2\nr.dat 16 -5 16 0 0 0 0 I\n", le16({1, 2}), "negative gain"},
        {"bad baseline", "r 1 100 2\nr.dat 16 100(x)/mV 16 0 0 0 0 I\n", le16({1, 2}), "bad baseline"},
        {"path in file name", "r 1 100 2\n../r.dat 16 100 16 0 0 0 0 I\n", le16({1, 2}), "plain file name"},
        {"multi-segment", "r/2 1 100 2\nr.dat 16 100 16 0 0 0 0 I\n", le16({1, 2}), "multi-segment"},
        {"no samples", "r 1 100\nr.dat 16 100 16 0 0 0 0 I\n", std::string("\x01", 1), "no samples"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDir dir;
        if (!row.header.empty())
            dir.write("r.hea", row.header);
        if (!row.dat.empty())
            dir.write("r.dat", row.dat);
        WfdbRecord record;
        EXPECT_FALSE(record.load(dir.path() + "/r"));
        EXPECT_NE(record.error().find(row.message), std::string::npos) << record.error();
        EXPECT_EQ(record.sampleCount(), 0);
        EXPECT_TRUE(record.signalList().empty());
    }
}

TEST(WfdbRecordTest, HeaderDefaultsAndUnits)
{
    ScratchDir dir;
    dir.write("r.dat", le16({100, -100, 2000, -2000}));
    // No sample count (taken from the file), gain in uV with a baseline.
    dir.write("r.hea", "r 2 500\nr.dat 16 1(50)/uV 16 0 0 0 0 V1\nr.dat 16 0 16 0 0 0 0 v2\n");
    WfdbRecord record;
    ASSERT_TRUE(record.load(dir.path() + "/r")) << record.error();
    EXPECT_EQ(record.sampleCount(), 2);
    EXPECT_NEAR(record.millivolts(0, 0), (100 - 50) / 1000.0, 1e-12);
    EXPECT_NEAR(record.millivolts(1, 0), -100 / 200.0, 1e-12); // gain 0: 200 adu per unit
    EXPECT_EQ(record.findSignal("V2"), 1);
}

TEST(WfdbAnnotationsTest, ReadsRecord100sBeatsAndRefusesGarbage)
{
    WfdbAnnotations annotations;
    ASSERT_TRUE(annotations.load(kData + "/ecg/100.atr")) << annotations.error();
    const auto beats = annotations.beatSamples();
    ASSERT_EQ(beats.size(), 2273u);
    EXPECT_EQ(beats.front(), 77);
    EXPECT_EQ(beats.back(), 649991);
    EXPECT_TRUE(std::is_sorted(beats.begin(), beats.end()));
    // One rhythm label besides the beats.
    EXPECT_EQ(annotations.annotations().size(), 2274u);

    WfdbAnnotations missing;
    EXPECT_FALSE(missing.load(kData + "/ecg/nothing.atr"));
    EXPECT_NE(missing.error().find("cannot read"), std::string::npos);

    WfdbAnnotations truncated;
    // A SKIP whose interval is cut off, then nothing.
    EXPECT_FALSE(truncated.parse({0x00, 0xec, 0x01}));
}

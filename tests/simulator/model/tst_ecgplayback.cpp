// Recorded ECGs played as the recorder's ECG channels: lead mapping by name,
// scaling to microvolt counts, resampling, looping and playing once.

#include "ecgrecordplayer.h"
#include "modeltesthelpers.h"
#include "wfdbrecord.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace Tavrix::Simulator::Test {

namespace {

const std::string kData = DASTEL_DATA_DIR;

// Writes `channels` (microvolts) as a format-16 record at `fs`, gain 1000 adu/mV.
std::string writeRecord(const std::string& dir, const std::string& name, double fs,
                        const std::vector<std::pair<std::string, std::vector<double>>>& channels)
{
    std::ofstream hea(dir + "/" + name + ".hea");
    hea << name << " " << channels.size() << " " << fs << " " << channels[0].second.size() << "\n";
    for (const auto& c : channels)
        hea << name << ".dat 16 1000 16 0 0 0 0 " << c.first << "\n";
    std::ofstream dat(dir + "/" + name + ".dat", std::ios::binary);
    for (std::size_t n = 0; n < channels[0].second.size(); ++n)
        for (const auto& c : channels) {
            const auto v = static_cast<int16_t>(std::lround(c.second[n]));
            dat.put(static_cast<char>(v & 0xff)).put(static_cast<char>((v >> 8) & 0xff));
        }
    return dir + "/" + name;
}

class ScratchDir {
public:
    ScratchDir()
    {
        char pattern[] = "/tmp/dastel-playback-XXXXXX";
        const char* made = mkdtemp(pattern);
        path = made ? made : "/tmp";
    }
    ~ScratchDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string path;
};

} // namespace

TEST(EcgRecordPlayerTest, MapsLeadsByNameAndScalesToMicrovolts)
{
    Analysis::WfdbRecord ptb;
    ASSERT_TRUE(ptb.load(kData + "/ecg/s0010_re"));
    EcgRecordPlayer player;
    std::string error;
    ASSERT_TRUE(player.load(kData + "/ecg/s0010_re", error)) << error;
    EXPECT_TRUE(player.missingLeads().empty());
    // At the record's own sample instants the channels are the record's values
    // (gain 2000 adu/mV: half a microvolt per unit); looped, all but the last
    // second, which closes the loop.
    const char* names[] = {"i", "ii", "v1", "v2", "v3", "v4", "v5", "v6"};
    for (int64_t n : {0, 1, 777, 37399, 38399}) {
        player.setLoop(n < 37400);
        const auto leads = player.leads(n / 1000.0);
        for (int c = 0; c < 8; ++c)
            EXPECT_NEAR(leads[c], ptb.millivolts(ptb.findSignal(names[c]), n) * 1000.0, 0.51)
                << "sample " << n << " lead " << names[c];
    }

    Analysis::WfdbRecord mit;
    ASSERT_TRUE(mit.load(kData + "/ecg/100"));
    EcgRecordPlayer two;
    ASSERT_TRUE(two.load(kData + "/ecg/100", error)) << error;
    EXPECT_EQ(two.missingLeads(), (std::vector<std::string>{"I", "V1", "V2", "V3", "V4", "V6"}));
    const auto leads = two.leads(1000 / 360.0);
    EXPECT_EQ(leads[1], std::lround(mit.millivolts(0, 1000) * 1000.0)); // MLII plays as II
    EXPECT_EQ(leads[6], std::lround(mit.millivolts(1, 1000) * 1000.0)); // V5
    for (int c : {0, 2, 3, 4, 5, 7})
        EXPECT_EQ(leads[c], 0);

    EXPECT_EQ(EcgRecordPlayer::channelOf("mlII"), 1);
    EXPECT_EQ(EcgRecordPlayer::channelOf("V6"), 7);
    EXPECT_EQ(EcgRecordPlayer::channelOf("aVR"), -1);
}

TEST(EcgRecordPlayerTest, RefusesRecordsItCannotPlay)
{
    ScratchDir dir;
    struct Row {
        const char* name;
        std::string path;
        const char* message;
    } rows[] = {
        {"missing", dir.path + "/none", "cannot read WFDB header"},
        {"no ECG lead", writeRecord(dir.path, "resp", 100, {{"RESP", std::vector<double>(10, 0.0)}}),
         "has none of the leads"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EcgRecordPlayer player;
        std::string error;
        EXPECT_FALSE(player.load(row.path, error));
        EXPECT_NE(error.find(row.message), std::string::npos) << error;
    }
}

// The resampling error, measured: a 1000 Hz record decimated to 500 Hz and
// played back at the dropped instants, against the samples that were dropped.
TEST(EcgRecordPlayerTest, CubicResamplingStaysCloseToTheBandLimitedSignal)
{
    Analysis::WfdbRecord ptb;
    ASSERT_TRUE(ptb.load(kData + "/ecg/s0010_re"));
    const int lead = ptb.findSignal("ii");
    std::vector<double> half;
    for (int64_t n = 0; n < ptb.sampleCount(); n += 2)
        half.push_back(ptb.millivolts(lead, n) * 1000.0);
    ScratchDir dir;
    EcgRecordPlayer player;
    std::string error;
    ASSERT_TRUE(player.load(writeRecord(dir.path, "half", 500, {{"II", half}}), error)) << error;
    double sumSquares = 0, worst = 0, signalSquares = 0;
    int count = 0;
    for (int64_t n = 1; n + 4 < ptb.sampleCount(); n += 2) {
        const double truth = ptb.millivolts(lead, n) * 1000.0;
        const double e = player.leads(n / 1000.0)[1] - truth;
        sumSquares += e * e;
        signalSquares += truth * truth;
        worst = std::max(worst, std::fabs(e));
        ++count;
    }
    const double rms = std::sqrt(sumSquares / count);
    RecordProperty("rms_uV", std::to_string(rms));
    RecordProperty("worst_uV", std::to_string(worst));
    std::printf("cubic resampling 500 -> 1000 Hz, lead II of s0010_re: RMS error %.2f uV, worst %.1f uV, "
                "signal RMS %.0f uV\n", rms, worst, std::sqrt(signalSquares / count));
    EXPECT_LT(rms, 5.0);
    EXPECT_LT(worst, 60.0);
}

TEST(EcgRecordPlayerTest, LoopsWithoutAStepAndHoldsTheLastValueWhenPlayedOnce)
{
    // A ramp: its end is far from its start, the worst case for a seam.
    std::vector<double> ramp;
    for (int n = 0; n < 200; ++n)
        ramp.push_back(n * 5.0);
    ScratchDir dir;
    const std::string path = writeRecord(dir.path, "ramp", 100, {{"II", ramp}});
    EcgRecordPlayer player;
    std::string error;
    ASSERT_TRUE(player.load(path, error)) << error;
    // Looped: every step at 1 ms is small, across the seam at 2 s too
    // (the ramp's 5 uV a sample becomes at most 10 uV a ms with the closing ramp).
    double biggest = 0;
    for (int ms = 1; ms < 6000; ++ms)
        biggest = std::max(biggest, std::fabs(double(player.leads(ms / 1000.0)[1] - player.leads((ms - 1) / 1000.0)[1])));
    EXPECT_LT(biggest, 12.0) << "a step somewhere in three passes";
    EXPECT_NEAR(player.leads(2.0)[1], 0, 1); // the second pass starts where the first did

    player.setLoop(false);
    EXPECT_EQ(player.leads(1.99)[1], 995);
    EXPECT_EQ(player.leads(5.0)[1], 995);
    EXPECT_EQ(player.leads(500.0)[1], 995);
}

class PlaybackStreaming : public ModelTest {
protected:
    PlaybackStreaming()
        : ModelTest(21)
    {
        model.read(Endpoint::Signal, 128, now);
    }
};

TEST_F(PlaybackStreaming, FramesCarryTheRecordFromTheFrameTheSwitchNames)
{
    auto player = std::make_shared<EcgRecordPlayer>();
    std::string error;
    ASSERT_TRUE(player->load(kData + "/ecg/s0010_re", error)) << error;
    now += 1000ms;
    signalFrames(); // a second of the synthetic waveform
    const uint16_t first = model.playEcgRecord(player, 2.0);
    now += 2000ms;
    const auto frames = signalFrames();
    ASSERT_GE(frames.size(), 900u);
    Analysis::WfdbRecord ptb;
    ASSERT_TRUE(ptb.load(kData + "/ecg/s0010_re"));
    // At 500 frames a second frame k carries the record's sample 2000 + 2k of each lead.
    const char* names[] = {"i", "ii", "v1", "v2", "v3", "v4", "v5", "v6"};
    for (std::size_t k = 0; k < frames.size(); k += 97) {
        const Bytes& f = frames[k];
        const auto number = static_cast<uint16_t>(le(f, 4 + 48, 2));
        const int64_t sample = 2000 + 2 * static_cast<int64_t>(static_cast<uint16_t>(number - first));
        for (int c = 0; c < 8; ++c)
            EXPECT_NEAR(sample24(f, 4 + 3 * c), ptb.millivolts(ptb.findSignal(names[c]), sample) * 1000.0, 0.51)
                << "frame " << number << " lead " << names[c];
    }
    // Back to the synthetic waveform by name.
    model.playEcgRecord(nullptr);
    now += 1000ms;
    const auto synthetic = signalFrames();
    ASSERT_FALSE(synthetic.empty());
    int32_t high = 0;
    for (const Bytes& f : synthetic)
        high = std::max(high, sample24(f, 7));
    EXPECT_GT(high, 1000); // the synthetic R wave of about 1.2 mV
}

} // namespace Tavrix::Simulator::Test

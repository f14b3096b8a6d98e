#include "ecgtesthelpers.h"
#include "qrsdetector.h"
#include "wfdbrecord.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace Tavrix::Analysis;
using namespace Tavrix::Analysis::Testing;

namespace {
const std::string kData = DASTEL_DATA_DIR;
} // namespace

// The whole 30 minutes of MIT-BIH record 100 against its cardiologists' annotations.
TEST(Record100Test, DetectorMeetsItsGoalsOnAllThirtyMinutes)
{
    WfdbRecord record;
    ASSERT_TRUE(record.load(kData + "/ecg/100")) << record.error();
    WfdbAnnotations annotations;
    ASSERT_TRUE(annotations.load(kData + "/ecg/100.atr")) << annotations.error();
    const auto reference = annotations.beatSamples();
    ASSERT_EQ(reference.size(), 2273u);

    const int leads = static_cast<int>(record.signalList().size());
    std::vector<float> samples(static_cast<size_t>(record.sampleCount()) * leads);
    for (int64_t n = 0; n < record.sampleCount(); ++n)
        for (int l = 0; l < leads; ++l)
            samples[static_cast<size_t>(n * leads + l)] = static_cast<float>(record.millivolts(l, n));
    QrsDetector detector(record.samplingFrequency(), leads);
    const auto beats = runDetector(detector, samples);

    const Score s = score(reference, beats, std::llround(0.150 * record.samplingFrequency()));
    RecordProperty("Se", std::to_string(s.sensitivity()));
    RecordProperty("PlusP", std::to_string(s.positivePredictivity()));
    EXPECT_GE(s.sensitivity(), 99.9) << s.falseNegatives << " beats missed";
    EXPECT_GE(s.positivePredictivity(), 99.9) << s.falsePositives << " false beats";
}

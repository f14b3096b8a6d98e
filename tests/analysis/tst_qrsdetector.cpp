#include "ecgtesthelpers.h"
#include "qrsdetector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

using Tavrix::Analysis::QrsDetector;
using namespace Tavrix::Analysis::Testing;

namespace {

double gauss(double t, double centre, double width)
{
    const double x = (t - centre) / width;
    return std::exp(-0.5 * x * x);
}

struct BeatShape
{
    double r = 1.0;         // mV
    double qrsWidth = 0.010; // s (standard deviation of the R wave)
    double t = 0.3;         // T-wave height, mV
    double tWidth = 0.040;
    bool p = true;
};

// A synthetic ECG: P, Q, R, S, T as Gaussians around each R time.
struct SyntheticEcg
{
    double fs = 1000.0;
    double seconds = 60.0;
    std::vector<double> beatTimes;
    std::vector<BeatShape> shapes;

    std::vector<double> lead(double gain = 1.0) const
    {
        const auto n = static_cast<size_t>(seconds * fs);
        std::vector<double> x(n, 0.0);
        for (size_t b = 0; b < beatTimes.size(); ++b) {
            const double c = beatTimes[b];
            const BeatShape &s = shapes[b];
            const auto from = static_cast<int64_t>((c - 0.3) * fs), to = static_cast<int64_t>((c + 0.6) * fs);
            for (int64_t i = std::max<int64_t>(0, from); i < std::min<int64_t>(static_cast<int64_t>(n), to); ++i) {
                const double t = i / fs;
                double v = s.r * gauss(t, c, s.qrsWidth) - 0.15 * s.r * gauss(t, c - 0.025, 0.008)
                           - 0.25 * s.r * gauss(t, c + 0.028, 0.009) + s.t * gauss(t, c + 0.28, s.tWidth);
                if (s.p)
                    v += 0.15 * gauss(t, c - 0.17, 0.025);
                x[static_cast<size_t>(i)] += gain * v;
            }
        }
        return x;
    }
    std::vector<int64_t> reference() const
    {
        std::vector<int64_t> r;
        for (double t : beatTimes)
            r.push_back(std::llround(t * fs));
        return r;
    }
};

SyntheticEcg regularRhythm(double fs, double seconds, double rr)
{
    SyntheticEcg ecg;
    ecg.fs = fs;
    ecg.seconds = seconds;
    for (double t = 0.5; t < seconds - 0.7; t += rr) {
        ecg.beatTimes.push_back(t);
        ecg.shapes.push_back(BeatShape{});
    }
    return ecg;
}

std::vector<float> interleave(const std::vector<std::vector<double>> &leads)
{
    std::vector<float> out(leads[0].size() * leads.size());
    for (size_t n = 0; n < leads[0].size(); ++n)
        for (size_t l = 0; l < leads.size(); ++l)
            out[n * leads.size() + l] = static_cast<float>(leads[l][n]);
    return out;
}

// Beats from 0.5 s to 0.7 s before the end: beat i has shape(i) and the
// next follows gap(i) seconds later.
void placeBeats(SyntheticEcg &ecg, const std::function<BeatShape(int)> &shape, const std::function<double(int)> &gap)
{
    ecg.beatTimes.clear();
    ecg.shapes.clear();
    double t = 0.5;
    for (int i = 0; t < ecg.seconds - 0.7; ++i) {
        ecg.beatTimes.push_back(t);
        ecg.shapes.push_back(shape(i));
        t += gap(i);
    }
}

} // namespace

TEST(QrsDetectorStagesTest, BandPassKeepsTheQrsBandAndRejectsWanderAndMains)
{
    // 5-15 Hz: the QRS's energy passes; breathing wander and mains do not.
    for (double fs : {250.0, 360.0, 500.0, 1000.0, 2000.0}) {
        SCOPED_TRACE(fs);
        QrsDetector::BandPass bp(fs);
        EXPECT_GT(bp.gainAt(10.0), 0.8);
        EXPECT_LT(bp.gainAt(0.3), 0.01);
        EXPECT_LT(bp.gainAt(50.0), 0.02);
        EXPECT_LT(bp.gainAt(60.0), 0.01);
        // The measured response agrees with the computed one.
        QrsDetector::BandPass run(fs);
        double peak = 0;
        for (int i = 0; i < static_cast<int>(fs * 4); ++i) {
            const double y = run.step(std::sin(2 * M_PI * 10.0 * i / fs));
            if (i > fs * 2)
                peak = std::max(peak, std::fabs(y));
        }
        EXPECT_NEAR(peak, bp.gainAt(10.0), 0.02);
        EXPECT_GT(bp.groupDelayAt(10.0), 0.0);
        EXPECT_LT(bp.groupDelayAt(10.0) / fs, 0.060);
    }
}

TEST(QrsDetectorStagesTest, MedianOfFiveDropsShortSpikesAndKeepsSteps)
{
    struct Row
    {
        std::vector<float> window;
        float median;
    } rows[] = {
        {{0, 0, 9, 0, 0}, 0},   // one-sample spike
        {{0, 9, 9, 0, 0}, 0},   // two-sample spike
        {{0, 0, 1, 1, 1}, 1},   // a step passes
        {{5, 4, 3, 2, 1}, 3},
        {{1, 2, 3, 4, 5}, 3},
        {{-1, 7, -3, 2, 2}, 2},
    };
    for (const Row &row : rows)
        EXPECT_EQ(QrsDetector::median5(row.window.data()), row.median);
}

TEST(QrsDetectorTest, FindsEveryBeatOfCleanSyntheticEcgAtSeveralRates)
{
    for (double fs : {250.0, 360.0, 500.0, 1000.0, 2000.0}) {
        for (double rr : {0.35, 0.8, 1.5}) {
            SCOPED_TRACE(std::to_string(fs) + " Hz, RR " + std::to_string(rr));
            const SyntheticEcg ecg = regularRhythm(fs, 40.0, rr);
            QrsDetector detector(fs, 1);
            const auto beats = runDetector(detector, interleave({ecg.lead()}));
            const Score s = score(ecg.reference(), beats, std::llround(0.15 * fs));
            EXPECT_EQ(s.falseNegatives, 0);
            EXPECT_EQ(s.falsePositives, 0);
            // The R peak, not just near it.
            const Score tight = score(ecg.reference(), beats, std::llround(0.02 * fs));
            EXPECT_EQ(tight.truePositives, s.truePositives);
        }
    }
}

TEST(QrsDetectorTest, BeatsComeOutTheSameWhateverTheBlockSize)
{
    const SyntheticEcg ecg = regularRhythm(500.0, 30.0, 0.7);
    const std::vector<float> samples = interleave({ecg.lead(), ecg.lead(0.5)});
    QrsDetector whole(500.0, 2);
    const auto expected = runDetector(whole, samples);
    ASSERT_FALSE(expected.empty());
    for (int64_t block : {1, 7, 160, 4096}) {
        SCOPED_TRACE(block);
        QrsDetector detector(500.0, 2);
        std::vector<QrsDetector::Beat> beats;
        for (int64_t n = 0; n < static_cast<int64_t>(samples.size() / 2); n += block)
            detector.process(samples.data() + n * 2, std::min<int64_t>(block, samples.size() / 2 - n), beats);
        detector.finish(beats);
        std::vector<int64_t> got;
        for (const auto &b : beats)
            got.push_back(b.sample);
        EXPECT_EQ(got, expected);
    }
}

// What real ECGs bring, one at a time: every beat found, none invented.
TEST(QrsDetectorTest, RobustToWhatRealEcgsBring)
{
    const double fs = 1000.0;
    struct Row
    {
        const char *name;
        std::function<void(SyntheticEcg &)> rhythm;                       // changes the beats
        std::function<void(std::vector<std::vector<double>> &, std::mt19937 &)> disturb; // changes the leads
    };
    const Row rows[] = {
        {"baseline wander of 2 mV", nullptr,
         [&](auto &leads, auto &) {
             for (auto &lead : leads)
                 for (size_t i = 0; i < lead.size(); ++i)
                     lead[i] += 2.0 * std::sin(2 * M_PI * 0.3 * i / fs) + 0.8 * std::sin(2 * M_PI * 0.05 * i / fs);
         }},
        {"50 Hz mains as tall as the R wave", nullptr,
         [&](auto &leads, auto &) {
             for (auto &lead : leads)
                 for (size_t i = 0; i < lead.size(); ++i)
                     lead[i] += 1.0 * std::sin(2 * M_PI * 50.0 * i / fs);
         }},
        {"muscle noise", nullptr,
         [&](auto &leads, auto &rng) {
             std::normal_distribution<double> noise(0.0, 0.08);
             for (auto &lead : leads)
                 for (double &v : lead)
                     v += noise(rng);
         }},
        {"tall, peaked T waves",
         [](SyntheticEcg &ecg) {
             for (auto &s : ecg.shapes) {
                 s.t = 1.2;
                 s.tWidth = 0.030;
             }
         },
         nullptr},
        {"premature ventricular beats",
         [](SyntheticEcg &ecg) {
             // Every fourth beat comes early, wide, tall and without a P wave.
             placeBeats(
                 ecg,
                 [](int i) {
                     BeatShape s;
                     if (i % 4 == 3) {
                         s.r = 2.0;
                         s.qrsWidth = 0.030;
                         s.t = -0.6;
                         s.p = false;
                     }
                     return s;
                 },
                 [](int i) { return (i % 4 == 2) ? 0.5 : (i % 4 == 3 ? 1.2 : 0.85); });
         },
         nullptr},
        {"pauses of 3 s",
         [](SyntheticEcg &ecg) {
             placeBeats(ecg, [](int) { return BeatShape{}; }, [](int i) { return (i % 10 == 9) ? 3.0 : 0.8; });
         },
         nullptr},
        {"pacing spikes of 6 mV before each beat", nullptr, nullptr}, // filled below
        {"one lead flat, one saturated at full scale", nullptr,
         [&](auto &leads, auto &) {
             std::fill(leads[1].begin(), leads[1].end(), 0.0);
             // Lead 2 swings between the rails every 1.3 s, as a loose electrode does.
             for (size_t i = 0; i < leads[2].size(); ++i)
                 leads[2][i] = (static_cast<int>(i / (1.3 * fs)) % 2) ? 5.0 : -5.0;
         }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SyntheticEcg ecg = regularRhythm(fs, 60.0, 0.8);
        if (row.rhythm)
            row.rhythm(ecg);
        std::vector<std::vector<double>> leads{ecg.lead(1.0), ecg.lead(0.6), ecg.lead(-0.8)};
        std::mt19937 rng(7);
        if (row.disturb)
            row.disturb(leads, rng);
        if (std::string(row.name).rfind("pacing", 0) == 0) {
            for (auto &lead : leads)
                for (double t : ecg.beatTimes) {
                    const auto at = static_cast<size_t>((t - 0.06) * fs);
                    lead[at] += 6.0;
                    lead[at + 1] -= 3.0;
                }
        }
        QrsDetector detector(fs, 3);
        for (int l = 0; l < 3; ++l)
            detector.setLeadLimits(l, -5.0, 5.0);
        const Score s = score(ecg.reference(), runDetector(detector, interleave(leads)), std::llround(0.15 * fs));
        EXPECT_EQ(s.falseNegatives, 0);
        EXPECT_EQ(s.falsePositives, 0);
    }
}

TEST(QrsDetectorTest, NoBeatsFromLeadsThatCarryNoEcg)
{
    const double fs = 500.0;
    const size_t n = static_cast<size_t>(fs * 30);
    std::mt19937 rng(3);
    std::normal_distribution<double> hiss(0.0, 0.005);
    struct Row
    {
        const char *name;
        std::function<double(size_t)> value;
    } rows[] = {
        {"flat", [](size_t) { return 0.0; }},
        {"flat with an offset", [](size_t) { return 3.2; }},
        {"amplifier hiss", [&](size_t) { return hiss(rng); }},
        {"at full scale", [](size_t) { return 5.0; }},
        {"jumping between the rails", [&](size_t i) { return (i / 700) % 2 ? 5.0 : -5.0; }},
        {"mains only", [&](size_t i) { return 0.5 * std::sin(2 * M_PI * 50.0 * i / fs); }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<double> lead(n);
        for (size_t i = 0; i < n; ++i)
            lead[i] = row.value(i);
        QrsDetector detector(fs, 2);
        detector.setLeadLimits(0, -5.0, 5.0);
        detector.setLeadLimits(1, -5.0, 5.0);
        EXPECT_TRUE(runDetector(detector, interleave({lead, lead})).empty());
    }
}

TEST(QrsDetectorTest, ResetStartsCountingAgainAndRelearns)
{
    const SyntheticEcg ecg = regularRhythm(500.0, 20.0, 0.75);
    const std::vector<float> samples = interleave({ecg.lead()});
    QrsDetector detector(500.0, 1);
    const auto first = runDetector(detector, samples);
    detector.reset();
    const auto second = runDetector(detector, samples);
    EXPECT_EQ(first, second);
    EXPECT_EQ(score(ecg.reference(), second, 75).falseNegatives, 0);
}

#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Tavrix::Analysis {

// Multi-lead QRS detector after Pan and Tompkins (IEEE TBME 32(3), 1985) with
// the decision rules of Hamilton and Tompkins (IEEE TBME 33(12), 1986).
//
// Per lead: spike rejection (5-sample median) -> band-pass 5-15 Hz -> slope
// (5-point derivative) -> squared. The leads' squared slopes are each scaled
// by that lead's own QRS level, averaged over the leads that carry a signal,
// and summed over a 150 ms integration window. Peaks of the integrated signal
// are classed as QRS or noise against an adaptive threshold, with a 200 ms
// refractory period, a T-wave check and a search-back for missed beats.
//
// Plain C++ without Qt: the service, the offline tool and the tests all feed
// it the same way. Input is in millivolts; beats come out as sample indices
// counted from the first sample fed (or the last reset()), in order, a few
// hundred milliseconds after the R peak has been fed (the first beats only
// once the 2 s learning period is over).
class QrsDetector
{
public:
    struct Beat
    {
        int64_t sample = 0; // the R peak
    };

    QrsDetector(double samplingFrequencyHz, int leadCount);
    ~QrsDetector();
    QrsDetector(QrsDetector &&) noexcept;
    QrsDetector &operator=(QrsDetector &&) noexcept;

    // Samples at or beyond these limits (in mV) mark the lead as saturated; the
    // lead is left out until it has been within them for a second.
    void setLeadLimits(int lead, double lowMillivolts, double highMillivolts);

    // `frames` frames of `leadCount` interleaved samples in millivolts.
    // Detected beats are appended to `beats`.
    void process(const float *interleaved, int64_t frames, std::vector<Beat> &beats);

    // The signal has ended: decides on the peak still being followed.
    // Feed nothing more without a reset().
    void finish(std::vector<Beat> &beats);

    // Forgets the signal (as after lost samples): learning starts again and
    // sample indices count from the next sample fed.
    void reset();

    double samplingFrequency() const { return m_fs; }
    int leadCount() const { return m_leadCount; }
    int64_t samplesFed() const { return m_fed; }
    // Whether `lead` currently contributes (not flat, not saturated).
    bool leadInUse(int lead) const;

    // Filter stages, exposed so each can be checked on a known input.
    struct Biquad
    {
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double z1 = 0, z2 = 0;
        double step(double x)
        {
            const double y = b0 * x + z1;
            z1 = b1 * x - a1 * y + z2;
            z2 = b2 * x - a2 * y;
            return y;
        }
        static Biquad lowPass(double fs, double cutoffHz, double q);
        static Biquad highPass(double fs, double cutoffHz, double q);
    };
    class BandPass
    {
    public:
        explicit BandPass(double fs);
        double step(double x) { return m_low2.step(m_low1.step(m_high.step(x))); }
        // Gain and group delay (in samples) at `hz`.
        double gainAt(double hz) const;
        double groupDelayAt(double hz) const;

    private:
        Biquad m_high, m_low1, m_low2;
        double m_fs;
    };
    static float median5(const float *window);

private:
    struct LeadState;
    struct Peak
    {
        double value = 0;
        int64_t mwiIndex = -1;
        int64_t rSample = -1;
        double slope = 0;
    };

    void runLeadStage(LeadState &lead, int leadIndex, const float *interleaved, int64_t frames, int64_t start);
    void combine(int64_t index);
    void decide(int64_t index, std::vector<Beat> &beats);
    void finishLearning(std::vector<Beat> &beats);
    void classify(const Peak &peak, std::vector<Beat> &beats);
    void acceptBeat(const Peak &peak, std::vector<Beat> &beats, bool fromSearchBack);
    Peak describePeak(double value, int64_t mwiIndex) const;
    void updateThreshold();

    size_t slot(int64_t index) const { return static_cast<size_t>(index) & m_ringMask; }

    double m_fs;
    int m_leadCount;
    int64_t m_fed = 0;

    // Sample counts of the constants, from the sampling frequency.
    int m_window;        // integration window
    int m_refractory;
    int m_tWaveLimit;
    int m_peakHold;
    int m_learning;
    int m_searchBackMin; // a missed beat is looked for only this far after the last one
    int m_holdOff;
    int m_settle;        // the filters' start-up, when no lead counts       // a saturated lead stays out this long
    int m_rDelay;        // from the band-passed sample to the input sample it stands for
    double m_envelopeDecay;

    size_t m_ringMask;
    std::vector<LeadState> m_leads;
    std::vector<float> m_combinedSlope;
    std::vector<float> m_combinedAmplitude;
    std::vector<float> m_mwi;
    std::vector<uint8_t> m_validCount;

    int64_t m_combined = 0; // next index to combine
    int64_t m_decided = 0;  // next index to decide on
    bool m_learned = false;
    double m_mwiSum = 0;

    // Peak finding on the integrated signal.
    double m_peakMax = 0;
    int64_t m_peakIndex = -1;
    double m_rearmBelow = 0;
    int64_t m_rearmAt = 0;

    // Adaptive threshold and beat history.
    std::vector<double> m_qrsPeaks;
    std::vector<double> m_noisePeaks;
    std::vector<int64_t> m_rrs;
    size_t m_qrsNext = 0, m_noiseNext = 0, m_rrNext = 0;
    double m_threshold = 0;
    Peak m_lastBeat;
    bool m_haveBeat = false;
    Peak m_searchBack;
};

} // namespace Tavrix::Analysis

#include "qrsdetector.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

namespace Tavrix::Analysis {

namespace {

// Stage constants. Times in seconds, amplitudes in millivolts.
constexpr double kBandLowHz = 5.0;        // Pan & Tompkins 1985: QRS energy lies in 5-15 Hz
constexpr double kBandHighHz = 15.0;      //   (above: muscle noise, mains; below: wander, P and T)
constexpr double kButterworthQ = 0.70710678118654752;
constexpr double kIntegrationWindowS = 0.150; // Pan & Tompkins: about the widest QRS
constexpr double kRefractoryS = 0.200;    // Pan & Tompkins: ventricular refractory period
constexpr double kTWaveLimitS = 0.360;    // Pan & Tompkins: a peak this soon may be a T wave...
constexpr double kTWaveSlopeRatio = 0.5;  // ...if its steepest slope is under half the last QRS's
constexpr double kPeakHoldS = 0.095;      // Hamilton & Tompkins 1986: a peak is a maximum not
                                          // exceeded for 95 ms (or followed by a fall to half)
constexpr double kThresholdCoefficient = 0.3125; // Hamilton & Tompkins: noise + 0.3125 (QRS - noise)
constexpr size_t kHistory = 8;            // Hamilton & Tompkins: means of the last 8 peaks and RRs
constexpr double kSearchBackRr = 1.5;     // Hamilton & Tompkins: look back after 1.5 mean RRs...
constexpr double kSearchBackFactor = 0.5; // ...for a peak over half the threshold...
constexpr double kSearchBackMinS = 0.360; // ...that is not the last beat's T wave
constexpr double kLearningS = 2.0;        // thresholds and lead levels from the first 2 s
constexpr double kLeadLevelWeight = 0.125; // a lead's QRS level follows each beat by 1/8
constexpr double kLocateMarginS = 0.050;  // the R peak is looked for this far before the window
// Guards of this implementation, not from the papers:
constexpr double kFlatLeadMv = 0.01;      // a lead whose band-passed signal stays under this is off
constexpr double kEnvelopeS = 0.5;        //   (envelope time constant: a lead that goes flat is out in 2-3 s)
constexpr double kImplausibleMv = 8.0;    // no QRS is this tall after the band-pass: a lead jump
constexpr double kHoldOffS = 1.0;         // a saturated or jumping lead stays out this long
constexpr double kSettleS = 0.1;          // the band-pass's start-up (3 time constants of 5 Hz)
// A lead's QRS level never drops below that of a 0.1 mV band-passed QRS (slope
// about 2 pi 10 Hz x 0.1 mV), so a quiet lead is never amplified into beats.
constexpr double kMinLeadLevel = 40.0;    // (mV/s)^2
constexpr double kMinThreshold = 0.02;    // integrated, lead-normalised units

int samplesOf(double seconds, double fs)
{
    return std::max(1, static_cast<int>(std::lround(seconds * fs)));
}

} // namespace

struct QrsDetector::LeadState
{
    explicit LeadState(double fs) : bandPass(fs) {}
    BandPass bandPass;
    float window[5] = {0, 0, 0, 0, 0};
    int primed = 0;
    double history[4] = {0, 0, 0, 0}; // band-passed x[n-1..n-4]
    double envelope = 0;
    double offset = 0;
    int hold = 0;
    double low = -std::numeric_limits<double>::infinity();
    double high = std::numeric_limits<double>::infinity();
    double learnedMax = 0;
    double level = kMinLeadLevel;
    double invLevel = 1.0 / kMinLeadLevel;
    double invAmplitude = 1.0 / std::sqrt(kMinLeadLevel);
    std::vector<float> slope;     // squared slope, 0 while the lead is out
    std::vector<float> amplitude; // |band-passed|, 0 while the lead is out
    bool inUse = false;
};

namespace {

// Bilinear-transform Butterworth sections (R. Bristow-Johnson's audio EQ
// cookbook). Low and high pass share the poles; their zeros differ only in
// the sign of cos w: `sign` -1 gives the low pass, +1 the high pass.
QrsDetector::Biquad cookbookSection(double fs, double cutoffHz, double q, double sign)
{
    const double w = 2.0 * M_PI * cutoffHz / fs;
    const double alpha = std::sin(w) / (2.0 * q);
    const double cw = std::cos(w);
    const double a0 = 1.0 + alpha;
    const double k = 1.0 + sign * cw;
    QrsDetector::Biquad b;
    b.b0 = k / 2.0 / a0;
    b.b1 = -sign * k / a0;
    b.b2 = b.b0;
    b.a1 = -2.0 * cw / a0;
    b.a2 = (1.0 - alpha) / a0;
    return b;
}

} // namespace

QrsDetector::Biquad QrsDetector::Biquad::lowPass(double fs, double cutoffHz, double q)
{
    return cookbookSection(fs, cutoffHz, q, -1.0);
}

QrsDetector::Biquad QrsDetector::Biquad::highPass(double fs, double cutoffHz, double q)
{
    return cookbookSection(fs, cutoffHz, q, 1.0);
}

QrsDetector::BandPass::BandPass(double fs)
    : m_high(Biquad::highPass(fs, kBandLowHz, kButterworthQ)),
      m_low1(Biquad::lowPass(fs, kBandHighHz, kButterworthQ)),
      m_low2(Biquad::lowPass(fs, kBandHighHz, kButterworthQ)),
      m_fs(fs)
{
}

namespace {
std::complex<double> response(const QrsDetector::Biquad &b, double w)
{
    const std::complex<double> z1 = std::polar(1.0, -w), z2 = std::polar(1.0, -2.0 * w);
    return (b.b0 + b.b1 * z1 + b.b2 * z2) / (1.0 + b.a1 * z1 + b.a2 * z2);
}
} // namespace

double QrsDetector::BandPass::gainAt(double hz) const
{
    const double w = 2.0 * M_PI * hz / m_fs;
    return std::abs(response(m_high, w) * response(m_low1, w) * response(m_low2, w));
}

double QrsDetector::BandPass::groupDelayAt(double hz) const
{
    const double dw = 1e-4;
    auto phase = [&](double w) {
        return std::arg(response(m_high, w) * response(m_low1, w) * response(m_low2, w));
    };
    const double w = 2.0 * M_PI * hz / m_fs;
    double dphi = phase(w + dw) - phase(w - dw);
    while (dphi > M_PI)
        dphi -= 2.0 * M_PI;
    while (dphi < -M_PI)
        dphi += 2.0 * M_PI;
    return -dphi / (2.0 * dw);
}

float QrsDetector::median5(const float *v)
{
    float a = v[0], b = v[1], c = v[2], d = v[3], e = v[4];
    // Sorting network for the middle of five.
    auto order = [](float &x, float &y) {
        const float lo = std::min(x, y), hi = std::max(x, y);
        x = lo;
        y = hi;
    };
    order(a, b);
    order(d, e);
    order(a, d); // a is the smallest of a, b, d, e: not the median
    order(b, e); // e is the largest of them: not the median either
    order(b, c);
    order(c, d);
    order(b, c);
    return c;
}

QrsDetector::QrsDetector(double samplingFrequencyHz, int leadCount)
    : m_fs(samplingFrequencyHz > 0 ? samplingFrequencyHz : 1000.0),
      m_leadCount(std::max(1, leadCount))
{
    m_window = samplesOf(kIntegrationWindowS, m_fs);
    m_refractory = samplesOf(kRefractoryS, m_fs);
    m_tWaveLimit = samplesOf(kTWaveLimitS, m_fs);
    m_peakHold = samplesOf(kPeakHoldS, m_fs);
    m_learning = samplesOf(kLearningS, m_fs);
    m_searchBackMin = samplesOf(kSearchBackMinS, m_fs);
    m_holdOff = samplesOf(kHoldOffS, m_fs);
    m_settle = samplesOf(kSettleS, m_fs);
    m_envelopeDecay = std::exp(-1.0 / (kEnvelopeS * m_fs));
    // The median filter stands 2 samples behind its input; the band-pass adds
    // its group delay at the centre of the QRS band.
    m_rDelay = 2 + static_cast<int>(std::lround(BandPass(m_fs).groupDelayAt(10.0)));

    size_t ring = 1;
    while (ring < static_cast<size_t>(4.0 * m_fs) + 1024)
        ring <<= 1;
    m_ringMask = ring - 1;
    for (int i = 0; i < m_leadCount; ++i) {
        m_leads.emplace_back(m_fs);
        m_leads.back().slope.assign(ring, 0.0f);
        m_leads.back().amplitude.assign(ring, 0.0f);
    }
    m_combinedSlope.assign(ring, 0.0f);
    m_combinedAmplitude.assign(ring, 0.0f);
    m_mwi.assign(ring, 0.0f);
    m_validCount.assign(ring, 0);
    reset();
}

QrsDetector::~QrsDetector() = default;
QrsDetector::QrsDetector(QrsDetector &&) noexcept = default;
QrsDetector &QrsDetector::operator=(QrsDetector &&) noexcept = default;

void QrsDetector::setLeadLimits(int lead, double lowMillivolts, double highMillivolts)
{
    if (lead < 0 || lead >= m_leadCount)
        return;
    m_leads[static_cast<size_t>(lead)].low = lowMillivolts;
    m_leads[static_cast<size_t>(lead)].high = highMillivolts;
}

bool QrsDetector::leadInUse(int lead) const
{
    return lead >= 0 && lead < m_leadCount && m_leads[static_cast<size_t>(lead)].inUse;
}

void QrsDetector::reset()
{
    const size_t ring = m_ringMask + 1;
    for (LeadState &lead : m_leads) {
        const double low = lead.low, high = lead.high;
        std::vector<float> slope = std::move(lead.slope), amplitude = std::move(lead.amplitude);
        lead = LeadState(m_fs);
        lead.low = low;
        lead.high = high;
        lead.slope = std::move(slope);
        lead.amplitude = std::move(amplitude);
        std::fill(lead.slope.begin(), lead.slope.end(), 0.0f);
        std::fill(lead.amplitude.begin(), lead.amplitude.end(), 0.0f);
    }
    std::fill(m_combinedSlope.begin(), m_combinedSlope.end(), 0.0f);
    std::fill(m_combinedAmplitude.begin(), m_combinedAmplitude.end(), 0.0f);
    std::fill(m_mwi.begin(), m_mwi.end(), 0.0f);
    std::fill(m_validCount.begin(), m_validCount.end(), 0);
    (void)ring;
    m_fed = 0;
    m_combined = 0;
    m_decided = 0;
    m_learned = false;
    m_mwiSum = 0;
    m_peakMax = 0;
    m_peakIndex = -1;
    m_rearmBelow = 0;
    m_rearmAt = 0;
    m_qrsPeaks.assign(kHistory, 0.0);
    m_noisePeaks.assign(kHistory, 0.0);
    m_rrs.clear();
    m_qrsNext = m_noiseNext = m_rrNext = 0;
    m_threshold = kMinThreshold;
    m_lastBeat = Peak{};
    m_haveBeat = false;
    m_searchBack = Peak{};
}

void QrsDetector::runLeadStage(LeadState &lead, int leadIndex, const float *interleaved, int64_t frames,
                               int64_t start)
{
    const double slopeScale = m_fs / 8.0; // Pan & Tompkins' 5-point derivative, in mV/s
    const bool learning = !m_learned;
    for (int64_t k = 0; k < frames; ++k) {
        const int64_t n = start + k;
        float x = interleaved[k * m_leadCount + leadIndex];
        if (!std::isfinite(x))
            x = lead.window[4];
        // Spike rejection: a pacing spike of a sample or two is not in the median of five.
        if (lead.primed < 5) {
            // The filters start from the first sample's level, not from a step up to it.
            lead.offset = x;
            for (float &w : lead.window)
                w = x;
            lead.primed = 5;
        }
        lead.window[0] = lead.window[1];
        lead.window[1] = lead.window[2];
        lead.window[2] = lead.window[3];
        lead.window[3] = lead.window[4];
        lead.window[4] = x;
        const float median = median5(lead.window);
        // Saturation is judged after the median too: a spike that touches the rail
        // is not a lead at full scale.
        if (!(median > lead.low && median < lead.high))
            lead.hold = m_holdOff;
        const double bp = lead.bandPass.step(static_cast<double>(median) - lead.offset);
        const double d = (2.0 * bp + lead.history[0] - lead.history[2] - 2.0 * lead.history[3]) * slopeScale;
        lead.history[3] = lead.history[2];
        lead.history[2] = lead.history[1];
        lead.history[1] = lead.history[0];
        lead.history[0] = bp;
        const double magnitude = std::fabs(bp);
        lead.envelope = std::max(magnitude, lead.envelope * m_envelopeDecay);
        if (magnitude > kImplausibleMv)
            lead.hold = m_holdOff;
        const bool inUse = lead.hold == 0 && lead.envelope >= kFlatLeadMv && n >= m_settle;
        if (lead.hold > 0)
            --lead.hold;
        lead.inUse = inUse;
        const size_t s = slot(n);
        if (inUse) {
            const double sq = d * d;
            lead.slope[s] = static_cast<float>(sq);
            lead.amplitude[s] = static_cast<float>(magnitude);
            ++m_validCount[s];
            if (learning && n < m_learning)
                lead.learnedMax = std::max(lead.learnedMax, sq);
        } else {
            lead.slope[s] = 0.0f;
            lead.amplitude[s] = 0.0f;
        }
    }
}

void QrsDetector::combine(int64_t index)
{
    const size_t s = slot(index);
    double slopeSum = 0, amplitudeSum = 0;
    for (const LeadState &lead : m_leads) {
        slopeSum += lead.slope[s] * lead.invLevel;
        amplitudeSum += lead.amplitude[s] * lead.invAmplitude;
    }
    const int count = m_validCount[s];
    const double slope = count ? slopeSum / count : 0.0;
    m_combinedSlope[s] = static_cast<float>(slope);
    m_combinedAmplitude[s] = static_cast<float>(count ? amplitudeSum / count : 0.0);
    m_mwiSum += slope;
    if (index >= m_window)
        m_mwiSum -= m_combinedSlope[slot(index - m_window)];
    if (m_mwiSum < 0)
        m_mwiSum = 0; // rounding
    m_mwi[s] = static_cast<float>(m_mwiSum / m_window);
}

void QrsDetector::process(const float *interleaved, int64_t frames, std::vector<Beat> &beats)
{
    // Work in pieces small enough that the rings still hold what the decisions look back at.
    const int64_t piece = static_cast<int64_t>((m_ringMask + 1) / 8);
    while (frames > 0) {
        const int64_t count = std::min(frames, piece);
        for (int64_t k = 0; k < count; ++k)
            m_validCount[slot(m_fed + k)] = 0;
        for (int i = 0; i < m_leadCount; ++i)
            runLeadStage(m_leads[static_cast<size_t>(i)], i, interleaved, count, m_fed);
        m_fed += count;
        interleaved += count * m_leadCount;
        frames -= count;

        if (!m_learned) {
            if (m_fed < m_learning)
                continue;
            finishLearning(beats);
        }
        while (m_decided < m_fed) {
            if (m_combined <= m_decided)
                combine(m_combined++);
            decide(m_decided++, beats);
        }
    }
}

void QrsDetector::finish(std::vector<Beat> &beats)
{
    if (m_fed == 0)
        return;
    // A beat whose R peak is closer to the end than the filters' delay is not
    // seen: holding or mirroring the signal past its end would invent slopes.
    std::vector<Beat> found;
    if (!m_learned) {
        finishLearning(found);
        while (m_decided < m_fed) {
            if (m_combined <= m_decided)
                combine(m_combined++);
            decide(m_decided++, found);
        }
    }
    if (m_peakIndex >= 0 && m_peakMax > 0) {
        const Peak peak = describePeak(m_peakMax, m_peakIndex);
        m_peakIndex = -1;
        m_peakMax = 0;
        classify(peak, found);
    }
    beats.insert(beats.end(), found.begin(), found.end());
}

void QrsDetector::finishLearning(std::vector<Beat> &beats)
{
    (void)beats;
    for (LeadState &lead : m_leads) {
        lead.level = std::max(kMinLeadLevel, lead.learnedMax);
        lead.invLevel = 1.0 / lead.level;
        lead.invAmplitude = std::sqrt(lead.invLevel);
    }
    double maxMwi = 0;
    while (m_combined < std::min<int64_t>(m_learning, m_fed)) {
        combine(m_combined);
        maxMwi = std::max(maxMwi, static_cast<double>(m_mwi[slot(m_combined)]));
        ++m_combined;
    }
    // Hamilton & Tompkins start from the learning period's largest peak and no noise.
    std::fill(m_qrsPeaks.begin(), m_qrsPeaks.end(), maxMwi);
    std::fill(m_noisePeaks.begin(), m_noisePeaks.end(), 0.0);
    updateThreshold();
    m_learned = true;
    // The learning period is then decided like any other stretch, so its beats are not lost.
}

void QrsDetector::updateThreshold()
{
    double qrs = 0, noise = 0;
    for (double v : m_qrsPeaks)
        qrs += v;
    for (double v : m_noisePeaks)
        noise += v;
    qrs /= kHistory;
    noise /= kHistory;
    m_threshold = std::max(kMinThreshold, noise + kThresholdCoefficient * (qrs - noise));
}

QrsDetector::Peak QrsDetector::describePeak(double value, int64_t mwiIndex) const
{
    Peak peak;
    peak.value = value;
    peak.mwiIndex = mwiIndex;
    const int64_t oldest = std::max<int64_t>(0, m_fed - static_cast<int64_t>(m_ringMask));
    const int64_t from = std::max(oldest, mwiIndex - m_window - samplesOf(kLocateMarginS, m_fs));
    int64_t best = mwiIndex;
    float bestAmplitude = -1.0f;
    float steepest = 0.0f;
    for (int64_t i = from; i <= mwiIndex; ++i) {
        const size_t s = slot(i);
        if (m_combinedAmplitude[s] > bestAmplitude) {
            bestAmplitude = m_combinedAmplitude[s];
            best = i;
        }
        steepest = std::max(steepest, m_combinedSlope[s]);
    }
    peak.rSample = std::max<int64_t>(0, best - m_rDelay);
    peak.slope = steepest;
    return peak;
}

void QrsDetector::decide(int64_t index, std::vector<Beat> &beats)
{
    const double v = m_mwi[slot(index)];
    if (m_peakIndex < 0 && (v < m_rearmBelow || index >= m_rearmAt))
        m_peakIndex = index, m_peakMax = 0; // armed again
    if (m_peakIndex >= 0) {
        if (v > m_peakMax) {
            m_peakMax = v;
            m_peakIndex = index;
        } else if (m_peakMax > 0 && (v < 0.5 * m_peakMax || index - m_peakIndex >= m_peakHold)) {
            const Peak peak = describePeak(m_peakMax, m_peakIndex);
            m_rearmBelow = 0.5 * m_peakMax;
            m_rearmAt = m_peakIndex + m_refractory;
            m_peakIndex = -1;
            m_peakMax = 0;
            classify(peak, beats);
        }
    }

    if (m_haveBeat && !m_rrs.empty() && m_searchBack.mwiIndex >= 0) {
        double rrMean = 0;
        for (int64_t rr : m_rrs)
            rrMean += rr;
        rrMean /= m_rrs.size();
        if (index - m_lastBeat.mwiIndex > kSearchBackRr * rrMean
            && m_searchBack.value > kSearchBackFactor * m_threshold)
            acceptBeat(m_searchBack, beats, true);
    }
}

void QrsDetector::classify(const Peak &peak, std::vector<Beat> &beats)
{
    const int64_t sinceLast = m_haveBeat ? peak.rSample - m_lastBeat.rSample : std::numeric_limits<int64_t>::max();
    if (sinceLast < m_refractory)
        return; // the same QRS, or nothing a heart can do
    if (peak.value > m_threshold) {
        const bool tWave = sinceLast < m_tWaveLimit && peak.slope < kTWaveSlopeRatio * m_lastBeat.slope;
        if (!tWave) {
            acceptBeat(peak, beats, false);
            return;
        }
    }
    m_noisePeaks[m_noiseNext] = peak.value;
    m_noiseNext = (m_noiseNext + 1) % kHistory;
    updateThreshold();
    if (sinceLast >= m_searchBackMin && peak.value > m_searchBack.value)
        m_searchBack = peak;
}

void QrsDetector::acceptBeat(const Peak &peak, std::vector<Beat> &beats, bool fromSearchBack)
{
    (void)fromSearchBack;
    beats.push_back(Beat{peak.rSample});
    if (m_haveBeat) {
        const int64_t rr = peak.rSample - m_lastBeat.rSample;
        if (m_rrs.size() < kHistory)
            m_rrs.push_back(rr);
        else
            m_rrs[m_rrNext] = rr;
        m_rrNext = (m_rrNext + 1) % kHistory;
    }
    m_qrsPeaks[m_qrsNext] = peak.value;
    m_qrsNext = (m_qrsNext + 1) % kHistory;
    updateThreshold();

    // Each lead's level follows its own QRS, so a lead that grows or shrinks keeps its weight.
    const int64_t oldest = std::max<int64_t>(0, m_fed - static_cast<int64_t>(m_ringMask));
    const int64_t from = std::max(oldest, peak.mwiIndex - m_window - samplesOf(kLocateMarginS, m_fs));
    for (LeadState &lead : m_leads) {
        float steepest = 0.0f;
        for (int64_t i = from; i <= peak.mwiIndex; ++i)
            steepest = std::max(steepest, lead.slope[slot(i)]);
        if (steepest <= 0.0f)
            continue;
        lead.level = std::max(kMinLeadLevel,
                              (1.0 - kLeadLevelWeight) * lead.level + kLeadLevelWeight * steepest);
        lead.invLevel = 1.0 / lead.level;
        lead.invAmplitude = std::sqrt(lead.invLevel);
    }
    m_lastBeat = peak;
    m_haveBeat = true;
    m_searchBack = Peak{};
}

} // namespace Tavrix::Analysis

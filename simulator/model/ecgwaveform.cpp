#include "ecgwaveform.h"

#include <algorithm>
#include <cmath>

namespace Tavrix::Simulator {

namespace {

double gauss(double t, double centre, double width, double amplitude)
{
    const double x = (t - centre) / width;
    return amplitude * std::exp(-0.5 * x * x);
}

// Gains of the eight channels against the reference trace (leads I, II and
// the chest leads have visibly different R heights; V1 is mostly negative).
constexpr std::array<double, EcgWaveform::kLeads> kLeadGains{0.6, 1.0, -0.45, 0.3, 0.8, 1.25, 1.1, 0.75};

} // namespace

EcgWaveform::EcgWaveform(double heartRateBpm)
    : m_bpm(60.0)
{
    setHeartRate(heartRateBpm);
}

void EcgWaveform::setHeartRate(double bpm)
{
    m_bpm = std::clamp(bpm, 20.0, 250.0);
}

double EcgWaveform::beatShape(double sinceR, double rr) const
{
    // Intervals shorten a little with the rate (QT roughly with sqrt(RR)).
    const double qt = std::sqrt(rr);
    double v = 0.0;
    v += gauss(sinceR, -0.16 * qt, 0.025, 150.0);    // P
    v += gauss(sinceR, -0.035, 0.010, -120.0);       // Q
    v += gauss(sinceR, 0.0, 0.011, 1200.0);          // R
    v += gauss(sinceR, 0.035, 0.012, -300.0);        // S
    v += gauss(sinceR, 0.27 * qt, 0.055 * qt, 320.0); // T
    return v;
}

double EcgWaveform::referenceMicrovolts(double seconds) const
{
    const double rr = 60.0 / m_bpm;
    // R peaks sit 0.25 s into each beat period; neighbouring beats overlap at
    // high rates, so the shape of the previous and next beat is added too.
    const double shifted = seconds - 0.25;
    const double beat = std::floor(shifted / rr);
    double v = 0.0;
    for (int k = -1; k <= 1; ++k)
        v += beatShape(shifted - (beat + k) * rr, rr);
    return v;
}

std::array<int32_t, EcgWaveform::kLeads> EcgWaveform::leads(double seconds) const
{
    const double ref = referenceMicrovolts(seconds);
    std::array<int32_t, kLeads> out{};
    for (int i = 0; i < kLeads; ++i)
        out[i] = static_cast<int32_t>(std::lround(ref * kLeadGains[i]));
    return out;
}

} // namespace Tavrix::Simulator

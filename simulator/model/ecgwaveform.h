#pragma once

// A synthetic but recognisable ECG: P wave, QRS complex and T wave repeated
// at a set heart rate. Values are in microvolts.

#include <array>
#include <cstdint>

namespace Tavrix::Simulator {

class EcgWaveform {
public:
    static constexpr int kLeads = 8;

    explicit EcgWaveform(double heartRateBpm = 72.0);
    void setHeartRate(double bpm);
    double heartRate() const { return m_bpm; }

    // Lead II-like reference trace at time `seconds` since the stream start.
    double referenceMicrovolts(double seconds) const;
    // The eight ECG channels of a frame: the reference trace projected with
    // per-lead gains, so the leads differ the way a person expects.
    std::array<int32_t, kLeads> leads(double seconds) const;

private:
    double beatShape(double sinceR, double rr) const;
    double m_bpm;
};

} // namespace Tavrix::Simulator

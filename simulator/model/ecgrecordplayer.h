#pragma once

// Plays a recorded ECG (a WFDB record) as the recorder's eight ECG channels:
// I, II, V1-V6, found in the record by name in any letter case (MLII counts
// as II); a lead the record lacks stays at 0. The record is resampled to
// whatever time the stream asks for with cubic (Catmull-Rom) interpolation,
// converted to microvolts (the recorder's ECG counts at its default 1 uV
// calibration), and looped with the step between its last and first sample
// spread as a ramp over the last second, so the seam has no step.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace Tavrix::Simulator {

class EcgRecordPlayer {
public:
    static constexpr int kLeads = 8;
    static constexpr double kSeamSeconds = 1.0; // the ramp that closes the loop
    static const std::array<const char*, kLeads> kLeadNames; // the channels' leads, in order

    // Reads `basePath` (.hea and its signal files). On failure returns false
    // with a message in `error`.
    bool load(const std::string& basePath, std::string& error);

    // Looping (default) or once, then holding the last value.
    void setLoop(bool loop) { m_loop = loop; }
    bool loops() const { return m_loop; }

    // The eight channels in microvolts, `seconds` into the record.
    std::array<int32_t, kLeads> leads(double seconds) const;

    const std::string& path() const { return m_path; }
    double samplingFrequency() const { return m_fs; }
    int64_t sampleCount() const { return m_count; }
    double durationSeconds() const { return m_count / m_fs; }
    // Names of the channels' leads the record does not have.
    std::vector<std::string> missingLeads() const;

    // The channel a lead name plays on, or -1.
    static int channelOf(const std::string& leadName);

private:
    double sample(int channel, int64_t index) const;

    std::string m_path;
    double m_fs = 1.0;
    int64_t m_count = 0;
    bool m_loop = true;
    std::array<bool, kLeads> m_present{};
    // Microvolts, one vector per channel (empty when the lead is missing).
    std::array<std::vector<float>, kLeads> m_microvolts;
    std::array<double, kLeads> m_seamStep{}; // first minus last sample, spread over each pass's end
    int64_t m_seamSamples = 1;
};

} // namespace Tavrix::Simulator

#include "ecgrecordplayer.h"

#include "wfdbrecord.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace Tavrix::Simulator {

const std::array<const char*, EcgRecordPlayer::kLeads> EcgRecordPlayer::kLeadNames{"I",  "II", "V1", "V2",
                                                                                    "V3", "V4", "V5", "V6"};

int EcgRecordPlayer::channelOf(const std::string& leadName)
{
    std::string upper;
    for (char c : leadName)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "MLII")
        upper = "II";
    for (int i = 0; i < kLeads; ++i)
        if (upper == kLeadNames[static_cast<std::size_t>(i)])
            return i;
    return -1;
}

bool EcgRecordPlayer::load(const std::string& basePath, std::string& error)
{
    Analysis::WfdbRecord record;
    if (!record.load(basePath)) {
        error = record.error();
        return false;
    }
    std::array<int, kLeads> source;
    source.fill(-1);
    for (std::size_t s = 0; s < record.signalList().size(); ++s) {
        const int channel = channelOf(record.signalList()[s].description);
        if (channel >= 0 && source[static_cast<std::size_t>(channel)] < 0)
            source[static_cast<std::size_t>(channel)] = static_cast<int>(s);
    }
    if (std::all_of(source.begin(), source.end(), [](int s) { return s < 0; })) {
        error = "record " + basePath + " has none of the leads I, II (MLII), V1-V6";
        return false;
    }
    m_path = basePath;
    m_fs = record.samplingFrequency();
    m_count = record.sampleCount();
    m_seamSamples = std::clamp<int64_t>(static_cast<int64_t>(std::lround(m_fs * kSeamSeconds)), 1, m_count);
    for (int c = 0; c < kLeads; ++c) {
        const auto ch = static_cast<std::size_t>(c);
        m_present[ch] = source[ch] >= 0;
        m_microvolts[ch].clear();
        m_seamStep[ch] = 0.0;
        if (!m_present[ch])
            continue;
        m_microvolts[ch].resize(static_cast<std::size_t>(m_count));
        for (int64_t n = 0; n < m_count; ++n)
            m_microvolts[ch][static_cast<std::size_t>(n)] =
                static_cast<float>(record.millivolts(source[ch], n) * 1000.0);
        m_seamStep[ch] = m_microvolts[ch].front() - m_microvolts[ch].back();
    }
    return true;
}

std::vector<std::string> EcgRecordPlayer::missingLeads() const
{
    std::vector<std::string> out;
    for (int c = 0; c < kLeads; ++c)
        if (!m_present[static_cast<std::size_t>(c)])
            out.emplace_back(kLeadNames[static_cast<std::size_t>(c)]);
    return out;
}

double EcgRecordPlayer::sample(int channel, int64_t index) const
{
    const std::vector<float>& x = m_microvolts[static_cast<std::size_t>(channel)];
    if (!m_loop) {
        // Once: the first value before the start, the last one after the end.
        return x[static_cast<std::size_t>(std::clamp<int64_t>(index, 0, m_count - 1))];
    }
    // Looped: over the pass's last second a ramp takes the last sample to the
    // next pass's first, so the seam has no step and the rest is untouched.
    int64_t at = index % m_count;
    if (at < 0)
        at += m_count;
    const int64_t rampFrom = m_count - m_seamSamples;
    const double ramp = at <= rampFrom ? 0.0 : static_cast<double>(at - rampFrom) / m_seamSamples;
    return x[static_cast<std::size_t>(at)] + m_seamStep[static_cast<std::size_t>(channel)] * ramp;
}

std::array<int32_t, EcgRecordPlayer::kLeads> EcgRecordPlayer::leads(double seconds) const
{
    std::array<int32_t, kLeads> out{};
    if (m_count == 0)
        return out;
    const double position = std::max(0.0, seconds) * m_fs;
    const auto i = static_cast<int64_t>(std::floor(position));
    const double f = position - static_cast<double>(i);
    for (int c = 0; c < kLeads; ++c) {
        if (!m_present[static_cast<std::size_t>(c)])
            continue;
        // Catmull-Rom: the cubic through the two neighbours with the slopes of
        // the samples either side; exact at the samples.
        const double p0 = sample(c, i - 1), p1 = sample(c, i), p2 = sample(c, i + 1), p3 = sample(c, i + 2);
        const double v = p1 + 0.5 * f * (p2 - p0 + f * (2.0 * p0 - 5.0 * p1 + 4.0 * p2 - p3 + f * (3.0 * (p1 - p2) + p3 - p0)));
        out[static_cast<std::size_t>(c)] = static_cast<int32_t>(std::lround(v));
    }
    return out;
}

} // namespace Tavrix::Simulator

#pragma once

#include "qrsdetector.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace Tavrix::Analysis::Testing {

// EC57 beat-by-beat comparison: each reference beat pairs with the nearest
// unpaired detection within the match window.
struct Score
{
    int truePositives = 0;
    int falseNegatives = 0;
    int falsePositives = 0;
    double sensitivity() const
    {
        const int all = truePositives + falseNegatives;
        return all ? 100.0 * truePositives / all : 100.0;
    }
    double positivePredictivity() const
    {
        const int all = truePositives + falsePositives;
        return all ? 100.0 * truePositives / all : 100.0;
    }
};

inline Score score(const std::vector<int64_t> &reference, std::vector<int64_t> detected, int64_t window)
{
    std::sort(detected.begin(), detected.end());
    std::vector<bool> used(detected.size(), false);
    Score s;
    for (int64_t r : reference) {
        auto it = std::lower_bound(detected.begin(), detected.end(), r - window);
        int64_t best = -1, bestDistance = 0;
        for (; it != detected.end() && *it <= r + window; ++it) {
            const auto i = it - detected.begin();
            if (!used[static_cast<size_t>(i)] && (best < 0 || std::llabs(*it - r) < bestDistance)) {
                best = i;
                bestDistance = std::llabs(*it - r);
            }
        }
        if (best >= 0) {
            used[static_cast<size_t>(best)] = true;
            ++s.truePositives;
        } else {
            ++s.falseNegatives;
        }
    }
    s.falsePositives = static_cast<int>(std::count(used.begin(), used.end(), false));
    return s;
}

inline std::vector<int64_t> runDetector(QrsDetector &detector, const std::vector<float> &interleaved)
{
    std::vector<QrsDetector::Beat> beats;
    detector.process(interleaved.data(), static_cast<int64_t>(interleaved.size() / detector.leadCount()), beats);
    detector.finish(beats);
    std::vector<int64_t> samples;
    for (const auto &b : beats)
        samples.push_back(b.sample);
    return samples;
}

} // namespace Tavrix::Analysis::Testing

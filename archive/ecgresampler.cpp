#include "archive/ecgresampler.h"

#include <cmath>
#include <cstddef>

namespace Tavrix::Archive {

int EcgResampler::archiveRate(int recorderRate, int seconds)
{
    if (seconds <= 0)
        return 0;
    for (int factor = 1; recorderRate / factor >= minRate; ++factor) {
        const int rate = recorderRate / factor;
        if (recorderRate % factor == 0 && rate <= maxRate && static_cast<long>(rate) * seconds <= maxSamples)
            return rate;
    }
    return 0;
}

std::vector<double> EcgResampler::lowPassTaps(int factor)
{
    const int count = 32 * factor + 1;
    const int middle = count / 2;
    // Corner relative to the input rate: 0.4 of the output rate.
    const double corner = 0.4 / factor;
    std::vector<double> taps(static_cast<std::size_t>(count));
    double sum = 0;
    for (int i = 0; i < count; ++i) {
        const int k = i - middle;
        const double sinc = k == 0 ? 2 * corner : std::sin(2 * M_PI * corner * k) / (M_PI * k);
        const double window = 0.54 - 0.46 * std::cos(2 * M_PI * i / (count - 1));
        taps[static_cast<std::size_t>(i)] = sinc * window;
        sum += taps[static_cast<std::size_t>(i)];
    }
    for (double& tap : taps)
        tap /= sum;
    return taps;
}

std::vector<double> EcgResampler::decimate(const std::vector<double>& samples, int factor)
{
    if (factor <= 1 || samples.empty())
        return samples;
    const std::vector<double> taps = lowPassTaps(factor);
    const auto middle = static_cast<long>(taps.size() / 2);
    const auto count = static_cast<long>(samples.size());
    auto at = [&](long i) {
        // Mirrored ends (without repeating the end sample); a span shorter
        // than the filter folds as often as it needs to.
        while (i < 0 || i >= count) {
            if (i < 0)
                i = -i;
            if (i >= count)
                i = 2 * (count - 1) - i;
            if (count == 1)
                return samples[0];
        }
        return samples[static_cast<std::size_t>(i)];
    };
    std::vector<double> out;
    out.reserve(samples.size() / static_cast<std::size_t>(factor));
    for (long centre = 0; centre + factor <= count; centre += factor) {
        double value = 0;
        for (long j = 0; j < static_cast<long>(taps.size()); ++j)
            value += taps[static_cast<std::size_t>(j)] * at(centre + j - middle);
        out.push_back(value);
    }
    return out;
}

} // namespace Tavrix::Archive

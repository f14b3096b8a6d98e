#pragma once

#include <vector>

namespace Tavrix::Archive {

// Brings a recorder rate down to one an ECG archive file may hold (200 to
// 1000 samples/s, at most 16384 samples per lead): keeps every n-th sample
// after a low-pass FIR filter, so that what lies above the new Nyquist
// frequency does not fold back into the ECG band. Rates that fit are kept as
// they are.
class EcgResampler
{
public:
    static constexpr int maxRate = 1000;
    static constexpr int minRate = 200;
    static constexpr long maxSamples = 16384;

    // The archive rate for `seconds` at a recorder rate: the rate itself
    // when it fits, else the largest whole fraction of it that does; 0 when
    // none does.
    static int archiveRate(int recorderRate, int seconds);
    // The filter's corner: 40 % of the archive rate (400 Hz at 1000/s,
    // 200 Hz at 500/s), far enough inside the new Nyquist frequency for the
    // filter's transition band.
    static double cutoffHz(int archiveRate) { return 0.4 * archiveRate; }

    // `factor`-fold decimation of `samples` (one channel) after the
    // anti-alias filter; the ends are mirrored so the filter has neighbours
    // there too. Factor 1 returns the samples unchanged.
    static std::vector<double> decimate(const std::vector<double>& samples, int factor);

    // The filter: a Hamming-windowed sinc of 32·factor + 1 taps with its
    // corner at cutoffHz relative to the input rate, unity gain at 0 Hz.
    static std::vector<double> lowPassTaps(int factor);
};

} // namespace Tavrix::Archive

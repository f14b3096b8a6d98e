// dastel-qrs RECORD: the service's beat detector run offline on a WFDB record.
// Prints the sample number (at the record's own rate) of each detected R peak,
// one a line. With --timing, reports the detector's own speed on stderr.

#include "qrsdetector.h"
#include "wfdbrecord.h"

#include <chrono>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using Tavrix::Analysis::QrsDetector;
using Tavrix::Analysis::WfdbRecord;

namespace {

bool isVoltage(const std::string &units)
{
    std::string u;
    for (char c : units)
        u += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return u == "mv" || u == "uv" || u == "µv" || u == "v";
}

int usage()
{
    std::fprintf(stderr, "usage: dastel-qrs [--timing] RECORD\n"
                         "  RECORD is a WFDB record's path without extension, e.g. data/ecg/100\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    bool timing = false;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--timing") == 0)
            timing = true;
        else if (argv[i][0] == '-')
            return usage();
        else if (path.empty())
            path = argv[i];
        else
            return usage();
    }
    if (path.empty())
        return usage();

    WfdbRecord record;
    if (!record.load(path)) {
        std::fprintf(stderr, "dastel-qrs: %s\n", record.error().c_str());
        return 1;
    }
    // Every signal in a voltage unit is an ECG lead.
    std::vector<int> leads;
    for (size_t i = 0; i < record.signalList().size(); ++i)
        if (isVoltage(record.signalList()[i].units))
            leads.push_back(static_cast<int>(i));
    if (leads.empty()) {
        std::fprintf(stderr, "dastel-qrs: record %s has no signal in mV\n", path.c_str());
        return 1;
    }

    const int64_t samples = record.sampleCount();
    const size_t width = leads.size();
    std::vector<float> interleaved(static_cast<size_t>(samples) * width);
    for (int64_t n = 0; n < samples; ++n)
        for (size_t l = 0; l < width; ++l)
            interleaved[static_cast<size_t>(n) * width + l] = static_cast<float>(record.millivolts(leads[l], n));

    QrsDetector detector(record.samplingFrequency(), static_cast<int>(width));
    for (size_t l = 0; l < width; ++l) {
        // The ADC's extreme codes mean the lead was saturated.
        const auto &s = record.signalList()[static_cast<size_t>(leads[l])];
        const double half = std::ldexp(1.0, s.adcResolution - 1);
        const double perMv = record.adcPerMillivolt(leads[l]);
        detector.setLeadLimits(static_cast<int>(l), (s.adcZero - half - s.baseline) / perMv,
                               (s.adcZero + half - 1 - s.baseline) / perMv);
    }
    std::vector<QrsDetector::Beat> beats;
    beats.reserve(static_cast<size_t>(samples / record.samplingFrequency() * 4) + 16);
    // Processor time of this thread: on a shared machine, wall time would
    // measure the neighbours as well.
    auto cpuSeconds = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return t.tv_sec + t.tv_nsec * 1e-9;
    };
    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = cpuSeconds();
    detector.process(interleaved.data(), samples, beats);
    detector.finish(beats);
    const double seconds = cpuSeconds() - cpuStart;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();

    std::string out;
    out.reserve(beats.size() * 8);
    for (const auto &beat : beats)
        out += std::to_string(beat.sample) + '\n';
    std::fwrite(out.data(), 1, out.size(), stdout);
    if (timing) {
        const double signalSeconds = samples / record.samplingFrequency();
        std::fprintf(stderr,
                     "dastel-qrs: %zu leads, %.1f s of signal at %g Hz in %.4f s of processor time (%.4f s wall): "
                     "%.0fx real time\n",
                     width, signalSeconds, record.samplingFrequency(), seconds, wall,
                     seconds > 0 ? signalSeconds / seconds : 0.0);
    }
    return 0;
}

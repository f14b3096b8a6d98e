#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Tavrix::Analysis {

// One signal of a WFDB record as its header line describes it.
struct WfdbSignal
{
    std::string fileName;
    int format = 0;         // 212 or 16; others are refused
    double gain = 200.0;    // ADC units per physical unit (header default 200)
    int baseline = 0;       // ADC value of 0 physical units
    int adcResolution = 12; // bits
    int adcZero = 0;
    std::string units = "mV";
    std::string description;
};

// A WFDB record (header(5) + signal(5)), read whole: these records are a few MB.
// Reading never throws; a failure leaves a message in `error()`.
class WfdbRecord
{
public:
    // `basePath` is the record's path without extension, e.g. "data/ecg/100".
    bool load(const std::string &basePath);
    // Parses a header text; `directory` is where its signal files are read from.
    bool loadFromHeaderText(const std::string &headerText, const std::string &directory);

    const std::string &error() const { return m_error; }
    const std::string &name() const { return m_name; }
    double samplingFrequency() const { return m_samplingFrequency; }
    int64_t sampleCount() const { return m_sampleCount; }
    const std::vector<WfdbSignal> &signalList() const { return m_signals; }

    // Raw ADC value of `signal` at `sample`.
    int adc(int signal, int64_t sample) const
    {
        return m_samples[static_cast<size_t>(sample) * m_signals.size() + static_cast<size_t>(signal)];
    }
    // Physical value in millivolts (header units mV or uV are converted).
    double millivolts(int signal, int64_t sample) const;
    // ADC units per millivolt for `signal`.
    double adcPerMillivolt(int signal) const;
    // Index of the signal whose description names the lead, in any letter case; -1 when absent.
    int findSignal(const std::string &leadName) const;

private:
    bool fail(const std::string &message);
    bool parseHeader(const std::string &text);
    bool readSignalFiles(const std::string &directory);

    std::string m_error;
    std::string m_name;
    double m_samplingFrequency = 250.0;
    int64_t m_sampleCount = 0;
    std::vector<WfdbSignal> m_signals;
    std::vector<int> m_samples; // frame-interleaved: sample * signals + signal
};

// Reads the beat positions of a MIT-format annotation file (annot(5)).
class WfdbAnnotations
{
public:
    struct Annotation
    {
        int64_t sample = 0;
        int code = 0;
    };

    bool load(const std::string &path);
    bool parse(const std::vector<uint8_t> &bytes);
    const std::string &error() const { return m_error; }
    const std::vector<Annotation> &annotations() const { return m_annotations; }
    // Samples of the annotations that mark a beat (the codes EC57 counts as QRS).
    std::vector<int64_t> beatSamples() const;
    static bool isBeatCode(int code);

private:
    bool failTruncated();

    std::string m_error;
    std::vector<Annotation> m_annotations;
};

} // namespace Tavrix::Analysis

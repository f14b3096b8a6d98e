#pragma once

#include "archive/restingecgrecord.h"

#include <string>
#include <vector>

namespace Tavrix::Archive {

// Writes a resting ECG as a DICOM ECG waveform object through DCMTK:
// "12-lead ECG Waveform Storage" for the standard twelve leads, else
// "General ECG Waveform Storage". Text is stored as UTF-8 (ISO_IR 192) so
// that Cyrillic names, and any other script, stay as the client gave them.
// Samples are 16-bit; the file's resolution (µV per unit) is the finest of
// 1, 2, 5, 10, … µV that holds every sample of the span.
class DicomEcgWriter
{
public:
    // At most this many samples per lead.
    static constexpr std::size_t maxSamples = 16384;

    // Writes `path` (through "<path>.part", renamed when whole: a failed
    // write leaves nothing under `path`). false with `error` set when the
    // record cannot be stored or the file cannot be written.
    static bool write(const RestingEcgRecord& record, const std::string& path, std::string* error);

    // The resolution for `samples`: µV per stored unit.
    static double resolutionFor(const std::vector<std::vector<double>>& samples);
    // The SOP class the record is written as.
    static std::string sopClassOf(const RestingEcgRecord& record);
    // A patient name part fit for a person-name value: the component and
    // value separators and control characters become spaces.
    static std::string namePart(const std::string& text);
    // Heart rate from beats at `sampleRate`: 60 / mean beat-to-beat interval;
    // none for fewer than two beats.
    static std::optional<double> heartRateOf(const std::vector<long>& beatSamples, int sampleRate);
};

} // namespace Tavrix::Archive

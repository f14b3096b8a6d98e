#include "archive/dicomecgwriter.h"

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmdata/dctk.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace Tavrix::Archive {

namespace {

// Decimal string (DS) of at most 16 characters.
std::string decimal(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string twoDigits(int value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

std::string dateText(int year, int month, int day)
{
    char text[40];
    std::snprintf(text, sizeof text, "%04d%02d%02d", year, month, day);
    return text;
}

std::string timeText(const EcgDateTime& time)
{
    char text[64];
    std::snprintf(text, sizeof text, "%02d%02d%02d.%06d", time.hour, time.minute, time.second, time.microsecond);
    return text;
}

std::string offsetText(int minutes)
{
    const char sign = minutes < 0 ? '-' : '+';
    const int magnitude = std::abs(minutes);
    return sign + twoDigits(magnitude / 60) + twoDigits(magnitude % 60);
}

// Keeps the first failure of a run of DCMTK calls, with what was being set.
class Conditions
{
public:
    void check(const OFCondition& condition, const char* what)
    {
        if (condition.bad() && m_error.empty())
            m_error = std::string(what) + ": " + condition.text();
    }
    bool ok() const { return m_error.empty(); }
    const std::string& error() const { return m_error; }

private:
    std::string m_error;
};

void putString(Conditions& conditions, DcmItem& item, const DcmTagKey& tag, const std::string& value, const char* what)
{
    conditions.check(item.putAndInsertString(tag, value.c_str()), what);
}

void putCode(Conditions& conditions, DcmItem& parent, const DcmTagKey& sequence, const std::string& value,
             const std::string& scheme, const std::string& meaning, const std::string& version = {})
{
    DcmItem* item = nullptr;
    conditions.check(parent.findOrCreateSequenceItem(sequence, item, -2), "code sequence");
    if (!item)
        return;
    putString(conditions, *item, DCM_CodeValue, value, "code value");
    putString(conditions, *item, DCM_CodingSchemeDesignator, scheme, "coding scheme");
    if (!version.empty())
        putString(conditions, *item, DCM_CodingSchemeVersion, version, "coding scheme version");
    putString(conditions, *item, DCM_CodeMeaning, meaning, "code meaning");
}

// Every channel of multiplex group 1.
void referToAllChannels(Conditions& conditions, DcmItem& item)
{
    const Uint16 allOfGroupOne[2] = {1, 0};
    conditions.check(item.putAndInsertUint16Array(DCM_ReferencedWaveformChannels, allOfGroupOne, 2),
                     "referenced channels");
}

std::string joinedVersions(const std::vector<std::string>& versions)
{
    std::string joined;
    for (const std::string& version : versions) {
        std::string part = version;
        std::replace(part.begin(), part.end(), '\\', '/');
        joined += (joined.empty() ? "" : "\\") + part;
    }
    return joined;
}

// At most `limit` bytes, not ending inside a UTF-8 sequence.
std::string cut(const std::string& text, std::size_t limit)
{
    if (text.size() <= limit)
        return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

} // namespace

std::string DicomEcgWriter::namePart(const std::string& text)
{
    std::string part = text;
    for (char& c : part) {
        if (c == '^' || c == '\\' || c == '=' || static_cast<unsigned char>(c) < 0x20)
            c = ' ';
    }
    const auto first = part.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return part.substr(first, part.find_last_not_of(' ') - first + 1);
}

std::string DicomEcgWriter::sopClassOf(const RestingEcgRecord& record)
{
    return record.twelveLead ? UID_TwelveLeadECGWaveformStorage : UID_GeneralECGWaveformStorage;
}

double DicomEcgWriter::resolutionFor(const std::vector<std::vector<double>>& samples)
{
    double largest = 0;
    for (const std::vector<double>& channel : samples) {
        for (double value : channel)
            largest = std::max(largest, std::abs(value));
    }
    for (double decade = 1;; decade *= 10) {
        for (double step : {1.0, 2.0, 5.0}) {
            if (std::lround(largest / (step * decade)) <= std::numeric_limits<Sint16>::max())
                return step * decade;
        }
    }
}

std::optional<double> DicomEcgWriter::heartRateOf(const std::vector<long>& beatSamples, int sampleRate)
{
    if (beatSamples.size() < 2 || sampleRate <= 0 || beatSamples.back() <= beatSamples.front())
        return std::nullopt;
    const double seconds = static_cast<double>(beatSamples.back() - beatSamples.front()) / sampleRate;
    return 60.0 * static_cast<double>(beatSamples.size() - 1) / seconds;
}

bool DicomEcgWriter::write(const RestingEcgRecord& record, const std::string& path, std::string* error)
{
    auto fail = [error](const std::string& text) {
        if (error)
            *error = text;
        return false;
    };
    const std::size_t channels = record.leads.size();
    if (channels == 0 || record.samples.size() != channels)
        return fail("no leads to store");
    const std::size_t samples = record.samples.front().size();
    for (const std::vector<double>& channel : record.samples) {
        if (channel.size() != samples)
            return fail("leads of different lengths");
    }
    if (samples == 0)
        return fail("no samples to store");
    if (record.twelveLead && channels != 12)
        return fail("a 12-lead file needs twelve leads");
    if (samples > maxSamples)
        return fail("the span is longer than a file can hold");

    DcmFileFormat file;
    DcmDataset& data = *file.getDataset();
    Conditions conditions;

    // --- SOP common, patient, study, series ----------------------------------
    putString(conditions, data, DCM_SpecificCharacterSet, "ISO_IR 192", "character set");
    putString(conditions, data, DCM_SOPClassUID, sopClassOf(record), "SOP class");
    putString(conditions, data, DCM_SOPInstanceUID, record.instanceUid, "SOP instance");
    const std::string acquiredDate = dateText(record.acquired.year, record.acquired.month, record.acquired.day);
    const std::string acquiredTime = timeText(record.acquired);
    putString(conditions, data, DCM_InstanceCreationDate, acquiredDate, "creation date");
    putString(conditions, data, DCM_InstanceCreationTime, acquiredTime, "creation time");
    putString(conditions, data, DCM_TimezoneOffsetFromUTC, offsetText(record.acquired.utcOffsetMinutes), "time zone");

    const EcgPatient& patient = record.patient;
    std::string name = namePart(patient.surname) + "^" + namePart(patient.name) + "^" + namePart(patient.patronymic);
    while (!name.empty() && name.back() == '^')
        name.pop_back();
    putString(conditions, data, DCM_PatientName, name, "patient name");
    putString(conditions, data, DCM_PatientID, cut(namePart(patient.id), 64), "patient ID");
    putString(conditions, data, DCM_PatientBirthDate,
              patient.birthDate ? dateText(patient.birthDate->year, patient.birthDate->month, patient.birthDate->day)
                                : std::string(),
              "birth date");
    putString(conditions, data, DCM_PatientSex, patient.sex ? std::string(1, patient.sex) : std::string(), "sex");

    putString(conditions, data, DCM_StudyInstanceUID, record.studyUid, "study UID");
    putString(conditions, data, DCM_StudyDate, acquiredDate, "study date");
    putString(conditions, data, DCM_StudyTime, acquiredTime, "study time");
    putString(conditions, data, DCM_ReferringPhysicianName, "", "referring physician");
    putString(conditions, data, DCM_StudyID, acquiredDate.substr(2) + acquiredTime.substr(0, 6), "study ID");
    putString(conditions, data, DCM_AccessionNumber, "", "accession number");
    putString(conditions, data, DCM_StudyDescription, "Resting ECG", "study description");

    putString(conditions, data, DCM_Modality, "ECG", "modality");
    putString(conditions, data, DCM_SeriesInstanceUID, record.seriesUid, "series UID");
    putString(conditions, data, DCM_SeriesNumber, "1", "series number");
    putString(conditions, data, DCM_SeriesDate, acquiredDate, "series date");
    putString(conditions, data, DCM_SeriesTime, acquiredTime, "series time");

    // --- equipment -----------------------------------------------------------
    const EcgEquipment& equipment = record.equipment;
    putString(conditions, data, DCM_Manufacturer, cut(equipment.manufacturer, 64), "manufacturer");
    if (!equipment.institutionName.empty())
        putString(conditions, data, DCM_InstitutionName, cut(equipment.institutionName, 64), "institution");
    if (!equipment.stationName.empty())
        putString(conditions, data, DCM_StationName, cut(equipment.stationName, 16), "station name");
    if (!equipment.model.empty())
        putString(conditions, data, DCM_ManufacturerModelName, cut(equipment.model, 64), "model");
    if (!equipment.serialNumber.empty())
        putString(conditions, data, DCM_DeviceSerialNumber, cut(equipment.serialNumber, 64), "serial number");
    if (!equipment.softwareVersions.empty())
        putString(conditions, data, DCM_SoftwareVersions, joinedVersions(equipment.softwareVersions), "versions");

    // --- waveform identification and acquisition context --------------------
    putString(conditions, data, DCM_InstanceNumber, "1", "instance number");
    putString(conditions, data, DCM_ContentDate, acquiredDate, "content date");
    putString(conditions, data, DCM_ContentTime, acquiredTime, "content time");
    putString(conditions, data, DCM_AcquisitionDateTime,
              acquiredDate + acquiredTime + offsetText(record.acquired.utcOffsetMinutes), "acquisition time");
    conditions.check(data.insertEmptyElement(DCM_AcquisitionContextSequence), "acquisition context");

    // --- the waveform --------------------------------------------------------
    const bool resampled = record.recorderRate != record.sampleRate;
    const double resolution = resolutionFor(record.samples);
    {
        // One multiplex group holds all leads of the span.
        const std::size_t count = samples;
        DcmItem* group = nullptr;
        conditions.check(data.findOrCreateSequenceItem(DCM_WaveformSequence, group, -2), "waveform sequence");
        if (!group)
            return fail(conditions.error());
        putString(conditions, *group, DCM_WaveformOriginality, resampled ? "DERIVED" : "ORIGINAL", "originality");
        conditions.check(group->putAndInsertUint16(DCM_NumberOfWaveformChannels, static_cast<Uint16>(channels)),
                         "channel count");
        conditions.check(group->putAndInsertUint32(DCM_NumberOfWaveformSamples, static_cast<Uint32>(count)),
                         "sample count");
        putString(conditions, *group, DCM_SamplingFrequency, decimal(record.sampleRate), "sampling frequency");
        putString(conditions, *group, DCM_MultiplexGroupLabel, "RHYTHM", "group label");

        for (std::size_t c = 0; c < channels; ++c) {
            const EcgLead& lead = record.leads[c];
            DcmItem* definition = nullptr;
            conditions.check(group->findOrCreateSequenceItem(DCM_ChannelDefinitionSequence, definition, -2),
                             "channel definition");
            if (!definition)
                break;
            putCode(conditions, *definition, DCM_ChannelSourceSequence, lead.codeValue, EcgLeadSet::codingScheme,
                    lead.codeMeaning, EcgLeadSet::codingSchemeVersion);
            putString(conditions, *definition, DCM_ChannelLabel, cut(lead.label, 16), "channel label");
            putString(conditions, *definition, DCM_ChannelSensitivity, decimal(resolution), "sensitivity");
            putCode(conditions, *definition, DCM_ChannelSensitivityUnitsSequence, "uV", "UCUM", "microvolt");
            putString(conditions, *definition, DCM_ChannelSensitivityCorrectionFactor, "1", "correction factor");
            putString(conditions, *definition, DCM_ChannelBaseline, "0", "baseline");
            putString(conditions, *definition, DCM_ChannelTimeSkew, "0", "time skew");
            conditions.check(definition->putAndInsertUint16(DCM_WaveformBitsStored, 16), "bits stored");
            if (record.filters.lowHz)
                putString(conditions, *definition, DCM_FilterLowFrequency, decimal(*record.filters.lowHz), "low filter");
            if (record.filters.highHz)
                putString(conditions, *definition, DCM_FilterHighFrequency, decimal(*record.filters.highHz),
                          "high filter");
            if (record.filters.notchHz)
                putString(conditions, *definition, DCM_NotchFilterFrequency, decimal(*record.filters.notchHz),
                          "notch filter");
        }
        conditions.check(group->putAndInsertUint16(DCM_WaveformBitsAllocated, 16), "bits allocated");
        putString(conditions, *group, DCM_WaveformSampleInterpretation, "SS", "sample interpretation");

        // Interleaved: all channels of the first sample, then of the next.
        std::vector<Uint16> interleaved(count * channels);
        for (std::size_t s = 0; s < count; ++s) {
            for (std::size_t c = 0; c < channels; ++c) {
                const long value = std::lround(record.samples[c][s] / resolution);
                const auto clamped = static_cast<Sint16>(std::clamp<long>(value, -32768, 32767));
                interleaved[s * channels + c] = static_cast<Uint16>(clamped);
            }
        }
        conditions.check(group->putAndInsertUint16Array(DCM_WaveformData, interleaved.data(),
                                                        static_cast<unsigned long>(interleaved.size())),
                         "waveform data");
    }

    // --- annotations: how the samples came to be, and the heart rate -------
    if (resampled) {
        DcmItem* note = nullptr;
        conditions.check(data.findOrCreateSequenceItem(DCM_WaveformAnnotationSequence, note, -2), "annotation");
        if (note) {
            std::string text = "Resampled from " + decimal(record.recorderRate) + " Hz to "
                               + decimal(record.sampleRate) + " Hz";
            if (record.filters.highHz)
                text += " after an anti-alias low-pass filter at " + decimal(*record.filters.highHz) + " Hz";
            putString(conditions, *note, DCM_UnformattedTextValue, text, "resampling note");
            referToAllChannels(conditions, *note);
        }
    }
    std::optional<double> heartRate = record.heartRateBpm;
    if (!heartRate)
        heartRate = heartRateOf(record.beatSamples, record.sampleRate);
    if (heartRate) {
        DcmItem* measurement = nullptr;
        conditions.check(data.findOrCreateSequenceItem(DCM_WaveformAnnotationSequence, measurement, -2),
                         "annotation");
        if (measurement) {
            putCode(conditions, *measurement, DCM_ConceptNameCodeSequence, "8867-4", "LN", "Heart rate");
            putString(conditions, *measurement, DCM_NumericValue, decimal(std::round(*heartRate)), "heart rate");
            putCode(conditions, *measurement, DCM_MeasurementUnitsCodeSequence, "/min", "UCUM", "per minute");
            referToAllChannels(conditions, *measurement);
        }
    }

    if (!conditions.ok())
        return fail(conditions.error());

    const std::string part = path + ".part";
    const OFCondition saved = file.saveFile(part.c_str(), EXS_LittleEndianExplicit);
    if (saved.bad()) {
        std::remove(part.c_str());
        return fail("cannot write " + part + ": " + saved.text());
    }
    if (std::rename(part.c_str(), path.c_str()) != 0) {
        std::remove(part.c_str());
        return fail("cannot rename " + part + " to " + path);
    }
    return true;
}

} // namespace Tavrix::Archive

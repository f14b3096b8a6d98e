#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace Tavrix::Archive {

// One signal of a BDF+ file: its label, unit and how a recorder count maps
// to the unit. Samples are written as the recorder's counts (24 bits, no
// resolution lost); the physical range is the digital one times `scale`.
struct BdfSignalInfo
{
    std::string label;
    std::string unit;
    double scale = 1.0;
    int32_t digitalMinimum = -8388608;
    int32_t digitalMaximum = 8388607;
};

// The patient and recording fields of the header. Empty texts and an
// unknown sex or birth date are written as EDF+ "X".
struct BdfRecordingInfo
{
    std::string patientCode;
    std::string patientName;
    // 1 male, 0 female, anything else unknown.
    int sex = -1;
    QDate birthDate;
    std::string equipment;
    std::string technician;
    std::string recordingAdditional;
};

// Writes one BDF+ file through EDFlib: samples come one frame (one value per
// signal) at a time and leave in data records of a tenth of a second;
// annotations are kept with their sample index and written at close. Only
// full data records reach the file: close() drops a last partial record, so
// the file is always whole records.
//
// Room for annotations: EDFlib puts one annotation per annotation signal in
// each data record, filling the records in order from the first, whatever
// the annotations' times (each keeps its own onset). With two annotation
// signals a file so holds twice as many annotations as it has data records,
// 20 per second of its length, and a burst of any size anywhere in it is
// kept while the whole file stays under that. Should more come, the first
// ones and the last (usually why the file ended) are written, one more
// annotation says how many are missing, and unstoredAnnotations() lists
// them for the log. Texts longer than EDFlib writes (40 bytes) become
// several annotations at the same sample, cut between UTF-8 characters.
class BdfSignalWriter
{
public:
    static constexpr int recordsPerSecond = 10;
    // Annotation signals: each holds one annotation per data record.
    static constexpr int annotationSignals = 2;
    // The longest annotation text EDFlib writes, in bytes.
    static constexpr std::size_t maxAnnotationBytes = 40;

    struct Annotation
    {
        uint64_t sampleIndex;
        std::string text;
    };

    BdfSignalWriter() = default;
    ~BdfSignalWriter();
    BdfSignalWriter(const BdfSignalWriter&) = delete;
    BdfSignalWriter& operator=(const BdfSignalWriter&) = delete;

    // Creates the file, which must not exist yet (nor a link under its
    // name). `sampleRate` must be a multiple of recordsPerSecond.
    // False (with error()) when the arguments or the file are refused;
    // nothing is left open then.
    bool open(const QString& path, int sampleRate, const std::vector<BdfSignalInfo>& signalInfos,
              const BdfRecordingInfo& recording);
    bool isOpen() const { return m_handle >= 0; }

    // The start of the first sample; used when the first data record is
    // written, so it must be set before then.
    void setStartTime(const QDateTime& start) { m_startTime = start; }

    // One frame: `values` holds one count per signal, in signal order.
    // False once a write failed; the file then stays as it was.
    bool addSample(const int32_t* values);
    // An annotation at the sample `sampleIndex` (counted from 0).
    void annotate(uint64_t sampleIndex, const std::string& text);
    // Annotations given so far (a long text counts once per piece).
    std::size_t annotationCount() const { return m_annotations.size(); }

    // Writes the annotations and the header and closes the file. False when
    // something could not be written (the file holds what was written).
    bool close();
    // What the last close() could not write: annotations of samples in the
    // dropped partial record, and those beyond the file's room.
    const std::vector<Annotation>& unstoredAnnotations() const { return m_unstored; }
    // How many of those found no room (the rest lie after the last record).
    std::size_t annotationsBeyondRoom() const { return m_beyondRoom; }

    // `text` cut into pieces of at most `maxBytes` bytes, never inside a
    // UTF-8 character; one empty piece for an empty text.
    static std::vector<std::string> annotationPieces(const std::string& text, std::size_t maxBytes = maxAnnotationBytes);

    uint64_t samplesAdded() const { return m_samplesAdded; }
    // Samples in full data records written to the file.
    uint64_t samplesWritten() const { return m_recordsWritten * static_cast<uint64_t>(m_samplesPerRecord); }
    uint64_t recordsWritten() const { return m_recordsWritten; }
    int sampleRate() const { return m_sampleRate; }
    bool failed() const { return m_failed; }
    const QString& error() const { return m_error; }

    // A header text field as EDF+ wants it: printable ASCII, no spaces
    // (they become '_'), "X" when empty. Letters of other scripts are
    // written in Latin letters (LatinTransliteration); what remains outside
    // ASCII becomes '?'. open() keeps a patient name or code so changed in
    // full in an annotation at the start ("Patient: …", "Patient ID: …").
    static std::string headerText(const std::string& text);

private:
    bool writeRecord();
    bool checkSize();
    bool fail(const QString& message);

    int m_handle = -1;
    QByteArray m_path;
    // Bytes of one data record on disk, learnt from the first one.
    int64_t m_recordBytes = 0;
    int m_sampleRate = 0;
    int m_samplesPerRecord = 0;
    std::size_t m_signalCount = 0;
    QDateTime m_startTime;
    // Per signal, the samples of the record being filled.
    std::vector<std::vector<int>> m_record;
    int m_filled = 0;
    uint64_t m_samplesAdded = 0;
    uint64_t m_recordsWritten = 0;
    bool m_failed = false;
    QString m_error;
    std::vector<Annotation> m_annotations;
    std::vector<Annotation> m_unstored;
    std::size_t m_beyondRoom = 0;
};

} // namespace Tavrix::Archive

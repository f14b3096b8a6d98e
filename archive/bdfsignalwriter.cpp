#include "archive/bdfsignalwriter.h"

#include "common/regularfiles.h"
#include "devicewebapi/latintransliteration.h"

#include <edflib.h>

#include <QFile>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>

namespace Tavrix::Archive {

namespace {

// EDFlib's annotation onsets are in units of 100 µs.
constexpr long long onsetUnitsPerSecond = 10000;

} // namespace

BdfSignalWriter::~BdfSignalWriter()
{
    if (m_handle >= 0)
        close();
}

std::string BdfSignalWriter::headerText(const std::string& text)
{
    // Names in other scripts keep their letters in Latin form, not as '?'.
    const std::string latin = DeviceWebApi::LatinTransliteration::toLatin(text);
    std::string out;
    out.reserve(latin.size());
    for (const char c : latin) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == ' ')
            out.push_back('_');
        else if (byte > 32 && byte < 127)
            out.push_back(c);
        else if (byte >= 0xC0) // one '?' per non-ASCII character, not per byte
            out.push_back('?');
        // Control characters and UTF-8 continuation bytes are dropped.
    }
    return out.empty() ? std::string("X") : out;
}

std::vector<std::string> BdfSignalWriter::annotationPieces(const std::string& text, std::size_t maxBytes)
{
    std::vector<std::string> pieces;
    std::size_t from = 0;
    do {
        std::size_t to = std::min(text.size(), from + std::max<std::size_t>(maxBytes, 4));
        // Back to the start of a character: UTF-8 continuation bytes are 10xxxxxx.
        if (to < text.size()) {
            while (to > from && (static_cast<unsigned char>(text[to]) & 0xC0) == 0x80)
                --to;
            if (to == from) // no character start in reach: not UTF-8, cut anyway
                to = std::min(text.size(), from + maxBytes);
        }
        pieces.push_back(text.substr(from, to - from));
        from = to;
    } while (from < text.size());
    return pieces;
}

bool BdfSignalWriter::fail(const QString& message)
{
    m_failed = true;
    m_error = message;
    return false;
}

bool BdfSignalWriter::open(const QString& path, int sampleRate, const std::vector<BdfSignalInfo>& signalInfos,
                           const BdfRecordingInfo& recording)
{
    m_failed = false;
    m_error.clear();
    if (m_handle >= 0)
        return fail(QStringLiteral("a file is already open"));
    if (sampleRate <= 0 || sampleRate % recordsPerSecond != 0)
        return fail(QStringLiteral("sample rate %1 is not a multiple of %2").arg(sampleRate).arg(recordsPerSecond));
    if (signalInfos.empty() || signalInfos.size() > EDFLIB_MAXSIGNALS)
        return fail(QStringLiteral("%1 signals cannot be written").arg(signalInfos.size()));

    // EDFlib opens by name and would follow a link planted under it: the
    // file is made here first, new, and only then handed to EDFlib.
    if (!Common::RegularFiles::createNew(path))
        return fail(QStringLiteral("cannot create %1: it exists already or the directory refuses it").arg(path));
    const QByteArray encodedPath = path.toLocal8Bit();
    const int handle = edfopen_file_writeonly(encodedPath.constData(), EDFLIB_FILETYPE_BDFPLUS,
                                              static_cast<int>(signalInfos.size()));
    if (handle < 0) {
        QFile::remove(path);
        return fail(QStringLiteral("cannot create %1 (EDFlib error %2)").arg(path).arg(handle));
    }

    m_sampleRate = sampleRate;
    m_samplesPerRecord = sampleRate / recordsPerSecond;
    bool ok = edf_set_datarecord_duration(handle, 100000 / recordsPerSecond) == 0;
    ok = ok && edf_set_number_of_annotation_signals(handle, annotationSignals) == 0;
    for (std::size_t i = 0; ok && i < signalInfos.size(); ++i) {
        const BdfSignalInfo& info = signalInfos[i];
        const int signal = static_cast<int>(i);
        ok = edf_set_samplefrequency(handle, signal, m_samplesPerRecord) == 0
             && edf_set_digital_minimum(handle, signal, info.digitalMinimum) == 0
             && edf_set_digital_maximum(handle, signal, info.digitalMaximum) == 0
             && edf_set_physical_minimum(handle, signal, info.digitalMinimum * info.scale) == 0
             && edf_set_physical_maximum(handle, signal, info.digitalMaximum * info.scale) == 0
             && edf_set_label(handle, signal, info.label.c_str()) == 0
             && edf_set_physical_dimension(handle, signal, info.unit.c_str()) == 0;
    }
    if (ok) {
        // EDFlib writes "X" for the fields left unset.
        if (!recording.patientCode.empty())
            ok = ok && edf_set_patientcode(handle, headerText(recording.patientCode).c_str()) == 0;
        if (!recording.patientName.empty())
            ok = ok && edf_set_patientname(handle, headerText(recording.patientName).c_str()) == 0;
        if (recording.sex == 0 || recording.sex == 1)
            ok = ok && edf_set_gender(handle, recording.sex) == 0;
        if (recording.birthDate.isValid())
            ok = ok && edf_set_birthdate(handle, recording.birthDate.year(), recording.birthDate.month(),
                                         recording.birthDate.day()) == 0;
        if (!recording.equipment.empty())
            ok = ok && edf_set_equipment(handle, headerText(recording.equipment).c_str()) == 0;
        if (!recording.technician.empty())
            ok = ok && edf_set_technician(handle, headerText(recording.technician).c_str()) == 0;
        if (!recording.recordingAdditional.empty())
            ok = ok && edf_set_recording_additional(handle, recording.recordingAdditional.c_str()) == 0;
    }
    if (!ok) {
        edfclose_file(handle);
        return fail(QStringLiteral("EDFlib refused the header of %1").arg(path));
    }

    m_handle = handle;
    m_path = encodedPath;
    m_recordBytes = 0;
    m_signalCount = signalInfos.size();
    m_record.assign(m_signalCount, std::vector<int>(static_cast<std::size_t>(m_samplesPerRecord), 0));
    m_filled = 0;
    m_samplesAdded = 0;
    m_recordsWritten = 0;
    m_annotations.clear();
    m_unstored.clear();
    m_beyondRoom = 0;
    // The header holds the name in Latin letters only; the exact name goes
    // into an annotation at the start, in UTF-8 as EDF+ annotations allow.
    const auto exactWhereChanged = [](const std::string& label, const std::string& value) {
        const std::string header = headerText(value);
        std::string spaced = header;
        std::replace(spaced.begin(), spaced.end(), '_', ' ');
        return value.empty() || spaced == value || header == value ? std::string() : label + value;
    };
    for (const std::string& text : {exactWhereChanged("Patient: ", recording.patientName),
                                    exactWhereChanged("Patient ID: ", recording.patientCode)}) {
        if (!text.empty())
            annotate(0, text);
    }
    return true;
}

bool BdfSignalWriter::addSample(const int32_t* values)
{
    if (m_handle < 0 || m_failed)
        return false;
    for (std::size_t i = 0; i < m_signalCount; ++i)
        m_record[i][static_cast<std::size_t>(m_filled)] = values[i];
    ++m_filled;
    ++m_samplesAdded;
    if (m_filled < m_samplesPerRecord)
        return true;
    m_filled = 0;
    return writeRecord();
}

bool BdfSignalWriter::writeRecord()
{
    if (m_recordsWritten == 0) {
        // The header goes out with the first record: the start is known now.
        const QDateTime start = m_startTime.isValid() ? m_startTime : QDateTime::currentDateTime();
        const QDate date = start.date();
        const QTime time = start.time();
        edf_set_startdatetime(m_handle, date.year(), date.month(), date.day(), time.hour(), time.minute(),
                              time.second());
        // Whole 100 µs units, as EDFlib advises.
        edf_set_subsecond_starttime(m_handle, time.msec() * 10000);
    }
    for (std::size_t i = 0; i < m_signalCount; ++i) {
        if (edfwrite_digital_samples(m_handle, m_record[i].data()) != 0)
            return fail(QStringLiteral("writing data record %1 failed").arg(m_recordsWritten + 1));
    }
    ++m_recordsWritten;
    return checkSize();
}

bool BdfSignalWriter::checkSize()
{
    // EDFlib writes each record straight through but ignores a failed write
    // (full disk, file size limit): the file not growing by a whole record
    // is the one sign of it.
    struct stat info {};
    if (::stat(m_path.constData(), &info) != 0)
        return fail(QStringLiteral("the file is gone"));
    const int64_t size = info.st_size;
    const int64_t headerBytes = 256 * (static_cast<int64_t>(m_signalCount) + annotationSignals + 1);
    if (m_recordsWritten == 1)
        m_recordBytes = size - headerBytes;
    if (m_recordBytes <= 0 || size != headerBytes + static_cast<int64_t>(m_recordsWritten) * m_recordBytes) {
        --m_recordsWritten;
        return fail(QStringLiteral("writing data record %1 failed: the file stopped growing (disk full or file "
                                   "size limit)")
                        .arg(m_recordsWritten + 1));
    }
    return true;
}

void BdfSignalWriter::annotate(uint64_t sampleIndex, const std::string& text)
{
    if (m_handle < 0)
        return;
    for (std::string& piece : annotationPieces(text))
        m_annotations.push_back({sampleIndex, std::move(piece)});
}

bool BdfSignalWriter::close()
{
    if (m_handle < 0)
        return false;
    m_unstored.clear();
    m_beyondRoom = 0;
    // Annotations of samples that did not make it into a full record would
    // point past the end of the file.
    const uint64_t end = samplesWritten();
    std::vector<Annotation> kept;
    kept.reserve(m_annotations.size());
    for (Annotation& annotation : m_annotations) {
        if (annotation.sampleIndex < end)
            kept.push_back(std::move(annotation));
        else
            m_unstored.push_back(std::move(annotation));
    }
    m_annotations.clear();

    // Beyond the room EDFlib has, it would drop the last ones without a
    // word: keep the first, the last, and say how many are missing.
    const std::size_t room = static_cast<std::size_t>(m_recordsWritten) * annotationSignals;
    if (kept.size() > room) {
        const std::size_t head = room - 2; // room is at least 2: records are whole
        m_beyondRoom = kept.size() - head - 1;
        const uint64_t at = kept[head].sampleIndex;
        std::vector<Annotation> written(std::make_move_iterator(kept.begin()),
                                        std::make_move_iterator(kept.begin() + static_cast<std::ptrdiff_t>(head)));
        for (std::size_t i = head; i + 1 < kept.size(); ++i)
            m_unstored.push_back(std::move(kept[i]));
        written.push_back({at, std::to_string(m_beyondRoom) + " annotations not stored (log)"});
        written.push_back(std::move(kept.back()));
        kept = std::move(written);
    }
    for (const Annotation& annotation : kept) {
        const long long onset =
            static_cast<long long>(annotation.sampleIndex) * onsetUnitsPerSecond / m_sampleRate;
        edfwrite_annotation_utf8(m_handle, onset, -1, annotation.text.c_str());
    }
    const bool closed = edfclose_file(m_handle) == 0;
    m_handle = -1;
    if (!closed && !m_failed)
        return fail(QStringLiteral("closing the file failed"));
    return !m_failed;
}

} // namespace Tavrix::Archive

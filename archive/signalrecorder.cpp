#include "archive/signalrecorder.h"

#include "common/jterminal.h"
#include "common/regularfiles.h"
#include "archive/bdffilerepair.h"
#include "devicewebapi/examinationinfostore.h"
#include "archive/recordingpatient.h"
#include "usb/framedecoder.h"

#include <edflib.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <algorithm>

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <ctime>

namespace Tavrix::Archive {

using DevicesInfo::DeviceChannelTypeInfo;
using DevicesInfo::EChannelSource;
using DevicesInfo::EChannelType;
using Common::JTerminal;

namespace {

const QString prefix = QStringLiteral("recording-");
const QString suffix = QStringLiteral(".bdf");
const QString partSuffix = QStringLiteral(".part");

const DeviceChannelTypeInfo referenceKey{EChannelType::Ecg, EChannelSource::Device};

// A jump back in the recorder's frame numbers (half their range or more) is
// a recorder that started counting again, not lost frames.
constexpr uint16_t restartJump = 0x8000;

std::vector<std::string> numbered(std::size_t count)
{
    std::vector<std::string> names;
    for (std::size_t i = 1; i <= count; ++i)
        names.push_back(std::to_string(i));
    return names;
}

// Lead names of an examination's lead set, when they name `count` leads.
std::vector<std::string> ecgLeadNames(std::size_t count, std::optional<uint8_t> leadType)
{
    if (leadType) {
        switch (*leadType) {
        case 1:
        case 25:
        case 30: // standard 12-lead sets: eight recorded leads, the rest derived
            if (count == 8)
                return {"I", "II", "V1", "V2", "V3", "V4", "V5", "V6"};
            break;
        case 3:
        case 4:
        case 5:
        case 15:
        case 16:
        case 18:
        case 33:
        case 34: { // sets whose electrode names are the lead names
            const auto electrodes = DeviceComplexCommands::ElectrodesInfoCreator::create(*leadType);
            if (electrodes && electrodes->electrodes.size() == count)
                return electrodes->electrodes;
            break;
        }
        default:
            break;
        }
    }
    return numbered(count);
}

std::vector<std::string> axes(std::size_t count)
{
    if (count == 3)
        return {"X", "Y", "Z"};
    return numbered(count);
}

QString isoText(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
}

} // namespace

SignalRecorder::Limits SignalRecorder::Limits::fromSettings(const QVariantMap& settings)
{
    Limits limits;
    const auto positive = [&settings](const char* key, double& number) {
        const QVariant value = settings.value(QLatin1String(key));
        bool ok = false;
        number = value.toDouble(&ok);
        return value.isValid() && ok && value.type() != QVariant::String && value.type() != QVariant::Bool
            && number > 0;
    };
    double number = 0;
    if (positive(maxHoursSetting, number))
        limits.maxDurationMs = static_cast<qint64>(number * 3600 * 1000);
    if (positive(maxMiBSetting, number))
        limits.maxBytes = static_cast<qint64>(number * Common::DiskReserve::mebibyte);
    limits.reserve = Common::DiskReserve::fromSettings(settings);
    return limits;
}

SignalRecorder::SignalRecorder(QString directory, QObject* parent)
    : QObject(parent)
    , m_directory(std::move(directory))
{
}

SignalRecorder::~SignalRecorder()
{
    if (const auto channels = m_channels.lock())
        channels->setDecodedFrameSink(nullptr);
    if (isRunning())
        stop(QStringLiteral("Service stopped"));
}

void SignalRecorder::attach(const std::shared_ptr<Usb::AdcChannelsManager>& channels)
{
    m_channels = channels;
    if (!channels)
        return;
    channels->setDecodedFrameSink(this);
    connect(channels.get(), &Usb::AdcChannelsManager::channelLayoutIsChanged, this,
            &SignalRecorder::handleChannelLayoutChange);
}

std::optional<uint8_t> SignalRecorder::examinationLeadType()
{
    const std::optional<DeviceComplexCommands::ExaminationInfo> examination = DeviceWebApi::ExaminationInfoStore::last();
    if (examination && examination->electrodes)
        return examination->electrodes->leadType;
    return std::nullopt;
}

std::vector<BdfSignalInfo> SignalRecorder::signalsFor(const std::vector<Usb::DecodedChannelLayout>& layout,
                                                      std::optional<uint8_t> leadType)
{
    std::vector<BdfSignalInfo> signalInfos;
    for (const Usb::DecodedChannelLayout& channel : layout) {
        const std::size_t count = channel.signalCount;
        BdfSignalInfo info;
        std::string stem;
        std::vector<std::string> names = numbered(count);
        // The recorder's counts: 1 µV, 1 mΩ, 1 mg and 0.01 mmHg.
        switch (channel.key.type) {
        case EChannelType::Ecg:
            stem = "ECG";
            info.unit = "uV";
            names = ecgLeadNames(count, leadType);
            break;
        case EChannelType::Reo:
            stem = "Reo";
            info.unit = "mOhm";
            break;
        case EChannelType::Acc:
            stem = channel.key.source == EChannelSource::Cable ? "Ext accel" : "Accel";
            info.unit = "mg";
            names = axes(count);
            break;
        case EChannelType::Prs:
            stem = "Pressure";
            info.unit = "mmHg";
            info.scale = 0.01;
            // The header's 8-character range fields cannot hold ±83886.08:
            // the range stops at ±83886 mmHg, far beyond any cuff.
            info.digitalMinimum = -8388600;
            info.digitalMaximum = 8388600;
            break;
        case EChannelType::Ton:
            stem = "Tone";
            break;
        default:
            stem = channel.name.empty() ? "Signal" : channel.name;
            break;
        }
        for (std::size_t i = 0; i < count; ++i) {
            BdfSignalInfo signal = info;
            signal.label = count == 1 && channel.key.type != EChannelType::Ecg ? stem : stem + " " + names[i];
            signalInfos.push_back(signal);
        }
    }
    return signalInfos;
}

QString SignalRecorder::partPath() const
{
    return QDir(m_directory).filePath(m_fileName + partSuffix);
}

QString SignalRecorder::uniqueName(const QDateTime& time) const
{
    const QString stem = prefix + time.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = stem + suffix;
    const QDir dir(m_directory);
    // Anything under the name counts as taken, a link that points nowhere too.
    auto taken = [&dir](const QString& candidate) {
        return Common::RegularFiles::exists(dir.filePath(candidate))
               || Common::RegularFiles::exists(dir.filePath(candidate + partSuffix));
    };
    for (int n = 2; taken(name); ++n)
        name = stem + QStringLiteral("-%1").arg(n) + suffix;
    return name;
}

SignalRecorder::EStartResult SignalRecorder::start(const StartRequest& request, QString* detail)
{
    auto tell = [detail](const QString& text) {
        if (detail)
            *detail = text;
    };
    if (isRunning()) {
        tell(QStringLiteral("%1 is being recorded").arg(m_fileName));
        return EStartResult::AlreadyRunning;
    }
    const bool hasReference = std::any_of(request.layout.begin(), request.layout.end(), [](const auto& channel) {
        return channel.key == referenceKey && channel.signalCount > 0;
    });
    if (!hasReference) {
        tell(QStringLiteral("the recorder streams no ECG signals"));
        return EStartResult::NoSignals;
    }
    if (request.sampleRate <= 0 || request.sampleRate % BdfSignalWriter::recordsPerSecond != 0) {
        tell(QStringLiteral("frame rate %1 cannot be recorded").arg(request.sampleRate));
        return EStartResult::BadSampleRate;
    }

    const std::optional<DeviceComplexCommands::ExaminationInfo> examination = DeviceWebApi::ExaminationInfoStore::last();
    const std::optional<uint8_t> leadType = examinationLeadType();
    BdfRecordingInfo recording;
    recording.equipment = request.equipment;
    recording.technician = "Dastel";
    recording.recordingAdditional = request.label.toStdString();
    if (examination) {
        recording.patientCode = examination->patientId;
        std::string name = examination->surname;
        for (const std::string* part : {&examination->name, &examination->patronymic}) {
            if (!part->empty())
                name += (name.empty() ? "" : " ") + *part;
        }
        recording.patientName = name;
        if (!examination->sexNotGiven && examination->sex != DeviceComplexCommands::PatientSex::Unknown)
            recording.sex = examination->sex == DeviceComplexCommands::PatientSex::Male ? 1 : 0;
        if (examination->birthdayDate.isSet())
            recording.birthDate = QDate(examination->birthdayDate.year, examination->birthdayDate.month,
                                        examination->birthdayDate.day);
    }

    QString why;
    if (!m_limits.reserve.allows(m_directory, 0, &why)) {
        tell(QStringLiteral("not enough free disk space for a recording: %1").arg(why));
        JTerminal('1') << "signal recording not started:" << why;
        return EStartResult::NoSpace;
    }
    if (!QDir().mkpath(m_directory)) {
        tell(QStringLiteral("cannot create the directory %1").arg(m_directory));
        return EStartResult::FileError;
    }
    m_startRequested = QDateTime::currentDateTime();
    m_fileName = uniqueName(m_startRequested);
    if (!m_writer.open(partPath(), request.sampleRate, signalsFor(request.layout, leadType), recording)) {
        tell(m_writer.error());
        QFile::remove(partPath());
        m_fileName.clear();
        return EStartResult::FileError;
    }

    m_layout.clear();
    std::size_t signalCount = 0;
    for (const Usb::DecodedChannelLayout& channel : request.layout) {
        m_layout.push_back({channel.key, signalCount, channel.signalCount});
        signalCount += channel.signalCount;
    }
    m_values.assign(signalCount, 0);
    m_firstSample = QDateTime();
    m_haveFrameNumber = false;
    m_recordsChecked = 0;
    if (!request.label.isEmpty())
        m_writer.annotate(0, request.label.toStdString());
    JTerminal('2') << "signal recording started:" << m_fileName;
    tell(m_fileName);
    return EStartResult::Started;
}

bool SignalRecorder::stop(const QString& reason, Summary* summary)
{
    if (!isRunning())
        return false;
    // The end is told at the last sample the file keeps (a partial last
    // data record is not kept).
    if (reason != QLatin1String("stopped") && m_writer.samplesWritten() > 0)
        m_writer.annotate(m_writer.samplesWritten() - 1, reason.toStdString());
    const bool closedCleanly = m_writer.close();
    logUnstoredAnnotations();
    const QString part = partPath();

    Summary result;
    result.reason = reason;
    result.start = m_firstSample;
    result.samples = m_writer.samplesWritten();
    result.durationSeconds = static_cast<double>(m_writer.recordsWritten()) / BdfSignalWriter::recordsPerSecond;

    if (m_writer.recordsWritten() == 0) {
        // Not a single whole data record: there is no recording to keep.
        QFile::remove(part);
        JTerminal('3') << "signal recording" << m_fileName << "ended without data:" << reason;
    } else {
        // After a failed write the file may end inside a record.
        if (!closedCleanly) {
            const BdfFileRepair::Result repaired = BdfFileRepair::repair(part);
            if (!repaired.ok)
                JTerminal('1') << repaired.error;
        }
        const QString complete = QDir(m_directory).filePath(m_fileName);
        if (QFile::rename(part, complete)) {
            result.fileName = m_fileName;
            result.size = QFileInfo(complete).size();
            JTerminal('2') << "signal recording complete:" << m_fileName << result.size << "bytes," << reason;
            emit recordingIsComplete(result.fileName, result.size,
                                     static_cast<qint64>(result.durationSeconds * 1000), reason);
        } else {
            JTerminal('1') << "signal recording: cannot rename" << part;
        }
    }
    m_fileName.clear();
    m_layout.clear();
    if (summary)
        *summary = result;
    return true;
}

void SignalRecorder::logUnstoredAnnotations() const
{
    const std::vector<BdfSignalWriter::Annotation>& unstored = m_writer.unstoredAnnotations();
    if (unstored.empty())
        return;
    const std::string name = m_fileName.toStdString();
    const std::size_t beyondRoom = m_writer.annotationsBeyondRoom();
    if (beyondRoom > 0)
        JTerminal('1') << "signal recording" << name << ":" << beyondRoom
                       << "annotations found no room in the file (it holds"
                       << BdfSignalWriter::annotationSignals * BdfSignalWriter::recordsPerSecond
                       << "a second of its length); an annotation in it says how many";
    // Every one is told, up to a bound that keeps a flood out of the error log.
    constexpr std::size_t shown = 100;
    const uint64_t end = m_writer.samplesWritten();
    for (std::size_t i = 0; i < std::min(shown, unstored.size()); ++i) {
        const BdfSignalWriter::Annotation& annotation = unstored[i];
        const double seconds = static_cast<double>(annotation.sampleIndex) / m_writer.sampleRate();
        const bool afterEnd = annotation.sampleIndex >= end;
        JTerminal(afterEnd ? '3' : '1') << "signal recording" << name << ": annotation at"
                                        << QString::number(seconds, 'f', 4).toStdString() << "s not stored"
                                        << (afterEnd ? "(its samples are in the last partial data record, not kept):"
                                                     : "(no room):")
                                        << annotation.text;
    }
    if (unstored.size() > shown)
        JTerminal('1') << "signal recording" << name << ":" << unstored.size() - shown
                       << "more annotations not stored";
}

qint64 SignalRecorder::bytesWritten() const
{
    return isRunning() ? QFileInfo(partPath()).size() : 0;
}

void SignalRecorder::annotateNow(const std::string& text)
{
    if (isRunning())
        m_writer.annotate(m_writer.samplesAdded(), text);
}

void SignalRecorder::copyGroups(const Usb::FrameDecoder& decoder)
{
    for (const Usb::AdcChannelData& group : decoder.groups()) {
        for (const Channel& channel : m_layout) {
            if (channel.key != group.key)
                continue;
            const std::size_t available = std::min(channel.count, group.values.size());
            std::copy_n(group.values.begin(), available, m_values.begin() + channel.firstSignal);
            break;
        }
    }
}

bool SignalRecorder::writeCurrent()
{
    if (m_writer.addSample(m_values.data()))
        return true;
    failWrite();
    return false;
}

void SignalRecorder::failWrite()
{
    const QString error = m_writer.error();
    const QString name = m_fileName;
    JTerminal('1') << "signal recording:" << error;
    stop(QStringLiteral("Write error"));
    emit signalError("CommandError",
                     QStringLiteral("signal recording %1 stopped: %2").arg(name, error).toStdString());
}

void SignalRecorder::handleDecodedFrame(const Usb::FrameDecoder& decoder, uint16_t frameNumber)
{
    if (!isRunning())
        return;
    if (!decoder.findGroup(referenceKey)) {
        // Another source (the cable adapter): held until the next recorder frame.
        copyGroups(decoder);
        return;
    }

    if (m_haveFrameNumber) {
        const uint16_t gap = static_cast<uint16_t>(frameNumber - m_lastFrameNumber - 1);
        if (gap >= restartJump) {
            stop(QStringLiteral("Recorder frame numbers restarted"));
            return;
        }
        if (gap > 0) {
            annotateNow("Lost " + std::to_string(gap) + " frames");
            // The last values stand in for the lost frames.
            for (uint16_t i = 0; i < gap; ++i) {
                if (!writeCurrent())
                    return;
            }
        }
    } else {
        m_firstSample = QDateTime::currentDateTime();
        m_writer.setStartTime(m_firstSample);
    }
    m_haveFrameNumber = true;
    m_lastFrameNumber = frameNumber;

    copyGroups(decoder);
    if (decoder.buttonFlag())
        annotateNow("Button pushed (frame " + std::to_string(decoder.frameCounter()) + ")");
    if (writeCurrent())
        checkLimits();
}

void SignalRecorder::checkLimits()
{
    // Judged as each data record reaches the file: the file ends on a whole
    // record, at most one record (a tenth of a second) past a size bound.
    const uint64_t records = m_writer.recordsWritten();
    if (records == m_recordsChecked)
        return;
    m_recordsChecked = records;
    const qint64 durationMs = static_cast<qint64>(records * 1000 / BdfSignalWriter::recordsPerSecond);
    if (durationMs >= m_limits.maxDurationMs) {
        stop(QString::fromLatin1(maxDurationReason));
        return;
    }
    if (bytesWritten() >= m_limits.maxBytes) {
        stop(QString::fromLatin1(maxSizeReason));
        return;
    }
    // The free space is asked once a second of signal.
    QString why;
    if (records % BdfSignalWriter::recordsPerSecond == 0 && !m_limits.reserve.allows(m_directory, 0, &why)) {
        JTerminal('1') << "signal recording" << m_fileName << "ends:" << why;
        stop(QString::fromLatin1(lowSpaceReason));
    }
}

void SignalRecorder::handleChannelLayoutChange(QString reason)
{
    if (isRunning())
        stop(reason);
}

void SignalRecorder::handleDeviceLost()
{
    if (isRunning())
        stop(QStringLiteral("Recorder disconnected"));
}

void SignalRecorder::handleCableConnected()
{
    annotateNow("Cable connected");
}

void SignalRecorder::handleCableRemoved()
{
    annotateNow("Cable removed");
}

QString SignalRecorder::pathOf(const QString& fileName) const
{
    QString name = fileName;
    if (name == QLatin1String("latest"))
        name = latestFile();
    // Only the recordings themselves: no other file, no way out of the
    // directory, no symbolic link (it could lead anywhere).
    if (!name.startsWith(prefix) || !name.endsWith(suffix) || name.contains('/') || name.contains('\\')
        || name.contains(QLatin1String("..")))
        return {};
    const QString path = QDir(m_directory).filePath(name);
    return Common::RegularFiles::isRegular(path) ? path : QString();
}

QString SignalRecorder::latestFile() const
{
    const QStringList files = Common::RegularFiles::names(m_directory, {prefix + "*" + suffix}, QDir::Time);
    return files.isEmpty() ? QString() : files.first();
}

QJsonObject SignalRecorder::describe(const QString& path)
{
    const QFileInfo info(path);
    QJsonObject entry{{"name", info.fileName()}, {"size", static_cast<double>(info.size())}};
    edf_hdr_struct header;
    const QByteArray encoded = path.toLocal8Bit();
    if (edfopen_file_readonly(encoded.constData(), &header, EDFLIB_DO_NOT_READ_ANNOTATIONS) == 0) {
        const QDateTime start(QDate(header.startdate_year, header.startdate_month, header.startdate_day),
                              QTime(header.starttime_hour, header.starttime_minute, header.starttime_second,
                                    static_cast<int>(header.starttime_subsecond / 10000)));
        entry.insert("start", isoText(start));
        entry.insert("duration", static_cast<double>(header.file_duration) / EDFLIB_TIME_DIMENSION);
        edfclose_file(header.handle);
    } else {
        entry.insert("start", QJsonValue::Null);
        entry.insert("duration", QJsonValue::Null);
    }
    return entry;
}

std::vector<const SignalRecorder::Described*> SignalRecorder::scan() const
{
    struct Found
    {
        QByteArray name;
        qint64 size;
        qint64 modifiedNs;
    };
    std::vector<Found> found;
    const QByteArray nativePrefix = QFile::encodeName(prefix);
    const QByteArray nativeSuffix = QFile::encodeName(suffix);
    // One pass over the directory, one lstat() per recording: regular files
    // only, never a link.
    const QByteArray directory = QFile::encodeName(m_directory);
    if (DIR* dir = ::opendir(directory.constData())) {
        const int dirFd = ::dirfd(dir);
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name = QByteArray::fromRawData(entry->d_name, int(std::strlen(entry->d_name)));
            if (!name.startsWith(nativePrefix) || !name.endsWith(nativeSuffix))
                continue;
            struct stat info{};
            if (::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
                continue;
            found.push_back({QByteArray(entry->d_name), static_cast<qint64>(info.st_size),
                             static_cast<qint64>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec});
        }
        ::closedir(dir);
    }
    // Newest first.
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.modifiedNs != b.modifiedNs ? a.modifiedNs > b.modifiedNs : a.name > b.name;
    });
    QHash<QByteArray, Described> described;
    described.reserve(int(found.size()));
    std::vector<const Described*> entries;
    entries.reserve(found.size());
    for (const Found& file : found) {
        const auto known = m_described.constFind(file.name);
        Described entry;
        if (known != m_described.constEnd() && known->size == file.size && known->modifiedNs == file.modifiedNs) {
            entry = *known;
        } else {
            entry.size = file.size;
            entry.modifiedNs = file.modifiedNs;
            const QString path = QDir(m_directory).filePath(QFile::decodeName(file.name));
            entry.entry = describe(path);
            entry.entry.insert("patient", RecordingPatient::read(path));
            entry.json = QJsonDocument(entry.entry).toJson(QJsonDocument::Compact);
        }
        entries.push_back(&*described.insert(file.name, entry));
    }
    // Files gone are forgotten.
    m_described.swap(described);
    return entries;
}

QJsonArray SignalRecorder::list() const
{
    QJsonArray entries;
    for (const Described* entry : scan())
        entries.append(entry->entry);
    return entries;
}

QByteArray SignalRecorder::listJson() const
{
    // Recordings come and go by name (the service renames a finished
    // ".part"), which moves the directory's own time: while that time
    // stands, the last answer stands too. A time within a second of the
    // scan that saw it may still be moved by a change in the same clock
    // tick, so it is trusted only once it has settled (as git treats
    // "racily clean" files).
    struct stat directoryInfo{};
    const bool known = ::stat(QFile::encodeName(m_directory).constData(), &directoryInfo) == 0;
    const qint64 directoryNs =
        known ? static_cast<qint64>(directoryInfo.st_mtim.tv_sec) * 1000000000 + directoryInfo.st_mtim.tv_nsec : -1;
    if (known && !m_listAnswer.isNull() && directoryNs == m_listDirectoryNs
        && m_listScannedNs - directoryNs > 1000000000)
        return m_listAnswer;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const std::vector<const Described*> entries = scan();
    QByteArray json;
    qint64 size = 2;
    for (const Described* entry : entries)
        size += entry->json.size() + 1;
    json.reserve(int(size));
    json += '[';
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0)
            json += ',';
        json += entries[i]->json;
    }
    json += ']';
    m_listAnswer = json;
    m_listDirectoryNs = directoryNs;
    m_listScannedNs = static_cast<qint64>(now.tv_sec) * 1000000000 + now.tv_nsec;
    return json;
}

int SignalRecorder::repairUnfinished()
{
    int completed = 0;
    const QDir dir(m_directory);
    // A link is not repaired: that would write to wherever it points.
    for (const QString& part :
         Common::RegularFiles::names(m_directory, {prefix + "*" + suffix + partSuffix}, QDir::Name)) {
        // The file being written now is not unfinished.
        if (isRunning() && part == m_fileName + partSuffix)
            continue;
        const QString path = dir.filePath(part);
        const BdfFileRepair::Result repaired = BdfFileRepair::repair(path);
        if (!repaired.ok || repaired.records == 0) {
            JTerminal('1') << "signal recording" << part << "cannot be repaired:"
                           << (repaired.ok ? QStringLiteral("no data") : repaired.error);
            continue;
        }
        QString name = part.left(part.size() - partSuffix.size());
        const QString stem = name.left(name.size() - suffix.size());
        for (int n = 2; Common::RegularFiles::exists(dir.filePath(name)); ++n)
            name = stem + QStringLiteral("-%1").arg(n) + suffix;
        if (!QFile::rename(path, dir.filePath(name))) {
            JTerminal('1') << "signal recording: cannot rename" << path;
            continue;
        }
        JTerminal('3') << "signal recording" << part << "repaired:" << repaired.records << "data records, now" << name;
        ++completed;
    }
    return completed;
}

} // namespace Tavrix::Archive

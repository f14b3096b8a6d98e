#include "archive/restingecgarchive.h"

#include "archive/archivespace.h"
#include "archive/dicomecgwriter.h"
#include "archive/dicomuids.h"
#include "archive/ecgleadset.h"
#include "archive/ecgresampler.h"
#include "common/jterminal.h"
#include "common/regularfiles.h"
#include "devicewebapi/examinationinfostore.h"
#include "usb/framedecoder.h"
#include "devicecomplexcommands/calibrationtypes.h"

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmdata/dctk.h"

#include <QDir>
#include <QFileInfo>
#include <QHostInfo>
#include <QTimeZone>

namespace Tavrix::Archive {

using Common::JTerminal;
using DevicesInfo::DeviceChannelTypeInfo;
using DevicesInfo::EChannelSource;
using DevicesInfo::EChannelType;

namespace {

const QString prefix = QStringLiteral("ecg-");
const QString suffix = QStringLiteral(".dcm");
const DeviceChannelTypeInfo ecgKey{EChannelType::Ecg, EChannelSource::Device};

QString isoText(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
}

// name, size, start and duration of a resting ECG file; the waveform
// itself is not read for this.
QJsonObject describe(const QString& path)
{
    const QFileInfo info(path);
    QJsonObject entry{{"name", info.fileName()}, {"size", static_cast<double>(info.size())}};
    DcmFileFormat file;
    const QByteArray encoded = QFile::encodeName(path);
    if (file.loadFile(encoded.constData(), EXS_Unknown, EGL_noChange, 1024).bad()) {
        entry.insert("start", QJsonValue::Null);
        entry.insert("duration", QJsonValue::Null);
        return entry;
    }
    DcmDataset& data = *file.getDataset();
    OFString acquired;
    data.findAndGetOFString(DCM_AcquisitionDateTime, acquired);
    const QDateTime start =
        QDateTime::fromString(QString::fromLatin1(acquired.c_str()).left(21), QStringLiteral("yyyyMMddHHmmss.zzzzzz"));
    entry.insert("start", start.isValid() ? QJsonValue(isoText(start)) : QJsonValue(QJsonValue::Null));
    Uint32 samples = 0;
    OFString rate;
    data.findAndGetUint32(DCM_NumberOfWaveformSamples, samples, 0, OFTrue);
    data.findAndGetOFString(DCM_SamplingFrequency, rate, 0, OFTrue);
    const double frequency = QString::fromLatin1(rate.c_str()).toDouble();
    entry.insert("duration", frequency > 0 ? QJsonValue(samples / frequency) : QJsonValue(QJsonValue::Null));
    return entry;
}

} // namespace

struct RestingEcgArchive::Take
{
    Take(quint64 takeId, TakeRequest takeRequest, std::size_t channels, int rate)
        : id(takeId)
        , request(std::move(takeRequest))
        , archiveRate(rate)
        , frames(channels, static_cast<std::size_t>(request.seconds) * static_cast<std::size_t>(request.recorderRate))
    {
    }

    quint64 id;
    TakeRequest request;
    int archiveRate;
    RestingEcgTake frames;
    std::vector<double> microvoltsPerCount;
    std::optional<DeviceComplexCommands::ExaminationInfo> examination;
    QDateTime firstFrame;
    bool ending = false;
    int silentSeconds = 0;
    std::size_t framesAtLastCheck = 0;
};

QJsonObject RestingEcgArchive::Outcome::answer() const
{
    QJsonObject answer{{"FileName", fileName},
                       {"Url", QStringLiteral("/recordings/") + fileName},
                       {"Sent", pacs.sent()},
                       {"PacsStatus", QString::fromLatin1(PacsClient::statusName(pacs.status))}};
    if (!pacs.text.empty())
        answer.insert(pacs.sent() ? "remark" : "errortext", QString::fromStdString(pacs.text));
    return answer;
}

RestingEcgArchive::RestingEcgArchive(QString directory, PacsSettings pacs, std::string uidRoot,
                                     std::string institution, QObject* parent)
    : QObject(parent)
    , m_directory(std::move(directory))
    , m_pacs(std::move(pacs))
    , m_uidRoot(std::move(uidRoot))
    , m_institution(std::move(institution))
{
    m_silenceTimer.setInterval(1000);
    connect(&m_silenceTimer, &QTimer::timeout, this, &RestingEcgArchive::checkSilence);
    m_pacsWorker = new QObject;
    m_pacsWorker->moveToThread(&m_pacsThread);
    connect(&m_pacsThread, &QThread::finished, m_pacsWorker, &QObject::deleteLater);
    m_pacsThread.setObjectName(QStringLiteral("pacs"));
    m_pacsThread.start();
}

RestingEcgArchive::~RestingEcgArchive()
{
    if (const auto channels = m_channels.lock())
        channels->removeDecodedFrameSink(this);
    // A send under way ends within the PACS time-out; its file stays either way.
    m_pacsThread.quit();
    m_pacsThread.wait();
}

std::unique_ptr<RestingEcgArchive> RestingEcgArchive::fromSettings(const QVariantMap& settings, const QString& appDir,
                                                                   const QString& directory)
{
    PacsSettings pacs = PacsSettings::fromVariantMap(settings, appDir);
    if (!pacs.error.empty())
        JTerminal('1') << "PACS settings:" << pacs.error << "- nothing is sent to a PACS";
    std::string root = settings.value(QStringLiteral("dicomUidRoot")).toString().toStdString();
    if (!root.empty() && !DicomUids::isRoot(root)) {
        JTerminal('1') << "dicomUidRoot" << root << "is not a UID root (digits and dots, at most 32 characters);"
                       << "UUID-derived identifiers are used";
        root.clear();
    }
    const std::string institution = settings.value(QStringLiteral("institutionName")).toString().toStdString();
    auto archive = std::make_unique<RestingEcgArchive>(directory, std::move(pacs), root, institution);
    archive->setSpace(ArchiveSpace(Common::DiskReserve::fromSettings(settings)));
    return archive;
}

void RestingEcgArchive::attach(const std::shared_ptr<Usb::AdcChannelsManager>& channels)
{
    m_channels = channels;
    if (!channels)
        return;
    channels->addDecodedFrameSink(this);
    connect(channels.get(), &Usb::AdcChannelsManager::channelLayoutIsChanged, this,
            &RestingEcgArchive::handleChannelLayoutChange);
}

quint64 RestingEcgArchive::take(const TakeRequest& request, Outcome* refusal)
{
    auto refuse = [refusal](const char* code, const QString& text) -> quint64 {
        if (refusal) {
            refusal->errorCode = QString::fromLatin1(code);
            refusal->errorText = text;
        }
        return 0;
    };
    if (m_take)
        return refuse("BUSY", QStringLiteral("a resting ECG is being taken"));
    const std::shared_ptr<Usb::AdcChannelsManager> channels = m_channels.lock();
    if (!channels)
        return refuse("NO_RECORDER", QStringLiteral("the recorder's signals are not available"));
    if (request.seconds < minSeconds || request.seconds > maxSeconds)
        return refuse("BAD_DATA", QStringLiteral("\"Seconds\" must be from %1 to %2").arg(minSeconds).arg(maxSeconds));
    std::size_t ecgChannels = 0;
    for (const Usb::DecodedChannelLayout& channel : request.layout) {
        if (channel.key == ecgKey)
            ecgChannels = channel.signalCount;
    }
    if (ecgChannels == 0)
        return refuse("NO_SIGNALS", QStringLiteral("the recorder streams no ECG channels"));
    const int archiveRate = EcgResampler::archiveRate(request.recorderRate, request.seconds);
    if (archiveRate == 0)
        return refuse("BAD_DATA", QStringLiteral("the recorder's rate of %1 frames/s cannot be stored as an ECG")
                                      .arg(request.recorderRate));
    if (!QDir().mkpath(m_directory))
        return refuse("FILE_ERROR", QStringLiteral("cannot create the directory %1").arg(m_directory));
    // Twelve 16-bit leads at the archive rate, and the header.
    const qint64 bytes = 12LL * 2 * archiveRate * request.seconds + 64 * 1024;
    QString why;
    if (!m_space.hasRoomFor(m_directory, bytes, &why))
        return refuse("FILE_ERROR", why);

    auto take = std::make_unique<Take>(m_nextId++, request, ecgChannels, archiveRate);
    const auto lsb = channels->getSignalsLsbInfo();
    const auto ecgLsb = lsb.find(ecgKey);
    for (std::size_t c = 0; c < ecgChannels; ++c) {
        double scale = 1.0;
        if (ecgLsb != lsb.end() && ecgLsb->second.lsbCreator)
            scale = ecgLsb->second.lsbCreator->createLsb(static_cast<uint8_t>(c), {});
        take->microvoltsPerCount.push_back(scale);
    }
    take->examination = DeviceWebApi::ExaminationInfoStore::last();
    m_take = std::move(take);
    m_silenceTimer.start();
    JTerminal('2') << "resting ECG: taking" << request.seconds << "s of" << ecgChannels << "ECG channels at"
                   << request.recorderRate << "frames/s";
    return m_take->id;
}

quint64 RestingEcgArchive::sendAgain(const QString& fileName, Outcome* refusal)
{
    const QString path = pathOf(fileName);
    if (path.isEmpty()) {
        if (refusal) {
            refusal->errorCode = QStringLiteral("BAD_DATA");
            refusal->errorText = QStringLiteral("no resting ECG file %1").arg(fileName);
        }
        return 0;
    }
    const quint64 id = m_nextId++;
    send(id, QFileInfo(path).fileName());
    return id;
}

void RestingEcgArchive::handleDecodedFrame(const Usb::FrameDecoder& decoder, uint16_t frameNumber)
{
    // Called with the channel manager's lock held: only gather here.
    if (!m_take || m_take->ending)
        return;
    const Usb::AdcChannelData* group = decoder.findGroup(ecgKey);
    if (!group)
        return;
    if (!m_take->firstFrame.isValid())
        m_take->firstFrame = QDateTime::currentDateTime();
    const quint64 id = m_take->id;
    switch (m_take->frames.add(frameNumber, group->values)) {
    case RestingEcgTake::EState::Collecting:
        return;
    case RestingEcgTake::EState::Complete:
        m_take->ending = true;
        QMetaObject::invokeMethod(
            this, [this, id] { if (m_take && m_take->id == id) finishTake(); }, Qt::QueuedConnection);
        return;
    case RestingEcgTake::EState::LostFrames: {
        m_take->ending = true;
        const QString text = QStringLiteral("%1 recorder frames were lost after %2 s of the span; nothing was stored")
                                 .arg(m_take->frames.lostFrames())
                                 .arg(static_cast<double>(m_take->frames.framesTaken()) / m_take->request.recorderRate,
                                      0, 'f', 2);
        QMetaObject::invokeMethod(
            this, [this, id, text] { if (m_take && m_take->id == id) failTake("BAD_DATA", text); },
            Qt::QueuedConnection);
        return;
    }
    case RestingEcgTake::EState::WrongLayout:
        m_take->ending = true;
        QMetaObject::invokeMethod(
            this,
            [this, id] {
                if (m_take && m_take->id == id)
                    failTake("BAD_DATA", QStringLiteral("a frame carried fewer ECG values than the recorder's layout"));
            },
            Qt::QueuedConnection);
        return;
    }
}

void RestingEcgArchive::handleChannelLayoutChange(QString reason)
{
    if (m_take)
        failTake("BAD_DATA", QStringLiteral("the recorder's channels changed during the span (%1)").arg(reason));
}

void RestingEcgArchive::handleDeviceLost()
{
    if (m_take)
        failTake("DEVICE_DISCONNECTED", QStringLiteral("the recorder was disconnected during the span"));
}

void RestingEcgArchive::checkSilence()
{
    if (!m_take) {
        m_silenceTimer.stop();
        return;
    }
    const std::size_t taken = m_take->frames.framesTaken();
    m_take->silentSeconds = taken == m_take->framesAtLastCheck ? m_take->silentSeconds + 1 : 0;
    m_take->framesAtLastCheck = taken;
    if (m_take->silentSeconds >= silenceLimitSeconds)
        failTake("TIMEOUT", QStringLiteral("the recorder sent no ECG frame for %1 s").arg(silenceLimitSeconds));
}

void RestingEcgArchive::failTake(const QString& code, const QString& text)
{
    if (!m_take)
        return;
    Outcome outcome;
    outcome.id = m_take->id;
    outcome.errorCode = code;
    outcome.errorText = text;
    m_take.reset();
    m_silenceTimer.stop();
    JTerminal('1') << "resting ECG not taken:" << text;
    emit outcomeIsReady(outcome);
}

QString RestingEcgArchive::uniqueName(const QDateTime& time) const
{
    const QString stem = prefix + time.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = stem + suffix;
    const QDir dir(m_directory);
    for (int n = 2; Common::RegularFiles::exists(dir.filePath(name))
                    || Common::RegularFiles::exists(dir.filePath(name + QStringLiteral(".part")));
         ++n)
        name = stem + QStringLiteral("-%1").arg(n) + suffix;
    return name;
}

void RestingEcgArchive::finishTake()
{
    std::unique_ptr<Take> take = std::move(m_take);
    m_silenceTimer.stop();
    const TakeRequest& request = take->request;
    const int factor = request.recorderRate / take->archiveRate;

    std::vector<std::vector<double>> recorded;
    const auto& counts = take->frames.channels();
    for (std::size_t c = 0; c < counts.size(); ++c) {
        std::vector<double> channel(counts[c].begin(), counts[c].end());
        for (double& value : channel)
            value *= take->microvoltsPerCount[c];
        recorded.push_back(EcgResampler::decimate(channel, factor));
    }

    std::optional<uint8_t> leadType;
    if (take->examination && take->examination->electrodes)
        leadType = take->examination->electrodes->leadType;
    const EcgLeadSet leadSet = EcgLeadSet::forExamination(leadType, recorded.size());

    RestingEcgRecord record;
    if (take->examination) {
        const DeviceComplexCommands::ExaminationInfo& exam = *take->examination;
        record.patient.id = exam.patientId;
        record.patient.surname = exam.surname;
        record.patient.name = exam.name;
        record.patient.patronymic = exam.patronymic;
        if (!exam.sexNotGiven)
            record.patient.sex = exam.sex == DeviceComplexCommands::PatientSex::Male     ? 'M'
                                 : exam.sex == DeviceComplexCommands::PatientSex::Female ? 'F'
                                                                                         : 'O';
        if (exam.birthdayDate.isSet())
            record.patient.birthDate =
                EcgPatient::Date{exam.birthdayDate.year, exam.birthdayDate.month, exam.birthdayDate.day};
    }
    record.equipment.manufacturer = "Orvim";
    record.equipment.model = request.model;
    record.equipment.serialNumber = request.serialNumber;
    record.equipment.softwareVersions = request.versions;
    record.equipment.softwareVersions.push_back("Dastel " DASTEL_VERSION);
    record.equipment.stationName = QHostInfo::localHostName().left(16).toStdString();
    record.equipment.institutionName = m_institution;
    const QDateTime start = take->firstFrame.isValid() ? take->firstFrame : QDateTime::currentDateTime();
    record.acquired = {start.date().year(), start.date().month(), start.date().day(), start.time().hour(),
                       start.time().minute(), start.time().second(), start.time().msec() * 1000,
                       start.offsetFromUtc() / 60};
    record.twelveLead = leadSet.isStandardTwelveLead();
    record.leads = leadSet.leads();
    record.samples = leadSet.leadsFrom(recorded);
    record.sampleRate = take->archiveRate;
    record.recorderRate = request.recorderRate;
    if (factor > 1)
        record.filters.highHz = EcgResampler::cutoffHz(take->archiveRate);
    if (m_beatDetector)
        record.beatSamples = m_beatDetector(record.samples, record.sampleRate);
    record.studyUid = DicomUids::create(m_uidRoot);
    record.seriesUid = DicomUids::create(m_uidRoot);
    record.instanceUid = DicomUids::create(m_uidRoot);

    const QString fileName = uniqueName(start);
    const QString path = QDir(m_directory).filePath(fileName);
    std::string error;
    if (!DicomEcgWriter::write(record, QFile::encodeName(path).toStdString(), &error)) {
        Outcome outcome;
        outcome.id = take->id;
        outcome.errorCode = QStringLiteral("FILE_ERROR");
        outcome.errorText = QString::fromStdString(error);
        JTerminal('1') << "resting ECG not written:" << error;
        emit signalError("CommandError", "resting ECG not written: " + error);
        emit outcomeIsReady(outcome);
        return;
    }
    JTerminal('2') << "resting ECG written:" << fileName << "(" << (record.twelveLead ? "12-lead" : "general")
                   << "ECG," << record.sampleRate << "samples/s)";
    send(take->id, fileName);
}

void RestingEcgArchive::send(quint64 id, const QString& fileName)
{
    if (!m_pacs.configured()) {
        // Told after the caller has the id, as a real send would be.
        const PacsResult result = PacsClient::store(m_pacs, {});
        QMetaObject::invokeMethod(
            this, [this, id, fileName, result] { handleSent(id, fileName, result); }, Qt::QueuedConnection);
        return;
    }
    m_pacsStatus.insert(fileName, QStringLiteral("sending"));
    const PacsSettings settings = m_pacs;
    const std::string path = QFile::encodeName(QDir(m_directory).filePath(fileName)).toStdString();
    QMetaObject::invokeMethod(
        m_pacsWorker,
        [this, settings, path, id, fileName] {
            const PacsResult result = PacsClient::store(settings, path);
            QMetaObject::invokeMethod(
                this, [this, id, fileName, result] { handleSent(id, fileName, result); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void RestingEcgArchive::handleSent(quint64 id, const QString& fileName, const PacsResult& result)
{
    const QString status = QString::fromLatin1(PacsClient::statusName(result.status));
    m_pacsStatus.insert(fileName, status);
    if (result.sent())
        JTerminal('2') << "resting ECG" << fileName << "sent to the PACS" << result.text;
    else if (result.status == EPacsStatus::NotConfigured && m_pacs.error.empty())
        JTerminal('2') << "resting ECG" << fileName << "kept; no PACS is configured";
    else {
        JTerminal('1') << "resting ECG" << fileName << "not sent to the PACS (" << status << "):" << result.text
                       << "- the file stays; \"SendToPacs\" sends it again";
        emit signalError("PacsError", fileName.toStdString() + " not sent (" + status.toStdString() + "): " + result.text);
    }
    Outcome outcome;
    outcome.id = id;
    outcome.fileName = fileName;
    outcome.pacs = result;
    deliver(outcome);
}

void RestingEcgArchive::deliver(const Outcome& outcome)
{
    QJsonObject event{{"type", "restingEcg"},
                      {"file", outcome.fileName},
                      {"url", QStringLiteral("/recordings/") + outcome.fileName},
                      {"sent", outcome.pacs.sent()},
                      {"pacsStatus", QString::fromLatin1(PacsClient::statusName(outcome.pacs.status))}};
    if (!outcome.pacs.text.empty())
        event.insert("errortext", QString::fromStdString(outcome.pacs.text));
    emit archiveEvent(event);
    emit outcomeIsReady(outcome);
}

QString RestingEcgArchive::pathOf(const QString& fileName) const
{
    // Only the resting ECG files: no other file, no way out of the
    // directory, no symbolic link.
    if (!fileName.startsWith(prefix) || !fileName.endsWith(suffix) || fileName.contains('/')
        || fileName.contains('\\') || fileName.contains(QLatin1String("..")))
        return {};
    const QString path = QDir(m_directory).filePath(fileName);
    return Common::RegularFiles::isRegular(path) ? path : QString();
}

QJsonArray RestingEcgArchive::list() const
{
    QJsonArray entries;
    for (const QString& file : Common::RegularFiles::names(m_directory, {prefix + "*" + suffix}, QDir::Time)) {
        QJsonObject entry = describe(QDir(m_directory).filePath(file));
        const auto status = m_pacsStatus.find(file);
        if (status != m_pacsStatus.end())
            entry.insert("pacsStatus", status.value());
        entries.append(entry);
    }
    return entries;
}

} // namespace Tavrix::Archive

// Signal recording end to end: the real service under the simulated
// recorder records to BDF+, announces and serves the file, and the file holds
// the simulator's waveform frame by frame, as MNE (a reader that shares no
// code with EDFlib) reads it. The tests count frames and samples; they never
// wait on the clock for something to have happened.

#include "devicewebapi/serviceclient.h"
#include "ecgwaveform.h"
#include "support/httpget.h"
#include "support/msgpackreader.h"

#include <edflib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QWebSocket>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

using TestSupport::MsgReader;
using TestSupport::MsgValue;
using ServiceTesting::pump;

namespace {

// The recorder's rate, 2000 frames/s; DASTEL_STREAM_FREQUENCY lowers it
// where everything runs several times slower (sanitizer builds).
const int frequency = qEnvironmentVariableIsSet("DASTEL_STREAM_FREQUENCY")
                          ? qEnvironmentVariableIntValue("DASTEL_STREAM_FREQUENCY")
                          : 2000;
// Samples in one data record of the file.
const int samplesPerRecord = frequency / 10;

// The "signalRecording" events of the event stream.
class RecordingEvents
{
public:
    explicit RecordingEvents(quint16 port)
    {
        QObject::connect(&m_socket, &QWebSocket::binaryMessageReceived, [this](const QByteArray& message) {
            MsgValue value;
            MsgReader reader(message);
            if (!reader.readDocument(value))
                return;
            const MsgValue& data = value["data"];
            if (data.kind != MsgValue::Kind::Array)
                return;
            if (data.items.at(0)["type"].text == "signalRecording")
                m_events.push_back(data.items.at(0));
            else if (data.items.at(0)["type"].text == "error")
                m_errors.push_back(data.items.at(0));
            else if (data.items.at(0)["type"].text == "buttonPush")
                m_buttonFrames.push_back(data.items.at(0)["data"]["frameCounter"].integer);
        });
        m_socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    }
    bool waitConnected() { return pump([this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, 5000); }
    const std::vector<MsgValue>& events() const { return m_events; }
    const std::vector<MsgValue>& errors() const { return m_errors; }
    int buttonPushes() const { return static_cast<int>(m_buttonFrames.size()); }
    // The frame counters of the pushes, as the events tell them.
    const std::vector<int64_t>& buttonFrames() const { return m_buttonFrames; }

private:
    QWebSocket m_socket;
    std::vector<MsgValue> m_events;
    std::vector<MsgValue> m_errors;
    std::vector<int64_t> m_buttonFrames;
};

using TestSupport::HttpAnswer;
using TestSupport::httpGet;

struct Recording
{
    bool opened = false;
    std::vector<std::string> labels;
    std::vector<std::string> units;
    std::vector<std::vector<int>> samples; // per signal
    std::vector<std::pair<double, std::string>> annotations; // onset in seconds, text
    std::string patientCode;
    std::string equipment;
    double sampleRate = 0;
};

Recording readRecording(const QString& path)
{
    Recording recording;
    edf_hdr_struct header{};
    if (edfopen_file_readonly(path.toLocal8Bit().constData(), &header, EDFLIB_READ_ALL_ANNOTATIONS) != 0)
        return recording;
    recording.opened = true;
    recording.patientCode = header.patientcode;
    recording.equipment = header.equipment;
    for (int s = 0; s < header.edfsignals; ++s) {
        const auto& signal = header.signalparam[s];
        recording.labels.push_back(QString::fromLatin1(signal.label).trimmed().toStdString());
        recording.units.push_back(QString::fromLatin1(signal.physdimension).trimmed().toStdString());
        recording.sampleRate = static_cast<double>(signal.smp_in_datarecord) * EDFLIB_TIME_DIMENSION
                               / static_cast<double>(header.datarecord_duration);
        std::vector<int> values(static_cast<std::size_t>(signal.smp_in_file));
        edfread_digital_samples(header.handle, s, static_cast<int>(values.size()), values.data());
        recording.samples.push_back(std::move(values));
    }
    for (long long n = 0; n < header.annotations_in_file; ++n) {
        edf_annotation_struct annotation{};
        if (edf_get_annotation(header.handle, static_cast<int>(n), &annotation) == 0)
            recording.annotations.emplace_back(static_cast<double>(annotation.onset) / EDFLIB_TIME_DIMENSION,
                                               annotation.annotation);
    }
    edfclose_file(header.handle);
    return recording;
}

// The file as MNE reads it (tests/devicewebapi/read_bdf_with_mne.py): the
// samples only of the channels whose names start with `samplesOf`.
struct MneRead
{
    bool ran = false;
    QString problem;
    QJsonObject file;
};

MneRead readWithMne(const QString& path, const QString& samplesOf)
{
    MneRead read;
    QProcess python;
    // Debian's interpreter, where python3-mne is installed.
    const QString interpreter = QFile::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    python.start(interpreter,
                 {QStringLiteral(DASTEL_CONFIG_DIR "/../tests/devicewebapi/read_bdf_with_mne.py"), path, samplesOf});
    if (!python.waitForFinished(180000)) {
        read.problem = "python3 did not finish: " + python.errorString();
        return read;
    }
    if (python.exitCode() == 77) {
        read.problem = "python3-mne is not installed (scripts/setup.sh installs it)";
        return read;
    }
    if (python.exitCode() != 0) {
        read.problem = QString::fromUtf8(python.readAllStandardError());
        return read;
    }
    read.file = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    read.ran = !read.file.isEmpty();
    if (!read.ran)
        read.problem = "MNE's reading printed no JSON";
    return read;
}

// The frame counter a button event and annotation give for the frame with
// index `k` since the simulator started: its 16-bit frame number modulo
// 65535, as the service counts frames.
int64_t counterOfFrame(int64_t k)
{
    return (k % 65536) % 65535;
}

// The frame (since the converter went on) of the file's first sample: the
// eight ECG signals are the simulator's waveform at consecutive frames from
// there on (±1 µV for its time base's rounding); -1 when they are not.
// Samples that stand in for lost frames ("Lost N frames", frames the
// simulator had to drop on a loaded machine) hold earlier values and are
// not compared; every other sample still belongs to its frame.
int64_t firstFrameOfWaveform(const Recording& recording)
{
    const Tavrix::Simulator::EcgWaveform waveform(72.0);
    const std::size_t samples = recording.samples.at(0).size();
    std::vector<bool> filled(samples, false);
    for (const auto& [onset, text] : recording.annotations) {
        const QRegularExpressionMatch match =
            QRegularExpression("^Lost (\\d+) frames$").match(QString::fromStdString(text));
        if (!match.hasMatch())
            continue;
        const auto first = static_cast<std::size_t>(std::llround(onset * frequency));
        for (std::size_t i = first; i < std::min<std::size_t>(samples, first + match.captured(1).toULongLong()); ++i)
            filled[i] = true;
    }
    auto matches = [&](int64_t first, std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            if (filled[i])
                continue;
            const auto leads = waveform.leads(static_cast<double>(first + static_cast<int64_t>(i)) / frequency);
            for (std::size_t lead = 0; lead < 8; ++lead) {
                if (std::abs(recording.samples[lead][i] - leads[lead]) > 1)
                    return false;
            }
        }
        return true;
    };
    // The flat stretches between beats match many places: anchor on two seconds.
    const std::size_t anchor = std::min<std::size_t>(samples, 2 * frequency);
    for (int64_t first = 0; first < 120 * frequency; ++first) {
        if (matches(first, 0, anchor))
            return matches(first, anchor, samples) ? first : -1;
    }
    return -1;
}

class SignalRecordingTest : public ServiceTesting::ServiceFixture
{
protected:
    void SetUp() override { startKeepingEveryFrame(frequency); }

    // The file name of a recording just started; empty, with a failure, when
    // the service refused it.
    QString startRecording()
    {
        const QJsonObject started = answerOf("StartSignalRecording");
        EXPECT_EQ(started["status"].toString(), "ok") << QJsonDocument(started).toJson().toStdString();
        return started["data"].toObject()["FileName"].toString();
    }

    QString pathOf(const QString& name) const { return service.directory() + "/recordings/" + name; }

    // The service process: the simulator launcher's child.
    pid_t servicePid()
    {
        const pid_t launcher = service.sim().pid();
        QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(launcher));
        if (!children.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& pid : children.readAll().split(' ')) {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(QString::fromLatin1(pid.trimmed())));
            if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "dastel")
                return static_cast<pid_t>(pid.trimmed().toInt());
        }
        return -1;
    }

    // The samples of the running recording, as the service tells them.
    double recordedSamples() { return answerOf("GetSignalRecordingState")["data"].toObject()["Samples"].toDouble(); }

    // Waits until the recording holds `count` samples: on a loaded machine
    // the service may run behind the clock, so the tests count samples, not
    // time. The time-out only ends a test whose service stopped recording.
    bool waitForSamples(double count, int timeoutMs = 60000)
    {
        return pump([&] { return recordedSamples() >= count; }, timeoutMs);
    }

    // Pauses the simulated recorder's converter and waits until the service
    // has recorded every frame sent before: the newest frame recorded is the
    // last the recorder numbered. Returns the next frame number.
    int64_t pauseAndDrain()
    {
        control("set adc off");
        const int64_t next = model()["frameNumber"].toVariant().toLongLong();
        const int64_t last = (next + 65535) % 65536;
        const bool drained = pump(
            [&] {
                const QJsonObject state = answerOf("GetSignalRecordingState")["data"].toObject();
                return state.contains("LastFrame") && state["LastFrame"].toInt() == last;
            },
            180000);
        EXPECT_TRUE(drained) << "the service did not record up to frame " << last;
        return next;
    }
};

} // namespace

// Thirty seconds at the recorder's rate (2000 frames/s), a burst of button
// pushes among them: the file holds exactly the frames the recorder sent
// from its first one on, up to its last whole data record, each ECG sample
// the simulator's waveform within one µV as MNE reads it, every push at the
// sample of its frame, with the labels, units and patient fields written;
// the service announces the file and serves it, and only it.
TEST_F(SignalRecordingTest, ThirtySecondsHoldEveryFrameSentAsMneReadsThem)
{
    constexpr int seconds = 30;
    constexpr int pushes = 30;
    RecordingEvents events(service.eventPort());
    ASSERT_TRUE(events.waitConnected());

    const QByteArray list = post("GetCmdList");
    for (const char* name : {"StartSignalRecording", "StopSignalRecording", "GetSignalRecordingState"})
        EXPECT_TRUE(list.contains(name)) << name;

    const QJsonObject patient{{"PatientId", "E2E-1"}, {"Surname", "Testova"}, {"Name", "Anna"}, {"Sex", "f"},
                              {"BirthdayDate", "1980-05-17"}, {"LeadType", 1}, {"StartTime", "2026-12-09 10:00:00"}};
    EXPECT_EQ(answerOf("SetExaminationInfo", patient)["status"].toString(), "ok");
    // The lead set names the signals before anything is recorded, for the live view.
    const QJsonArray channels = answerOf("GetSignalRecordingState")["data"].toObject()["Channels"].toArray();
    ASSERT_EQ(channels.size(), 4);
    EXPECT_EQ(channels[0].toObject()["Name"].toString(), "ecg");
    EXPECT_EQ(channels[0].toObject()["Labels"].toArray().toVariantList(),
              QVariantList({"ECG I", "ECG II", "ECG V1", "ECG V2", "ECG V3", "ECG V4", "ECG V5", "ECG V6"}));
    EXPECT_EQ(channels[3].toObject()["Labels"].toArray().toVariantList(),
              QVariantList({"Ext accel X", "Ext accel Y", "Ext accel Z"}));
    // The value of one count, for drawing at true gain: 1 µV per ECG count.
    EXPECT_EQ(channels[0].toObject()["Unit"].toString(), "uV");
    EXPECT_DOUBLE_EQ(channels[0].toObject()["Lsb"].toDouble(), 1.0);
    EXPECT_EQ(channels[3].toObject()["Unit"].toString(), "mg");

    const double droppedBefore = model()["framesDropped"].toDouble();
    const QJsonObject started = answerOf("StartSignalRecording", QJsonObject{{"Label", "e2e run"}});
    ASSERT_EQ(started["status"].toString(), "ok") << QJsonDocument(started).toJson().toStdString();
    const QString name = started["data"].toObject()["FileName"].toString();
    ASSERT_FALSE(name.isEmpty());
    const QJsonObject again = answerOf("StartSignalRecording");
    EXPECT_EQ(again["errorcode"].toString(), "RECORDING_RUNNING");

    ASSERT_TRUE(waitForSamples(frequency));
    // A burst: pushes in quick succession, far more than one per data record.
    for (int i = 0; i < pushes; ++i)
        control("button");
    ASSERT_TRUE(pump([&] { return events.buttonPushes() == pushes; }, 60000))
        << events.buttonPushes() << " of " << pushes << " pushes announced";
    ASSERT_TRUE(waitForSamples(seconds * frequency, 240000))
        << recordedSamples() << " of " << seconds * frequency << " samples recorded";
    const QJsonObject state = answerOf("GetSignalRecordingState")["data"].toObject();
    EXPECT_TRUE(state["Running"].toBool());
    EXPECT_EQ(state["FileName"].toString(), name);
    EXPECT_FALSE(state["Since"].toString().isEmpty());

    // Every frame the recorder sent is in the service now.
    const int64_t next = pauseAndDrain();
    const double samples = recordedSamples();
    const QJsonObject sent = model();
    const int64_t built = sent["framesStreamed"].toVariant().toLongLong();
    const int64_t dropped = sent["framesDropped"].toVariant().toLongLong();
    EXPECT_EQ(static_cast<double>(dropped), droppedBefore) << "the simulated recorder dropped frames while recording";
    // The frames the recorder numbered since it started: those it sent and
    // those it dropped before the recording (the waveform runs on over
    // them); the number of the next one says which count it is.
    const int64_t numbered = built + ((next - built) % 65536 + 65536) % 65536;
    ASSERT_LE(numbered, built + dropped);
    // The recording ends with the last frame sent: its first frame is this.
    const int64_t firstFrame = numbered - static_cast<int64_t>(samples);
    const auto kept = static_cast<int64_t>(samples) / samplesPerRecord * samplesPerRecord;

    const QJsonObject stopped = answerOf("StopSignalRecording");
    ASSERT_EQ(stopped["status"].toString(), "ok") << QJsonDocument(stopped).toJson().toStdString();
    const QJsonObject summary = stopped["data"].toObject();
    EXPECT_EQ(summary["FileName"].toString(), name);
    EXPECT_EQ(summary["Url"].toString(), "/recordings/" + name);
    EXPECT_DOUBLE_EQ(summary["Duration"].toDouble(), static_cast<double>(kept) / frequency);
    EXPECT_EQ(answerOf("StopSignalRecording")["errorcode"].toString(), "NO_RECORDING");
    EXPECT_FALSE(answerOf("GetSignalRecordingState")["data"].toObject()["Running"].toBool());

    ASSERT_TRUE(pump([&] { return !events.events().empty(); }, 5000)) << "no signalRecording event";
    EXPECT_EQ(events.events().at(0)["file"].text, name.toStdString());
    EXPECT_EQ(events.events().at(0)["url"].text, ("/recordings/" + name).toStdString());

    // Served over HTTP: the file itself, the newest one, and the list.
    QFile file(pathOf(name));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_EQ(static_cast<double>(bytes.size()), summary["Size"].toDouble());
    const HttpAnswer download = httpGet(service.httpPort(), "/recordings/" + name);
    EXPECT_EQ(download.status, 200);
    EXPECT_TRUE(download.body == bytes) << "downloaded " << download.body.size() << " of " << bytes.size() << " bytes";
    EXPECT_TRUE(httpGet(service.httpPort(), "/recordings/latest").body == bytes);
    const QJsonArray listed = QJsonDocument::fromJson(httpGet(service.httpPort(), "/recordings/").body).array();
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed[0].toObject()["name"].toString(), name);
    EXPECT_DOUBLE_EQ(listed[0].toObject()["duration"].toDouble(), summary["Duration"].toDouble());
    for (const char* refused : {"/recordings/../settings.json", "/recordings/settings.json", "/recordings/nothing.bdf"})
        EXPECT_EQ(httpGet(service.httpPort(), refused).status, 404) << refused;
    EXPECT_TRUE(QJsonDocument::fromJson(httpGet(service.httpPort(), "/flash/").body).isArray());

    // The header as EDFlib reads it.
    const Recording recording = readRecording(pathOf(name));
    ASSERT_TRUE(recording.opened);
    EXPECT_EQ(recording.patientCode, "E2E-1");
    EXPECT_EQ(recording.equipment, "Orvim Ferrow 8");
    EXPECT_EQ(static_cast<int64_t>(recording.samples.at(0).size()), kept);
    EXPECT_EQ(recording.units, (std::vector<std::string>{"uV", "uV", "uV", "uV", "uV", "uV", "uV", "uV", "mOhm", "mOhm",
                                                         "mg", "mg", "mg", "mg", "mg", "mg"}));

    // The file as MNE reads it.
    const MneRead mne = readWithMne(pathOf(name), QStringLiteral("ECG"));
    ASSERT_TRUE(mne.ran) << mne.problem.toStdString();
    const QJsonObject& read = mne.file;
    EXPECT_EQ(read["sfreq"].toDouble(), frequency);
    EXPECT_EQ(read["n_times"].toVariant().toLongLong(), kept) << samples << " frames recorded";
    QStringList labels;
    QStringList units;
    for (const QJsonValue& channel : read["channels"].toArray()) {
        labels.append(channel.toObject()["name"].toString());
        units.append(channel.toObject()["unit"].toString());
    }
    EXPECT_EQ(labels.join(",").toStdString(), "ECG I,ECG II,ECG V1,ECG V2,ECG V3,ECG V4,ECG V5,ECG V6,Reo 1,Reo 2,"
                                              "Accel X,Accel Y,Accel Z,Ext accel X,Ext accel Y,Ext accel Z");
    // MNE knows no unit of g: it reports the accelerometers' "mg" as "n/a"
    // (EDFlib reads the header's text, above).
    const QString uV = QString::fromUtf8(u8"µV");
    EXPECT_EQ(units.join(",").toStdString(),
              QStringList({uV, uV, uV, uV, uV, uV, uV, uV, "mOhm", "mOhm", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a"})
                  .join(",")
                  .toStdString());
    const QJsonObject subject = read["subject"].toObject();
    EXPECT_EQ(subject["code"].toString(), "E2E-1");
    EXPECT_EQ(subject["sex"].toString(), "F");
    EXPECT_EQ(subject["birthday"].toString(), "1980-05-17");
    EXPECT_EQ(subject["name"].toString(), "Testova_Anna");

    // Sample i is frame firstFrame + i: every ECG sample is the simulator's
    // waveform there (±1 µV for the rounding of its time base).
    const Tavrix::Simulator::EcgWaveform waveform(72.0);
    const QJsonArray ecgChannels = read["channels"].toArray();
    std::vector<QJsonArray> leads;
    for (int lead = 0; lead < 8; ++lead) {
        leads.push_back(ecgChannels.at(lead).toObject()["samples"].toArray());
        ASSERT_EQ(leads.back().size(), kept) << "lead " << lead;
    }
    int64_t wrong = 0;
    int64_t firstWrong = -1;
    for (int64_t i = 0; i < kept; ++i) {
        const auto expected = waveform.leads(static_cast<double>(firstFrame + i) / frequency);
        for (int lead = 0; lead < 8; ++lead) {
            if (std::abs(leads[lead].at(static_cast<int>(i)).toDouble() - expected[lead]) > 1.0 + 1e-6) {
                ++wrong;
                if (firstWrong < 0)
                    firstWrong = i;
            }
        }
    }
    EXPECT_EQ(wrong, 0) << "samples off the waveform, the first at sample " << firstWrong << " (frame "
                        << firstFrame + firstWrong << ")";

    // The label at 0 s and every push at the sample of its frame; nothing else.
    std::vector<int64_t> pushedFrames;
    int labelsFound = 0;
    for (const QJsonValue& value : read["annotations"].toArray()) {
        const QString text = value.toObject()["description"].toString();
        const auto sample = static_cast<int64_t>(std::llround(value.toObject()["onset"].toDouble() * frequency));
        const QRegularExpressionMatch match = QRegularExpression("^Button pushed \\(frame (\\d+)\\)$").match(text);
        if (match.hasMatch()) {
            EXPECT_EQ(counterOfFrame(firstFrame + sample), match.captured(1).toLongLong()) << "push at sample " << sample;
            pushedFrames.push_back(match.captured(1).toLongLong());
        } else {
            EXPECT_EQ(text, "e2e run");
            EXPECT_EQ(sample, 0);
            ++labelsFound;
        }
    }
    EXPECT_EQ(labelsFound, 1);
    std::vector<int64_t> announced = events.buttonFrames();
    std::sort(announced.begin(), announced.end());
    std::sort(pushedFrames.begin(), pushedFrames.end());
    EXPECT_EQ(pushedFrames, announced) << "the file's pushes are the announced ones";
    EXPECT_EQ(pushedFrames.size(), static_cast<std::size_t>(pushes));
    std::printf("[ record ] %lld frames at %d frames/s, %lld in whole records, %d pushes\n",
                static_cast<long long>(samples), frequency, static_cast<long long>(kept), pushes);
}

TEST_F(SignalRecordingTest, LostFramesAreAnnotatedAndUnplugEndsTheFile)
{
    RecordingEvents events(service.eventPort());
    ASSERT_TRUE(events.waitConnected());
    const QString name = startRecording();
    ASSERT_FALSE(name.isEmpty());

    ASSERT_TRUE(waitForSamples(frequency / 2));
    // The recorder skips 1000 frame numbers: the file fills them and says so.
    // The converter pauses meanwhile and the service records every frame
    // sent before, so the jump follows the last frame recorded.
    const int64_t next = pauseAndDrain();
    const double before = recordedSamples();
    control("set frameNumber " + std::to_string((next + 1000) % 65536));
    control("set adc on");
    // 1000 filled samples come with the first frame after the jump.
    ASSERT_TRUE(waitForSamples(before + 1000 + frequency / 2));
    control("unplug");
    ASSERT_TRUE(pump([&] { return !events.events().empty(); }, 10000)) << "the file was not announced";
    EXPECT_EQ(events.events().at(0)["file"].text, name.toStdString());
    EXPECT_EQ(events.events().at(0)["reason"].text, "Recorder disconnected");

    const Recording recording = readRecording(pathOf(name));
    ASSERT_TRUE(recording.opened);
    std::map<std::string, double> annotations;
    int lost = 0;
    for (const auto& [onset, text] : recording.annotations) {
        annotations[text] = onset;
        const QRegularExpressionMatch match = QRegularExpression("^Lost (\\d+) frames$").match(QString::fromStdString(text));
        if (match.hasMatch())
            lost += match.captured(1).toInt();
    }
    EXPECT_EQ(lost, 1000);
    ASSERT_EQ(annotations.count("Recorder disconnected"), 1u);
    // At the last sample; onsets are kept to 100 µs.
    EXPECT_NEAR(annotations["Recorder disconnected"], (recording.samples.at(0).size() - 1) / double(frequency), 1e-4);
    EXPECT_FALSE(QFile::exists(pathOf(name) + ".part"));

    // The service keeps running: a new recorder is recorded again.
    control("plug");
    ASSERT_TRUE(waitFor([this] { return answerOf("StartSignalRecording")["status"].toString() == "ok"; }, 30000));
    ASSERT_TRUE(waitForSamples(frequency / 5));
    EXPECT_EQ(answerOf("StopSignalRecording")["status"].toString(), "ok");
}

// A file size limit reached while recording: the file ends at its last whole
// data record, a CommandError is raised, and the service records again once
// it can.
TEST_F(SignalRecordingTest, AFileSizeLimitEndsTheFileValidAndTheServiceGoesOn)
{
    const pid_t pid = servicePid();
    if (pid <= 0)
        GTEST_SKIP() << "the service process was not found";
    RecordingEvents events(service.eventPort());
    ASSERT_TRUE(events.waitConnected());
    const QString name = startRecording();
    ASSERT_FALSE(name.isEmpty());
    ASSERT_TRUE(waitForSamples(frequency / 2));
    // The file does not grow while the limit is set: the converter pauses
    // and the service has recorded every frame sent before.
    pauseAndDrain();

    // Room for about half a second more at 2000 frames/s.
    rlimit previous{};
    ASSERT_EQ(prlimit(pid, RLIMIT_FSIZE, nullptr, &previous), 0);
    rlimit limited = previous;
    limited.rlim_cur = static_cast<rlim_t>(QFileInfo(pathOf(name + ".part")).size() + 64 * 1024);
    ASSERT_EQ(prlimit(pid, RLIMIT_FSIZE, &limited, nullptr), 0);
    control("set adc on");
    const bool ended = pump([&] { return !events.events().empty(); }, 60000);
    ASSERT_EQ(prlimit(pid, RLIMIT_FSIZE, &previous, nullptr), 0);
    ASSERT_TRUE(ended) << "the recording did not end at the limit";

    EXPECT_EQ(events.events().at(0)["reason"].text, "Write error");
    ASSERT_FALSE(events.errors().empty());
    EXPECT_EQ(events.errors().at(0)["errorType"].text, "CommandError");
    const Recording recording = readRecording(pathOf(name));
    ASSERT_TRUE(recording.opened) << "the file must stay readable";
    EXPECT_GE(recording.samples.at(0).size(), 500u);
    EXPECT_EQ(recording.samples.at(0).size() % (frequency / 10), 0u) << "whole data records only";
    EXPECT_GE(firstFrameOfWaveform(recording), 0) << "what was kept is the waveform, unbroken";
    EXPECT_LE(QFileInfo(pathOf(name)).size(), static_cast<qint64>(limited.rlim_cur));

    // The service streams and answers on, and records again.
    EXPECT_EQ(answerOf("GetPower")["status"].toString(), "ok");
    EXPECT_EQ(answerOf("StartSignalRecording")["status"].toString(), "ok");
    EXPECT_TRUE(waitForSamples(frequency / 5));
    EXPECT_EQ(answerOf("StopSignalRecording")["status"].toString(), "ok");
}

// Ending the service completes the file it was writing.
TEST_F(SignalRecordingTest, StoppingTheServiceCompletesTheFile)
{
    const QString name = startRecording();
    ASSERT_FALSE(name.isEmpty());
    ASSERT_TRUE(waitForSamples(frequency / 2));

    ASSERT_EQ(service.stop(), 0) << service.sim().output();
    EXPECT_FALSE(QFile::exists(pathOf(name) + ".part"));
    const Recording recording = readRecording(pathOf(name));
    ASSERT_TRUE(recording.opened);
    EXPECT_GE(recording.samples.at(0).size(), static_cast<std::size_t>(frequency / 2));
    bool told = false;
    for (const auto& annotation : recording.annotations)
        told = told || annotation.second == "Service stopped";
    EXPECT_TRUE(told);
}

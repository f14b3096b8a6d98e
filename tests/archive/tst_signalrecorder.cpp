#include "common/jextterminal.h"
#include "common/jmessagehandler.h"
#include "devicewebapi/examinationinfostore.h"
#include "archive/signalrecorder.h"
#include "usb/framedecoder.h"

#include <edflib.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

using Tavrix::DeviceWebApi::ExaminationInfoStore;
using Tavrix::Archive::SignalRecorder;
using Tavrix::DevicesInfo::DeviceChannelTypeInfo;
using Tavrix::DevicesInfo::EChannelSource;
using Tavrix::DevicesInfo::EChannelType;
using Tavrix::Usb::AdcChannelData;
using Tavrix::Usb::DecodedChannelLayout;

namespace {

const DeviceChannelTypeInfo ecgKey{EChannelType::Ecg, EChannelSource::Device};
const DeviceChannelTypeInfo accKey{EChannelType::Acc, EChannelSource::Device};
const DeviceChannelTypeInfo cableKey{EChannelType::Acc, EChannelSource::Cable};

// A decoder whose groups the test fills directly.
class TestDecoder : public Tavrix::Usb::FrameDecoder
{
public:
    TestDecoder(std::string name, std::vector<AdcChannelData> groups)
        : FrameDecoder(std::move(name), std::move(groups))
    {
    }
    bool isValidFrame(const std::vector<uint8_t>&) override { return true; }
    unsigned getFrameNumber(const std::vector<uint8_t>&) override { return 0; }
    bool hasButtonLabel(const std::vector<uint8_t>&) override { return false; }
    void parseData(const std::vector<uint8_t>&) override {}

    void set(const DeviceChannelTypeInfo& key, std::vector<int32_t> values) { findGroup(key)->values = std::move(values); }
};

struct ReadBack
{
    bool opened = false;
    int signalCount = 0;
    std::vector<std::string> labels;
    std::vector<std::vector<int>> samples;
    std::map<std::string, long long> annotations; // text → onset (100 ns units)
    std::vector<std::pair<long long, std::string>> annotationList; // in file order, repeats kept
};

ReadBack read(const QString& path)
{
    ReadBack back;
    edf_hdr_struct header{};
    const QByteArray encoded = path.toLocal8Bit();
    if (edfopen_file_readonly(encoded.constData(), &header, EDFLIB_READ_ALL_ANNOTATIONS) != 0)
        return back;
    back.opened = true;
    back.signalCount = header.edfsignals;
    for (int s = 0; s < header.edfsignals; ++s) {
        back.labels.push_back(QString::fromLatin1(header.signalparam[s].label).trimmed().toStdString());
        std::vector<int> values(static_cast<std::size_t>(header.signalparam[s].smp_in_file));
        edfread_digital_samples(header.handle, s, static_cast<int>(values.size()), values.data());
        back.samples.push_back(std::move(values));
    }
    for (long long n = 0; n < header.annotations_in_file; ++n) {
        edf_annotation_struct annotation{};
        if (edf_get_annotation(header.handle, static_cast<int>(n), &annotation) == 0) {
            back.annotations[annotation.annotation] = annotation.onset;
            back.annotationList.emplace_back(annotation.onset, annotation.annotation);
        }
    }
    edfclose_file(header.handle);
    return back;
}

class SignalRecorderTest : public ::testing::Test
{
public:
    // 100 frames a second: a data record every 10 frames.
    static constexpr int rate = 100;

    void SetUp() override { ExaminationInfoStore::clear(); }
    void TearDown() override { ExaminationInfoStore::clear(); }

    SignalRecorder::StartRequest request() const
    {
        SignalRecorder::StartRequest start;
        start.sampleRate = rate;
        start.layout = {{ecgKey, "ecg", 2}, {accKey, "acc", 3}, {cableKey, "extAcc", 3}};
        start.equipment = "Orvim Ferrow 8";
        return start;
    }

    void startRecording(SignalRecorder& recorder)
    {
        QString detail;
        ASSERT_EQ(recorder.start(request(), &detail), SignalRecorder::EStartResult::Started) << detail.toStdString();
        m_name = detail;
    }

    // A recorder frame: ECG (n, -n), accelerometer (n, 0, 1000).
    void frame(SignalRecorder& recorder, uint16_t number, int32_t n, bool button = false)
    {
        m_device.set(ecgKey, {n, -n});
        m_device.set(accKey, {n, 0, 1000});
        m_device.setButtonFlag(button);
        m_device.setFrameCounter(number % 65535u);
        recorder.handleDecodedFrame(m_device, number);
    }

    void cableFrame(SignalRecorder& recorder, int32_t x)
    {
        m_cable.set(cableKey, {x, x + 1, x + 2});
        recorder.handleDecodedFrame(m_cable, 7);
    }

    QString path() const { return m_dir.filePath(m_name); }

    QTemporaryDir m_dir;
    QString m_name;
    TestDecoder m_device{"DeviceFerrowSeries",
                         {{ecgKey, 2, {0, 0}}, {{EChannelType::Reo, EChannelSource::Device}, 2, {5, 5}}, {accKey, 3, {0, 0, 0}}}};
    TestDecoder m_cable{"Cable", {{cableKey, 3, {0, 0, 0}}}};
};

} // namespace

TEST_F(SignalRecorderTest, WritesEveryFrameWithCableValuesHeld)
{
    SignalRecorder recorder(m_dir.path());
    QSignalSpy complete(&recorder, &SignalRecorder::recordingIsComplete);
    startRecording(recorder);
    EXPECT_TRUE(m_name.startsWith("recording-") && m_name.endsWith(".bdf")) << m_name.toStdString();
    EXPECT_TRUE(QFile::exists(path() + ".part"));

    for (uint16_t i = 0; i < 30; ++i) {
        if (i == 12)
            cableFrame(recorder, 400);
        frame(recorder, static_cast<uint16_t>(1000 + i), i);
    }
    EXPECT_EQ(recorder.samples(), 30u);
    SignalRecorder::Summary summary;
    ASSERT_TRUE(recorder.stop("stopped", &summary));
    EXPECT_FALSE(recorder.isRunning());
    EXPECT_EQ(summary.fileName, m_name);
    EXPECT_EQ(summary.samples, 30u);
    EXPECT_DOUBLE_EQ(summary.durationSeconds, 0.3);
    EXPECT_EQ(summary.url(), "/recordings/" + m_name);
    EXPECT_FALSE(QFile::exists(path() + ".part"));
    ASSERT_TRUE(QFile::exists(path()));
    EXPECT_EQ(summary.size, QFile(path()).size());
    ASSERT_EQ(complete.count(), 1);
    EXPECT_EQ(complete.at(0).at(0).toString(), m_name);

    const ReadBack back = read(path());
    ASSERT_TRUE(back.opened);
    EXPECT_EQ(back.labels, (std::vector<std::string>{"ECG 1", "ECG 2", "Accel X", "Accel Y", "Accel Z",
                                                     "Ext accel X", "Ext accel Y", "Ext accel Z"}));
    for (int i = 0; i < 30; ++i) {
        const auto at = static_cast<std::size_t>(i);
        ASSERT_EQ(back.samples[0][at], i);
        ASSERT_EQ(back.samples[1][at], -i);
        ASSERT_EQ(back.samples[2][at], i);
        ASSERT_EQ(back.samples[4][at], 1000);
        // The cable frame before recorder frame 12 holds from there on.
        ASSERT_EQ(back.samples[5][at], i < 12 ? 0 : 400) << "sample " << i;
        ASSERT_EQ(back.samples[7][at], i < 12 ? 0 : 402);
    }
}

TEST_F(SignalRecorderTest, LostFramesAreFilledAndCounted)
{
    SignalRecorder recorder(m_dir.path());
    startRecording(recorder);
    // Frames 65530..65535, 0..3 (the wrap is no gap), then 9: 5 frames lost.
    uint16_t number = 65530;
    for (int i = 0; i < 10; ++i)
        frame(recorder, number++, i);
    frame(recorder, 9, 100, true);
    for (uint16_t n = 10; n < 24; ++n)
        frame(recorder, n, 101);
    ASSERT_TRUE(recorder.stop("stopped"));

    const ReadBack back = read(path());
    ASSERT_TRUE(back.opened);
    ASSERT_EQ(back.samples[0].size(), 30u) << "10 frames, 5 filled, 15 more";
    for (std::size_t i = 10; i < 15; ++i)
        EXPECT_EQ(back.samples[0][i], 9) << "the gap holds the last values";
    EXPECT_EQ(back.samples[0][15], 100);
    ASSERT_EQ(back.annotations.count("Lost 5 frames"), 1u);
    EXPECT_EQ(back.annotations.at("Lost 5 frames"), EDFLIB_TIME_DIMENSION * 10 / rate);
    // The button's frame is sample 15: 0.15 s.
    ASSERT_EQ(back.annotations.count("Button pushed (frame 9)"), 1u);
    EXPECT_EQ(back.annotations.at("Button pushed (frame 9)"), EDFLIB_TIME_DIMENSION * 15 / rate);
}

TEST_F(SignalRecorderTest, EndsTheFileWhenTheRecorderGoesOrChanges)
{
    struct Case
    {
        const char* what;
        std::function<void(SignalRecorder&, SignalRecorderTest&)> end;
        std::string annotation;
    };
    const std::vector<Case> cases = {
        {"unplug", [](SignalRecorder& r, SignalRecorderTest&) { r.handleDeviceLost(); }, "Recorder disconnected"},
        {"ECG mode", [](SignalRecorder& r, SignalRecorderTest&) { r.handleChannelLayoutChange("ECG mode changed"); },
         "ECG mode changed"},
        {"frame numbers restarted", [](SignalRecorder& r, SignalRecorderTest& t) { t.frame(r, 0, 0); },
         "Recorder frame numbers restarted"},
    };
    for (const Case& c : cases) {
        SignalRecorder recorder(m_dir.path());
        QSignalSpy complete(&recorder, &SignalRecorder::recordingIsComplete);
        startRecording(recorder);
        for (uint16_t n = 20000; n < 20025; ++n)
            frame(recorder, n, n);
        recorder.handleCableRemoved();
        c.end(recorder, *this);
        EXPECT_FALSE(recorder.isRunning()) << c.what;
        ASSERT_EQ(complete.count(), 1) << c.what;
        EXPECT_EQ(complete.at(0).at(3).toString().toStdString(), c.annotation);
        const ReadBack back = read(path());
        ASSERT_TRUE(back.opened) << c.what;
        EXPECT_EQ(back.samples[0].size(), 20u) << c.what << ": the partial last record is not kept";
        ASSERT_EQ(back.annotations.count(c.annotation), 1u) << c.what;
        // Told at the last sample the file keeps.
        EXPECT_EQ(back.annotations.at(c.annotation), EDFLIB_TIME_DIMENSION * 19 / rate) << c.what;
        EXPECT_EQ(back.annotations.count("Cable removed"), 0u) << "at sample 25, in the dropped record";
        // Frames after the end go nowhere.
        frame(recorder, 30000, 1);
        EXPECT_EQ(recorder.samples(), 0u);
    }
}

// A recording that reaches one of its limits ends as if stopped: a whole,
// readable file, the reason annotated at its last sample and announced.
TEST_F(SignalRecorderTest, ARecordingEndsCleanlyAtItsLimitsWithTheirReason)
{
    const qint64 hugeReserve = 1024LL * 1024 * 1024 * 1024 * 1024;
    struct Case
    {
        const char* what;
        std::function<void(SignalRecorder::Limits&)> limit;
        bool whileRunning; // set after the start (the disk filling up)
        std::string reason;
        std::size_t samples;
    };
    const std::vector<Case> cases = {
        {"duration", [](SignalRecorder::Limits& l) { l.maxDurationMs = 300; }, false,
         SignalRecorder::maxDurationReason, 30},
        {"size", [](SignalRecorder::Limits& l) { l.maxBytes = 1; }, false, SignalRecorder::maxSizeReason, 10},
        // The free space is asked once a second of signal.
        {"free space", [&](SignalRecorder::Limits& l) { l.reserve = Tavrix::Common::DiskReserve(hugeReserve); }, true,
         SignalRecorder::lowSpaceReason, 100},
    };
    for (const Case& c : cases) {
        SignalRecorder recorder(m_dir.path());
        SignalRecorder::Limits limits;
        limits.reserve = Tavrix::Common::DiskReserve(0);
        if (!c.whileRunning)
            c.limit(limits);
        recorder.setLimits(limits);
        QSignalSpy complete(&recorder, &SignalRecorder::recordingIsComplete);
        startRecording(recorder);
        if (c.whileRunning) {
            c.limit(limits);
            recorder.setLimits(limits);
        }
        for (uint16_t n = 0; n < 150; ++n)
            frame(recorder, n, n);
        EXPECT_FALSE(recorder.isRunning()) << c.what;
        ASSERT_EQ(complete.count(), 1) << c.what;
        EXPECT_EQ(complete.at(0).at(3).toString().toStdString(), c.reason) << c.what;
        const ReadBack back = read(path());
        ASSERT_TRUE(back.opened) << c.what;
        EXPECT_EQ(back.samples[0].size(), c.samples) << c.what;
        ASSERT_EQ(back.annotations.count(c.reason), 1u) << c.what;
        EXPECT_EQ(back.annotations.at(c.reason), EDFLIB_TIME_DIMENSION * (c.samples - 1) / rate) << c.what;
    }
}

TEST_F(SignalRecorderTest, NoRecordingStartsBelowTheFreeSpaceReserve)
{
    SignalRecorder recorder(m_dir.path());
    SignalRecorder::Limits limits;
    limits.reserve = Tavrix::Common::DiskReserve(Tavrix::Common::DiskReserve::freeBytes(m_dir.path())
                                                 + 1024LL * 1024 * 1024 * 1024);
    recorder.setLimits(limits);
    QString detail;
    EXPECT_EQ(recorder.start(request(), &detail), SignalRecorder::EStartResult::NoSpace);
    EXPECT_TRUE(detail.contains("reserve")) << detail.toStdString();
    EXPECT_FALSE(recorder.isRunning());
    EXPECT_TRUE(QDir(m_dir.path()).entryList(QDir::Files).isEmpty());
}

TEST(SignalRecorderLimits, SettingsGiveTheBoundsAndSensibleDefaults)
{
    using Limits = SignalRecorder::Limits;
    const Limits defaults = Limits::fromSettings({});
    EXPECT_EQ(defaults.maxDurationMs, 24LL * 3600 * 1000);
    EXPECT_GT(defaults.maxBytes, 0);
    EXPECT_GT(defaults.reserve.bytes(), 0);
    const Limits set = Limits::fromSettings(
        QVariantMap{{"recordingMaxHours", 0.5}, {"recordingMaxMiB", 100}, {"diskReserveMiB", 0}});
    EXPECT_EQ(set.maxDurationMs, 1800LL * 1000);
    EXPECT_EQ(set.maxBytes, 100LL * 1024 * 1024);
    EXPECT_EQ(set.reserve.bytes(), 0);
    // Nonsense keeps the defaults: no recording without a bound.
    const Limits nonsense = Limits::fromSettings(
        QVariantMap{{"recordingMaxHours", -1}, {"recordingMaxMiB", "lots"}, {"diskReserveMiB", true}});
    EXPECT_EQ(nonsense.maxDurationMs, defaults.maxDurationMs);
    EXPECT_EQ(nonsense.maxBytes, defaults.maxBytes);
    EXPECT_EQ(nonsense.reserve.bytes(), defaults.reserve.bytes());
}

// The list keeps what it read of each file, and follows the directory:
// files added, removed, or changed in place are listed as they are now.
TEST_F(SignalRecorderTest, TheListFollowsFilesAddedRemovedAndChanged)
{
    SignalRecorder recorder(m_dir.path());
    QStringList names;
    for (int i = 0; i < 3; ++i) {
        startRecording(recorder);
        for (uint16_t n = 0; n < 20 + 10 * i; ++n)
            frame(recorder, n, n);
        ASSERT_TRUE(recorder.stop("stopped"));
        names.append(m_name);
    }
    const auto durations = [&recorder] {
        QMap<QString, double> byName;
        for (const QJsonValue& value : recorder.list())
            byName.insert(value.toObject()["name"].toString(), value.toObject()["duration"].toDouble());
        return byName;
    };
    const auto jsonNames = [&recorder] {
        QStringList names;
        for (const QJsonValue& value : QJsonDocument::fromJson(recorder.listJson()).array())
            names.append(value.toObject()["name"].toString());
        return names;
    };
    QMap<QString, double> listed = durations();
    ASSERT_EQ(listed.size(), 3);
    EXPECT_EQ(QJsonDocument::fromJson(recorder.listJson()).array(), recorder.list());
    EXPECT_DOUBLE_EQ(listed.value(names[0]), 0.2);
    EXPECT_DOUBLE_EQ(listed.value(names[2]), 0.4);

    ASSERT_TRUE(QFile::remove(m_dir.filePath(names[1])));
    // Another recording written over the first one's name.
    ASSERT_TRUE(QFile::remove(m_dir.filePath(names[0])));
    ASSERT_TRUE(QFile::copy(m_dir.filePath(names[2]), m_dir.filePath(names[0])));
    listed = durations();
    ASSERT_EQ(listed.size(), 2);
    EXPECT_FALSE(listed.contains(names[1]));
    EXPECT_DOUBLE_EQ(listed.value(names[0]), 0.4);
    EXPECT_EQ(QJsonDocument::fromJson(recorder.listJson()).array(), recorder.list());
    // A file gone right after a list is gone from the next one.
    const QStringList before = jsonNames();
    ASSERT_TRUE(QFile::remove(m_dir.filePath(names[2])));
    EXPECT_EQ(jsonNames(), QStringList{names[0]}) << before.join(' ').toStdString();
}

TEST_F(SignalRecorderTest, StartAndStopRefuseClearly)
{
    SignalRecorder recorder(m_dir.path());
    EXPECT_FALSE(recorder.stop("stopped")) << "nothing runs";

    SignalRecorder::StartRequest noEcg = request();
    noEcg.layout = {{accKey, "acc", 3}};
    QString detail;
    EXPECT_EQ(recorder.start(noEcg, &detail), SignalRecorder::EStartResult::NoSignals);
    SignalRecorder::StartRequest badRate = request();
    badRate.sampleRate = 0;
    EXPECT_EQ(recorder.start(badRate, &detail), SignalRecorder::EStartResult::BadSampleRate);
    EXPECT_FALSE(recorder.isRunning());
    EXPECT_TRUE(QDir(m_dir.path()).entryList(QDir::Files).isEmpty()) << "nothing half-started";

    startRecording(recorder);
    EXPECT_EQ(recorder.start(request(), &detail), SignalRecorder::EStartResult::AlreadyRunning);
    EXPECT_TRUE(detail.contains(m_name));

    // Stopped before a whole data record: no file is kept.
    for (uint16_t n = 0; n < 5; ++n)
        frame(recorder, n, n);
    SignalRecorder::Summary summary;
    ASSERT_TRUE(recorder.stop("stopped", &summary));
    EXPECT_TRUE(summary.fileName.isEmpty());
    EXPECT_TRUE(QDir(m_dir.path()).entryList(QDir::Files).isEmpty());

    SignalRecorder unwritable("/proc/dastel-cannot-be-here");
    // /proc has no free space at all: without a reserve the write itself fails.
    SignalRecorder::Limits noReserve;
    noReserve.reserve = Tavrix::Common::DiskReserve(0);
    unwritable.setLimits(noReserve);
    EXPECT_EQ(unwritable.start(request(), &detail), SignalRecorder::EStartResult::FileError);
    EXPECT_FALSE(unwritable.isRunning());
}

TEST_F(SignalRecorderTest, ExaminationGivesPatientFieldsAndLeadNames)
{
    Tavrix::DeviceComplexCommands::ExaminationInfo examination;
    examination.patientId = "4711";
    examination.surname = "Petrov";
    examination.name = "Ivan";
    examination.sex = Tavrix::DeviceComplexCommands::PatientSex::Male;
    examination.sexNotGiven = false;
    examination.electrodes = Tavrix::DeviceComplexCommands::ElectrodesInfoCreator::create(3);
    ExaminationInfoStore::set(examination);

    SignalRecorder recorder(m_dir.path());
    SignalRecorder::StartRequest start = request();
    start.layout = {{ecgKey, "ecg", 3}};
    start.label = QString::fromUtf8(u8"Проба");
    QString detail;
    ASSERT_EQ(recorder.start(start, &detail), SignalRecorder::EStartResult::Started);
    m_name = detail;
    m_device.setGroupCount(ecgKey, 3);
    for (uint16_t n = 0; n < 10; ++n) {
        m_device.set(ecgKey, {1, 2, 3});
        recorder.handleDecodedFrame(m_device, n);
    }
    ASSERT_TRUE(recorder.stop("stopped"));

    edf_hdr_struct header{};
    ASSERT_EQ(edfopen_file_readonly(path().toLocal8Bit().constData(), &header, EDFLIB_READ_ALL_ANNOTATIONS), 0);
    EXPECT_STREQ(header.patientcode, "4711");
    EXPECT_STREQ(header.patient_name, "Petrov Ivan"); // '_' in the file
    EXPECT_STREQ(header.gender, "Male");
    EXPECT_STREQ(header.birthdate, "") << "unknown: X in the file";
    EXPECT_STREQ(header.equipment, "Orvim Ferrow 8");
    EXPECT_STREQ(QString::fromLatin1(header.signalparam[0].label).trimmed().toLatin1().constData(), "ECG V4");
    EXPECT_STREQ(QString::fromLatin1(header.signalparam[1].label).trimmed().toLatin1().constData(), "ECG Y");
    edf_annotation_struct annotation{};
    ASSERT_EQ(edf_get_annotation(header.handle, 0, &annotation), 0);
    EXPECT_EQ(QString::fromUtf8(annotation.annotation), QString::fromUtf8(u8"Проба")) << "the label, as UTF-8";
    edfclose_file(header.handle);
}

TEST(SignalRecorderSignals, LabelsUnitsAndRangesPerChannel)
{
    using Layout = std::vector<DecodedChannelLayout>;
    struct Case
    {
        Layout layout;
        std::optional<uint8_t> leadType;
        std::vector<std::string> labels;
    };
    const std::vector<Case> cases = {
        {{{ecgKey, "ecg", 8}}, std::nullopt, {"ECG 1", "ECG 2", "ECG 3", "ECG 4", "ECG 5", "ECG 6", "ECG 7", "ECG 8"}},
        {{{ecgKey, "ecg", 8}}, 1, {"ECG I", "ECG II", "ECG V1", "ECG V2", "ECG V3", "ECG V4", "ECG V5", "ECG V6"}},
        {{{ecgKey, "ecg", 3}}, 1, {"ECG 1", "ECG 2", "ECG 3"}},
        {{{ecgKey, "ecg", 3}}, 16, {"ECG X", "ECG Y", "ECG Z"}},
        {{{ecgKey, "ecg", 1}}, 15, {"ECG V5M"}},
        {{{ecgKey, "ecg", 1}}, std::nullopt, {"ECG 1"}},
        {{{{EChannelType::Reo, EChannelSource::Device}, "reo", 2}, {{EChannelType::Prs, EChannelSource::Device}, "prs", 1},
          {{EChannelType::Ton, EChannelSource::Device}, "ton", 1}, {cableKey, "extAcc", 3}},
         std::nullopt,
         {"Reo 1", "Reo 2", "Pressure", "Tone", "Ext accel X", "Ext accel Y", "Ext accel Z"}},
    };
    for (const Case& c : cases) {
        const auto signalInfos = SignalRecorder::signalsFor(c.layout, c.leadType);
        std::vector<std::string> labels;
        for (const auto& signal : signalInfos) {
            labels.push_back(signal.label);
            EXPECT_LE(signal.label.size(), 16u) << "EDF labels have 16 characters";
            EXPECT_LE(signal.unit.size(), 8u);
        }
        EXPECT_EQ(labels, c.labels);
    }
    const auto signalInfos = SignalRecorder::signalsFor(
        {{ecgKey, "ecg", 1}, {{EChannelType::Prs, EChannelSource::Device}, "prs", 1}}, std::nullopt);
    EXPECT_EQ(signalInfos[0].unit, "uV");
    EXPECT_EQ(signalInfos[0].digitalMinimum, -8388608) << "every 24-bit count fits";
    EXPECT_EQ(signalInfos[0].digitalMaximum, 8388607);
    EXPECT_EQ(signalInfos[1].unit, "mmHg");
    EXPECT_DOUBLE_EQ(signalInfos[1].scale, 0.01);
}

TEST_F(SignalRecorderTest, UnfinishedFilesAreRepairedAndOnlyRecordingsServed)
{
    {
        SignalRecorder recorder(m_dir.path());
        startRecording(recorder);
        for (uint16_t n = 0; n < 40; ++n)
            frame(recorder, n, n);
        ASSERT_TRUE(recorder.stop("stopped"));
    }
    // What a crash leaves: the file still ".part", its record count unwritten.
    const QString part = m_dir.filePath("recording-20260101-000000.bdf.part");
    ASSERT_TRUE(QFile::rename(path(), part));
    {
        QFile file(part);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.seek(236);
        file.write("-1      ");
        file.seek(file.size());
        file.write(QByteArray(7, '\0'));
    }

    SignalRecorder recorder(m_dir.path());
    EXPECT_EQ(recorder.repairUnfinished(), 1);
    const QString repaired = m_dir.filePath("recording-20260101-000000.bdf");
    ASSERT_TRUE(QFile::exists(repaired));
    EXPECT_FALSE(QFile::exists(part));
    EXPECT_EQ(read(repaired).samples.at(0).size(), 40u);

    EXPECT_EQ(recorder.pathOf("recording-20260101-000000.bdf"), repaired);
    EXPECT_EQ(recorder.pathOf("latest"), repaired);
    for (const char* refused : {"../recording-x.bdf", "recording-20260101-000000.bdf.part", "settings.json",
                                "recording-missing.bdf", "recording-/../../etc/passwd.bdf", ""})
        EXPECT_TRUE(recorder.pathOf(refused).isEmpty()) << refused;

    const QJsonArray list = recorder.list();
    ASSERT_EQ(list.size(), 1);
    const QJsonObject entry = list.at(0).toObject();
    EXPECT_EQ(entry["name"].toString(), "recording-20260101-000000.bdf");
    EXPECT_EQ(entry["size"].toDouble(), QFile(repaired).size());
    EXPECT_DOUBLE_EQ(entry["duration"].toDouble(), 0.4);
    EXPECT_FALSE(entry["start"].toString().isEmpty());
}

// The service's log lines, as the WebSocket terminal gets them.
class LogLines : public Tavrix::Common::JExtTerminal
{
public:
    LogLines()
    {
        m_console = std::tmpfile();
        Tavrix::Common::JMessageHandler::setConsole(m_console, m_console);
        m_previous = qInstallMessageHandler(&Tavrix::Common::JMessageHandler::handler);
        Tavrix::Common::JMessageHandler::ExtTerminal(this, true);
    }
    ~LogLines() override
    {
        Tavrix::Common::JMessageHandler::ExtTerminal(this, false);
        qInstallMessageHandler(m_previous);
        Tavrix::Common::JMessageHandler::setConsole(nullptr, nullptr);
        std::fclose(m_console);
    }
    void out(char, char*, char*, char* text) override { lines.push_back(text); }
    bool contains(const std::string& part) const
    {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return line.find(part) != std::string::npos; });
    }
    std::vector<std::string> lines;

private:
    FILE* m_console = nullptr;
    QtMessageHandler m_previous = nullptr;
};

// A burst of button pushes and cable events far above one per data record
// (a push in every frame for 0.4 s, ten cable events in one frame) is kept
// whole, each at its own sample. More than the file has room for are not
// lost without a word: the file says how many are missing and the log
// names every one.
TEST_F(SignalRecorderTest, AnnotationBurstsAreKeptAndAFloodIsToldOf)
{
    SignalRecorder recorder(m_dir.path());
    startRecording(recorder);
    // Three seconds at 100 frames a second: room for 60 annotations.
    for (uint16_t n = 0; n < 300; ++n) {
        if (n == 120) {
            for (int i = 0; i < 5; ++i) {
                recorder.handleCableRemoved();
                recorder.handleCableConnected();
            }
        }
        frame(recorder, n, n, n >= 100 && n < 140);
    }
    ASSERT_TRUE(recorder.stop("stopped"));
    ReadBack back = read(path());
    ASSERT_TRUE(back.opened);
    std::vector<std::pair<long long, std::string>> expected;
    for (int i = 0; i < 5; ++i) {
        expected.emplace_back(120 * EDFLIB_TIME_DIMENSION / rate, "Cable removed");
        expected.emplace_back(120 * EDFLIB_TIME_DIMENSION / rate, "Cable connected");
    }
    for (long long n = 100; n < 140; ++n)
        expected.emplace_back(n * EDFLIB_TIME_DIMENSION / rate, "Button pushed (frame " + std::to_string(n) + ")");
    auto byOnset = [](std::vector<std::pair<long long, std::string>> list) {
        std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        return list;
    };
    EXPECT_EQ(byOnset(back.annotationList), byOnset(expected));

    // A push in every frame of a one-second file: 100 for room of 20.
    LogLines log;
    startRecording(recorder);
    for (uint16_t n = 0; n < 105; ++n)
        frame(recorder, n, n, true);
    ASSERT_TRUE(recorder.stop("stopped"));
    back = read(path());
    ASSERT_TRUE(back.opened);
    ASSERT_EQ(back.annotationList.size(), 20u);
    EXPECT_EQ(back.annotations.at("81 annotations not stored (log)"), 18 * EDFLIB_TIME_DIMENSION / rate);
    EXPECT_EQ(back.annotations.at("Button pushed (frame 99)"), 99 * EDFLIB_TIME_DIMENSION / rate);
    EXPECT_EQ(back.annotations.count("Button pushed (frame 18)"), 0u);
    EXPECT_TRUE(log.contains("81 annotations found no room in the file")) << log.lines.size() << " lines";
    for (int n = 18; n < 99; ++n)
        EXPECT_TRUE(log.contains("annotation at " + QString::number(n / 100.0, 'f', 4).toStdString()
                                 + " s not stored (no room): Button pushed (frame " + std::to_string(n) + ")"))
            << n;
    // Those of the dropped partial record are told as such.
    EXPECT_TRUE(log.contains("annotation at 1.0400 s not stored (its samples are in the last partial data record, "
                             "not kept): Button pushed (frame 104)"));
}

// A link in the recordings directory is never followed: not when repairing
// what looks like an unfinished file (the repair writes), not when naming a
// new file, and it is neither listed nor served.
TEST_F(SignalRecorderTest, LinksInTheDirectoryAreNeverFollowed)
{
    QTemporaryDir outside;
    const QString victim = outside.filePath("victim.bdf");
    {
        SignalRecorder writer(outside.path());
        startRecording(writer);
        for (uint16_t n = 0; n < 40; ++n)
            frame(writer, n, n);
        ASSERT_TRUE(writer.stop("stopped"));
        ASSERT_TRUE(QFile::rename(outside.filePath(m_name), victim));
    }
    QFile original(victim);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray before = original.readAll();
    original.close();
    // A cut-off copy would be repaired (shortened, its header rewritten).
    QFile::resize(victim, before.size() - 5);
    QFile cut(victim);
    ASSERT_TRUE(cut.open(QIODevice::ReadOnly));
    const QByteArray cutBytes = cut.readAll();
    cut.close();

    const QByteArray part = QFile::encodeName(m_dir.filePath("recording-20260101-000000.bdf.part"));
    ASSERT_EQ(::symlink(QFile::encodeName(victim).constData(), part.constData()), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(victim).constData(),
                        QFile::encodeName(m_dir.filePath("recording-20260101-000001.bdf")).constData()),
              0);

    SignalRecorder recorder(m_dir.path());
    EXPECT_EQ(recorder.repairUnfinished(), 0);
    QFile after(victim);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_TRUE(after.readAll() == cutBytes) << "the file behind the link was changed";
    EXPECT_TRUE(QFileInfo(QFile::decodeName(part)).isSymLink()) << "the link was renamed";
    EXPECT_TRUE(recorder.list().isEmpty());
    EXPECT_TRUE(recorder.pathOf("recording-20260101-000001.bdf").isEmpty());
    EXPECT_TRUE(recorder.pathOf("latest").isEmpty());
}

// A file size limit (a full disk behaves alike) stops the recording with an
// error and leaves a valid file of the records written before.
TEST_F(SignalRecorderTest, WriteErrorStopsWithAValidFile)
{
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    std::signal(SIGXFSZ, SIG_IGN);

    SignalRecorder recorder(m_dir.path());
    std::vector<std::string> errors;
    QObject::connect(&recorder, &SignalRecorder::signalError,
                     [&errors](std::string type, std::string) { errors.push_back(type); });
    QSignalSpy complete(&recorder, &SignalRecorder::recordingIsComplete);
    startRecording(recorder);
    rlimit limited = previous;
    limited.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    // About 24 bytes a frame plus annotation space: well past 64 KiB.
    for (uint32_t n = 0; n < 20000 && recorder.isRunning(); ++n)
        frame(recorder, static_cast<uint16_t>(n), static_cast<int32_t>(n));
    const bool stopped = !recorder.isRunning();
    if (recorder.isRunning())
        recorder.stop("stopped");
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &previous), 0);

    ASSERT_TRUE(stopped) << "the limit did not stop the recording";
    EXPECT_EQ(errors, std::vector<std::string>{"CommandError"});
    ASSERT_EQ(complete.count(), 1);
    const ReadBack back = read(path());
    ASSERT_TRUE(back.opened) << "the file must stay readable";
    ASSERT_GT(back.samples[0].size(), 0u);
    EXPECT_EQ(back.samples[0].size() % 10, 0u);
    for (std::size_t i = 0; i < back.samples[0].size(); ++i)
        ASSERT_EQ(back.samples[0][i], static_cast<int>(i));
    EXPECT_LE(QFile(path()).size(), 64 * 1024);
}

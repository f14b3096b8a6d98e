#include "archive/bdfsignalwriter.h"

#include <edflib.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

using Tavrix::Archive::BdfRecordingInfo;
using Tavrix::Archive::BdfSignalInfo;
using Tavrix::Archive::BdfSignalWriter;

namespace {

// Three signals as the recorder has them: an ECG lead in µV over the full
// 24-bit range, a pressure in 0.01 mmHg counts and a unitless tone.
std::vector<BdfSignalInfo> testSignals()
{
    BdfSignalInfo ecg{"ECG II", "uV", 1.0};
    BdfSignalInfo pressure{"Pressure", "mmHg", 0.01, -8388600, 8388600};
    BdfSignalInfo tone{"Tone", "", 1.0};
    return {ecg, pressure, tone};
}

// The value of signal `signal` at sample `i`: the ECG runs into both ends of
// the 24-bit range.
int32_t valueAt(std::size_t signal, uint64_t i)
{
    switch (signal) {
    case 0:
        if (i == 3)
            return -8388608;
        if (i == 4)
            return 8388607;
        return static_cast<int32_t>((i * 7919) % 20001) - 10000;
    case 1:
        return static_cast<int32_t>(i * 100); // 1 mmHg per sample
    default:
        return static_cast<int32_t>(i % 3) - 1;
    }
}

struct ReadBack
{
    bool opened = false;
    edf_hdr_struct header{};
    std::vector<std::vector<int>> digital;
    std::vector<std::vector<double>> physical;
    std::vector<std::pair<long long, std::string>> annotations;
};

ReadBack readWithEdflib(const QString& path)
{
    ReadBack back;
    const QByteArray encoded = path.toLocal8Bit();
    if (edfopen_file_readonly(encoded.constData(), &back.header, EDFLIB_READ_ALL_ANNOTATIONS) != 0)
        return back;
    back.opened = true;
    const int handle = back.header.handle;
    for (int s = 0; s < back.header.edfsignals; ++s) {
        const auto count = static_cast<int>(back.header.signalparam[s].smp_in_file);
        std::vector<int> digital(static_cast<std::size_t>(count));
        std::vector<double> physical(static_cast<std::size_t>(count));
        edfseek(handle, s, 0, EDFSEEK_SET);
        EXPECT_EQ(edfread_digital_samples(handle, s, count, digital.data()), count);
        edfseek(handle, s, 0, EDFSEEK_SET);
        EXPECT_EQ(edfread_physical_samples(handle, s, count, physical.data()), count);
        back.digital.push_back(std::move(digital));
        back.physical.push_back(std::move(physical));
    }
    for (long long n = 0; n < back.header.annotations_in_file; ++n) {
        edf_annotation_struct annotation{};
        if (edf_get_annotation(handle, static_cast<int>(n), &annotation) == 0)
            back.annotations.emplace_back(annotation.onset, annotation.annotation);
    }
    edfclose_file(handle);
    return back;
}

class BdfSignalWriterTest : public ::testing::Test
{
protected:
    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    // Writes `samples` samples at 100 per second with two annotations.
    QString writeFile(uint64_t samples)
    {
        const QString file = path("signals.bdf");
        BdfSignalWriter writer;
        BdfRecordingInfo recording;
        recording.patientCode = "P-17";
        recording.patientName = "Ivanova Anna";
        recording.sex = 0;
        recording.birthDate = QDate(1980, 5, 17);
        recording.equipment = "Orvim Ferrow 8 AD";
        recording.recordingAdditional = "rest";
        EXPECT_TRUE(writer.open(file, 100, testSignals(), recording)) << writer.error().toStdString();
        writer.setStartTime(QDateTime(QDate(2026, 12, 9), QTime(10, 20, 30, 250)));
        std::vector<int32_t> frame(3);
        for (uint64_t i = 0; i < samples; ++i) {
            for (std::size_t s = 0; s < frame.size(); ++s)
                frame[s] = valueAt(s, i);
            EXPECT_TRUE(writer.addSample(frame.data()));
        }
        writer.annotate(25, "Button pushed (frame 25)");
        writer.annotate(0, u8"Метка");
        writer.annotate(samples - 1, "in the partial record");
        EXPECT_TRUE(writer.close()) << writer.error().toStdString();
        EXPECT_EQ(writer.samplesWritten(), samples / 10 * 10);
        return file;
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(BdfSignalWriterTest, EdflibReadsBackEverySampleUnchanged)
{
    // 105 samples: ten whole records of 10 samples, the last 5 are dropped.
    const ReadBack back = readWithEdflib(writeFile(105));
    ASSERT_TRUE(back.opened);
    EXPECT_EQ(back.header.filetype, EDFLIB_FILETYPE_BDFPLUS);
    ASSERT_EQ(back.header.edfsignals, 3);
    EXPECT_EQ(back.header.datarecords_in_file, 10);
    EXPECT_EQ(back.header.datarecord_duration, EDFLIB_TIME_DIMENSION / 10);
    EXPECT_STREQ(back.header.signalparam[0].label, "ECG II          ");
    EXPECT_STREQ(back.header.signalparam[0].physdimension, "uV      ");
    EXPECT_STREQ(back.header.signalparam[1].physdimension, "mmHg    ");
    EXPECT_EQ(back.header.signalparam[0].smp_in_datarecord, 10);

    for (std::size_t s = 0; s < 3; ++s) {
        ASSERT_EQ(back.digital[s].size(), 100u) << "signal " << s;
        for (uint64_t i = 0; i < 100; ++i)
            ASSERT_EQ(back.digital[s][i], valueAt(s, i)) << "signal " << s << " sample " << i;
    }
    // Physical values: µV one to one over the whole range, pressure in mmHg.
    EXPECT_DOUBLE_EQ(back.physical[0][3], -8388608.0);
    EXPECT_DOUBLE_EQ(back.physical[0][4], 8388607.0);
    EXPECT_NEAR(back.physical[1][42], 42.0, 1e-9);
}

TEST_F(BdfSignalWriterTest, HeaderCarriesPatientStartAndAnnotations)
{
    const ReadBack back = readWithEdflib(writeFile(105));
    ASSERT_TRUE(back.opened);
    EXPECT_STREQ(back.header.patientcode, "P-17");
    // EDFlib's reader turns the header's '_' back into blanks.
    EXPECT_STREQ(back.header.patient_name, "Ivanova Anna");
    EXPECT_STREQ(back.header.gender, "Female");
    EXPECT_STREQ(back.header.birthdate, "17 may 1980");
    EXPECT_STREQ(back.header.equipment, "Orvim Ferrow 8 AD");
    EXPECT_EQ(back.header.startdate_year, 2026);
    EXPECT_EQ(back.header.starttime_hour, 10);
    EXPECT_EQ(back.header.starttime_second, 30);
    EXPECT_EQ(back.header.starttime_subsecond, EDFLIB_TIME_DIMENSION / 4);

    // Sample 25 at 100 per second is 0.25 s; the annotation in the dropped
    // partial record is gone with it.
    ASSERT_EQ(back.annotations.size(), 2u);
    std::map<std::string, long long> onsets;
    for (const auto& annotation : back.annotations)
        onsets[annotation.second] = annotation.first;
    EXPECT_EQ(onsets.at("Button pushed (frame 25)"), EDFLIB_TIME_DIMENSION / 4);
    EXPECT_EQ(onsets.at(u8"Метка"), 0);
}

// EDFlib writes one annotation per annotation signal and data record and
// would drop the rest without a word. A burst far above that rate (45 in
// under half a second, one every sample) is kept whole while the file as a
// whole has room: each at its own sample.
TEST_F(BdfSignalWriterTest, AnnotationBurstsAreAllKeptAtTheirSamples)
{
    const QString file = path("burst.bdf");
    BdfSignalWriter writer;
    ASSERT_TRUE(writer.open(file, 100, testSignals(), {})) << writer.error().toStdString();
    // A label longer than the 40 bytes EDFlib writes, in Cyrillic: cut
    // between characters into several annotations at the same sample.
    const std::string label = u8"Проба с нагрузкой, пациентка лежит, 3 мин";
    ASSERT_GT(label.size(), BdfSignalWriter::maxAnnotationBytes);
    writer.annotate(0, label);
    std::vector<int32_t> frame(3, 0);
    // Three seconds: 30 data records, room for 60 annotations.
    for (uint64_t i = 0; i < 300; ++i) {
        if (i >= 100 && i < 145)
            writer.annotate(i, "Button pushed (frame " + std::to_string(i) + ")");
        if (i == 120 || i == 121)
            writer.annotate(i, i == 120 ? "Cable removed" : "Cable connected");
        ASSERT_TRUE(writer.addSample(frame.data()));
    }
    ASSERT_TRUE(writer.close()) << writer.error().toStdString();
    EXPECT_TRUE(writer.unstoredAnnotations().empty());

    const ReadBack back = readWithEdflib(file);
    ASSERT_TRUE(back.opened);
    std::map<std::string, long long> onsets;
    std::string labelRead;
    for (const auto& [onset, text] : back.annotations) {
        if (text.rfind("Button", 0) == 0 || text.rfind("Cable", 0) == 0) {
            EXPECT_EQ(onsets.count(text), 0u) << text;
            onsets[text] = onset;
        } else {
            EXPECT_EQ(onset, 0) << text;
            EXPECT_LE(text.size(), BdfSignalWriter::maxAnnotationBytes);
            labelRead += text;
        }
    }
    EXPECT_EQ(labelRead, label) << "the label's pieces, in order, are the label";
    EXPECT_EQ(QString::fromUtf8(labelRead.c_str()).toUtf8().toStdString(), labelRead) << "valid UTF-8";
    ASSERT_EQ(onsets.size(), 47u);
    for (uint64_t i = 100; i < 145; ++i)
        EXPECT_EQ(onsets.at("Button pushed (frame " + std::to_string(i) + ")"),
                  static_cast<long long>(i) * EDFLIB_TIME_DIMENSION / 100);
    EXPECT_EQ(onsets.at("Cable removed"), 120 * EDFLIB_TIME_DIMENSION / 100);
    EXPECT_EQ(onsets.at("Cable connected"), 121 * EDFLIB_TIME_DIMENSION / 100);
}

// More annotations than the file has room for: the first ones and the last
// are written, one more says how many are missing, and the writer lists them
// for the log; nothing disappears without a word.
TEST_F(BdfSignalWriterTest, AnnotationsBeyondTheRoomAreCountedAndListed)
{
    const QString file = path("flood.bdf");
    BdfSignalWriter writer;
    ASSERT_TRUE(writer.open(file, 100, testSignals(), {})) << writer.error().toStdString();
    std::vector<int32_t> frame(3, 0);
    // One second and a half record: 10 records, room for 20 annotations.
    for (uint64_t i = 0; i < 105; ++i) {
        if (i < 30)
            writer.annotate(i * 3, "A" + std::to_string(i));
        ASSERT_TRUE(writer.addSample(frame.data()));
    }
    writer.annotate(104, "in the partial record");
    ASSERT_TRUE(writer.close()) << writer.error().toStdString();

    const ReadBack back = readWithEdflib(file);
    ASSERT_TRUE(back.opened);
    ASSERT_EQ(back.annotations.size(), 20u);
    std::vector<std::pair<long long, std::string>> expected;
    for (uint64_t i = 0; i < 18; ++i)
        expected.emplace_back(static_cast<long long>(i * 3) * EDFLIB_TIME_DIMENSION / 100, "A" + std::to_string(i));
    expected.emplace_back(54 * EDFLIB_TIME_DIMENSION / 100, "11 annotations not stored (log)");
    expected.emplace_back(87 * EDFLIB_TIME_DIMENSION / 100, "A29");
    std::vector<std::pair<long long, std::string>> read = back.annotations;
    std::stable_sort(read.begin(), read.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    EXPECT_EQ(read, expected);

    EXPECT_EQ(writer.annotationsBeyondRoom(), 11u);
    std::vector<std::string> unstored;
    for (const BdfSignalWriter::Annotation& annotation : writer.unstoredAnnotations())
        unstored.push_back(std::to_string(annotation.sampleIndex) + " " + annotation.text);
    std::vector<std::string> missing{"104 in the partial record"};
    for (uint64_t i = 18; i < 29; ++i)
        missing.push_back(std::to_string(i * 3) + " A" + std::to_string(i));
    EXPECT_EQ(unstored, missing);
}

TEST(BdfSignalWriterAnnotationPieces, CutsBetweenUtf8Characters)
{
    EXPECT_EQ(BdfSignalWriter::annotationPieces(""), std::vector<std::string>{""});
    EXPECT_EQ(BdfSignalWriter::annotationPieces("short"), std::vector<std::string>{"short"});
    EXPECT_EQ(BdfSignalWriter::annotationPieces(std::string(40, 'a')), std::vector<std::string>{std::string(40, 'a')});
    EXPECT_EQ(BdfSignalWriter::annotationPieces(std::string(41, 'a')),
              (std::vector<std::string>{std::string(40, 'a'), "a"}));
    // "a" then two-byte letters: the 40th byte would be the first half of one.
    const std::string text = "a" + std::string(u8"ж") + std::string(u8"жжжжжжжжжжжжжжжжжжжжжж");
    const std::vector<std::string> pieces = BdfSignalWriter::annotationPieces(text);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].size(), 39u);
    EXPECT_EQ(pieces[0] + pieces[1], text);
    // A four-byte character never splits either.
    const std::string emoji = std::string(38, 'a') + u8"\U0001F600";
    EXPECT_EQ(BdfSignalWriter::annotationPieces(emoji), (std::vector<std::string>{std::string(38, 'a'), u8"\U0001F600"}));
}

TEST_F(BdfSignalWriterTest, RefusesWhatItCannotWrite)
{
    BdfSignalWriter writer;
    EXPECT_FALSE(writer.open(path("a.bdf"), 125, testSignals(), {})) << "125 is not a multiple of 10";
    EXPECT_FALSE(writer.open(path("b.bdf"), 100, {}, {})) << "no signals";
    EXPECT_FALSE(writer.open(path("missing/c.bdf"), 100, testSignals(), {}));
    EXPECT_FALSE(writer.error().isEmpty());
    EXPECT_FALSE(writer.isOpen());
    EXPECT_FALSE(QFile::exists(path("a.bdf")));
    const int32_t frame[3] = {1, 2, 3};
    EXPECT_FALSE(writer.addSample(frame)) << "nothing is open";

    // A file is only ever made new: a link planted under its name is not
    // followed, an existing file not overwritten.
    ASSERT_EQ(::symlink(QFile::encodeName(path("elsewhere.bdf")).constData(), QFile::encodeName(path("d.bdf")).constData()), 0);
    EXPECT_FALSE(writer.open(path("d.bdf"), 100, testSignals(), {}));
    EXPECT_FALSE(QFile::exists(path("elsewhere.bdf"))) << "the link was followed";
    {
        QFile existing(path("e.bdf"));
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("KEEP");
    }
    EXPECT_FALSE(writer.open(path("e.bdf"), 100, testSignals(), {}));
    QFile existing(path("e.bdf"));
    ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
    EXPECT_EQ(existing.readAll(), QByteArray("KEEP"));
}

TEST(BdfSignalWriterHeaderText, KeepsHeaderFieldsPrintableAscii)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "X"},
        {"Anna", "Anna"},
        {"Anna Maria", "Anna_Maria"},
        {u8"Иван", "Ivan"},
        {"a\tb", "ab"},
        {u8"Jürgen", "Juergen"},
        {u8"王", "?"}, // no Latin form in the scheme
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(BdfSignalWriter::headerText(input), expected) << input;
}

// MNE's reader shares no code with EDFlib: the file must read the same there.
TEST_F(BdfSignalWriterTest, MneReadsTheSameFile)
{
    const QString file = writeFile(200);
    QProcess python;
    const QString interpreter = QFile::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    python.start(interpreter, {QStringLiteral(DASTEL_CONFIG_DIR "/../tests/devicewebapi/read_bdf_with_mne.py"), file});
    ASSERT_TRUE(python.waitForFinished(120000)) << "python3 did not finish";
    if (python.exitCode() == 77)
        GTEST_SKIP() << "python3-mne is not installed";
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    const QJsonObject read = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    ASSERT_FALSE(read.isEmpty());

    EXPECT_EQ(read["sfreq"].toDouble(), 100.0);
    EXPECT_EQ(read["n_times"].toInt(), 200);
    const QJsonArray channels = read["channels"].toArray();
    ASSERT_EQ(channels.size(), 3);
    EXPECT_EQ(channels[0].toObject()["name"].toString(), "ECG II");
    EXPECT_EQ(channels[1].toObject()["name"].toString(), "Pressure");
    EXPECT_EQ(channels[0].toObject()["unit"].toString(), QString::fromUtf8(u8"µV"));
    const QJsonArray ecg = channels[0].toObject()["samples"].toArray();
    const QJsonArray pressure = channels[1].toObject()["samples"].toArray();
    ASSERT_EQ(ecg.size(), 200);
    for (int i = 0; i < 200; ++i) {
        // Within one LSB: MNE computes in floating point from the header's ranges.
        ASSERT_NEAR(ecg[i].toDouble(), valueAt(0, static_cast<uint64_t>(i)), 1.0) << "sample " << i;
        ASSERT_NEAR(pressure[i].toDouble(), valueAt(1, static_cast<uint64_t>(i)) * 0.01, 0.01) << "sample " << i;
    }
    bool button = false;
    for (const QJsonValue& annotation : read["annotations"].toArray()) {
        if (annotation.toObject()["description"].toString() == "Button pushed (frame 25)") {
            button = true;
            EXPECT_DOUBLE_EQ(annotation.toObject()["onset"].toDouble(), 0.25);
        }
    }
    EXPECT_TRUE(button) << QJsonDocument(read["annotations"].toArray()).toJson().toStdString();
    // This MNE reads the start to the second.
    EXPECT_TRUE(read["meas_date"].toString().startsWith("2026-12-09T10:20:30"))
        << read["meas_date"].toString().toStdString();
    // The patient fields as MNE parses the header (a name keeps its '_').
    const QJsonObject subject = read["subject"].toObject();
    EXPECT_EQ(subject["code"].toString(), "P-17");
    EXPECT_EQ(subject["sex"].toString(), "F");
    EXPECT_EQ(subject["birthday"].toString(), "1980-05-17");
    EXPECT_EQ(subject["name"].toString(), "Ivanova_Anna");
}

// A Cyrillic name: the header, ASCII only, holds it in Latin letters (as MNE
// and every EDF reader show it); the exact name is the annotation at 0 s.
TEST_F(BdfSignalWriterTest, CyrillicNameIsTransliteratedInTheHeaderAndExactInAnAnnotation)
{
    const QString file = path("cyrillic.bdf");
    {
        BdfSignalWriter writer;
        BdfRecordingInfo recording;
        recording.patientCode = "P-17";
        recording.patientName = u8"Иванов Пётр Сергеевич";
        recording.sex = 1;
        ASSERT_TRUE(writer.open(file, 100, testSignals(), recording)) << writer.error().toStdString();
        writer.setStartTime(QDateTime(QDate(2026, 12, 9), QTime(10, 20, 30)));
        std::vector<int32_t> frame(3, 0);
        for (int i = 0; i < 100; ++i)
            ASSERT_TRUE(writer.addSample(frame.data()));
        ASSERT_TRUE(writer.close());
    }
    const ReadBack back = readWithEdflib(file);
    ASSERT_TRUE(back.opened);
    EXPECT_STREQ(back.header.patient_name, "Ivanov Petr Sergeevich");
    std::string exact;
    for (const auto& annotation : back.annotations) {
        if (annotation.first == 0)
            exact += annotation.second;
    }
    EXPECT_EQ(exact, u8"Patient: Иванов Пётр Сергеевич");

    QProcess python;
    const QString interpreter = QFile::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    python.start(interpreter, {QStringLiteral(DASTEL_CONFIG_DIR "/../tests/devicewebapi/read_bdf_with_mne.py"), file, "none"});
    ASSERT_TRUE(python.waitForFinished(120000)) << "python3 did not finish";
    if (python.exitCode() == 77)
        GTEST_SKIP() << "python3-mne is not installed";
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    const QJsonObject read = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    EXPECT_EQ(read["subject"].toObject()["name"].toString(), "Ivanov_Petr_Sergeevich");
    QString annotated;
    for (const QJsonValue& annotation : read["annotations"].toArray()) {
        if (annotation.toObject()["onset"].toDouble() == 0.0)
            annotated += annotation.toObject()["description"].toString();
    }
    EXPECT_EQ(annotated, QString::fromUtf8(u8"Patient: Иванов Пётр Сергеевич"));
}

// An ASCII name needs no annotation: the header holds it whole.
TEST_F(BdfSignalWriterTest, AsciiNameAddsNoAnnotation)
{
    const ReadBack back = readWithEdflib(writeFile(105));
    ASSERT_TRUE(back.opened);
    for (const auto& annotation : back.annotations)
        EXPECT_EQ(annotation.second.rfind("Patient", 0), std::string::npos) << annotation.second;
}

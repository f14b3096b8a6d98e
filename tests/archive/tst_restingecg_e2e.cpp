// Resting ECGs end to end: the real service under the simulated recorder
// takes an ECG, writes it as a DICOM file and sends it to a real Orthanc on
// loopback. The file is read back with pydicom (which shares no code with
// DCMTK) and checked against the simulator's waveform sample by sample,
// validated with dciodvfy and read with dcmdump. Failures of the PACS keep
// the file, say what went wrong, and a retry sends it once the cause is gone.

#include "devicewebapi/serviceclient.h"
#include "archive/orthancserver.h"
#include "ecgwaveform.h"
#include "support/msgpackreader.h"

#include <QDir>
#include <QJsonArray>
#include <QProcess>
#include <QTcpServer>
#include <QWebSocket>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

using ArchiveTesting::OrthancServer;
using ArchiveTesting::httpGet;
using TestSupport::MsgReader;
using TestSupport::MsgValue;
using ServiceTesting::pump;

namespace {

constexpr int frequency = 500;

struct ToolRun
{
    bool ran = false;
    int exitCode = -1;
    QString output;
};

ToolRun runTool(const QString& program, const QStringList& arguments)
{
    ToolRun run;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(10000) || !process.waitForFinished(180000))
        return run;
    run.ran = true;
    run.exitCode = process.exitCode();
    run.output = QString::fromUtf8(process.readAll());
    return run;
}

// The file as pydicom reads it (tests/archive/read_dicom_ecg.py).
QJsonObject readWithPydicom(const QString& path, QString* problem)
{
    QProcess python;
    python.start(QFile::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3",
                 {QStringLiteral(DASTEL_CONFIG_DIR "/../tests/archive/read_dicom_ecg.py"), path});
    if (!python.waitForFinished(180000)) {
        *problem = "python3 did not finish: " + python.errorString();
        return {};
    }
    if (python.exitCode() == 77) {
        *problem = "python3-pydicom is not installed (scripts/setup.sh installs it)";
        return {};
    }
    if (python.exitCode() != 0) {
        *problem = QString::fromUtf8(python.readAllStandardError());
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

QString labelsOf(const QJsonObject& file)
{
    QStringList labels;
    for (const QJsonValue& lead : file["leads"].toArray())
        labels << lead.toObject()["label"].toString();
    return labels.join(' ');
}

std::vector<double> samplesOf(const QJsonObject& file, int lead)
{
    std::vector<double> values;
    for (const QJsonValue& value : file["leads"].toArray().at(lead).toObject()["microvolts"].toArray())
        values.push_back(value.toDouble());
    return values;
}

// Where the file's recorded leads (I, II, V1–V6 at file positions 0, 1,
// 6–11) are the simulator's waveform at every `step`-th of consecutive
// frames, each within `tolerance` µV: the first frame's index since the
// converter went on, or -1 when no stretch matches.
int64_t firstFrameOfWaveform(const QJsonObject& file, double tolerance, int rate = frequency, int step = 1)
{
    const Tavrix::Simulator::EcgWaveform waveform(72.0);
    const int fileLead[8] = {0, 1, 6, 7, 8, 9, 10, 11};
    std::vector<std::vector<double>> leads;
    for (int lead : fileLead)
        leads.push_back(samplesOf(file, lead));
    const std::size_t count = leads[0].size();
    auto matches = [&](int64_t first, std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            const auto sent =
                waveform.leads(static_cast<double>(first + static_cast<int64_t>(i) * step) / rate);
            for (std::size_t lead = 0; lead < 8; ++lead) {
                if (std::abs(leads[lead][i] - sent[lead]) > tolerance)
                    return false;
            }
        }
        return true;
    };
    // The flat stretches between beats match many places: anchor on two seconds.
    const std::size_t anchor = std::min<std::size_t>(count, 2 * static_cast<std::size_t>(rate / step));
    for (int64_t first = 0; first < 300 * rate; ++first) {
        if (matches(first, 0, anchor))
            return matches(first, anchor, count) ? first : -1;
    }
    return -1;
}

// The "restingEcg" and "error" events of the event stream.
class ArchiveEvents
{
public:
    explicit ArchiveEvents(quint16 port)
    {
        QObject::connect(&m_socket, &QWebSocket::binaryMessageReceived, [this](const QByteArray& message) {
            MsgValue value;
            MsgReader reader(message);
            if (!reader.readDocument(value) || value["data"].kind != MsgValue::Kind::Array)
                return;
            const MsgValue& event = value["data"].items.at(0);
            if (event["type"].text == "restingEcg")
                m_ecgs.push_back(event);
            else if (event["type"].text == "error")
                m_errors.push_back(event);
        });
        m_socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    }
    bool waitConnected() { return pump([this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, 10000); }
    const std::vector<MsgValue>& ecgs() const { return m_ecgs; }
    const std::vector<MsgValue>& errors() const { return m_errors; }

private:
    QWebSocket m_socket;
    std::vector<MsgValue> m_ecgs;
    std::vector<MsgValue> m_errors;
};

const QJsonObject patient{{"PatientId", "ECG-30"},
                          {"Surname", QString::fromUtf8("Иванова")},
                          {"Name", QString::fromUtf8("Анна")},
                          {"Patronymic", QString::fromUtf8("Сергеевна")},
                          {"Sex", QString::fromUtf8("ж")},
                          {"BirthdayDate", "1980-05-17"},
                          {"LeadType", 1},
                          {"StartTime", "2026-12-10 10:00:00"}};

class RestingEcgTest : public ServiceTesting::ServiceFixture
{
protected:
    static void SetUpTestSuite() { s_network = ArchiveTesting::privateNetwork(); }

    void SetUp() override
    {
        if (!s_network.empty())
            GTEST_SKIP() << "Orthanc binds every interface, so these tests run it only in a network namespace "
                            "of their own: "
                         << s_network;
    }

    // The service with `pacs` as its "pacs" settings, at `rate` frames/s.
    void startWith(const QJsonObject& pacs, int rate = frequency)
    {
        if (!pacs.isEmpty())
            service.setExtraSettings(QJsonObject{{"pacs", pacs}});
        // A span is never cut by a frame the recorder dropped.
        startKeepingEveryFrame(rate);
    }

    QJsonObject pacsOf(const OrthancServer& orthanc, const char* calledAeTitle = "ORTHANC")
    {
        return QJsonObject{{"host", "127.0.0.1"},
                           {"port", orthanc.dicomPort()},
                           {"calledAeTitle", calledAeTitle},
                           {"callingAeTitle", "DASTEL"},
                           {"timeoutSeconds", 20}};
    }

    // A command whose answer may take the span and a send: waits for it
    // as long as a loaded machine needs.
    QJsonObject slowAnswerOf(const std::string& name, const QJsonValue& data = QJsonValue::Undefined)
    {
        QJsonObject request{{"cmd", QString::fromStdString(name)}, {"uid", 7}};
        if (!data.isUndefined())
            request.insert("data", data);
        return QJsonDocument::fromJson(
                   ServiceTesting::PendingRequest(service.httpPort(), QJsonDocument(request).toJson(QJsonDocument::Compact))
                       .body(300000))
            .object();
    }

    QString pathOf(const QString& name) const { return service.directory() + "/recordings/" + name; }

    static std::string s_network;
};

std::string RestingEcgTest::s_network;

} // namespace

// The standard 12-lead set at 500 frames/s: the file reaches Orthanc as a
// 12-lead ECG object with the patient's Cyrillic name, the twelve leads with
// their standard codes and the recorder's rate; every recorded lead equals
// what the simulator sent within one unit of the file's resolution and the
// limb leads follow from I and II; dciodvfy finds no error, dcmdump reads
// it, and the service lists and serves it beside the BDF recordings.
TEST_F(RestingEcgTest, TwelveLeadEcgReachesOrthancAsTheSimulatorSentIt)
{
    OrthancServer orthanc;
    const std::string problem = orthanc.start();
    ASSERT_TRUE(problem.empty()) << problem;
    startWith(pacsOf(orthanc));
    ArchiveEvents events(service.eventPort());
    ASSERT_TRUE(events.waitConnected());

    ASSERT_EQ(answerOf("SetExaminationInfo", patient)["status"].toString(), "ok");
    // No "Seconds": the usual 10 s.
    const QJsonObject answer = slowAnswerOf("TakeRestingEcg");
    ASSERT_EQ(answer["status"].toString(), "ok") << QJsonDocument(answer).toJson().toStdString()
                                                 << service.sim().output();
    const QJsonObject data = answer["data"].toObject();
    const QString name = data["FileName"].toString();
    EXPECT_TRUE(name.startsWith("ecg-") && name.endsWith(".dcm")) << name.toStdString();
    EXPECT_EQ(data["Url"].toString(), "/recordings/" + name);
    EXPECT_TRUE(data["Sent"].toBool()) << QJsonDocument(data).toJson().toStdString() << orthanc.output().toStdString();
    EXPECT_EQ(data["PacsStatus"].toString(), "sent");

    // Orthanc holds the object the service kept (its file header names
    // Orthanc as the source, so the object is compared, not the bytes).
    const QStringList instances = orthanc.instances();
    ASSERT_EQ(instances.size(), 1);
    const QByteArray stored = orthanc.instanceFile(instances.first());
    QFile kept(pathOf(name));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    const QByteArray keptBytes = kept.readAll();
    const QString fetched = service.directory() + "/from-orthanc.dcm";
    QFile copy(fetched);
    ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
    copy.write(stored);
    copy.close();

    QString readProblem;
    const QJsonObject file = readWithPydicom(fetched, &readProblem);
    ASSERT_FALSE(file.isEmpty()) << readProblem.toStdString();
    EXPECT_TRUE(file == readWithPydicom(pathOf(name), &readProblem)) << "Orthanc's copy differs from the kept file";
    EXPECT_EQ(file["sopClass"].toString(), "1.2.840.10008.5.1.4.1.1.9.1.1");
    EXPECT_EQ(file["characterSet"].toString(), "ISO_IR 192");
    EXPECT_EQ(file["patientName"].toObject()["family"].toString(), QString::fromUtf8("Иванова"));
    EXPECT_EQ(file["patientName"].toObject()["given"].toString(), QString::fromUtf8("Анна"));
    EXPECT_EQ(file["patientName"].toObject()["middle"].toString(), QString::fromUtf8("Сергеевна"));
    EXPECT_EQ(file["patientId"].toString(), "ECG-30");
    EXPECT_EQ(file["patientSex"].toString(), "F");
    EXPECT_EQ(file["birthDate"].toString(), "19800517");
    EXPECT_EQ(file["modality"].toString(), "ECG");
    EXPECT_EQ(file["model"].toString(), "Orvim Ferrow 8");
    EXPECT_FALSE(file["serialNumber"].toString().isEmpty());
    const QJsonArray versions = file["softwareVersions"].toArray();
    ASSERT_EQ(versions.size(), 3);
    EXPECT_TRUE(versions[0].toString().startsWith("firmware ")) << versions[0].toString().toStdString();
    EXPECT_TRUE(versions[1].toString().startsWith("hardware ")) << versions[1].toString().toStdString();
    EXPECT_EQ(versions[2].toString(), "Dastel " DASTEL_TEST_VERSION);
    EXPECT_TRUE(file["studyInstance"].toString().startsWith("2.25."));
    EXPECT_EQ(labelsOf(file), "I II III aVR aVL aVF V1 V2 V3 V4 V5 V6");
    const char* codes[12] = {"1", "2", "61", "62", "63", "64", "3", "4", "5", "6", "7", "8"};
    for (int lead = 0; lead < 12; ++lead) {
        const QJsonObject channel = file["leads"].toArray().at(lead).toObject();
        EXPECT_EQ(channel["code"].toString(), QString("5.6.3-9-") + codes[lead]) << lead;
        EXPECT_EQ(channel["scheme"].toString(), "SCPECG");
        EXPECT_EQ(channel["unit"].toString(), "uV");
    }
    EXPECT_EQ(file["samplingFrequency"].toDouble(), frequency);
    EXPECT_EQ(file["originality"].toString(), "ORIGINAL");
    EXPECT_EQ(file["samples"].toInt(), 10 * frequency);

    // Every recorded lead is the simulator's waveform over one span of
    // consecutive frames, within one unit of the file's resolution (the
    // waveform's own time base rounds to ±1 µV).
    const double resolution = file["leads"].toArray().at(0).toObject()["resolution"].toDouble();
    EXPECT_GT(resolution, 0);
    EXPECT_GE(firstFrameOfWaveform(file, std::max(1.0, resolution)), 0)
        << "the file's samples are not the simulator's waveform over consecutive frames";
    // The limb leads follow from the stored I and II.
    const std::vector<double> one = samplesOf(file, 0), two = samplesOf(file, 1);
    const std::vector<double> three = samplesOf(file, 2), aVR = samplesOf(file, 3), aVL = samplesOf(file, 4),
                              aVF = samplesOf(file, 5);
    int wrong = 0;
    for (std::size_t i = 0; i < one.size(); ++i) {
        wrong += std::abs(three[i] - (two[i] - one[i])) > resolution;
        wrong += std::abs(aVR[i] + (one[i] + two[i]) / 2) > resolution;
        wrong += std::abs(aVL[i] - (one[i] - two[i] / 2)) > resolution;
        wrong += std::abs(aVF[i] - (two[i] - one[i] / 2)) > resolution;
    }
    EXPECT_EQ(wrong, 0) << "derived limb lead samples off by more than one unit";

    // The beats of the span, found by the live detector's code, give the
    // heart rate measurement: the simulated recorder beats 72 times a minute.
    bool rated = false;
    for (const QJsonValue& annotation : file["annotations"].toArray()) {
        const QJsonObject entry = annotation.toObject();
        if (!entry.contains("value"))
            continue;
        rated = true;
        EXPECT_EQ(entry["unit"].toString(), "/min");
        EXPECT_NEAR(entry["value"].toDouble(), 72.0, 2.0);
    }
    EXPECT_TRUE(rated) << "no heart rate measurement in the file";

    // The field's own tools.
    const ToolRun verify = runTool("dciodvfy", {fetched});
    ASSERT_TRUE(verify.ran) << "dciodvfy did not run (scripts/setup.sh installs dicom3tools)";
    EXPECT_FALSE(verify.output.contains("Error")) << verify.output.toStdString();
    const ToolRun dump = runTool("dcmdump", {fetched});
    ASSERT_TRUE(dump.ran) << "dcmdump did not run (scripts/setup.sh installs dcmtk)";
    EXPECT_EQ(dump.exitCode, 0) << dump.output.toStdString();
    EXPECT_TRUE(dump.output.contains("TwelveLeadECGWaveformStorage")) << dump.output.toStdString();

    // Listed and served beside the BDF recordings.
    const QJsonArray listed = QJsonDocument::fromJson(httpGet(service.httpPort(), "/recordings/").body).array();
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed[0].toObject()["name"].toString(), name);
    EXPECT_DOUBLE_EQ(listed[0].toObject()["duration"].toDouble(), 10.0);
    EXPECT_EQ(listed[0].toObject()["pacsStatus"].toString(), "sent");
    EXPECT_TRUE(httpGet(service.httpPort(), "/recordings/" + name).body == keptBytes);

    ASSERT_TRUE(pump([&] { return !events.ecgs().empty(); }, 10000)) << "no restingEcg event";
    EXPECT_EQ(events.ecgs().at(0)["file"].text, name.toStdString());
    EXPECT_EQ(events.ecgs().at(0)["pacsStatus"].text, "sent");

    // docs/example-resting-ecg.dcm is this file:
    // DASTEL_EXAMPLE_DCM=docs/example-resting-ecg.dcm build/tests/tst_archive --gtest_filter='*TwelveLead*'
    const QString example = qEnvironmentVariable("DASTEL_EXAMPLE_DCM");
    if (!example.isEmpty()) {
        QFile::remove(example);
        EXPECT_TRUE(QFile::copy(pathOf(name), example)) << example.toStdString();
    }
}

// Every way the PACS can fail keeps the file and says which it was, on the
// answer, the event stream and the file list; "SendToPacs" sends it once
// the cause is gone.
TEST_F(RestingEcgTest, PacsFailuresKeepTheFileAndARetrySendsIt)
{
    OrthancServer orthanc; // not started yet: nothing listens on its port
    QJsonObject pacs = pacsOf(orthanc);
    pacs["timeoutSeconds"] = 3;
    startWith(pacs);
    ArchiveEvents events(service.eventPort());
    ASSERT_TRUE(events.waitConnected());
    ASSERT_EQ(answerOf("SetExaminationInfo", patient)["status"].toString(), "ok");

    // Unreachable.
    const QJsonObject taken = slowAnswerOf("TakeRestingEcg", QJsonObject{{"Seconds", 5}});
    ASSERT_EQ(taken["status"].toString(), "ok") << QJsonDocument(taken).toJson().toStdString();
    const QString name = taken["data"].toObject()["FileName"].toString();
    EXPECT_FALSE(taken["data"].toObject()["Sent"].toBool());
    EXPECT_EQ(taken["data"].toObject()["PacsStatus"].toString(), "unreachable");
    EXPECT_FALSE(taken["data"].toObject()["errortext"].toString().isEmpty());
    QFile kept(pathOf(name));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    const QByteArray bytes = kept.readAll();
    EXPECT_GT(bytes.size(), 5 * frequency * 12 * 2);

    auto retry = [&] { return slowAnswerOf("SendToPacs", QJsonObject{{"FileName", name}})["data"].toObject(); };

    // A PACS that takes the connection and then says nothing.
    {
        QTcpServer silent;
        ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, orthanc.dicomPort()));
        const QJsonObject answer = retry();
        EXPECT_EQ(answer["PacsStatus"].toString(), "timeout") << QJsonDocument(answer).toJson().toStdString();
        EXPECT_FALSE(answer["Sent"].toBool());
    }

    // The wrong called AE title.
    ASSERT_TRUE(orthanc.start(QJsonObject{{"DicomAet", "HOSPITAL"}}).empty());
    QJsonObject answer = retry();
    EXPECT_EQ(answer["PacsStatus"].toString(), "associationRejected") << QJsonDocument(answer).toJson().toStdString();
    EXPECT_TRUE(answer["errortext"].toString().contains("ORTHANC")) << answer["errortext"].toString().toStdString();

    // A PACS that does not store what this service sends.
    ASSERT_TRUE(orthanc
                    .start(QJsonObject{{"DicomAlwaysAllowStore", false},
                                       {"DicomModalities",
                                        QJsonObject{{"dastel", QJsonObject{{"AET", "DASTEL"},
                                                                           {"Host", "127.0.0.1"},
                                                                           {"Port", 104},
                                                                           {"AllowStore", false}}}}}})
                    .empty());
    answer = retry();
    EXPECT_EQ(answer["PacsStatus"].toString(), "storeRefused") << QJsonDocument(answer).toJson().toStdString();
    EXPECT_TRUE(orthanc.instances().isEmpty());

    // Nothing was lost meanwhile, and the file list says the last outcome.
    QFile again(pathOf(name));
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_TRUE(again.readAll() == bytes);
    const QJsonArray listed = QJsonDocument::fromJson(httpGet(service.httpPort(), "/recordings/").body).array();
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed[0].toObject()["pacsStatus"].toString(), "storeRefused");

    // The PACS as it should be: the retry sends the file.
    ASSERT_TRUE(orthanc.start().empty());
    answer = retry();
    EXPECT_TRUE(answer["Sent"].toBool()) << QJsonDocument(answer).toJson().toStdString();
    EXPECT_EQ(answer["PacsStatus"].toString(), "sent");
    const QStringList instances = orthanc.instances();
    ASSERT_EQ(instances.size(), 1);
    QString readProblem;
    EXPECT_EQ(orthanc.instanceTags(instances.first())["SOPInstanceUID"].toString(),
              readWithPydicom(pathOf(name), &readProblem)["sopInstance"].toString());

    // Each outcome was told on the event stream, each failure also as an error.
    ASSERT_TRUE(pump([&] { return events.ecgs().size() >= 5; }, 10000)) << events.ecgs().size() << " events";
    std::vector<std::string> told;
    for (const MsgValue& event : events.ecgs())
        told.push_back(event["pacsStatus"].text);
    EXPECT_EQ(told, (std::vector<std::string>{"unreachable", "timeout", "associationRejected", "storeRefused", "sent"}));
    EXPECT_GE(events.errors().size(), 4u);

    // What cannot be sent is refused before anything goes out.
    for (const char* bad : {"../settings.json", "recording-x.bdf", "ecg-none.dcm"}) {
        const QJsonObject refused = slowAnswerOf("SendToPacs", QJsonObject{{"FileName", bad}});
        EXPECT_EQ(refused["errorcode"].toString(), "BAD_DATA") << bad;
    }
}

// DICOM over TLS: Orthanc asks for this service's certificate and the
// service checks Orthanc's against the trusted CA; both made here with openssl.
TEST_F(RestingEcgTest, TlsSendReachesOrthanc)
{
    OrthancServer orthanc;
    const QString dir = orthanc.directory();
    auto openssl = [&](const QStringList& arguments) {
        QProcess process;
        process.setWorkingDirectory(dir);
        process.start("openssl", arguments);
        return process.waitForFinished(60000) && process.exitCode() == 0;
    };
    ASSERT_TRUE(openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
                         "-days", "2", "-subj", "/CN=Dastel test CA"}));
    for (const QString& party : {QStringLiteral("server"), QStringLiteral("client")}) {
        ASSERT_TRUE(openssl({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", party + ".key", "-out",
                             party + ".csr", "-subj", "/CN=" + party}));
        ASSERT_TRUE(openssl({"x509", "-req", "-in", party + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                             "-CAcreateserial", "-out", party + ".pem", "-days", "2"}));
    }
    const std::string problem = orthanc.start(QJsonObject{{"DicomTlsEnabled", true},
                                                          {"DicomTlsCertificate", dir + "/server.pem"},
                                                          {"DicomTlsPrivateKey", dir + "/server.key"},
                                                          {"DicomTlsTrustedCertificates", dir + "/ca.pem"},
                                                          {"DicomTlsRemoteCertificateRequired", true}});
    ASSERT_TRUE(problem.empty()) << problem;
    QJsonObject pacs = pacsOf(orthanc);
    pacs["tls"] = QJsonObject{
        {"certificate", dir + "/client.pem"}, {"privateKey", dir + "/client.key"}, {"trustedCa", dir + "/ca.pem"}};
    startWith(pacs);
    ASSERT_EQ(answerOf("SetExaminationInfo", patient)["status"].toString(), "ok");

    const QJsonObject answer = slowAnswerOf("TakeRestingEcg", QJsonObject{{"Seconds", 5}});
    ASSERT_EQ(answer["status"].toString(), "ok") << QJsonDocument(answer).toJson().toStdString();
    EXPECT_TRUE(answer["data"].toObject()["Sent"].toBool()) << QJsonDocument(answer).toJson().toStdString()
                                                            << orthanc.output().toStdString();
    const QStringList instances = orthanc.instances();
    ASSERT_EQ(instances.size(), 1);
    QString readProblem;
    EXPECT_EQ(orthanc.instanceTags(instances.first())["SOPInstanceUID"].toString(),
              readWithPydicom(pathOf(answer["data"].toObject()["FileName"].toString()), &readProblem)["sopInstance"]
                  .toString());
}

// A recorder faster than a file may hold (2000 frames/s) is resampled to
// 1000 samples/s behind the anti-alias filter, and the file says so; the
// ECG itself is still the simulator's, every other frame, within what the
// filter takes off the steepest slopes.
TEST_F(RestingEcgTest, FasterRecorderIsResampledAndTheFileSaysSo)
{
    startWith({}, 2000);
    ASSERT_EQ(answerOf("SetExaminationInfo", patient)["status"].toString(), "ok");
    const QJsonObject answer = slowAnswerOf("TakeRestingEcg", QJsonObject{{"Seconds", 5}});
    ASSERT_EQ(answer["status"].toString(), "ok") << QJsonDocument(answer).toJson().toStdString();
    const QJsonObject data = answer["data"].toObject();
    EXPECT_FALSE(data["Sent"].toBool());
    EXPECT_EQ(data["PacsStatus"].toString(), "notConfigured");

    QString readProblem;
    const QJsonObject file = readWithPydicom(pathOf(data["FileName"].toString()), &readProblem);
    ASSERT_FALSE(file.isEmpty()) << readProblem.toStdString();
    EXPECT_EQ(file["samplingFrequency"].toDouble(), 1000);
    EXPECT_EQ(file["samples"].toInt(), 5000);
    EXPECT_EQ(file["originality"].toString(), "DERIVED");
    EXPECT_EQ(file["leads"].toArray().at(0).toObject()["filterHigh"].toDouble(), 400);
    const QJsonArray annotations = file["annotations"].toArray();
    ASSERT_FALSE(annotations.isEmpty());
    EXPECT_EQ(annotations.at(0).toObject()["text"].toString(),
              "Resampled from 2000 Hz to 1000 Hz after an anti-alias low-pass filter at 400 Hz");
    EXPECT_GE(firstFrameOfWaveform(file, 25, 2000, 2), 0)
        << "the resampled leads are not the simulator's waveform at every other frame";

    const ToolRun verify = runTool("dciodvfy", {pathOf(data["FileName"].toString())});
    ASSERT_TRUE(verify.ran);
    EXPECT_FALSE(verify.output.contains("Error")) << verify.output.toStdString();
}

// Requests that cannot be served are answered at once and take nothing;
// a second take while one runs is told BUSY.
TEST_F(RestingEcgTest, BadRequestsAndASecondTakeAreRefused)
{
    startWith({});
    for (const QJsonValue& bad : {QJsonValue(QJsonObject{{"Seconds", 4}}), QJsonValue(QJsonObject{{"Seconds", 61}}),
                                  QJsonValue(QJsonObject{{"Seconds", "10"}}), QJsonValue(QJsonObject{{"Seconds", 10.5}}),
                                  QJsonValue(QJsonArray{10}), QJsonValue("ten")})
        EXPECT_EQ(answerOf("TakeRestingEcg", bad)["errorcode"].toString(), "BAD_DATA")
            << QJsonDocument(QJsonArray{bad}).toJson().toStdString();
    EXPECT_EQ(answerOf("SendToPacs", QJsonObject{{"FileName", 3}})["errorcode"].toString(), "BAD_DATA");

    const QByteArray take = R"({"cmd":"TakeRestingEcg","uid":1,"data":{"Seconds":5}})";
    ServiceTesting::PendingRequest first(service.httpPort(), take);
    ServiceTesting::PendingRequest second(service.httpPort(), take);
    const QJsonObject one = QJsonDocument::fromJson(first.body(300000)).object();
    const QJsonObject two = QJsonDocument::fromJson(second.body(300000)).object();
    QStringList outcomes{one["status"].toString() == "ok" ? "ok" : one["errorcode"].toString(),
                         two["status"].toString() == "ok" ? "ok" : two["errorcode"].toString()};
    outcomes.sort();
    EXPECT_EQ(outcomes, (QStringList{"BUSY", "ok"}));
    const QJsonArray listed = QJsonDocument::fromJson(httpGet(service.httpPort(), "/recordings/").body).array();
    EXPECT_EQ(listed.size(), 1);
}

// A recorder unplugged during the span ends the take with
// DEVICE_DISCONNECTED, and nothing is written.
TEST_F(RestingEcgTest, UnpluggedRecorderEndsTheTakeWithNothingWritten)
{
    startWith({});
    const std::size_t from = service.sim().output().size();
    ServiceTesting::PendingRequest take(service.httpPort(), R"({"cmd":"TakeRestingEcg","uid":1,"data":{"Seconds":30}})");
    ASSERT_NE(service.sim().waitForOutput("resting ECG: taking", 60000, from), std::string::npos)
        << service.sim().output();
    control("unplug");
    const QJsonObject answer = QJsonDocument::fromJson(take.body(120000)).object();
    EXPECT_EQ(answer["errorcode"].toString(), "DEVICE_DISCONNECTED") << QJsonDocument(answer).toJson().toStdString();
    EXPECT_FALSE(answer["errortext"].toString().isEmpty());
    EXPECT_TRUE(QDir(service.directory() + "/recordings").entryList({"ecg-*"}, QDir::Files).isEmpty());
}

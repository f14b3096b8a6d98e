// The archive's parts without the service: the rate a file may hold and the
// anti-alias filter, the lead sets, the span of frames, the file as DCMTK
// and dciodvfy read it back, UIDs and the PACS settings.

#include "archive/dicomecgwriter.h"
#include "archive/dicomuids.h"
#include "archive/ecgleadset.h"
#include "archive/ecgresampler.h"
#include "archive/pacssettings.h"
#include "archive/restingecgtake.h"

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmdata/dctk.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <functional>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <set>

using namespace Tavrix::Archive;

namespace {

std::vector<double> sine(double hz, int rate, int count, double amplitude = 1000)
{
    std::vector<double> values;
    for (int i = 0; i < count; ++i)
        values.push_back(amplitude * std::sin(2 * M_PI * hz * i / rate));
    return values;
}

double peakBetween(const std::vector<double>& values, std::size_t from, std::size_t to)
{
    double peak = 0;
    for (std::size_t i = from; i < to; ++i)
        peak = std::max(peak, std::abs(values[i]));
    return peak;
}

RestingEcgRecord recordOf(const EcgLeadSet& set, std::vector<std::vector<double>> recorded, int rate)
{
    RestingEcgRecord record;
    record.patient.id = "T-1";
    record.patient.surname = "Doe";
    record.twelveLead = set.isStandardTwelveLead();
    record.leads = set.leads();
    record.samples = set.leadsFrom(recorded);
    record.sampleRate = rate;
    record.recorderRate = rate;
    record.equipment.manufacturer = "Orvim";
    record.studyUid = DicomUids::create();
    record.seriesUid = DicomUids::create();
    record.instanceUid = DicomUids::create();
    return record;
}

} // namespace

TEST(EcgResamplerTest, ArchiveRateIsTheLargestWholeFractionThatFits)
{
    struct Row { int recorder, seconds, expected; };
    for (const Row& row : {Row{250, 10, 250}, Row{500, 10, 500}, Row{1000, 10, 1000}, Row{2000, 10, 1000},
                           Row{2000, 16, 1000}, Row{2000, 17, 500}, Row{1000, 20, 500}, Row{500, 60, 250},
                           Row{2000, 60, 250}, Row{250, 60, 250}, Row{100, 10, 0}, Row{2000, 0, 0}})
        EXPECT_EQ(EcgResampler::archiveRate(row.recorder, row.seconds), row.expected)
            << row.recorder << " frames/s for " << row.seconds << " s";
}

// Decimating 2000/s to 1000/s keeps the ECG band and removes what would
// fold back into it.
TEST(EcgResamplerTest, DecimationKeepsTheBandAndRemovesWhatWouldAlias)
{
    EXPECT_EQ(EcgResampler::decimate({1, 2, 3}, 1), (std::vector<double>{1, 2, 3}));
    const std::vector<double> flat = EcgResampler::decimate(std::vector<double>(4000, 250.0), 2);
    ASSERT_EQ(flat.size(), 2000u);
    for (double value : flat)
        ASSERT_NEAR(value, 250.0, 1e-6);
    // 40 Hz passes unchanged in amplitude (away from the mirrored ends).
    const std::vector<double> band = EcgResampler::decimate(sine(40, 2000, 4000), 2);
    EXPECT_NEAR(peakBetween(band, 200, 1800), 1000, 10);
    // 700 Hz would alias to 300 Hz at 1000/s: it is gone.
    const std::vector<double> above = EcgResampler::decimate(sine(700, 2000, 4000), 2);
    EXPECT_LT(peakBetween(above, 200, 1800), 10);
    // At 2000 → 250 (factor 8), 200 Hz would alias to 50 Hz.
    EXPECT_LT(peakBetween(EcgResampler::decimate(sine(200, 2000, 16000), 8), 100, 1900), 10);
    EXPECT_NEAR(peakBetween(EcgResampler::decimate(sine(10, 2000, 16000), 8), 100, 1900), 1000, 10);
}

TEST(EcgLeadSetTest, StandardSetsGiveTwelveLeadsWithDerivedLimbLeads)
{
    for (uint8_t leadType : {uint8_t(1), uint8_t(25), uint8_t(30)}) {
        const EcgLeadSet set = EcgLeadSet::forExamination(leadType, 8);
        ASSERT_TRUE(set.isStandardTwelveLead()) << int(leadType);
        std::vector<std::string> labels;
        for (const EcgLead& lead : set.leads())
            labels.push_back(lead.label);
        EXPECT_EQ(labels, (std::vector<std::string>{"I", "II", "III", "aVR", "aVL", "aVF", "V1", "V2", "V3", "V4",
                                                    "V5", "V6"}));
        EXPECT_EQ(set.leads()[2].codeValue, "5.6.3-9-61");
        EXPECT_EQ(set.leads()[6].codeValue, "5.6.3-9-3");
    }
    const EcgLeadSet set = EcgLeadSet::forExamination(uint8_t(1), 8);
    std::vector<std::vector<double>> recorded(8, std::vector<double>{0});
    recorded[0][0] = 300; // I
    recorded[1][0] = 1000; // II
    const auto leads = set.leadsFrom(recorded);
    EXPECT_DOUBLE_EQ(leads[2][0], 700);  // III = II − I
    EXPECT_DOUBLE_EQ(leads[3][0], -650); // aVR = −(I + II)/2
    EXPECT_DOUBLE_EQ(leads[4][0], -200); // aVL = I − II/2
    EXPECT_DOUBLE_EQ(leads[5][0], 850);  // aVF = II − I/2
}

TEST(EcgLeadSetTest, OtherSetsKeepTheirRecordedChannels)
{
    struct Row { std::optional<uint8_t> type; std::size_t channels; std::vector<std::string> labels; std::vector<std::string> codes; };
    for (const Row& row : {
             Row{uint8_t(16), 3, {"X", "Y", "Z"}, {"5.6.3-9-16", "5.6.3-9-17", "5.6.3-9-18"}},
             Row{uint8_t(3), 3, {"V4", "Y", "V6"}, {"5.6.3-9-6", "5.6.3-9-17", "5.6.3-9-8"}},
             Row{uint8_t(15), 1, {"V5M"}, {"5.6.3-9-0"}},
             Row{uint8_t(1), 3, {"ECG 1", "ECG 2", "ECG 3"}, {"5.6.3-9-0", "5.6.3-9-0", "5.6.3-9-0"}},
             Row{std::nullopt, 2, {"ECG 1", "ECG 2"}, {"5.6.3-9-0", "5.6.3-9-0"}},
             Row{uint8_t(22), 6, {"ECG 1", "ECG 2", "ECG 3", "ECG 4", "ECG 5", "ECG 6"},
                 std::vector<std::string>(6, "5.6.3-9-0")},
         }) {
        const EcgLeadSet set = EcgLeadSet::forExamination(row.type, row.channels);
        EXPECT_FALSE(set.isStandardTwelveLead());
        std::vector<std::string> labels, codes;
        for (const EcgLead& lead : set.leads()) {
            labels.push_back(lead.label);
            codes.push_back(lead.codeValue);
        }
        EXPECT_EQ(labels, row.labels) << (row.type ? int(*row.type) : -1);
        EXPECT_EQ(codes, row.codes) << (row.type ? int(*row.type) : -1);
    }
}

TEST(RestingEcgTakeTest, ASpanIsConsecutiveFramesAcrossTheNumberWrap)
{
    RestingEcgTake take(2, 4);
    EXPECT_EQ(take.add(65534, {1, 2, 99}), RestingEcgTake::EState::Collecting);
    EXPECT_EQ(take.add(65535, {3, 4}), RestingEcgTake::EState::Collecting);
    EXPECT_EQ(take.add(0, {5, 6}), RestingEcgTake::EState::Collecting);
    EXPECT_EQ(take.add(1, {7, 8}), RestingEcgTake::EState::Complete);
    EXPECT_EQ(take.channels(), (std::vector<std::vector<int32_t>>{{1, 3, 5, 7}, {2, 4, 6, 8}}));

    RestingEcgTake gap(1, 10);
    gap.add(10, {0});
    EXPECT_EQ(gap.add(13, {0}), RestingEcgTake::EState::LostFrames);
    EXPECT_EQ(gap.lostFrames(), 2);
    EXPECT_EQ(gap.add(14, {0}), RestingEcgTake::EState::LostFrames) << "a broken span stays broken";

    RestingEcgTake narrow(8, 10);
    EXPECT_EQ(narrow.add(1, {1, 2, 3}), RestingEcgTake::EState::WrongLayout);
}

// A general ECG (an orthogonal X, Y, Z set) with a value beyond 16 bits at
// 1 µV: DCMTK reads back the class, the leads and the coarser resolution,
// every sample within one unit of it, and dciodvfy finds no error.
TEST(DicomEcgWriterTest, GeneralEcgHoldsLargeValuesAtACoarserResolution)
{
    QTemporaryDir dir;
    const EcgLeadSet set = EcgLeadSet::forExamination(uint8_t(16), 3);
    std::vector<std::vector<double>> recorded{sine(1, 500, 2500, 40000), sine(2, 500, 2500, 500),
                                              sine(3, 500, 2500, -800)};
    RestingEcgRecord record = recordOf(set, recorded, 500);
    record.patient.name = "Jo^hn\\Q";
    record.beatSamples = {0, 500, 1000, 1500};
    const std::string path = dir.filePath("general.dcm").toStdString();
    std::string error;
    ASSERT_TRUE(DicomEcgWriter::write(record, path, &error)) << error;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path + ".part")));

    DcmFileFormat file;
    ASSERT_TRUE(file.loadFile(path.c_str()).good());
    DcmDataset& data = *file.getDataset();
    OFString text;
    data.findAndGetOFString(DCM_SOPClassUID, text);
    EXPECT_EQ(std::string(text.c_str()), UID_GeneralECGWaveformStorage);
    data.findAndGetOFStringArray(DCM_PatientName, text);
    EXPECT_EQ(std::string(text.c_str()), "Doe^Jo hn Q") << "separators inside a name part are not separators";
    DcmItem* group = nullptr;
    ASSERT_TRUE(data.findAndGetSequenceItem(DCM_WaveformSequence, group, 0).good());
    const Uint16* raw = nullptr;
    unsigned long count = 0;
    ASSERT_TRUE(group->findAndGetUint16Array(DCM_WaveformData, raw, &count).good());
    ASSERT_EQ(count, 3u * 2500);
    std::vector<std::string> labels;
    double resolution = 0;
    for (int c = 0; c < 3; ++c) {
        DcmItem* definition = nullptr;
        ASSERT_TRUE(group->findAndGetSequenceItem(DCM_ChannelDefinitionSequence, definition, c).good());
        definition->findAndGetOFString(DCM_ChannelLabel, text);
        labels.push_back(text.c_str());
        definition->findAndGetOFString(DCM_ChannelSensitivity, text);
        resolution = std::stod(text.c_str());
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"X", "Y", "Z"}));
    EXPECT_EQ(resolution, 2.0) << "40000 µV needs 2 µV per unit in 16 bits";
    int off = 0;
    for (std::size_t s = 0; s < 2500; ++s) {
        for (std::size_t c = 0; c < 3; ++c)
            off += std::abs(static_cast<Sint16>(raw[s * 3 + c]) * resolution - recorded[c][s]) > resolution;
    }
    EXPECT_EQ(off, 0);
    DcmItem* annotation = nullptr;
    ASSERT_TRUE(data.findAndGetSequenceItem(DCM_WaveformAnnotationSequence, annotation, 0).good());
    annotation->findAndGetOFString(DCM_NumericValue, text);
    EXPECT_EQ(std::string(text.c_str()), "60") << "beats a second apart";

    QProcess verify;
    verify.setProcessChannelMode(QProcess::MergedChannels);
    verify.start("dciodvfy", {QString::fromStdString(path)});
    ASSERT_TRUE(verify.waitForFinished(60000)) << "dciodvfy did not run (scripts/setup.sh installs dicom3tools)";
    const QString said = QString::fromUtf8(verify.readAll());
    EXPECT_TRUE(said.contains("GeneralECG")) << said.toStdString();
    EXPECT_FALSE(said.contains("Error")) << said.toStdString();
}

TEST(DicomEcgWriterTest, RecordsThatCannotBeStoredAreRefusedAndLeaveNothing)
{
    QTemporaryDir dir;
    const EcgLeadSet set = EcgLeadSet::forExamination(uint8_t(1), 8);
    struct Row { const char* why; std::function<void(RestingEcgRecord&)> spoil; };
    for (const Row& row : {Row{"no samples", [](RestingEcgRecord& r) { for (auto& l : r.samples) l.clear(); }},
                           Row{"leads of different lengths", [](RestingEcgRecord& r) { r.samples[3].pop_back(); }},
                           Row{"longer than a file holds",
                               [](RestingEcgRecord& r) { for (auto& l : r.samples) l.resize(16385); }},
                           Row{"no leads", [](RestingEcgRecord& r) { r.leads.clear(); }}}) {
        RestingEcgRecord record = recordOf(set, std::vector<std::vector<double>>(8, std::vector<double>(100, 5)), 500);
        row.spoil(record);
        const std::string path = dir.filePath("x.dcm").toStdString();
        std::string error;
        EXPECT_FALSE(DicomEcgWriter::write(record, path, &error)) << row.why;
        EXPECT_FALSE(error.empty()) << row.why;
        EXPECT_FALSE(QFile::exists(QString::fromStdString(path))) << row.why;
    }
}

TEST(DicomUidsTest, UuidDerivedUnlessARootIsConfigured)
{
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string uid = DicomUids::create();
        ASSERT_EQ(uid.rfind("2.25.", 0), 0u) << uid;
        ASSERT_LE(uid.size(), 64u);
        ASSERT_EQ(uid.find_first_not_of("0123456789", 5), std::string::npos) << uid;
        ASSERT_TRUE(uid.size() == 5 || uid[5] != '0') << uid;
        seen.insert(uid);
    }
    EXPECT_EQ(seen.size(), 100u);
    const std::string rooted = DicomUids::create("1.2.826.0.1.3680043.9.9999");
    EXPECT_EQ(rooted.rfind("1.2.826.0.1.3680043.9.9999.", 0), 0u) << rooted;
    EXPECT_LE(rooted.size(), 64u);
    for (const char* bad : {"", "1..2", "1.02", "1.2.", "a.b", "1.2.3.4.5.6.7.8.9.10.11.12.13.14.15"})
        EXPECT_FALSE(DicomUids::isRoot(bad)) << bad;
    EXPECT_TRUE(DicomUids::isRoot("1.2.826.0.1.3680043.9.9999"));
}

TEST(PacsSettingsTest, ReadsThePacsObject)
{
    auto parse = [](const char* json) {
        return PacsSettings::fromVariantMap(QJsonDocument::fromJson(json).object().toVariantMap(), "/opt/dastel");
    };
    PacsSettings none = parse("{}");
    EXPECT_FALSE(none.configured());
    EXPECT_TRUE(none.error.empty());

    PacsSettings plain = parse(R"({"pacs": {"host": "pacs.local", "calledAeTitle": "ARCHIVE"}})");
    EXPECT_TRUE(plain.configured()) << plain.error;
    EXPECT_EQ(plain.port, 104);
    EXPECT_EQ(plain.callingAeTitle, "DASTEL");
    EXPECT_EQ(plain.timeoutSeconds, 30);
    EXPECT_FALSE(plain.tls);

    PacsSettings tls = parse(R"({"pacs": {"host": "h", "port": 2762, "calledAeTitle": "A", "callingAeTitle": "B",
        "tls": {"certificate": "c.pem", "privateKey": "/etc/k.pem", "trustedCa": "ca.pem"}}})");
    EXPECT_TRUE(tls.configured()) << tls.error;
    EXPECT_TRUE(tls.tls);
    EXPECT_EQ(tls.port, 2762);
    EXPECT_EQ(tls.certificate, "/opt/dastel/c.pem");
    EXPECT_EQ(tls.privateKey, "/etc/k.pem");

    for (const char* bad : {
             R"({"pacs": "pacs.local"})",
             R"({"pacs": {"host": "h", "calledAeTitle": "A", "port": 0}})",
             R"({"pacs": {"host": "h", "calledAeTitle": "A", "port": 104.5}})",
             R"({"pacs": {"host": "h", "calledAeTitle": "A", "port": "104"}})",
             R"({"pacs": {"host": "h"}})",
             R"({"pacs": {"host": "h", "calledAeTitle": "SEVENTEEN-LETTERS"}})",
             R"({"pacs": {"host": "h", "calledAeTitle": "A\\B"}})",
             R"({"pacs": {"host": "h", "calledAeTitle": "A", "callingAeTitle": "  "}})",
             R"({"pacs": {"host": "h", "calledAeTitle": "A", "timeoutSeconds": 0}})",
             R"({"pacs": {"host": "h", "calledAeTitle": "A", "tls": {"certificate": "c", "privateKey": "k"}}})",
             R"({"pacs": {"host": "h", "calledAeTitle": "A", "tls": {"certificate": "c", "trustedCa": "ca"}}})",
         }) {
        const PacsSettings settings = parse(bad);
        EXPECT_FALSE(settings.configured()) << bad;
        EXPECT_FALSE(settings.error.empty()) << bad;
    }
}

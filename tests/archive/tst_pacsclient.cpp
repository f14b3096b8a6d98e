// The PACS client against a DICOM storage service of DCMTK's own that
// answers each store with a chosen status: success and warnings count as
// sent, failures as refused, each told with its status.

#include "archive/dicomecgwriter.h"
#include "archive/dicomuids.h"
#include "archive/ecgleadset.h"
#include "archive/orthancserver.h"
#include "archive/pacsclient.h"

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmnet/scp.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <thread>

using namespace Tavrix::Archive;

namespace {

// Takes one association and answers its store with `status`.
class AnsweringScp : public DcmSCP
{
public:
    explicit AnsweringScp(Uint16 status) : m_status(status) {}

protected:
    OFCondition handleIncomingCommand(T_DIMSE_Message* message, const DcmPresentationContextInfo& context) override
    {
        if (message->CommandField != DIMSE_C_STORE_RQ)
            return DcmSCP::handleIncomingCommand(message, context);
        T_DIMSE_C_StoreRQ& request = message->msg.CStoreRQ;
        DcmDataset* data = nullptr;
        const OFCondition received = receiveSTORERequest(request, context.presentationContextID, data);
        delete data;
        if (received.bad())
            return received;
        return sendSTOREResponse(context.presentationContextID, request, m_status);
    }
    OFBool stopAfterCurrentAssociation() override { return OFTrue; }

private:
    Uint16 m_status;
};

} // namespace

TEST(PacsClientTest, TheStoreStatusDecidesSentOrRefused)
{
    const std::string network = ArchiveTesting::privateNetwork();
    if (!network.empty())
        GTEST_SKIP() << "DCMTK's service binds every interface; it runs only in a network namespace of its own: "
                     << network;
    QTemporaryDir dir;
    const EcgLeadSet set = EcgLeadSet::forExamination(uint8_t(1), 8);
    RestingEcgRecord record;
    record.twelveLead = true;
    record.leads = set.leads();
    record.samples = set.leadsFrom(std::vector<std::vector<double>>(8, std::vector<double>(500, 100)));
    record.sampleRate = record.recorderRate = 500;
    record.studyUid = DicomUids::create();
    record.seriesUid = DicomUids::create();
    record.instanceUid = DicomUids::create();
    const std::string path = dir.filePath("ecg.dcm").toStdString();
    std::string error;
    ASSERT_TRUE(DicomEcgWriter::write(record, path, &error)) << error;

    struct Row { Uint16 status; EPacsStatus expected; const char* told; };
    for (const Row& row : {Row{0x0000, EPacsStatus::Sent, ""}, Row{0xB000, EPacsStatus::Sent, "B000"},
                           Row{0xA700, EPacsStatus::StoreRefused, "A700"},
                           Row{0xC000, EPacsStatus::StoreRefused, "C000"}}) {
        AnsweringScp scp(row.status);
        const quint16 port = ArchiveTesting::freeLoopbackPort();
        scp.setPort(port);
        scp.setAETitle("TESTPACS");
        OFList<OFString> syntaxes;
        syntaxes.push_back(UID_LittleEndianExplicitTransferSyntax);
        syntaxes.push_back(UID_LittleEndianImplicitTransferSyntax);
        scp.addPresentationContext(UID_TwelveLeadECGWaveformStorage, syntaxes);
        scp.setConnectionTimeout(60);
        ASSERT_TRUE(scp.openListenPort().good());
        std::thread serving([&scp] { scp.acceptAssociations(); });

        PacsSettings settings;
        settings.host = "127.0.0.1";
        settings.port = port;
        settings.calledAeTitle = "TESTPACS";
        settings.timeoutSeconds = 30;
        const PacsResult result = PacsClient::store(settings, path);
        serving.join();
        EXPECT_EQ(PacsClient::statusName(result.status), std::string(PacsClient::statusName(row.expected)))
            << std::hex << row.status << ": " << result.text;
        if (*row.told)
            EXPECT_NE(result.text.find(row.told), std::string::npos) << result.text;
        else
            EXPECT_TRUE(result.text.empty()) << result.text;
    }
}

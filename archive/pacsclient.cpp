#include "archive/pacsclient.h"

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmdata/dctk.h"
#include "dcmtk/dcmnet/diutil.h"
#include "dcmtk/dcmnet/scu.h"
#include "dcmtk/dcmtls/tlslayer.h"
#include "dcmtk/oflog/oflog.h"

#include <cstdio>
#include <mutex>

namespace Tavrix::Archive {

namespace {

PacsResult result(EPacsStatus status, std::string text)
{
    return {status, std::move(text)};
}

std::string hex4(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

// DCMTK logs to the console by itself; the service reports each outcome
// in its own log, so only DCMTK's errors stay visible.
void quietenDcmtk()
{
    static std::once_flag once;
    std::call_once(once, [] { OFLog::configure(OFLogger::ERROR_LOG_LEVEL); });
}

bool mentions(const OFCondition& condition, const char* text)
{
    return std::string(condition.text()).find(text) != std::string::npos;
}

// A negotiation that failed before any association: which failure it was.
PacsResult negotiationFailure(const OFCondition& condition, const PacsSettings& settings)
{
    const std::string where = settings.host + ":" + std::to_string(settings.port);
    if (condition == DUL_ASSOCIATIONREJECTED)
        return result(EPacsStatus::AssociationRejected,
                      "the PACS at " + where + " rejected the association (called AE title \"" + settings.calledAeTitle
                          + "\", calling AE title \"" + settings.callingAeTitle + "\"): " + condition.text());
    if (condition.code() == DULC_TLSERROR || (settings.tls && (mentions(condition, "TLS") || mentions(condition, "SSL"))))
        return result(EPacsStatus::TlsFailed,
                      "the secure connection to the PACS at " + where + " failed: " + condition.text());
    if (condition == DUL_READTIMEOUT || mentions(condition, "timed out") || mentions(condition, "Timeout")
        || mentions(condition, "timeout"))
        return result(EPacsStatus::Timeout, "the PACS at " + where + " did not answer within "
                                                + std::to_string(settings.timeoutSeconds) + " s: " + condition.text());
    if (settings.tls && condition == DUL_NETWORKCLOSED)
        return result(EPacsStatus::TlsFailed, "the PACS at " + where
                                                  + " closed the connection during the secure handshake: "
                                                  + condition.text());
    return result(EPacsStatus::Unreachable, "cannot reach the PACS at " + where + ": " + condition.text());
}

// DcmSCU keeps the switch to TLS for its subclasses.
class StoreScu : public DcmSCU
{
public:
    using DcmSCU::useSecureConnection;
};

// A C-STORE answer status: success, a warning (stored with a remark) or a failure.
bool storedDespite(Uint16 status)
{
    return status == 0 || status == 0xB000 || status == 0xB006 || status == 0xB007;
}

} // namespace

const char* PacsClient::statusName(EPacsStatus status)
{
    switch (status) {
    case EPacsStatus::Sent:
        return "sent";
    case EPacsStatus::NotConfigured:
        return "notConfigured";
    case EPacsStatus::Unreachable:
        return "unreachable";
    case EPacsStatus::AssociationRejected:
        return "associationRejected";
    case EPacsStatus::StoreRefused:
        return "storeRefused";
    case EPacsStatus::Timeout:
        return "timeout";
    case EPacsStatus::TlsFailed:
        return "tlsFailed";
    case EPacsStatus::FileError:
        return "fileError";
    case EPacsStatus::Failed:
        return "failed";
    }
    return "failed";
}

PacsResult PacsClient::store(const PacsSettings& settings, const std::string& path)
{
    quietenDcmtk();
    if (!settings.error.empty())
        return result(EPacsStatus::NotConfigured, "the PACS settings cannot be used: " + settings.error);
    if (!settings.configured())
        return result(EPacsStatus::NotConfigured, "no PACS is configured (settings.json \"pacs\")");

    DcmFileFormat file;
    const OFCondition loaded = file.loadFile(path.c_str());
    if (loaded.bad())
        return result(EPacsStatus::FileError, "cannot read " + path + ": " + loaded.text());
    OFString sopClass;
    OFString sopInstance;
    file.getDataset()->findAndGetOFString(DCM_SOPClassUID, sopClass);
    file.getDataset()->findAndGetOFString(DCM_SOPInstanceUID, sopInstance);
    if (sopClass.empty() || sopInstance.empty())
        return result(EPacsStatus::FileError, path + " is not a DICOM object with SOP class and instance");

    // The transport layer outlives the association that uses it.
    DcmTLSTransportLayer tls(NET_REQUESTOR, nullptr, OFTrue);
    StoreScu scu;
    scu.setAETitle(settings.callingAeTitle.c_str());
    scu.setPeerAETitle(settings.calledAeTitle.c_str());
    scu.setPeerHostName(settings.host.c_str());
    scu.setPeerPort(static_cast<Uint16>(settings.port));
    scu.setConnectionTimeout(settings.timeoutSeconds);
    scu.setACSETimeout(static_cast<Uint32>(settings.timeoutSeconds));
    scu.setDIMSETimeout(static_cast<Uint32>(settings.timeoutSeconds));
    scu.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    OFList<OFString> syntaxes;
    syntaxes.push_back(UID_LittleEndianExplicitTransferSyntax);
    syntaxes.push_back(UID_LittleEndianImplicitTransferSyntax);
    scu.addPresentationContext(sopClass, syntaxes);

    if (settings.tls) {
        OFCondition set = tls.setTLSProfile(TSP_Profile_BCP195);
        if (set.good())
            set = tls.activateCipherSuites();
        if (set.good() && !settings.certificate.empty()) {
            set = tls.setPrivateKeyFile(settings.privateKey.c_str(), DCF_Filetype_PEM);
            if (set.good())
                set = tls.setCertificateFile(settings.certificate.c_str(), DCF_Filetype_PEM);
            if (set.good() && !tls.checkPrivateKeyMatchesCertificate())
                return result(EPacsStatus::TlsFailed, "the TLS private key " + settings.privateKey
                                                          + " does not belong to the certificate " + settings.certificate);
        }
        if (set.good())
            set = tls.addTrustedCertificateFile(settings.trustedCa.c_str(), DCF_Filetype_PEM);
        if (set.bad())
            return result(EPacsStatus::TlsFailed, std::string("the TLS settings cannot be used: ") + set.text());
        tls.setCertificateVerification(DCV_requireCertificate);
    }

    OFCondition condition = scu.initNetwork();
    if (condition.bad())
        return result(EPacsStatus::Failed, std::string("the network cannot be set up: ") + condition.text());
    if (settings.tls) {
        // The network must exist before it can be made secure.
        condition = scu.useSecureConnection(&tls);
        if (condition.bad())
            return result(EPacsStatus::TlsFailed, std::string("TLS cannot be set up: ") + condition.text());
    }
    condition = scu.negotiateAssociation();
    if (condition.bad())
        return negotiationFailure(condition, settings);

    const T_ASC_PresentationContextID context = scu.findAnyPresentationContextID(sopClass, "");
    if (context == 0) {
        scu.releaseAssociation();
        return result(EPacsStatus::AssociationRejected,
                      "the PACS does not take this kind of object (" + std::string(dcmFindNameOfUID(sopClass.c_str(), "?"))
                          + ", SOP class " + sopClass.c_str() + ")");
    }
    Uint16 status = 0;
    condition = scu.sendSTORERequest(context, path.c_str(), nullptr, status);
    if (condition.bad()) {
        scu.abortAssociation();
        if (condition == DIMSE_NODATAAVAILABLE || condition == DUL_READTIMEOUT)
            return result(EPacsStatus::Timeout, "the PACS did not answer the store within "
                                                    + std::to_string(settings.timeoutSeconds) + " s");
        // Some PACS (Orthanc among them) answer a store they will not take,
        // e.g. from an AE title not allowed to store, by aborting the
        // association, often while the file is still being sent.
        if (condition == DUL_PEERABORTEDASSOCIATION || mentions(condition, "reset by peer"))
            return result(EPacsStatus::StoreRefused,
                          "the PACS broke off the association instead of storing the file (is AE title \""
                              + settings.callingAeTitle + "\" allowed to store there?): " + condition.text());
        return result(EPacsStatus::Failed, std::string("the store did not complete: ") + condition.text());
    }
    scu.releaseAssociation();
    if (!storedDespite(status))
        return result(EPacsStatus::StoreRefused, "the PACS refused to store the file: status 0x" + hex4(status) + " ("
                                                     + DU_cstoreStatusString(status) + ")");
    if (status != 0)
        return result(EPacsStatus::Sent, "stored with warning 0x" + hex4(status) + " (" + DU_cstoreStatusString(status) + ")");
    return result(EPacsStatus::Sent, {});
}

} // namespace Tavrix::Archive

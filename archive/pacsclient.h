#pragma once

#include "archive/pacssettings.h"

#include <string>

namespace Tavrix::Archive {

// What became of one attempt to store a file in the PACS.
enum class EPacsStatus {
    Sent,
    NotConfigured,
    Unreachable,         // no connection (refused, no route, unknown host)
    AssociationRejected, // the PACS would not talk to us (AE titles) or takes no such object
    StoreRefused,        // the association stood, the PACS answered the store with a failure
    Timeout,             // the PACS stopped answering
    TlsFailed,           // the secure connection could not be set up
    FileError,           // the file cannot be read
    Failed,              // anything else
};

struct PacsResult
{
    EPacsStatus status = EPacsStatus::Failed;
    // What happened, for a person: empty only when sent without remark.
    std::string text;

    bool sent() const { return status == EPacsStatus::Sent; }
};

// Sends DICOM files to a PACS with a C-STORE through DCMTK's DcmSCU, in
// the clear or over TLS. Blocking: run it off the event loop. Every wait is
// bounded by the settings' time-out.
class PacsClient
{
public:
    static PacsResult store(const PacsSettings& settings, const std::string& path);

    // "sent", "notConfigured", "unreachable", "associationRejected",
    // "storeRefused", "timeout", "tlsFailed", "fileError", "failed".
    static const char* statusName(EPacsStatus status);
};

} // namespace Tavrix::Archive

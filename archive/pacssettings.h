#pragma once

#include <QString>
#include <QVariantMap>

#include <string>

namespace Tavrix::Archive {

// Where resting ECGs are sent: the "pacs" object of settings.json.
//
//   "pacs": {
//     "host": "pacs.example.org", "port": 104,
//     "calledAeTitle": "PACS", "callingAeTitle": "DASTEL",
//     "timeoutSeconds": 30,
//     "tls": { "certificate": "client.pem", "privateKey": "client.key",
//              "trustedCa": "hospital-ca.pem" }
//   }
//
// Without "pacs" (or with an empty host) nothing is sent. "tls" turns on
// DICOM over TLS: the PACS's certificate must chain to "trustedCa";
// "certificate" and "privateKey" (both or neither) are this service's own,
// for a PACS that asks for one. Relative paths are relative to the
// executable's directory.
struct PacsSettings
{
    std::string host;
    int port = 104;
    std::string calledAeTitle;
    std::string callingAeTitle = "DASTEL";
    int timeoutSeconds = 30;
    bool tls = false;
    std::string certificate;
    std::string privateKey;
    std::string trustedCa;
    // Why the "pacs" object cannot be used; empty when it can (or is absent).
    std::string error;

    bool configured() const { return !host.empty() && error.empty(); }

    static PacsSettings fromVariantMap(const QVariantMap& settings, const QString& appDir);
    // An application entity title: 1–16 characters of printable ASCII, no
    // backslash, not only spaces.
    static bool isAeTitle(const std::string& title);
};

} // namespace Tavrix::Archive

#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace Tavrix::Dastel {

// The values of settings.json the service uses. Missing keys read as 0,
// empty text or an empty list; ports are narrowed to 16 bits. The optional
// "listenAddress" picks the address every server listens on (all addresses
// when missing or empty); one that is no IP address is reported in
// listenAddressError and the servers listen on loopback only, so a typo
// never opens the recorder to the network.
struct Settings
{
    quint16 webApiPort = 0;
    quint16 adcPort = 0;
    quint16 eventPort = 0;
    quint16 terminalPort = 0;
    QHostAddress listenAddress{QHostAddress::Any};
    QString listenAddressError;
    QString errorLogPath;
    QStringList htmlDirectories;
    QString defaultHtmlDirectory;
    // Who may drive the recorder besides pages of the service itself:
    // "allowedOrigins" (web apps on other origins, "*" for every origin),
    // "allowedHosts" (names the service is reached by besides IP literals,
    // localhost and this machine's names, "*" for every name).
    QStringList allowedOrigins;
    QStringList allowedHosts;
    // "accessToken", or the first line of the file "accessTokenFile" names
    // (relative to the executable's directory). Empty: no token asked for.
    // A file that cannot be read is reported in accessTokenError.
    QByteArray accessToken;
    QString accessTokenError;
    // A setting that must not be taken at all (an "accessToken" that is
    // present but blank would silently mean no token): start-up says so and
    // builds nothing.
    QString configurationError;
    // The "limits" object: what clients together can make the service hold.
    // A missing or non-positive value keeps the default.
    struct Limits
    {
        int maxConnections = 512;          // every port together
        int maxConnectionsPerAddress = 128; // from one peer address
        int maxClientsPerStream = 64;       // on each WebSocket port
        int maxWaitingCommands = 32;        // requests waiting for the recorder
        int commandQueueTimeoutMs = 10000;  // longest wait in the queue
    } limits;

    // "followCable": ask the recorder every 300 ms whether the patient cable
    // is attached, so that clients hear of it at once ("cableConnect",
    // "cableDisconnect"). On unless false.
    bool followCable = true;

    static Settings fromVariantMap(const QVariantMap& map, const QString& appDir);
    static quint16 portOf(const QVariantMap& map, const QString& section);
};

} // namespace Tavrix::Dastel

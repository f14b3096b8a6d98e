#include "dastel/settings.h"

#include <QDir>
#include <QFile>

namespace Tavrix::Dastel {

quint16 Settings::portOf(const QVariantMap& map, const QString& section)
{
    return static_cast<quint16>(map.value(section).toMap().value("port").toUInt());
}

Settings Settings::fromVariantMap(const QVariantMap& map, const QString& appDir)
{
    Settings settings;
    settings.webApiPort = portOf(map, "deviceAdapter");
    settings.adcPort = portOf(map, "adcSender");
    settings.eventPort = portOf(map, "eventSender");
    settings.terminalPort = portOf(map, "terminal");
    const QString address = map.value("listenAddress").toString().trimmed();
    if (!address.isEmpty() && !settings.listenAddress.setAddress(address)) {
        settings.listenAddress = QHostAddress(QHostAddress::LocalHost);
        settings.listenAddressError =
            QString("listenAddress \"%1\" is not an IP address; listening on 127.0.0.1 only").arg(address);
    }
    settings.errorLogPath = map.value("errorLogPath").toString();
    if (settings.errorLogPath.isEmpty())
        settings.errorLogPath = appDir + "/ErrorLog.txt";
    settings.htmlDirectories = map.value("htmlDirectories").toStringList();
    settings.defaultHtmlDirectory = map.value("defaultHtmlDirectory").toString();
    settings.allowedOrigins = map.value("allowedOrigins").toStringList();
    settings.allowedHosts = map.value("allowedHosts").toStringList();
    settings.accessToken = map.value("accessToken").toString().trimmed().toUtf8();
    if (map.contains("accessToken") && settings.accessToken.isEmpty())
        settings.configurationError =
            QStringLiteral("accessToken is blank: give a token, or leave the setting out to ask for none");
    const QString tokenFile = map.value("accessTokenFile").toString().trimmed();
    if (settings.accessToken.isEmpty() && !tokenFile.isEmpty()) {
        QFile file(QDir(appDir).filePath(tokenFile));
        if (file.open(QIODevice::ReadOnly))
            settings.accessToken = file.readLine().trimmed();
        if (settings.accessToken.isEmpty())
            settings.accessTokenError = QString("accessTokenFile \"%1\" cannot be read or is empty").arg(tokenFile);
    }
    settings.followCable = map.value("followCable", true).toBool();
    const QVariantMap limits = map.value("limits").toMap();
    const auto readLimit = [&limits](const char* key, int& value) {
        bool ok = false;
        const int read = limits.value(key).toInt(&ok);
        if (ok && read > 0)
            value = read;
    };
    readLimit("maxConnections", settings.limits.maxConnections);
    readLimit("maxConnectionsPerAddress", settings.limits.maxConnectionsPerAddress);
    readLimit("maxClientsPerStream", settings.limits.maxClientsPerStream);
    readLimit("maxWaitingCommands", settings.limits.maxWaitingCommands);
    readLimit("commandQueueTimeoutMs", settings.limits.commandQueueTimeoutMs);
    return settings;
}

} // namespace Tavrix::Dastel

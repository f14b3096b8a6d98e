#include "dastel/settings.h"

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
    settings.errorLogPath = map.value("errorLogPath").toString();
    if (settings.errorLogPath.isEmpty())
        settings.errorLogPath = appDir + "/ErrorLog.txt";
    settings.htmlDirectories = map.value("htmlDirectories").toStringList();
    settings.defaultHtmlDirectory = map.value("defaultHtmlDirectory").toString();
    return settings;
}

} // namespace Tavrix::Dastel

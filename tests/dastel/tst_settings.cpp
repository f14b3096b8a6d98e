#include "dastel/settings.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

using Tavrix::Dastel::Settings;

namespace {

Settings settingsOf(const QByteArray& json)
{
    return Settings::fromVariantMap(QJsonDocument::fromJson(json).toVariant().toMap(), "/opt/dastel");
}

} // namespace

TEST(Settings, OnlyDeviceAdapterWithAnOversizedPort)
{
    const Settings s = settingsOf(R"({"deviceAdapter": {"port": 65536}})");
    EXPECT_EQ(s.webApiPort, 0); // narrowed to 16 bits
    EXPECT_EQ(s.adcPort, 0);
    EXPECT_EQ(s.eventPort, 0);
    EXPECT_EQ(s.terminalPort, 0);
    EXPECT_EQ(s.errorLogPath, "/opt/dastel/ErrorLog.txt");
    EXPECT_TRUE(s.htmlDirectories.isEmpty());
    EXPECT_EQ(s.defaultHtmlDirectory, "");
}

TEST(Settings, AllKeys)
{
    const Settings s = settingsOf(R"({"deviceAdapter": {"port": 8180}, "adcSender": {"port": "8181"},
        "eventSender": {"port": 8182, "other": 1}, "terminal": {"port": 65537},
        "errorLogPath": "/tmp/e.txt", "htmlDirectories": ["web", "extra"], "defaultHtmlDirectory": "web"})");
    EXPECT_EQ(s.webApiPort, 8180);
    EXPECT_EQ(s.adcPort, 8181); // a string of digits converts
    EXPECT_EQ(s.eventPort, 8182);
    EXPECT_EQ(s.terminalPort, 1);
    EXPECT_EQ(s.errorLogPath, "/tmp/e.txt");
    EXPECT_EQ(s.htmlDirectories, (QStringList{"web", "extra"}));
    EXPECT_EQ(s.defaultHtmlDirectory, "web");
}

TEST(Settings, StringHtmlDirectoriesAndEmptyLogPath)
{
    const Settings s = settingsOf(R"({"htmlDirectories": "web", "errorLogPath": "", "adcSender": {"port": "x"}})");
    EXPECT_EQ(s.htmlDirectories, QStringList{"web"});
    EXPECT_EQ(s.errorLogPath, "/opt/dastel/ErrorLog.txt");
    EXPECT_EQ(s.adcPort, 0);
}

#include "dastel/settings.h"

#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
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

namespace {

// The listen address: any address by default, the given one when it parses,
// loopback with an error text when it does not.
TEST(Settings, ListenAddress)
{
    struct Case {
        const char* json;
        QHostAddress expected;
        bool error;
    };
    const Case cases[] = {
        {R"({})", QHostAddress(QHostAddress::Any), false},
        {R"({"listenAddress": ""})", QHostAddress(QHostAddress::Any), false},
        {R"({"listenAddress": " 127.0.0.1 "})", QHostAddress(QHostAddress::LocalHost), false},
        {R"({"listenAddress": "::1"})", QHostAddress(QHostAddress::LocalHostIPv6), false},
        {R"({"listenAddress": "192.168.10.7"})", QHostAddress("192.168.10.7"), false},
        {R"({"listenAddress": "localhots"})", QHostAddress(QHostAddress::LocalHost), true},
        {R"({"listenAddress": "300.1.1.1"})", QHostAddress(QHostAddress::LocalHost), true},
    };
    for (const Case& c : cases) {
        const Settings s = settingsOf(c.json);
        EXPECT_EQ(s.listenAddress, c.expected) << c.json;
        EXPECT_EQ(!s.listenAddressError.isEmpty(), c.error) << c.json;
    }
}

} // namespace

TEST(Settings, AccessSettings)
{
    const Settings none = settingsOf("{}");
    EXPECT_TRUE(none.allowedOrigins.isEmpty());
    EXPECT_TRUE(none.allowedHosts.isEmpty());
    EXPECT_TRUE(none.accessToken.isEmpty());
    EXPECT_TRUE(none.accessTokenError.isEmpty());

    const Settings listed = settingsOf(R"({"allowedOrigins": "https://app.example", "allowedHosts": ["a.example", "b"],
        "accessToken": "  t0ken \n"})");
    EXPECT_EQ(listed.allowedOrigins, QStringList{"https://app.example"});
    EXPECT_EQ(listed.allowedHosts, (QStringList{"a.example", "b"}));
    EXPECT_EQ(listed.accessToken, "t0ken");

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath("token"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("from-file\nsecond line\n");
    file.close();
    const auto withFile = [&](const QByteArray& json) {
        return Settings::fromVariantMap(QJsonDocument::fromJson(json).toVariant().toMap(), dir.path());
    };
    const Settings relative = withFile(R"({"accessTokenFile": "token"})");
    EXPECT_EQ(relative.accessToken, "from-file");
    EXPECT_TRUE(relative.accessTokenError.isEmpty());
    const Settings absolute = withFile(QByteArray(R"({"accessTokenFile": ")") + dir.filePath("token").toUtf8() + "\"}");
    EXPECT_EQ(absolute.accessToken, "from-file");
    // A token file that cannot be read is reported, so that the service stays locked.
    const Settings missing = withFile(R"({"accessTokenFile": "no-such-file"})");
    EXPECT_TRUE(missing.accessToken.isEmpty());
    EXPECT_FALSE(missing.accessTokenError.isEmpty());
}

TEST(Settings, FollowCableUnlessTurnedOff)
{
    EXPECT_TRUE(settingsOf(R"({})").followCable);
    EXPECT_TRUE(settingsOf(R"({"followCable": true})").followCable);
    EXPECT_FALSE(settingsOf(R"({"followCable": false})").followCable);
}

TEST(Settings, ABlankAccessTokenIsAConfigurationErrorNotAnOpenService)
{
    const std::pair<const char*, bool> cases[] = {
        {R"({})", false},
        {R"({"accessToken": "t"})", false},
        {R"({"accessToken": "   "})", true},
        {R"({"accessToken": ""})", true},
        {R"({"accessToken": "\t\n"})", true},
        {R"({"accessToken": null})", true},
        // A blank token with a token file beside it is still a mistake.
        {R"({"accessToken": " ", "accessTokenFile": "token"})", true},
    };
    for (const auto& [json, error] : cases)
        EXPECT_EQ(!settingsOf(json).configurationError.isEmpty(), error) << json;
}

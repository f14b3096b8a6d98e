#include "support/tempconfigtree.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>
#include <signal.h>

namespace {

// Copies the executable (and optionally the shipped configuration) into a
// scratch directory, since the service reads everything beside itself.
class StartupTest : public ::testing::Test
{
protected:
    void installBinary()
    {
        const QString target = m_tree.path("dastel");
        ASSERT_TRUE(QFile::copy(DASTEL_BINARY, target));
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void installShippedConfiguration()
    {
        QDirIterator it(DASTEL_CONFIG_DIR, QDir::Files, QDirIterator::Subdirectories);
        const QDir source(DASTEL_CONFIG_DIR);
        while (it.hasNext()) {
            const QString file = it.next();
            QFile in(file);
            ASSERT_TRUE(in.open(QIODevice::ReadOnly));
            QByteArray content = in.readAll();
            // Test instances listen on loopback only.
            if (source.relativeFilePath(file) == "settings.json") {
                QJsonObject settings = QJsonDocument::fromJson(content).object();
                settings["listenAddress"] = "127.0.0.1";
                content = QJsonDocument(settings).toJson();
            }
            m_tree.write(source.relativeFilePath(file), content);
        }
    }

    void start(const QStringList& args = {})
    {
        m_process.setWorkingDirectory(m_tree.path());
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(m_tree.path("dastel"), args);
        ASSERT_TRUE(m_process.waitForStarted(10000));
    }

    // Reads output until `text` shows up or the process ends; bounded.
    bool waitForOutput(const QString& text, int timeoutMs = 15000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!m_output.contains(text) && timer.elapsed() < timeoutMs) {
            if (m_process.state() == QProcess::NotRunning) {
                m_output += QString::fromUtf8(m_process.readAll());
                break;
            }
            m_process.waitForReadyRead(100);
            m_output += QString::fromUtf8(m_process.readAll());
        }
        return m_output.contains(text);
    }

    int waitForExit()
    {
        m_process.waitForFinished(15000);
        m_output += QString::fromUtf8(m_process.readAll());
        return m_process.exitCode();
    }

    void TearDown() override
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    TempConfigTree m_tree;
    QProcess m_process;
    QString m_output;
};

} // namespace

TEST_F(StartupTest, WithoutSettingsItSaysNoFileAndEndsWithStatusOne)
{
    installBinary();
    start({"first", "second"});
    EXPECT_EQ(waitForExit(), 1);
    EXPECT_TRUE(m_output.contains("\"argc1\" = QVariant(QString, \"first\")")) << m_output.toStdString();
    EXPECT_TRUE(m_output.contains("\"argc2\" = QVariant(QString, \"second\")"));
    EXPECT_TRUE(m_output.contains("\x1b[31m")) << "error colour";
    EXPECT_TRUE(m_output.contains("no file \"" + m_tree.path("settings.json") + "\"")) << m_output.toStdString();
}

TEST_F(StartupTest, MalformedSettingsEndWithStatusOne)
{
    for (const QByteArray& content : {QByteArray("[1]"), QByteArray("{\"deviceAdapter\": "), QByteArray()}) {
        TearDown();
        m_output.clear();
        QFile::remove(m_tree.path("dastel"));
        installBinary();
        m_tree.write("settings.json", content);
        start();
        EXPECT_EQ(waitForExit(), 1) << content.toStdString();
        EXPECT_TRUE(m_output.contains("json object interpretation error")) << m_output.toStdString();
    }
}

TEST_F(StartupTest, ShippedConfigurationStartsAndStopsCleanly)
{
    installBinary();
    installShippedConfiguration();
    start();
    ASSERT_TRUE(waitForOutput("start the program")) << m_output.toStdString();
    EXPECT_TRUE(m_output.contains("\x1b[32m")) << "start colour";
    EXPECT_TRUE(m_output.contains("Start"));
    EXPECT_FALSE(m_output.contains("Error:")) << m_output.toStdString();
    EXPECT_EQ(m_process.state(), QProcess::Running);

    ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
    EXPECT_EQ(waitForExit(), 0);
    EXPECT_TRUE(m_output.contains("end of the program"));
}

TEST_F(StartupTest, BrokenDescriptionOrCableFileLogsAndServesNothing)
{
    struct Case
    {
        const char* file;
        QByteArray content;
        QStringList messages;
    };
    const Case cases[] = {
        {"Devices/broken.json", "{\"Type\": ",
         {"json object interpretation error", "Error: can't read device info"}},
        {"DeviceCommands/broken.json", "{\"Type\": 9999, \"Commands\": []}",
         {"is not found!", "Error: can't read devices simple commands info: ", "Error: can't read device info"}},
        {"Cables.json", "not json",
         {"json object interpretation error", "Error: can't read cable types info"}},
        {"Cables.json", "{\"Cables\": [{\"LeadGroup\": \"cab1\"}]}", {"Error: can't read cable types info"}},
    };
    for (const Case& c : cases) {
        TearDown();
        m_output.clear();
        QFile::remove(m_tree.path("dastel"));
        installBinary();
        installShippedConfiguration();
        m_tree.write(c.file, c.content);
        start();
        ASSERT_TRUE(waitForOutput("start the program")) << c.file << m_output.toStdString();
        for (const QString& message : c.messages)
            EXPECT_TRUE(m_output.contains(message)) << c.file << ": " << message.toStdString() << "\n" << m_output.toStdString();
        EXPECT_EQ(m_process.state(), QProcess::Running) << "keeps running its event loop";
        QFile::remove(m_tree.path(c.file));
    }
}

TEST_F(StartupTest, SettingsWithoutSectionsStillStart)
{
    installBinary();
    installShippedConfiguration();
    m_tree.write("settings.json", R"({"listenAddress": "127.0.0.1"})");
    start();
    ASSERT_TRUE(waitForOutput("start the program")) << m_output.toStdString();
    EXPECT_EQ(m_process.state(), QProcess::Running);
}

TEST_F(StartupTest, AListenAddressThatIsNoAddressIsReportedAndLoopbackIsUsed)
{
    installBinary();
    installShippedConfiguration();
    m_tree.write("settings.json", R"({"listenAddress": "localhots", "deviceAdapter": {"port": 0}})");
    start();
    ASSERT_TRUE(waitForOutput("start the program")) << m_output.toStdString();
    EXPECT_TRUE(m_output.contains("listenAddress \"localhots\" is not an IP address; listening on 127.0.0.1 only"))
        << m_output.toStdString();
    EXPECT_EQ(m_process.state(), QProcess::Running);
}

TEST_F(StartupTest, ABlankAccessTokenIsReportedAndNothingIsServed)
{
    installBinary();
    installShippedConfiguration();
    m_tree.write("settings.json", R"({"listenAddress": "127.0.0.1", "deviceAdapter": {"port": 0}, "accessToken": "   "})");
    start();
    ASSERT_TRUE(waitForOutput("start the program")) << m_output.toStdString();
    EXPECT_TRUE(m_output.contains("accessToken is blank")) << m_output.toStdString();
    // No server was built: nothing listens, so nothing is open without a token.
    EXPECT_FALSE(m_output.contains("listen....")) << m_output.toStdString();
}

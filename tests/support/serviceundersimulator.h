#pragma once

#include "fixture/simulatorlauncher.h"
#include "support/freeport.h"
#include "support/tempconfigtree.h"

#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <functional>
#include <string>
#include <vector>

// The real service, copied with the shipped configuration into a scratch
// directory with free loopback ports, running under the simulated recorder.
//
//   ServiceUnderSimulator service;
//   DASTEL_START_SERVICE_OR_SKIP(service, options);
//   service.httpPort(), service.adcPort(), service.sim().request("unplug")
class ServiceUnderSimulator
{
public:
    using Launcher = Tavrix::Simulator::Testing::SimulatorLauncher;

    quint16 httpPort() const { return m_ports[0]; }
    quint16 adcPort() const { return m_ports[1]; }
    quint16 eventPort() const { return m_ports[2]; }
    quint16 terminalPort() const { return m_ports[3]; }
    Launcher& sim() { return m_sim; }
    // Keys added to (or replacing those of) the generated settings.json; set before start.
    void setExtraSettings(const QJsonObject& settings) { m_extraSettings = settings; }
    QString directory() const { return m_tree.path(); }
    // Words run before the service (e.g. "prlimit", "--nofile=256:256", "--"); set before start.
    void setCommandPrefix(std::vector<std::string> prefix) { m_prefix = std::move(prefix); }
    // Rewrites a shipped configuration file as it is copied (its path
    // relative to the configuration directory, e.g. "DeviceCommands/x.json");
    // set before start.
    using ConfigEdit = std::function<QByteArray(const QString& path, const QByteArray& content)>;
    void setConfigEdit(ConfigEdit edit) { m_configEdit = std::move(edit); }

    // Prepares the scratch directory; `options.command` is set to the copied
    // service. Returns the launcher's start result.
    Launcher::StartResult start(Launcher::Options options, std::string* reason)
    {
        if (!install(reason))
            return Launcher::StartResult::Failed;
        options.command = m_prefix;
        options.command.push_back(m_tree.path("dastel").toStdString());
        const Launcher::StartResult result = m_sim.start(options, reason);
        if (result != Launcher::StartResult::Started)
            return result;
        if (m_sim.waitForOutput("start the program", 15000) == std::string::npos) {
            *reason = "the service did not start: " + m_sim.output();
            return Launcher::StartResult::Failed;
        }
        return result;
    }

    // Ends the service with SIGTERM and returns its exit status: 0 when it
    // ended cleanly. In sanitizer builds a report at exit (a leak, a race)
    // makes it non-zero, so fixtures check it.
    int stop() { return m_sim.stop(15000); }
    bool running() { return m_sim.running(); }

    // Waits for `text` in the service's output after `from`.
    std::size_t waitForOutput(const std::string& text, int timeoutMs, std::size_t from = 0) const
    {
        return m_sim.waitForOutput(text, timeoutMs, from);
    }

private:
    void copyTree(const QString& from, const QString& prefix, const ConfigEdit& edit = {})
    {
        QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
        const QDir source(from);
        while (it.hasNext()) {
            const QString file = it.next();
            QFile in(file);
            if (!in.open(QIODevice::ReadOnly))
                continue;
            const QString relative = source.relativeFilePath(file);
            const QByteArray content = in.readAll();
            m_tree.write(prefix + relative, edit ? edit(relative, content) : content);
        }
    }

    bool install(std::string* reason)
    {
        const QString binary = m_tree.path("dastel");
        if (!QFile::copy(DASTEL_BINARY, binary)) {
            *reason = "cannot copy " DASTEL_BINARY;
            return false;
        }
        QFile::setPermissions(binary, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        copyTree(DASTEL_CONFIG_DIR, "", m_configEdit);
        copyTree(DASTEL_WEB_DIR, "web/");
        for (quint16& port : m_ports)
            port = TestSupport::freeLoopbackPort();
        QJsonObject settings{{"deviceAdapter", QJsonObject{{"port", m_ports[0]}}},
                             {"adcSender", QJsonObject{{"port", m_ports[1]}}},
                             {"eventSender", QJsonObject{{"port", m_ports[2]}}},
                             {"terminal", QJsonObject{{"port", m_ports[3]}}},
                             {"errorLogPath", ""},
                             {"htmlDirectories", QJsonArray{"web"}},
                             {"defaultHtmlDirectory", "web"},
                             {"listenAddress", "127.0.0.1"},
                             // No requests of the service's own between a
                             // test's injected fault and its command.
                             {"followCable", false}};
        for (auto it = m_extraSettings.begin(); it != m_extraSettings.end(); ++it)
            settings.insert(it.key(), it.value());
        m_tree.write("settings.json", QJsonDocument(settings).toJson());
        return true;
    }

    TempConfigTree m_tree;
    Launcher m_sim;
    quint16 m_ports[4] = {0, 0, 0, 0};
    QJsonObject m_extraSettings;
    std::vector<std::string> m_prefix;
    ConfigEdit m_configEdit;
};

#define DASTEL_START_SERVICE_OR_SKIP(service, options)                                            \
    do {                                                                                          \
        std::string dastelServiceReason_;                                                         \
        const auto dastelServiceResult_ = (service).start((options), &dastelServiceReason_);      \
        if (dastelServiceResult_ == ServiceUnderSimulator::Launcher::StartResult::Unavailable)   \
            GTEST_SKIP() << "virtual USB unavailable: " << dastelServiceReason_;                  \
        ASSERT_EQ(dastelServiceResult_, ServiceUnderSimulator::Launcher::StartResult::Started)   \
            << dastelServiceReason_;                                                              \
    } while (false)

#pragma once

// A real Orthanc for the tests: started with a throw-away configuration and
// storage in a scratch directory, on free ports, and asked through its REST
// API what it stored. Orthanc binds every interface and has no setting for
// one address, so the tests run it only inside a network namespace of their
// own, where the loopback interface is the only one (privateNetwork()).

#include "support/freeport.h"
#include "support/httpget.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace ArchiveTesting {

using TestSupport::httpGet;

// Moves this process into a new network namespace with only its loopback
// interface, up. Everything it starts afterwards (Orthanc, the service)
// lives there too, so nothing is reachable from outside and no port can
// clash with another test run. Empty when done, else why it cannot be.
inline std::string privateNetwork()
{
    static std::string result = [] {
        if (unshare(CLONE_NEWNET) != 0)
            return std::string("a network namespace of its own needs root (CAP_SYS_ADMIN): ") + std::strerror(errno);
        const int descriptor = socket(AF_INET, SOCK_DGRAM, 0);
        if (descriptor < 0)
            return std::string("socket: ") + std::strerror(errno);
        ifreq request{};
        std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
        std::string problem;
        if (ioctl(descriptor, SIOCGIFFLAGS, &request) != 0)
            problem = std::string("loopback flags: ") + std::strerror(errno);
        request.ifr_flags |= IFF_UP;
        if (problem.empty() && ioctl(descriptor, SIOCSIFFLAGS, &request) != 0)
            problem = std::string("loopback up: ") + std::strerror(errno);
        close(descriptor);
        return problem;
    }();
    return result;
}

using TestSupport::freeLoopbackPort;

class OrthancServer
{
public:
    OrthancServer()
        : m_httpPort(freeLoopbackPort())
        , m_dicomPort(freeLoopbackPort())
    {
    }
    ~OrthancServer() { stop(); }

    quint16 httpPort() const { return m_httpPort; }
    quint16 dicomPort() const { return m_dicomPort; }
    QString directory() const { return m_dir.path(); }
    QString output() const { return m_output; }

    // Starts Orthanc (AE title "ORTHANC" unless `extra` says otherwise,
    // called AE title checked) with `extra` merged into the configuration,
    // and waits until its REST API answers. The storage persists over stop
    // and start. Empty when started, else why not.
    std::string start(const QJsonObject& extra = {})
    {
        stop();
        const QString storage = m_dir.filePath("storage");
        QJsonObject config{{"Name", "dastel-test"},
                           {"StorageDirectory", storage},
                           {"IndexDirectory", storage},
                           {"HttpPort", m_httpPort},
                           {"DicomPort", m_dicomPort},
                           {"DicomAet", "ORTHANC"},
                           {"DicomCheckCalledAet", true},
                           {"RemoteAccessAllowed", false},
                           {"AuthenticationEnabled", false},
                           {"Plugins", QJsonArray()},
                           {"LuaScripts", QJsonArray()},
                           {"StorageCompression", false},
                           {"HttpThreadsCount", 4},
                           {"DicomThreadsCount", 2}};
        for (auto it = extra.begin(); it != extra.end(); ++it)
            config.insert(it.key(), it.value());
        QFile file(m_dir.filePath("orthanc.json"));
        if (!file.open(QIODevice::WriteOnly))
            return "cannot write the Orthanc configuration";
        file.write(QJsonDocument(config).toJson());
        file.close();

        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setWorkingDirectory(m_dir.path());
        m_process.start(QStringLiteral("Orthanc"), {file.fileName()});
        if (!m_process.waitForStarted(10000))
            return "Orthanc did not start (scripts/setup.sh installs Debian's orthanc): "
                   + m_process.errorString().toStdString();
        // A fail-safe for an Orthanc that never comes up, generous for a loaded machine.
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 120000) {
            if (httpGet(m_httpPort, "/system").status == 200)
                return {};
            if (m_process.state() == QProcess::NotRunning)
                break;
            QThread::msleep(100);
        }
        m_output += QString::fromUtf8(m_process.readAll());
        return "Orthanc did not answer on its REST port: " + m_output.toStdString();
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(60000)) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
        m_output += QString::fromUtf8(m_process.readAll());
    }

    // The stored instances' Orthanc ids.
    QStringList instances()
    {
        QStringList ids;
        for (const QJsonValue& id : QJsonDocument::fromJson(httpGet(m_httpPort, "/instances").body).array())
            ids << id.toString();
        return ids;
    }

    QByteArray instanceFile(const QString& id) { return httpGet(m_httpPort, "/instances/" + id + "/file").body; }
    QJsonObject instanceTags(const QString& id)
    {
        return QJsonDocument::fromJson(httpGet(m_httpPort, "/instances/" + id + "/simplified-tags").body).object();
    }

private:
    QTemporaryDir m_dir;
    quint16 m_httpPort;
    quint16 m_dicomPort;
    QProcess m_process;
    QString m_output;
};

} // namespace ArchiveTesting

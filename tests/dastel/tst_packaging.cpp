// The shipped systemd unit lets the service write where it writes: every
// directory the service fills by default is made for its user before the
// start and is writable under ProtectSystem=strict.

#include "devicewebapi/flashdatalink.h"
#include "devicewebapi/signalrecordinglink.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QVariantMap>
#include <gtest/gtest.h>

namespace {

const QString installDir = QStringLiteral("@DASTEL_INSTALL_FULL_DIR@");

QStringList unitLines()
{
    QFile unit(QStringLiteral(DASTEL_CONFIG_DIR "/../packaging/dastel.service.in"));
    if (!unit.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList lines;
    for (const QByteArray& line : unit.readAll().split('\n'))
        lines.append(QString::fromUtf8(line).trimmed());
    return lines;
}

} // namespace

TEST(SystemdUnit, EveryDirectoryTheServiceWritesIsMadeAndWritable)
{
    const QStringList lines = unitLines();
    ASSERT_FALSE(lines.isEmpty()) << "packaging/dastel.service.in not found";
    ASSERT_TRUE(lines.contains("ProtectSystem=strict"));

    // Where the service writes with the shipped settings (none of these set),
    // relative to its executable.
    const QString appDir = QCoreApplication::applicationDirPath();
    const QStringList written{
        QDir(appDir).relativeFilePath(Tavrix::DeviceWebApi::FlashDataLink::readoutDirectory()),
        QDir(appDir).relativeFilePath(Tavrix::DeviceWebApi::SignalRecordingLink::directoryFrom({}, appDir)),
    };
    EXPECT_EQ(written, (QStringList{"flash", "recordings"}));
    for (const QString& relative : written) {
        const QString directory = installDir + "/" + relative;
        SCOPED_TRACE(directory.toStdString());
        EXPECT_TRUE(lines.contains("ExecStartPre=+/usr/bin/install -d -o dastel -g dastel -m 0750 " + directory));
        EXPECT_TRUE(lines.contains("ReadWritePaths=-" + directory));
    }
}

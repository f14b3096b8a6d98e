// The shipped systemd unit lets the service write where it writes: every
// directory the service fills by default is one the unit makes for its user
// under /var/lib/dastel (writable under ProtectSystem=strict), where the
// installed links beside the executable lead.

#include "devicewebapi/flashdatalink.h"
#include "devicewebapi/signalrecordinglink.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QVariantMap>
#include <gtest/gtest.h>

namespace {

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
    QStringList stateDirectories;
    for (const QString& line : lines) {
        if (line.startsWith("StateDirectory="))
            stateDirectories += line.mid(int(qstrlen("StateDirectory="))).split(' ', Qt::SkipEmptyParts);
    }
    for (const QString& relative : written) {
        SCOPED_TRACE(relative.toStdString());
        EXPECT_TRUE(stateDirectories.contains("dastel/" + relative));
    }
}

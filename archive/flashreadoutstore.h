#pragma once

#include "common/diskreserve.h"
#include "usb/ieventmessagepacker.h"

#include <QDir>
#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <cstdint>
#include <memory>
#include <vector>

namespace Tavrix::Archive {

// Keeps every memory read-out as a file: the data listener's blocks are
// appended to "<directory>/readout-<time>.bin.part" as they come, and the
// block marked last renames it to "readout-<time>.bin" and announces it.
// Clients hear of it on the event stream and fetch it with GET /flash/<name>.
// A read-out cut off by a new one or by a lost device is left as ".part";
// only complete files are offered.
//
// Only the newest `keep` read-out files (complete and ".part" alike) stay:
// whenever a read-out starts or completes, older ones beyond that number are
// deleted, so repeated read-outs cannot fill the disk. The file being
// written is never deleted and does not count until it is complete.
class FlashReadoutStore : public QObject
{
    Q_OBJECT

public:
    static constexpr int defaultKeep = 20;
    // The settings key of the number kept.
    static constexpr const char* keepSetting = "flashReadoutsKept";

    explicit FlashReadoutStore(QString directory, QObject* parent = nullptr);
    ~FlashReadoutStore() override;

    // The number of read-out files kept; below 1 means defaultKeep.
    void setKeep(int count);
    int keep() const { return m_keep; }
    // `keepSetting` of a settings map: a whole number of at least 1, else defaultKeep.
    static int keepFrom(const QVariantMap& settings);

    // Free space left on the read-outs' disk: a read-out that would go
    // below it is not written (or, once begun, ends and is removed), and
    // readoutFailed says why.
    void setReserve(const Common::DiskReserve& reserve) { m_reserve = reserve; }
    const Common::DiskReserve& reserve() const { return m_reserve; }

    const QString& directory() const { return m_directory; }
    // The newest complete read-out's file name, empty when there is none.
    QString latestFile() const;
    // Full path of a complete read-out by file name; empty for anything else
    // (unknown, unfinished, or a name that leaves the directory).
    QString pathOf(const QString& fileName) const;

    // Drops the read-out in progress (device lost, read-out restarted).
    void abandon();

signals:
    void readoutIsComplete(QString fileName, qint64 size);
    void readoutFailed(QString reason);

public slots:
    // The data listener's answer: a block, status 1 on the last one.
    void slotBlock(std::vector<uint8_t> block, int status);

private:
    bool open();
    // Ends the read-out being written, removes its file and says why.
    void fail(const QString& reason);
    // Deletes the oldest read-out files beyond m_keep, never the open one.
    void prune();
    // Read-out files (complete and unfinished), newest first.
    QStringList readoutFiles() const;

    QString m_directory;
    QFile m_file;
    QString m_name;
    qint64 m_written = 0;
    bool m_failed = false;
    int m_keep = defaultKeep;
    QString m_lastTime;
    int m_lastNumber = 0;
    Common::DiskReserve m_reserve;
    // Bytes written since the free space was last asked.
    qint64 m_sinceCheck = 0;
};

// The event of a finished read-out: {"type": "flashReadout", "file", "size", "url"}.
class FlashReadoutEventMessagePacker : public Usb::IEventMessagePacker
{
public:
    FlashReadoutEventMessagePacker(std::string fileName, int64_t size);
    void pack(Common::MessagePacker& packer) override;

private:
    std::string m_fileName;
    int64_t m_size;
};

} // namespace Tavrix::Archive

#pragma once

#include "usb/ieventmessagepacker.h"

#include <QDir>
#include <QFile>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

namespace Tavrix::DeviceWebApi {

// Keeps every memory read-out as a file: the data listener's blocks are
// appended to "<directory>/readout-<time>.bin.part" as they come, and the
// block marked last renames it to "readout-<time>.bin" and announces it.
// Clients hear of it on the event stream and fetch it with GET /flash/<name>.
// A read-out cut off by a new one or by a lost device is left as ".part";
// only complete files are offered.
class FlashReadoutStore : public QObject
{
    Q_OBJECT

public:
    explicit FlashReadoutStore(QString directory, QObject* parent = nullptr);
    ~FlashReadoutStore() override;

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

    QString m_directory;
    QFile m_file;
    QString m_name;
    qint64 m_written = 0;
    bool m_failed = false;
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

} // namespace Tavrix::DeviceWebApi

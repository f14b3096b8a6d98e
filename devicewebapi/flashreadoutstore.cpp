#include "devicewebapi/flashreadoutstore.h"

#include "common/jterminal.h"

#include <QDateTime>
#include <QFileInfo>

namespace Tavrix::DeviceWebApi {

namespace {
const QString partSuffix = QStringLiteral(".part");
const QString prefix = QStringLiteral("readout-");
const QString suffix = QStringLiteral(".bin");
} // namespace

FlashReadoutStore::FlashReadoutStore(QString directory, QObject* parent)
    : QObject(parent)
    , m_directory(std::move(directory))
{
}

FlashReadoutStore::~FlashReadoutStore()
{
    abandon();
}

bool FlashReadoutStore::open()
{
    if (!QDir().mkpath(m_directory))
        return false;
    QString name = prefix + QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss-zzz") + suffix;
    // Two read-outs within one millisecond must not share a file.
    for (int n = 1; QFileInfo::exists(QDir(m_directory).filePath(name)) || QFileInfo::exists(QDir(m_directory).filePath(name + partSuffix)); ++n)
        name = prefix + QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss-zzz") + QString("-%1").arg(n) + suffix;
    m_name = name;
    m_file.setFileName(QDir(m_directory).filePath(name + partSuffix));
    m_written = 0;
    m_failed = false;
    return m_file.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

void FlashReadoutStore::abandon()
{
    if (m_file.isOpen())
        m_file.close();
    m_name.clear();
    m_failed = false;
}

void FlashReadoutStore::slotBlock(std::vector<uint8_t> block, int status)
{
    const bool last = status == 1;
    if (!m_file.isOpen() && !m_failed) {
        if (!open()) {
            m_failed = true;
            Common::JTerminal('1') << "flash read-out: cannot create a file in" << m_directory.toStdString();
            emit readoutFailed(QStringLiteral("cannot create the read-out file"));
        }
    }
    if (m_file.isOpen() && !block.empty()) {
        const qint64 written = m_file.write(reinterpret_cast<const char*>(block.data()), static_cast<qint64>(block.size()));
        if (written != static_cast<qint64>(block.size())) {
            m_failed = true;
            m_file.close();
            m_file.remove();
            Common::JTerminal('1') << "flash read-out: writing the file failed";
            emit readoutFailed(QStringLiteral("writing the read-out file failed"));
        }
        m_written += written > 0 ? written : 0;
    }
    if (!last)
        return;
    if (m_failed || !m_file.isOpen()) {
        m_failed = false;
        return;
    }
    m_file.close();
    const QString finalPath = QDir(m_directory).filePath(m_name);
    if (!m_file.rename(finalPath)) {
        emit readoutFailed(QStringLiteral("finishing the read-out file failed"));
        return;
    }
    const QString name = m_name;
    const qint64 size = m_written;
    m_name.clear();
    Common::JTerminal('2') << "flash read-out complete:" << name.toStdString() << size << "bytes";
    emit readoutIsComplete(name, size);
}

QString FlashReadoutStore::latestFile() const
{
    const QStringList files =
        QDir(m_directory).entryList({prefix + "*" + suffix}, QDir::Files, QDir::Name | QDir::Reversed);
    return files.isEmpty() ? QString() : files.first();
}

QString FlashReadoutStore::pathOf(const QString& fileName) const
{
    if (!fileName.startsWith(prefix) || !fileName.endsWith(suffix) || fileName.contains('/') || fileName.contains('\\')
        || fileName.contains(".."))
        return {};
    const QString path = QDir(m_directory).filePath(fileName);
    return QFileInfo(path).isFile() ? path : QString();
}

FlashReadoutEventMessagePacker::FlashReadoutEventMessagePacker(std::string fileName, int64_t size)
    : m_fileName(std::move(fileName))
    , m_size(size)
{
}

void FlashReadoutEventMessagePacker::pack(Common::MessagePacker& packer)
{
    packer.packMapHeader(4);
    packer << "type" << "flashReadout";
    packer << "file" << m_fileName;
    packer << "size";
    // Recorder memories are far below 4 GiB; a larger size is still told, as text.
    if (m_size >= 0 && m_size <= static_cast<int64_t>(UINT32_MAX))
        packer.packUnsigned(static_cast<uint32_t>(m_size));
    else
        packer << std::to_string(m_size);
    packer << "url" << ("/flash/" + m_fileName);
}

} // namespace Tavrix::DeviceWebApi

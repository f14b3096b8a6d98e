#include "archive/flashreadoutstore.h"

#include "common/jterminal.h"

#include <QDateTime>
#include <QFileInfo>
#include <algorithm>

namespace Tavrix::Archive {

namespace {
const QString partSuffix = QStringLiteral(".part");
const QString prefix = QStringLiteral("readout-");
const QString suffix = QStringLiteral(".bin");

// "readout-<yyyyMMdd-hhmmss-zzz>[-n].bin[.part]" in time order: the time,
// then the number that tells read-outs of one millisecond apart.
struct ReadoutOrder
{
    QString time;
    int number = 0;

    explicit ReadoutOrder(QString name)
    {
        if (name.endsWith(partSuffix))
            name.chop(partSuffix.size());
        name.chop(suffix.size());
        name.remove(0, prefix.size());
        const QStringList pieces = name.split(QLatin1Char('-'));
        time = pieces.mid(0, 3).join(QLatin1Char('-'));
        if (pieces.size() > 3)
            number = pieces.at(3).toInt();
    }
    bool operator<(const ReadoutOrder& other) const
    {
        return time != other.time ? time < other.time : number < other.number;
    }
};

bool newerFirst(const QString& a, const QString& b)
{
    return ReadoutOrder(b) < ReadoutOrder(a);
}
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

void FlashReadoutStore::setKeep(int count)
{
    m_keep = count < 1 ? defaultKeep : count;
}

int FlashReadoutStore::keepFrom(const QVariantMap& settings)
{
    const QVariant value = settings.value(QLatin1String(keepSetting));
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || value.type() == QVariant::String || value.type() == QVariant::Bool || number < 1
        || number != static_cast<double>(static_cast<int>(number)))
        return defaultKeep;
    return static_cast<int>(number);
}

QStringList FlashReadoutStore::readoutFiles() const
{
    QStringList files =
        QDir(m_directory).entryList({prefix + "*" + suffix, prefix + "*" + suffix + partSuffix}, QDir::Files);
    std::sort(files.begin(), files.end(), newerFirst);
    return files;
}

void FlashReadoutStore::prune()
{
    // The file being written comes on top, so the newest complete read-out
    // survives until its successor is complete.
    const QString open = m_file.isOpen() ? m_name + partSuffix : QString();
    int kept = 0;
    for (const QString& file : readoutFiles()) {
        if (file == open)
            continue;
        if (kept < m_keep) {
            ++kept;
            continue;
        }
        if (QFile::remove(QDir(m_directory).filePath(file)))
            Common::JTerminal('0') << "flash read-out: removed the old read-out" << file.toStdString();
        else
            Common::JTerminal('1') << "flash read-out: cannot remove the old read-out" << file.toStdString();
    }
}

bool FlashReadoutStore::open()
{
    if (!QDir().mkpath(m_directory))
        return false;
    // Two read-outs within one millisecond must not share a file, and a later
    // one must sort after an earlier one even when that was already removed.
    const QString time = QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss-zzz");
    int number = time == m_lastTime ? m_lastNumber + 1 : 0;
    auto nameOf = [&time](int n) { return prefix + time + (n > 0 ? QString("-%1").arg(n) : QString()) + suffix; };
    while (QFileInfo::exists(QDir(m_directory).filePath(nameOf(number)))
           || QFileInfo::exists(QDir(m_directory).filePath(nameOf(number) + partSuffix)))
        ++number;
    m_lastTime = time;
    m_lastNumber = number;
    const QString name = nameOf(number);
    m_name = name;
    m_file.setFileName(QDir(m_directory).filePath(name + partSuffix));
    m_written = 0;
    m_failed = false;
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    prune();
    return true;
}

void FlashReadoutStore::abandon()
{
    if (m_file.isOpen())
        m_file.close();
    m_name.clear();
    m_failed = false;
}

void FlashReadoutStore::fail(const QString& reason)
{
    m_failed = true;
    if (m_file.isOpen()) {
        m_file.close();
        m_file.remove();
    }
    Common::JTerminal('1') << "flash read-out:" << reason.toStdString();
    emit readoutFailed(reason);
}

void FlashReadoutStore::slotBlock(std::vector<uint8_t> block, int status)
{
    const bool last = status == 1;
    QString why;
    if (!m_file.isOpen() && !m_failed) {
        if (!m_reserve.allows(m_directory, static_cast<qint64>(block.size()), &why)) {
            fail(QStringLiteral("not enough free disk space for a read-out: %1").arg(why));
        } else if (!open()) {
            m_failed = true;
            Common::JTerminal('1') << "flash read-out: cannot create a file in" << m_directory.toStdString();
            emit readoutFailed(QStringLiteral("cannot create the read-out file"));
        }
        m_sinceCheck = 0;
    }
    // The free space is asked again after every MiB written.
    m_sinceCheck += static_cast<qint64>(block.size());
    if (m_file.isOpen() && m_sinceCheck >= Common::DiskReserve::mebibyte) {
        m_sinceCheck = 0;
        if (!m_reserve.allows(m_directory, static_cast<qint64>(block.size()), &why))
            fail(QStringLiteral("free disk space fell below the reserve during the read-out: %1").arg(why));
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
    prune();
    emit readoutIsComplete(name, size);
}

QString FlashReadoutStore::latestFile() const
{
    for (const QString& file : readoutFiles()) {
        if (!file.endsWith(partSuffix))
            return file;
    }
    return {};
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

} // namespace Tavrix::Archive

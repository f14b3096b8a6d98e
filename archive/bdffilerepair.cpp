#include "archive/bdffilerepair.h"

#include "common/regularfiles.h"

#include <QFile>

namespace Tavrix::Archive {

namespace {

// Fixed header layout shared by EDF and BDF: 256 bytes, then 256 per signal.
constexpr int fixedHeaderSize = 256;
constexpr int headerBytesOffset = 184;
constexpr int recordCountOffset = 236;
constexpr int signalCountOffset = 252;
// Per-signal fields before "samples per record": label 16, transducer 80,
// dimension 8, four ranges of 8, prefilter 80.
constexpr int samplesFieldOffsetPerSignal = 16 + 80 + 8 + 8 + 8 + 8 + 8 + 80;

bool readNumber(const QByteArray& header, int offset, int width, int64_t& value)
{
    if (header.size() < offset + width)
        return false;
    bool ok = false;
    value = header.mid(offset, width).trimmed().toLongLong(&ok);
    return ok;
}

BdfFileRepair::Result failure(const QString& error)
{
    BdfFileRepair::Result result;
    result.error = error;
    return result;
}

} // namespace

BdfFileRepair::Result BdfFileRepair::repair(const QString& path)
{
    // Never through a symbolic link: the repair writes to the file.
    QFile file;
    if (!Common::RegularFiles::open(file, path, QIODevice::ReadWrite))
        return failure(QStringLiteral("cannot open %1 as a regular file").arg(path));
    const QByteArray fixed = file.read(fixedHeaderSize);
    int64_t headerBytes = 0;
    int64_t signalCount = 0;
    if (fixed.size() < fixedHeaderSize || !readNumber(fixed, headerBytesOffset, 8, headerBytes)
        || !readNumber(fixed, signalCountOffset, 4, signalCount) || signalCount <= 0
        || headerBytes != fixedHeaderSize * (signalCount + 1))
        return failure(QStringLiteral("%1 has no readable header").arg(path));

    if (!file.seek(0))
        return failure(QStringLiteral("cannot read %1").arg(path));
    const QByteArray header = file.read(headerBytes);
    if (header.size() != headerBytes)
        return failure(QStringLiteral("%1 ends inside its header").arg(path));

    // BDF marks itself with 0xFF and stores 3 bytes a sample, EDF 2.
    const int64_t bytesPerSample = static_cast<unsigned char>(header[0]) == 0xFF ? 3 : 2;
    const int64_t samplesOffset = fixedHeaderSize + signalCount * samplesFieldOffsetPerSignal;
    int64_t recordSize = 0;
    for (int64_t i = 0; i < signalCount; ++i) {
        int64_t samples = 0;
        if (!readNumber(header, static_cast<int>(samplesOffset + i * 8), 8, samples) || samples <= 0)
            return failure(QStringLiteral("%1 has a bad sample count for signal %2").arg(path).arg(i + 1));
        recordSize += samples * bytesPerSample;
    }

    const int64_t records = (file.size() - headerBytes) / recordSize;
    int64_t declared = 0;
    const bool declaredOk = readNumber(header, recordCountOffset, 8, declared);
    const int64_t wholeSize = headerBytes + records * recordSize;

    Result result;
    result.ok = true;
    result.records = records;
    if (declaredOk && declared == records && file.size() == wholeSize)
        return result;

    result.changed = true;
    if (!file.resize(wholeSize))
        return failure(QStringLiteral("cannot shorten %1").arg(path));
    QByteArray count = QByteArray::number(static_cast<qlonglong>(records));
    count = count.leftJustified(8, ' ', true);
    if (!file.seek(recordCountOffset) || file.write(count) != count.size() || !file.flush())
        return failure(QStringLiteral("cannot write the header of %1").arg(path));
    return result;
}

} // namespace Tavrix::Archive

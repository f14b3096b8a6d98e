#include "archive/bdffilerepair.h"
#include "archive/bdfsignalwriter.h"

#include <edflib.h>

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using Tavrix::Archive::BdfFileRepair;
using Tavrix::Archive::BdfSignalInfo;
using Tavrix::Archive::BdfSignalWriter;

namespace {

constexpr qint64 recordCountOffset = 236;

// A closed BDF+ file of `records` data records of two signals at 100 per second.
QString writeRecords(const QTemporaryDir& dir, int records)
{
    const QString path = dir.filePath("cut.bdf");
    BdfSignalWriter writer;
    EXPECT_TRUE(writer.open(path, 100, {BdfSignalInfo{"ECG 1", "uV"}, BdfSignalInfo{"ECG 2", "uV"}}, {}));
    for (int i = 0; i < records * 10; ++i) {
        const int32_t frame[2] = {i, -i};
        writer.addSample(frame);
    }
    EXPECT_TRUE(writer.close());
    return path;
}

long long recordsEdflibReads(const QString& path)
{
    edf_hdr_struct header{};
    const QByteArray encoded = path.toLocal8Bit();
    if (edfopen_file_readonly(encoded.constData(), &header, EDFLIB_DO_NOT_READ_ANNOTATIONS) != 0)
        return -1;
    edfclose_file(header.handle);
    return header.datarecords_in_file;
}

void overwrite(const QString& path, qint64 offset, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.seek(offset));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

} // namespace

// What a crash leaves: the record count never written and a record cut off.
TEST(BdfFileRepair, CutOffFileBecomesReadableWithItsWholeRecords)
{
    QTemporaryDir dir;
    const QString path = writeRecords(dir, 7);
    const qint64 whole = QFile(path).size();
    overwrite(path, recordCountOffset, "-1      ");
    overwrite(path, whole, QByteArray(100, '\x11'));
    ASSERT_EQ(recordsEdflibReads(path), -1) << "the damaged file must not read as it is";

    const BdfFileRepair::Result result = BdfFileRepair::repair(path);
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_TRUE(result.changed);
    EXPECT_EQ(result.records, 7);
    EXPECT_EQ(QFile(path).size(), whole);
    EXPECT_EQ(recordsEdflibReads(path), 7);
}

TEST(BdfFileRepair, WholeFileIsLeftAsItIs)
{
    QTemporaryDir dir;
    const QString path = writeRecords(dir, 3);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    const BdfFileRepair::Result result = BdfFileRepair::repair(path);
    EXPECT_TRUE(result.ok);
    EXPECT_FALSE(result.changed);
    EXPECT_EQ(result.records, 3);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
}

TEST(BdfFileRepair, RefusesWhatIsNoEdfFile)
{
    QTemporaryDir dir;
    const std::vector<QByteArray> contents = {
        QByteArray(),
        QByteArray("not a header at all"),
        QByteArray(512, ' '),
    };
    for (const QByteArray& content : contents) {
        const QString path = dir.filePath("other.bdf");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        const BdfFileRepair::Result result = BdfFileRepair::repair(path);
        EXPECT_FALSE(result.ok) << content.size() << " bytes";
        EXPECT_EQ(QFile(path).size(), content.size()) << "a refused file is not touched";
    }
    EXPECT_FALSE(BdfFileRepair::repair(dir.filePath("missing.bdf")).ok);
}

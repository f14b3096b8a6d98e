// The read-out files on disk: how many stay, which ones, and what the
// setting that bounds them reads.

#include "archive/flashreadoutstore.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using Tavrix::Archive::FlashReadoutStore;

namespace {

QStringList filesIn(const QString& directory)
{
    QStringList files = QDir(directory).entryList(QDir::Files);
    files.sort();
    return files;
}

void touch(const QString& path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("old");
}

// One read-out of two blocks; the name of the completed file.
QString readOut(FlashReadoutStore& store)
{
    QString completed;
    const auto connection = QObject::connect(&store, &FlashReadoutStore::readoutIsComplete,
                                             [&completed](const QString& name, qint64) { completed = name; });
    store.slotBlock(std::vector<uint8_t>(1024, 0xAB), 0);
    store.slotBlock(std::vector<uint8_t>(16, 0xCD), 1);
    QObject::disconnect(connection);
    return completed;
}

TEST(FlashReadoutStore, KeepsOnlyTheNewestReadouts)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    FlashReadoutStore store(dir.path());
    EXPECT_EQ(store.keep(), 20);

    QStringList completed;
    for (int i = 0; i < 25; ++i) {
        completed.append(readOut(store));
        ASSERT_FALSE(completed.back().isEmpty()) << i;
    }
    QStringList kept = completed.mid(5);
    kept.sort();
    EXPECT_EQ(filesIn(dir.path()), kept);
    // Read-outs in one millisecond are told apart and stay in their order.
    EXPECT_EQ(store.latestFile(), completed.back());
    EXPECT_EQ(QFileInfo(store.pathOf(completed.back())).size(), 1024 + 16);
}

TEST(FlashReadoutStore, OldAndInterruptedReadoutsGoFirstAndOtherFilesStay)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString flash = dir.filePath("flash");
    ASSERT_TRUE(QDir().mkpath(flash));
    // Left by an earlier run: complete and interrupted read-outs, and a file
    // that is none of the store's.
    const QStringList old{"readout-20240101-100000-000.bin", "readout-20240101-100000-000-1.bin",
                          "readout-20240101-100001-000.bin.part", "readout-20240102-090000-000.bin"};
    for (const QString& name : old)
        touch(QDir(flash).filePath(name));
    touch(QDir(flash).filePath("notes.txt"));

    FlashReadoutStore store(flash);
    store.setKeep(2);

    // While a read-out runs, the newest complete ones are still there.
    store.slotBlock(std::vector<uint8_t>(8, 1), 0);
    QStringList files = filesIn(flash);
    EXPECT_TRUE(files.contains("readout-20240102-090000-000.bin")) << files.join(' ').toStdString();
    EXPECT_TRUE(files.contains("readout-20240101-100001-000.bin.part")) << files.join(' ').toStdString();
    EXPECT_FALSE(files.contains("readout-20240101-100000-000-1.bin")) << files.join(' ').toStdString();
    EXPECT_FALSE(files.contains("readout-20240101-100000-000.bin")) << files.join(' ').toStdString();

    QString first;
    const auto connection = QObject::connect(&store, &FlashReadoutStore::readoutIsComplete,
                                             [&first](const QString& name, qint64) { first = name; });
    store.slotBlock({}, 1);
    QObject::disconnect(connection);
    ASSERT_FALSE(first.isEmpty());
    files = filesIn(flash);
    EXPECT_EQ(files, (QStringList{"notes.txt", "readout-20240102-090000-000.bin", first}));

    const QString second = readOut(store);
    QStringList expected{"notes.txt", first, second};
    expected.sort();
    EXPECT_EQ(filesIn(flash), expected);
    EXPECT_EQ(store.latestFile(), second);
}

TEST(FlashReadoutStore, TheSettingIsAWholeNumberOfAtLeastOne)
{
    const struct
    {
        const char* settings;
        int keep;
    } rows[] = {
        {R"({})", 20},
        {R"({"flashReadoutsKept": 5})", 5},
        {R"({"flashReadoutsKept": 1})", 1},
        {R"({"flashReadoutsKept": 500})", 500},
        {R"({"flashReadoutsKept": 0})", 20},
        {R"({"flashReadoutsKept": -3})", 20},
        {R"({"flashReadoutsKept": 2.5})", 20},
        {R"({"flashReadoutsKept": "7"})", 20},
        {R"({"flashReadoutsKept": true})", 20},
        {R"({"flashReadoutsKept": null})", 20},
    };
    for (const auto& row : rows) {
        const QVariantMap settings = QJsonDocument::fromJson(row.settings).object().toVariantMap();
        EXPECT_EQ(FlashReadoutStore::keepFrom(settings), row.keep) << row.settings;
    }
}

} // namespace

// A read-out that would leave less than the reserve free on its disk is not
// written: the read-outs already there stay, and the reason is told.
TEST(FlashReadoutStore, AReadoutBelowTheFreeSpaceReserveIsRefusedWithItsReason)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    FlashReadoutStore store(dir.path());
    const QString kept = readOut(store);
    ASSERT_FALSE(kept.isEmpty());
    const qint64 free = Tavrix::Common::DiskReserve::freeBytes(dir.path());
    ASSERT_GT(free, 0);

    // More than is free: nothing new fits.
    store.setReserve(Tavrix::Common::DiskReserve(free + 1024LL * 1024 * 1024 * 1024));
    QSignalSpy failed(&store, &FlashReadoutStore::readoutFailed);
    QSignalSpy complete(&store, &FlashReadoutStore::readoutIsComplete);
    store.slotBlock(std::vector<uint8_t>(1024, 0xAB), 0);
    store.slotBlock(std::vector<uint8_t>(16, 0xCD), 1);
    ASSERT_EQ(failed.count(), 1);
    EXPECT_TRUE(failed.at(0).at(0).toString().contains("reserve")) << failed.at(0).at(0).toString().toStdString();
    EXPECT_EQ(complete.count(), 0);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{kept});

    // With room again the next read-out is written as ever.
    store.setReserve(Tavrix::Common::DiskReserve(0));
    EXPECT_FALSE(readOut(store).isEmpty());
}

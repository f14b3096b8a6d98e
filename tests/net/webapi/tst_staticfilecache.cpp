#include "net/webapi/staticfilecache.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using Tavrix::Net::WebApi::StaticFileCache;

namespace {

class StaticFileCacheTest : public ::testing::Test
{
public: // the table's change functions use these
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString path(const QString& name) const { return m_dir.path() + "/" + name; }

    void write(const QString& name, const QByteArray& content)
    {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(content), content.size());
    }

    QByteArray read(StaticFileCache& cache, const QString& name, bool* found = nullptr)
    {
        QByteArray contents = "untouched";
        const bool ok = cache.read(path(name), contents);
        if (found)
            *found = ok;
        return ok ? contents : QByteArray("<none>");
    }

    QTemporaryDir m_dir;
};

// Every way a file can change between two requests; each must be served as
// it is now, whether the old bytes were kept or not.
TEST_F(StaticFileCacheTest, AChangedReplacedOrRemovedFileIsReadAfresh)
{
    struct Case
    {
        const char* name;
        void (*change)(StaticFileCacheTest&, const QString&);
        QByteArray expected;
    };
    const Case cases[] = {
        {"grown", [](StaticFileCacheTest& t, const QString& n) { t.write(n, "version two, longer"); },
         "version two, longer"},
        {"replaced by rename",
         [](StaticFileCacheTest& t, const QString& n) {
             t.write(n + ".new", "v-two");
             ASSERT_EQ(::rename(QFile::encodeName(t.path(n + ".new")).constData(),
                                QFile::encodeName(t.path(n)).constData()),
                       0);
         },
         "v-two"},
        {"removed", [](StaticFileCacheTest& t, const QString& n) { ASSERT_TRUE(QFile::remove(t.path(n))); },
         "<none>"},
        {"made unreadable",
         [](StaticFileCacheTest& t, const QString& n) {
             ASSERT_EQ(::chmod(QFile::encodeName(t.path(n)).constData(), 0), 0);
         },
         geteuid() == 0 ? QByteArray("v-one") : QByteArray("<none>")}, // root reads it all the same
        {"turned into a directory",
         [](StaticFileCacheTest& t, const QString& n) {
             ASSERT_TRUE(QFile::remove(t.path(n)));
             ASSERT_TRUE(QDir().mkdir(t.path(n)));
         },
         "<none>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Kept at once, so the second request would be answered from memory.
        StaticFileCache cache(1 << 20, 1 << 20, 0);
        write(c.name, "v-one");
        EXPECT_EQ(read(cache, c.name), "v-one");
        EXPECT_EQ(read(cache, c.name), "v-one");
        ASSERT_EQ(cache.entries(), 1);
        c.change(*this, c.name);
        EXPECT_EQ(read(cache, c.name), c.expected);
        EXPECT_EQ(read(cache, c.name), c.expected);
    }
}

TEST_F(StaticFileCacheTest, AFileJustWrittenIsReadEveryTimeUntilItSettles)
{
    // Same size, rewritten at once: its times may not move, so it must not
    // have been kept.
    StaticFileCache cache;
    write("young.txt", "aaaa");
    EXPECT_EQ(read(cache, "young.txt"), "aaaa");
    write("young.txt", "bbbb");
    EXPECT_EQ(read(cache, "young.txt"), "bbbb");
    EXPECT_EQ(cache.entries(), 0);
}

TEST_F(StaticFileCacheTest, WhatIsKeptStaysWithinItsBounds)
{
    StaticFileCache cache(10, 25, 0);
    write("big.txt", QByteArray(11, 'x'));
    write("a.txt", QByteArray(10, 'a'));
    write("b.txt", QByteArray(10, 'b'));
    write("c.txt", QByteArray(10, 'c'));
    EXPECT_EQ(read(cache, "big.txt"), QByteArray(11, 'x'));
    EXPECT_EQ(cache.entries(), 0); // larger than one file may be
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        EXPECT_EQ(read(cache, name), QByteArray(10, name[0]));
    EXPECT_LE(cache.bytes(), 25);
    EXPECT_EQ(cache.entries(), 2);
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        EXPECT_EQ(read(cache, name), QByteArray(10, name[0]));
}

TEST_F(StaticFileCacheTest, SpecialFilesAreNotServed)
{
    StaticFileCache cache;
    bool found = true;
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600), 0);
    read(cache, "fifo", &found); // must not wait for a writer
    EXPECT_FALSE(found);
    read(cache, ".", &found);
    EXPECT_FALSE(found);
    read(cache, "missing", &found);
    EXPECT_FALSE(found);
}

} // namespace

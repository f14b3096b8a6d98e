#include "common/simplelogger.h"

#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>

using Tavrix::Common::SimpleLogger;

namespace {

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void writeLines(const std::string& path, int count, size_t lineLength)
{
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < count; ++i) {
        std::string line = std::to_string(i);
        line.resize(lineLength - 1, '.');
        out << line << '\n';
    }
}

} // namespace

TEST(SimpleLogger, TemporaryPathKeepsDirectoryAndExtension)
{
    EXPECT_EQ(SimpleLogger("/var/log/ErrorLog.txt", 10, 5).temporaryPath(), "/var/log/ErrorLog_temp.txt");
    EXPECT_EQ(SimpleLogger("/var/log/ErrorLog", 10, 5).temporaryPath(), "/var/log/ErrorLog_temp");
    EXPECT_EQ(SimpleLogger("/a.b/log", 10, 5).temporaryPath(), "/a.b/log_temp");
    EXPECT_EQ(SimpleLogger("C:\\x\\e.log", 10, 5).temporaryPath(), "C:\\x\\e_temp.log");
}

TEST(SimpleLogger, WritesTimeStampedLines)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("ErrorLog.txt").toStdString();
    SimpleLogger logger(path, 4194304, 1048576);
    logger.write("first");
    logger.write("second");
    const std::string content = readAll(path);
    const std::regex line(R"(\d\d:\d\d:\d\d\.\d\d\d first\n\d\d:\d\d:\d\d\.\d\d\d second\n)");
    EXPECT_TRUE(std::regex_match(content, line)) << content;
}

TEST(SimpleLogger, FullFileDropsAtLeastTheCutSizeOfOldestLinesFirst)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("ErrorLog.txt").toStdString();
    const size_t lineLength = 1024; // 4096 lines of 1 KiB make exactly 4 MiB
    writeLines(path, 4096, lineLength);
    ASSERT_EQ(readAll(path).size(), 4194304u);

    SimpleLogger logger(path, 4194304, 1048576);
    logger.write("newest");

    const std::string content = readAll(path);
    EXPECT_LE(content.size(), 4194304u);
    // 1024 whole lines (1 MiB) are gone: the file now starts at line 1024.
    EXPECT_EQ(content.substr(0, 5), "1024.");
    EXPECT_NE(content.find("4095."), std::string::npos);
    EXPECT_EQ(content.substr(content.size() - 7), "newest\n");
    EXPECT_FALSE(std::ifstream(logger.temporaryPath()).good()) << "temporary file left behind";
}

TEST(SimpleLogger, WriteThatFitsDoesNotTruncate)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("log.txt").toStdString();
    writeLines(path, 10, 100);
    SimpleLogger logger(path, 2000, 500);
    logger.write("x");
    const std::string content = readAll(path);
    EXPECT_EQ(content.substr(0, 2), "0.");
}

TEST(SimpleLogger, CutSizeLargerThanMaximumUsesTheMaximum)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("log.txt").toStdString();
    writeLines(path, 10, 100); // 1000 bytes
    SimpleLogger logger(path, 1000, 100000);
    logger.write("after");
    // Cutting the maximum size drops every old line: only the new one is
    // left. (Looking for an old line's text would also find the seconds of
    // the time stamp, "…:09.123", one run in ten.)
    const std::string content = readAll(path);
    EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 1) << content;
    EXPECT_EQ(content.substr(content.size() - 7), " after\n") << content;
}

TEST(SimpleLogger, UnwritableFileLosesTheLineSilently)
{
    SimpleLogger logger("/nonexistent-dir/sub/log.txt", 1000, 100);
    logger.write("lost"); // must neither crash nor throw
    SUCCEED();
}

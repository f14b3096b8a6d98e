#include "common/threadlogging.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>

using Tavrix::Common::ThreadLogging;

TEST(ThreadLogging, StringsGetOneTrailingSpace)
{
    ThreadLogging log;
    log << "start" << "!" << '\n';
    EXPECT_EQ(log.take(), "start ! \n");
    EXPECT_EQ(log.take(), "");
}

TEST(ThreadLogging, FullBufferDropsTextUntilTheNextDrain)
{
    ThreadLogging log;
    const std::string chunk(999, 'a'); // 1000 bytes with its space
    for (int i = 0; i < 10; ++i)
        log << chunk.c_str();
    log << "overflow";
    EXPECT_TRUE(log.failed());
    const std::string text = log.take();
    EXPECT_EQ(text.size(), ThreadLogging::bufferSize);
    EXPECT_EQ(text.find("overflow"), std::string::npos);

    log << "again";
    EXPECT_FALSE(log.failed());
    EXPECT_EQ(log.take(), "again ");
}

TEST(ThreadLogging, NullPointerMarksTheStreamFailed)
{
    ThreadLogging log;
    log << static_cast<const char*>(nullptr);
    EXPECT_TRUE(log.failed());
    EXPECT_EQ(log.take(), "");
    EXPECT_FALSE(log.failed());
}

TEST(ThreadLogging, WriterAndDrainerNeverTearAStringFromItsSpace)
{
    ThreadLogging log;
    std::string drained;
    std::thread writer([&log] {
        for (int i = 0; i < 20000; ++i)
            log << "word";
    });
    for (int i = 0; i < 2000; ++i)
        drained += log.take();
    writer.join();
    drained += log.take();
    // Whatever was dropped while full, what arrived is whole "word " units.
    ASSERT_EQ(drained.size() % 5, 0u);
    for (size_t i = 0; i < drained.size(); i += 5)
        ASSERT_EQ(drained.compare(i, 5, "word "), 0) << "at " << i;
}

TEST(ThreadLogging, TheReaderIsToldOncePerDrainThatThereIsText)
{
    ThreadLogging log;
    int told = 0;
    log.setOnFirstText([&told] { ++told; });
    EXPECT_EQ(told, 0);
    log << "one" << "two" << '\n';
    EXPECT_EQ(told, 1);
    EXPECT_EQ(log.take(), "one two \n");
    log << '\n';
    log << "three";
    EXPECT_EQ(told, 2);
    log.take();
    // A null pointer writes nothing, so there is nothing to drain.
    log << static_cast<const char*>(nullptr);
    EXPECT_EQ(told, 2);
}

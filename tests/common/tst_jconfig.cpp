#include "common/jconfig.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

using Tavrix::Common::JConfig;

TEST(JConfig, RecordsOneParameterPerArgumentInTextOrder)
{
    JConfig::clear();
    std::vector<std::string> args;
    for (int i = 0; i < 12; ++i)
        args.push_back("arg" + std::to_string(i));
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    JConfig::addRgs(static_cast<int>(argv.size()), argv.data());

    const QStringList names = JConfig::all().keys();
    ASSERT_EQ(names.size(), 12);
    // Plain text order: argc10 and argc11 sort between argc1 and argc2.
    EXPECT_EQ(names.mid(0, 5), (QStringList{"argc0", "argc1", "argc10", "argc11", "argc2"}));
    EXPECT_EQ(JConfig::getRg("argc3").toString(), "arg3");
    JConfig::clear();
}

TEST(JConfig, NoArgumentsRecordNothing)
{
    JConfig::clear();
    JConfig::addRgs(0, nullptr);
    EXPECT_TRUE(JConfig::all().isEmpty());
}

TEST(JConfig, AbsentParameterAsksTheApplicationToQuitWithAnError)
{
    JConfig::clear();
    EXPECT_FALSE(JConfig::hasRg("PathToWebTerminal"));
    EXPECT_FALSE(JConfig::getRg("PathToWebTerminal").isValid());
    EXPECT_TRUE(JConfig::hasRg("PathToWebTerminal")); // inserted with an invalid value
    // The quit request is queued: the loop started next ends with -1.
    QTimer::singleShot(2000, [] { QCoreApplication::exit(0); });
    EXPECT_EQ(QCoreApplication::exec(), -1);
    JConfig::clear();
}

TEST(JConfig, DuplicateNameReplacesTheValueAndAsksToQuit)
{
    JConfig::clear();
    JConfig::addRg("a", 1);
    JConfig::addRg("a", 2);
    EXPECT_EQ(JConfig::getRg("a").toInt(), 2);
    QTimer::singleShot(2000, [] { QCoreApplication::exit(0); });
    EXPECT_EQ(QCoreApplication::exec(), -1);
    JConfig::clear();
}

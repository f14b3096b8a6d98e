#include "devicesinfo/sharedlist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Tavrix::DevicesInfo::SharedList;

namespace {

std::vector<std::string> asVector(const SharedList<std::string>& list)
{
    return {list.begin(), list.end()};
}

// A copy and its original go their own ways as soon as either changes.
TEST(SharedList, ACopyIsIndependentOfItsOriginal)
{
    SharedList<std::string> original{"Name", "ReadRtc"};
    SharedList<std::string> copy = original;
    copy.push_back("Ping");
    EXPECT_EQ(asVector(original), (std::vector<std::string>{"Name", "ReadRtc"}));
    EXPECT_EQ(asVector(copy), (std::vector<std::string>{"Name", "ReadRtc", "Ping"}));

    SharedList<std::string> second = original;
    original.clear();
    EXPECT_TRUE(original.empty());
    EXPECT_EQ(second.size(), 2u);
    EXPECT_EQ(second[1], "ReadRtc");

    original.push_back("Custom");
    EXPECT_EQ(asVector(original), std::vector<std::string>{"Custom"});
    EXPECT_EQ(asVector(second), (std::vector<std::string>{"Name", "ReadRtc"}));
}

TEST(SharedList, AnEmptyListReadsAsEmpty)
{
    const SharedList<std::string> list;
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.size(), 0u);
    EXPECT_EQ(list.begin(), list.end());
}

} // namespace

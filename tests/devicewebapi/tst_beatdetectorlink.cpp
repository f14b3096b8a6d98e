#include "devicewebapi/beatdetectorlink.h"

#include <gtest/gtest.h>

#include <vector>

using Tavrix::DeviceWebApi::BeatDetectorLink;

TEST(BeatDetectorLinkTest, HeartRateIsTheMedianOfTheLastIntervals)
{
    struct Row
    {
        const char* name;
        std::vector<double> intervalsMs;
        double bpm;
    } rows[] = {
        {"none", {}, 0.0},
        {"one", {1000}, 60.0},
        {"steady", {800, 800, 800, 800}, 75.0},
        {"one premature beat and its pause", {800, 800, 500, 1100, 800, 800, 800, 800}, 75.0},
        {"even count takes the middle two", {600, 1000}, 75.0},
        {"a missed beat", {750, 750, 1500, 750, 750}, 80.0},
    };
    for (const Row& row : rows)
        EXPECT_DOUBLE_EQ(BeatDetectorLink::rateFromIntervals(row.intervalsMs), row.bpm) << row.name;
}

TEST(BeatDetectorLinkTest, NoHeartRateBeforeAnyBeat)
{
    BeatDetectorLink link;
    const BeatDetectorLink::HeartRate rate = link.heartRate();
    EXPECT_FALSE(rate.bpm.has_value());
    EXPECT_FALSE(rate.lastBeatFrame.has_value());
}

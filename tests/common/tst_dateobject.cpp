#include "common/datetimeobject.h"

#include <gtest/gtest.h>

using Tavrix::Common::DateObject;
using Tavrix::Common::DateTimeObject;
using Tavrix::Common::TimeObject;

struct DateCase
{
    const char* text;
    int year;
    int month;
    int day;
};

class DateClamping : public ::testing::TestWithParam<DateCase>
{
};

TEST_P(DateClamping, ClampsToTheCalendar)
{
    const DateCase& c = GetParam();
    const DateObject date = DateObject::fromString(c.text);
    EXPECT_TRUE(date.isSet());
    EXPECT_EQ(date.year, c.year);
    EXPECT_EQ(date.month, c.month);
    EXPECT_EQ(date.day, c.day);
}

INSTANTIATE_TEST_SUITE_P(Dates, DateClamping,
                         ::testing::Values(DateCase{"2024-02-30", 2024, 2, 29},
                                           DateCase{"2023-02-29", 2023, 2, 28},
                                           DateCase{"1900-02-29", 1900, 2, 28},
                                           DateCase{"2000-02-29", 2000, 2, 29},
                                           DateCase{"2021-13-00", 2021, 12, 1},
                                           DateCase{"2021-04-31", 2021, 4, 30},
                                           DateCase{"2021-12-31", 2021, 12, 31},
                                           DateCase{"2021-00-15", 2021, 1, 15},
                                           DateCase{"2021/06/15", 2021, 6, 15}));

TEST(DateObject, WrongLengthOrNonDigitsGiveTheUnsetDefault)
{
    for (const char* text : {"", "2021-1-1", "2021-01-011", "20a1-01-01", "2021-0x-01"}) {
        const DateObject date = DateObject::fromString(text);
        EXPECT_FALSE(date.isSet()) << text;
        EXPECT_EQ(date, DateObject()) << text;
    }
}

TEST(TimeObject, ClampsEachField)
{
    const TimeObject time = TimeObject::fromString("25:61:99");
    EXPECT_TRUE(time.isSet());
    EXPECT_EQ(time.hour, 23);
    EXPECT_EQ(time.minute, 59);
    EXPECT_EQ(time.second, 59);
    EXPECT_EQ(TimeObject::fromString("07:08:09").toString(), "07:08:09");
    EXPECT_FALSE(TimeObject::fromString("7:08:09").isSet());
}

TEST(DateTimeObject, AcceptsAnySeparatorBetweenDateAndTime)
{
    const DateTimeObject a = DateTimeObject::fromString("2021-01-01T10:00:00");
    const DateTimeObject b = DateTimeObject::fromString("2021-01-01 10:00:00");
    EXPECT_TRUE(a.isSet());
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.toString(), "2021-01-01 10:00:00");
}

TEST(DateTimeObject, SixteenCharactersGiveUnsetDateAndTime)
{
    const DateTimeObject value = DateTimeObject::fromString("2021-01-01 10:00");
    EXPECT_FALSE(value.date.isSet());
    EXPECT_FALSE(value.time.isSet());
}

#include "net/websockets/backlogbound.h"

#include <gtest/gtest.h>

using Tavrix::Net::WebSockets::BacklogBound;
using Reason = BacklogBound::EReason;

TEST(BacklogBound, DropsClientsPastTheirOwnBoundThenTheFurthestBehindUntilTheRestFit)
{
    struct Case
    {
        const char* what;
        std::vector<qint64> unsent;
        qint64 incoming;
        std::vector<std::pair<std::size_t, Reason>> drop;
    };
    // Own bound 100, all together 250.
    const std::vector<Case> cases = {
        {"no clients", {}, 10, {}},
        {"all within both bounds", {50, 100, 90}, 10, {}},
        {"exactly at the total with the message", {100, 100, 40}, 10, {}},
        {"one past its own bound", {101, 10}, 10, {{0, Reason::OwnBound}}},
        {"together past the total: the furthest behind goes", {90, 100, 70}, 10, {{1, Reason::TogetherBound}}},
        {"as many as it takes, furthest first", {100, 100, 100, 100}, 10,
         {{0, Reason::TogetherBound}, {1, Reason::TogetherBound}}},
        {"own bound first, then the total without them", {200, 100, 100, 60}, 10,
         {{0, Reason::OwnBound}, {1, Reason::TogetherBound}}},
        {"a message larger than the total empties the server", {1, 2}, 300,
         {{1, Reason::TogetherBound}, {0, Reason::TogetherBound}}},
    };
    const BacklogBound bound(100, 250);
    for (const Case& c : cases)
        EXPECT_EQ(bound.clientsToDrop(c.unsent, c.incoming), c.drop) << c.what;
}

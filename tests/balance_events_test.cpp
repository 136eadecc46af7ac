// The ledger's events kept compactly give back exactly the events put in: changes that are
// the step from the balance before and changes that are not (the first event, a merge, a
// figure the floor cut, sums held at the top), with and without units.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "history/BalanceHistory.h"

namespace {

using qv::history::BalanceEvent;
using qv::history::BalanceEvents;

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

TEST(BalanceEventsTest, GivesBackWhatWasPutIn) {
    const std::vector<BalanceEvent> put = {
        {100, 7, 7, {}},                  // the first: its change is its own
        {110, 5, 12, {}},                 // a step
        {120, -30, 0, {1, 0, 2, 0}},      // the floor took 18: not the step of -12
        {130, 0, 0, {}},                  // no change
        {140, 9, 50, {}},                 // a merge's sum: not the step of 50
        {150, -10, 40, {0, 0, 0, -3}},    // an undo's units come off
        {150, kMax, kMax, {}},            // held at the top: the step saturates too
        {160, -5, kMax - 5, {}},
        {170, kMin, -1, {kMax, kMin, 0, 1}},
    };
    BalanceEvents events;
    for (const BalanceEvent& e : put) events.push_back(e);
    ASSERT_EQ(events.size(), put.size());
    size_t i = 0;
    for (const BalanceEvent e : events) {
        EXPECT_EQ(e.time, put[i].time) << i;
        EXPECT_EQ(e.change, put[i].change) << i;
        EXPECT_EQ(e.balance, put[i].balance) << i;
        EXPECT_EQ(e.reportedUnits, put[i].reportedUnits) << i;
        EXPECT_EQ(events.Time(i), put[i].time) << i;
        EXPECT_EQ(events.Balance(i), put[i].balance) << i;
        ++i;
    }
    EXPECT_EQ(i, put.size());
    ASSERT_EQ(events.WithUnits().size(), 3u) << "only the events that carry units";
    EXPECT_EQ(events.WithUnits()[1].first, 5u);
}

}  // namespace

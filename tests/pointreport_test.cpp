#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "execution/PointReport.h"

namespace {

TEST(PointReport, TotalTable) {
    struct Case {
        const char* what;
        std::array<int, 4> weights;
        std::array<const char*, 4> units;
        std::array<std::int64_t, 4> counted;
        std::int64_t r;
    } cases[] = {
        {"1.0 x 3 + 1.5 x 2", {10, 15, 0, 0}, {"3", "2", "", ""}, {3, 2, 0, 0}, 6},
        {"4.5 rounds down", {15, 0, 0, 0}, {"3", "", "", ""}, {3, 0, 0, 0}, 4},
        {"0.7 x 5", {7, 0, 0, 0}, {"5", "", "", ""}, {5, 0, 0, 0}, 3},
        {"0.7 x 10", {7, 0, 0, 0}, {"10", "", "", ""}, {10, 0, 0, 0}, 7},
        {"0.7 x 90 is 62, not 63", {7, 0, 0, 0}, {"90", "", "", ""}, {90, 0, 0, 0}, 62},
        {"1.4 x 45", {0, 14, 0, 0}, {"", "45", "", ""}, {0, 45, 0, 0}, 62},
        {"1.4 x 85", {0, 0, 14, 0}, {"", "", "85", ""}, {0, 0, 85, 0}, 118},
        {"1.4 x 90", {0, 0, 0, 14}, {"", "", "", "90"}, {0, 0, 0, 90}, 125},
        {"0.7 x 90 + 0.7 x 10: the running total is rounded each time",
         {7, 7, 0, 0}, {"90", "10", "", ""}, {90, 10, 0, 0}, 69},
        {"weight 0 never counts", {0, 10, 0, 0}, {"5", "2", "", ""}, {0, 2, 0, 0}, 2},
        {"a negative weight never counts", {-5, 0, 0, 0}, {"5", "", "", ""}, {0, 0, 0, 0}, 0},
        {"12abc counts 12", {10, 0, 0, 0}, {"12abc", "", "", ""}, {12, 0, 0, 0}, 12},
        {"blanks and sign as atol", {10, 10, 0, 0}, {"  +4", " 3 ", "", ""}, {4, 3, 0, 0}, 7},
        {"-3, 0 and abc are skipped", {10, 10, 10, 20}, {"-3", "0", "abc", "1"}, {0, 0, 0, 1}, 2},
        {"nothing entered", {10, 10, 10, 10}, {"", "", "", ""}, {0, 0, 0, 0}, 0},
        {"largest that fits", {10, 0, 0, 0}, {"2147483647", "", "", ""},
         {2147483647, 0, 0, 0}, 2147483647},
        {"0.5 x 4294967295 = 2147483647.5", {5, 0, 0, 0}, {"4294967295", "", "", ""},
         {4294967295, 0, 0, 0}, 2147483647},
    };
    for (const auto& c : cases) {
        std::array<qv::execution::PointReportEntry, 4> entries;
        for (size_t k = 0; k < 4; ++k) entries[k] = {c.weights[k], c.units[k]};
        qv::execution::PointReportTotal total = qv::execution::TotalPointReport(entries);
        EXPECT_TRUE(total.fits) << c.what;
        EXPECT_EQ(total.points, c.r) << c.what;
        EXPECT_EQ(total.units, c.counted) << c.what;
    }
}

TEST(PointReport, ATotalBeyond32BitsIsRefusedNotWrapped) {
    for (const char* units : {"2147483648", "99999999999999999999999"}) {
        std::array<qv::execution::PointReportEntry, 4> entries{{{10, units}, {0, ""}, {0, ""}, {0, ""}}};
        qv::execution::PointReportTotal total = qv::execution::TotalPointReport(entries);
        EXPECT_FALSE(total.fits) << units;
        EXPECT_EQ(total.points, 0) << units;
    }
    std::array<qv::execution::PointReportEntry, 4> sum{
        {{20, "1073741824"}, {10, "1"}, {0, ""}, {0, ""}}};  // 2^31 + 1 only together
    EXPECT_FALSE(qv::execution::TotalPointReport(sum).fits);
}

TEST(PointReport, CoefficientIsTheDoubleNearestToTheTenths) {
    for (int w = 0; w <= 20; ++w) EXPECT_EQ(qv::execution::ImplementCoefficient(w), w / 10.0) << w;
}

TEST(PointReport, WhatTheFloorAtZeroSwallows) {
    struct Case {
        std::int64_t balance, r, after, swallowed;
    } cases[] = {
        {10, 6, 4, 0},  {5, 5, 0, 0},  {5, 8, 0, 3},
        {0, 3, 0, 3},   {-5, 3, 0, 3},  // a balance below 0 gains nothing from a report
        {10, 0, 10, 0},
    };
    for (const auto& c : cases) {
        const qv::execution::ReportEffect effect = qv::execution::EffectOfReport(c.balance, c.r);
        EXPECT_EQ(effect.after, c.after) << c.balance << " - " << c.r;
        EXPECT_EQ(effect.swallowed, c.swallowed) << c.balance << " - " << c.r;
    }
}

using Units = std::array<std::int64_t, 4>;
constexpr std::int64_t kNone = -1;  // no plan

TEST(PayDownPlan, PlansOnFixtures) {
    struct Case {
        const char* what;
        std::int64_t balance;
        std::array<int, 4> weights;
        std::array<std::int64_t, 4> alone;  // units of implement k alone, or kNone
        Units mixed;                        // all kNone: no mixed plan
    } cases[] = {
        {"1.0, 1.5, none, 0.7", 10, {10, 15, 0, 7}, {10, 7, kNone, 15}, {4, 3, 0, 3}},
        {"7 points of 0.7 take 10 units, not 11",
         7,
         {7, 0, 0, 0},
         {10, kNone, kNone, kNone},
         {10, 0, 0, 0}},
        {"63 points of 0.7 take 91 units: 90 report only 62",
         63,
         {7, 0, 0, 0},
         {91, kNone, kNone, kNone},
         {91, 0, 0, 0}},
        {"62 points of 0.7 take 89", 62, {0, 7, 0, 0}, {kNone, 89, kNone, kNone}, {0, 89, 0, 0}},
        {"rounded up", 1, {20, 15, 3, 10}, {1, 1, 4, 1}, {1, 0, 0, 0}},
        {"equal units pay it exactly", 12, {10, 10, 20, 20}, {12, 12, 6, 6}, {2, 2, 2, 2}},
        {"a negative weight is no implement",
         3,
         {-5, 10, 0, 0},
         {kNone, 3, kNone, kNone},
         {0, 3, 0, 0}},
        {"no implement has weight",
         5,
         {0, 0, 0, 0},
         {kNone, kNone, kNone, kNone},
         {kNone, kNone, kNone, kNone}},
        {"nothing to pay",
         0,
         {10, 10, 10, 10},
         {kNone, kNone, kNone, kNone},
         {kNone, kNone, kNone, kNone}},
        {"a balance below 0",
         -4,
         {10, 10, 10, 10},
         {kNone, kNone, kNone, kNone},
         {kNone, kNone, kNone, kNone}},
        {"more than one report can take",
         2147483648,
         {10, 0, 0, 0},
         {kNone, kNone, kNone, kNone},
         {kNone, kNone, kNone, kNone}},
        {"the most one report takes; 2.0 would overshoot it",
         2147483647,
         {10, 20, 0, 0},
         {2147483647, kNone, kNone, kNone},
         {715827883, 715827882, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const qv::execution::PayDownPlans plans = qv::execution::PlanPayDown(c.balance, c.weights);
        for (size_t k = 0; k < 4; ++k) {
            if (c.alone[k] == kNone) {
                EXPECT_FALSE(plans.alone[k].has_value()) << k;
                continue;
            }
            ASSERT_TRUE(plans.alone[k].has_value()) << k;
            Units units{};
            units[k] = c.alone[k];
            EXPECT_EQ(plans.alone[k]->units, units) << k;
        }
        if (c.mixed[0] == kNone) {
            EXPECT_FALSE(plans.mixed.has_value());
        } else {
            ASSERT_TRUE(plans.mixed.has_value());
            EXPECT_EQ(plans.mixed->units, c.mixed);
        }
    }
}

// Whatever the balance, a plan typed into the report pays it off, and one unit less of an
// implement alone would not: the plans count as the report counts.
TEST(PayDownPlan, EveryPlanIsTheFewestUnitsTheReportAccepts) {
    const std::array<std::array<int, 4>, 4> weightSets{
        {{10, 15, 0, 7}, {7, 14, 3, 1}, {20, 20, 20, 20}, {1, 0, 13, 9}}};
    for (const auto& weights : weightSets) {
        for (std::int64_t balance = 1; balance <= 400; ++balance) {
            SCOPED_TRACE(balance);
            const qv::execution::PayDownPlans plans = qv::execution::PlanPayDown(balance, weights);
            for (size_t k = 0; k < 4; ++k) {
                ASSERT_EQ(plans.alone[k].has_value(), weights[k] > 0);
                if (!plans.alone[k]) continue;
                Units units = plans.alone[k]->units;
                const qv::execution::PointReportTotal total = qv::execution::TotalPointReport(units, weights);
                EXPECT_EQ(total.points, plans.alone[k]->points);
                EXPECT_GE(total.points, balance);
                --units[k];
                EXPECT_LT(qv::execution::TotalPointReport(units, weights).points, balance);
            }
            ASSERT_TRUE(plans.mixed.has_value());
            const Units& mixed = plans.mixed->units;
            EXPECT_GE(qv::execution::TotalPointReport(mixed, weights).points, balance);
            // In proportion to the weights: the units differ by one at most.
            std::int64_t low = INT64_MAX, high = 0;
            for (size_t k = 0; k < 4; ++k) {
                if (weights[k] <= 0) continue;
                low = std::min(low, mixed[k]);
                high = std::max(high, mixed[k]);
            }
            EXPECT_LE(high - low, 1);
        }
    }
}

}  // namespace

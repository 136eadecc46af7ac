#include <gtest/gtest.h>

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
        std::array<qv::PointReportEntry, 4> entries;
        for (size_t k = 0; k < 4; ++k) entries[k] = {c.weights[k], c.units[k]};
        qv::PointReportTotal total = qv::TotalPointReport(entries);
        EXPECT_TRUE(total.fits) << c.what;
        EXPECT_EQ(total.points, c.r) << c.what;
        EXPECT_EQ(total.units, c.counted) << c.what;
    }
}

TEST(PointReport, ATotalBeyond32BitsIsRefusedNotWrapped) {
    for (const char* units : {"2147483648", "99999999999999999999999"}) {
        std::array<qv::PointReportEntry, 4> entries{{{10, units}, {0, ""}, {0, ""}, {0, ""}}};
        qv::PointReportTotal total = qv::TotalPointReport(entries);
        EXPECT_FALSE(total.fits) << units;
        EXPECT_EQ(total.points, 0) << units;
    }
    std::array<qv::PointReportEntry, 4> sum{
        {{20, "1073741824"}, {10, "1"}, {0, ""}, {0, ""}}};  // 2^31 + 1 only together
    EXPECT_FALSE(qv::TotalPointReport(sum).fits);
}

TEST(PointReport, CoefficientIsTheDoubleNearestToTheTenths) {
    for (int w = 0; w <= 20; ++w) EXPECT_EQ(qv::ImplementCoefficient(w), w / 10.0) << w;
}

}  // namespace

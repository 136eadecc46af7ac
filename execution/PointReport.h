#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace qv::execution {

// One implement's row of the point execution report.
struct PointReportEntry {
    int weight = 0;          // tenths of a point per unit; 0 or less: the row never counts
    std::string_view units;  // what was typed; empty when nothing was
};

struct PointReportTotal {
    // Units counted per implement, read like atol; 0 where the row was skipped (empty,
    // not a number, 0 or negative, or an implement without weight).
    std::array<std::int64_t, 4> units{};
    std::int64_t points = 0;  // R: the running total rounded down
    bool fits = true;         // false: R would not fit a signed 32-bit integer (points 0)
};

// The implement's worth of one unit: weight times 0.1 at extended precision, as a double.
double ImplementCoefficient(int weight);

// R of a point execution report. The products and sums are formed at extended precision
// and the running total is rounded to a double after each addition: at some boundaries
// this gives one point less than exact decimal arithmetic (weight 0.7, 90 units: 62).
PointReportTotal TotalPointReport(const std::array<PointReportEntry, 4>& entries);

// The same total for units already counted (0 or less: the row is skipped).
PointReportTotal TotalPointReport(const std::array<std::int64_t, 4>& units,
                                  const std::array<int, 4>& weights);

// What a report of R points does to a balance: the balance never goes below 0, so the
// part of R beyond it is swallowed, not carried anywhere.
struct ReportEffect {
    std::int64_t after = 0;      // the balance after the report
    std::int64_t swallowed = 0;  // points of R that the floor at 0 takes
};
ReportEffect EffectOfReport(std::int64_t balance, std::int64_t points);

// Units that pay a balance off, as the report would count them.
struct PayDownPlan {
    std::array<std::int64_t, 4> units{};
    std::int64_t points = 0;  // R of a report of exactly these units
};

struct PayDownPlans {
    // One implement alone: the fewest units of it whose report reaches the balance.
    // None for an implement without weight.
    std::array<std::optional<PayDownPlan>, 4> alone;
    // Every implement with weight together, the points spread in proportion to the
    // weights (so the units differ by at most one): the fewest that reach the balance.
    std::optional<PayDownPlan> mixed;
};

// Plans for a balance above 0. None at all for a balance of 0 or less, or one that a
// single report cannot take (above 2147483647 points).
PayDownPlans PlanPayDown(std::int64_t balance, const std::array<int, 4>& weights);

}  // namespace qv::execution

#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace qv {

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

}  // namespace qv

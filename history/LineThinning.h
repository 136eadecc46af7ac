#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qv::history {

struct LinePoint {
    double x = 0;
    double y = 0;
    bool operator==(const LinePoint&) const = default;
};

// Thins a line to what a chart `columns` pixels wide over [x0, x1] can show. Of each run
// of consecutive points that fall into one pixel column it keeps the first, the lowest,
// the highest and the last, in their order: drawn at that width the thinned line covers
// the same pixels as the whole one (its extremes and the joins between columns are all
// there), and the line's own first and last points stay. A line in time order keeps at
// most four points per column, however many it has.
//
// Points are fed in the line's order; x outside [x0, x1] counts in the nearest edge column.
// Without a usable width (columns < 1, x1 <= x0, or not finite) every point is kept.
class LineThinner {
public:
    LineThinner(double x0, double x1, int columns);

    void Add(double x, double y);
    // The thinned line; the thinner starts empty again.
    std::vector<LinePoint> Take();

private:
    struct Kept {
        std::uint64_t seq = 0;
        LinePoint p;
    };
    std::int64_t ColumnOf(double x) const;
    void FlushRun();

    double x0_ = 0;
    double scale_ = 0;  // columns per unit of x; 0: keep everything
    std::int64_t columns_ = 0;
    std::uint64_t seq_ = 0;
    bool inRun_ = false;
    std::int64_t runColumn_ = 0;
    Kept first_, low_, high_, last_;
    std::vector<LinePoint> out_;
};

// The same over a whole line.
std::vector<LinePoint> ThinLine(std::span<const LinePoint> points, double x0, double x1,
                                int columns);

}  // namespace qv::history

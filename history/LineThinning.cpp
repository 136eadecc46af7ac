#include "history/LineThinning.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace qv::history {

LineThinner::LineThinner(double x0, double x1, int columns) : x0_(x0) {
    if (columns >= 1 && std::isfinite(x0) && std::isfinite(x1) && x1 > x0) {
        columns_ = columns;
        scale_ = static_cast<double>(columns) / (x1 - x0);
        if (!std::isfinite(scale_)) scale_ = 0;
    }
}

std::int64_t LineThinner::ColumnOf(double x) const {
    const double at = std::floor((x - x0_) * scale_);
    if (!(at >= 0)) return 0;  // NaN too
    if (at >= static_cast<double>(columns_)) return columns_ - 1;
    return static_cast<std::int64_t>(at);
}

void LineThinner::Add(double x, double y) {
    const Kept point{seq_++, {x, y}};
    if (scale_ == 0) {
        out_.push_back(point.p);
        return;
    }
    const std::int64_t column = ColumnOf(x);
    if (inRun_ && column != runColumn_) FlushRun();
    if (!inRun_) {
        inRun_ = true;
        runColumn_ = column;
        first_ = low_ = high_ = last_ = point;
        return;
    }
    // The first of equal extremes is kept: the run then reaches it no later than the line.
    if (y < low_.p.y) low_ = point;
    if (y > high_.p.y) high_ = point;
    last_ = point;
}

void LineThinner::FlushRun() {
    if (!inRun_) return;
    Kept kept[] = {first_, low_, high_, last_};
    std::sort(std::begin(kept), std::end(kept),
              [](const Kept& a, const Kept& b) { return a.seq < b.seq; });
    for (size_t i = 0; i < 4; ++i)
        if (i == 0 || kept[i].seq != kept[i - 1].seq) out_.push_back(kept[i].p);
    inRun_ = false;
}

std::vector<LinePoint> LineThinner::Take() {
    FlushRun();
    seq_ = 0;
    return std::exchange(out_, {});
}

std::vector<LinePoint> ThinLine(std::span<const LinePoint> points, double x0, double x1,
                                int columns) {
    LineThinner thinner(x0, x1, columns);
    for (const LinePoint& p : points) thinner.Add(p.x, p.y);
    return thinner.Take();
}

}  // namespace qv::history

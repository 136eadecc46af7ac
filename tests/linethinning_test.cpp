// A long line thinned to the pixel columns of its chart: every column keeps its lowest and
// highest point, the line its first and last, and the order of what is kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "history/LineThinning.h"

namespace {

using qv::history::LinePoint;
using qv::history::ThinLine;

std::vector<LinePoint> Line(std::initializer_list<std::pair<double, double>> xy) {
    std::vector<LinePoint> line;
    for (auto [x, y] : xy) line.push_back({x, y});
    return line;
}

// What the thinned line must keep of the whole one, checked without knowing how it was
// thinned. Column widths in the cases are powers of two, so columns are exact.
void ExpectShapeKept(const std::vector<LinePoint>& whole, const std::vector<LinePoint>& thin,
                     double x0, double x1, int columns, const std::string& what) {
    if (whole.empty()) {
        EXPECT_TRUE(thin.empty()) << what;
        return;
    }
    ASSERT_FALSE(thin.empty()) << what;
    EXPECT_EQ(thin.front(), whole.front()) << what << ": the first point";
    EXPECT_EQ(thin.back(), whole.back()) << what << ": the last point";
    // What is kept comes from the line, in its order.
    size_t at = 0;
    for (const LinePoint& p : thin) {
        while (at < whole.size() && !(whole[at] == p)) ++at;
        ASSERT_LT(at, whole.size()) << what << ": (" << p.x << ", " << p.y << ") not in order";
        ++at;
    }
    // Every run of points in one column keeps its lowest and highest value.
    const double width = (x1 - x0) / columns;
    const auto column = [&](double x) {
        return std::clamp(static_cast<int>(std::floor((x - x0) / width)), 0, columns - 1);
    };
    size_t t = 0;
    for (size_t begin = 0; begin < whole.size();) {
        size_t end = begin;
        double low = whole[begin].y, high = whole[begin].y;
        while (end < whole.size() && column(whole[end].x) == column(whole[begin].x)) {
            low = std::min(low, whole[end].y);
            high = std::max(high, whole[end].y);
            ++end;
        }
        // The thinned run: the kept points of this column, which follow one another.
        ASSERT_LT(t, thin.size()) << what << ": nothing kept of column " << column(whole[begin].x);
        double keptLow = thin[t].y, keptHigh = thin[t].y;
        size_t kept = 0;
        while (t < thin.size() && column(thin[t].x) == column(whole[begin].x)) {
            keptLow = std::min(keptLow, thin[t].y);
            keptHigh = std::max(keptHigh, thin[t].y);
            ++t;
            ++kept;
        }
        EXPECT_GE(kept, 1u) << what << ": column " << column(whole[begin].x);
        EXPECT_LE(kept, 4u) << what << ": column " << column(whole[begin].x);
        EXPECT_EQ(keptLow, low) << what << ": column " << column(whole[begin].x);
        EXPECT_EQ(keptHigh, high) << what << ": column " << column(whole[begin].x);
        begin = end;
    }
    EXPECT_EQ(t, thin.size()) << what;
}

TEST(LineThinning, KeepsFirstLowHighAndLastOfEachColumn) {
    struct Case {
        const char* what;
        std::vector<LinePoint> line;
        double x0, x1;
        int columns;
        std::vector<LinePoint> kept;
    } cases[] = {
        {"an empty line", {}, 0, 8, 2, {}},
        {"one point", Line({{3, 7}}), 0, 8, 2, Line({{3, 7}})},
        {"fewer points than columns: all of them",
         Line({{0, 1}, {5, 2}, {9, 3}, {13, 0}}), 0, 16, 4, Line({{0, 1}, {5, 2}, {9, 3}, {13, 0}})},
        {"one column: first, high, low, last in their order",
         Line({{0, 5}, {1, 9}, {2, 1}, {3, 4}, {4, 7}, {5, 6}}), 0, 8, 1,
         Line({{0, 5}, {1, 9}, {2, 1}, {5, 6}})},
        {"the low before the high keeps that order",
         Line({{0, 5}, {1, 0}, {2, 3}, {3, 8}, {4, 6}}), 0, 8, 1,
         Line({{0, 5}, {1, 0}, {3, 8}, {4, 6}})},
        {"extremes at the ends are not kept twice",
         Line({{0, 0}, {1, 4}, {2, 2}, {3, 9}}), 0, 8, 1, Line({{0, 0}, {3, 9}})},
        {"a flat run keeps its ends", Line({{0, 3}, {1, 3}, {2, 3}, {3, 3}}), 0, 8, 1,
         Line({{0, 3}, {3, 3}})},
        {"two columns, each on its own",
         Line({{0, 1}, {1, 8}, {2, 2}, {3, 5}, {4, 0}, {5, 9}, {6, 4}, {7, 6}}), 0, 8, 2,
         Line({{0, 1}, {1, 8}, {3, 5}, {4, 0}, {5, 9}, {7, 6}})},
        {"points beyond the range count in the edge columns",
         Line({{-5, 2}, {-1, 7}, {0, 1}, {1, 3}, {9, 4}, {20, 8}, {30, 5}}), 0, 8, 2,
         Line({{-5, 2}, {-1, 7}, {0, 1}, {1, 3}, {9, 4}, {20, 8}, {30, 5}})},
        {"a line going back in time is thinned run by run",
         Line({{0, 1}, {1, 5}, {2, 2}, {3, 3}, {5, 9}, {6, 0}, {1, 4}, {2, 6}, {3, 2}, {0, 8}}),
         0, 8, 2, Line({{0, 1}, {1, 5}, {3, 3}, {5, 9}, {6, 0}, {1, 4}, {3, 2}, {0, 8}})},
        {"no columns: every point stays", Line({{0, 1}, {1, 2}, {2, 1}, {3, 2}}), 0, 8, 0,
         Line({{0, 1}, {1, 2}, {2, 1}, {3, 2}})},
        {"an empty range: every point stays", Line({{0, 1}, {1, 2}, {2, 1}, {3, 2}}), 4, 4, 8,
         Line({{0, 1}, {1, 2}, {2, 1}, {3, 2}})},
    };
    for (const Case& c : cases) {
        const std::vector<LinePoint> thin = ThinLine(c.line, c.x0, c.x1, c.columns);
        EXPECT_EQ(thin, c.kept) << c.what;
        if (c.columns > 0 && c.x1 > c.x0) ExpectShapeKept(c.line, thin, c.x0, c.x1, c.columns, c.what);
    }
}

// A balance over years of daily changes, far more points than pixels: at most four a
// column, and the shape of every column kept, at several widths.
TEST(LineThinning, ALongLineKeepsAtMostFourPointsAColumnAndEveryExtreme) {
    std::mt19937 random(19);
    std::uniform_int_distribution<int> step(-40, 40);
    std::vector<LinePoint> line;
    double balance = 500;
    for (int i = 0; i < 200000; ++i) {
        balance = std::max(0.0, balance + step(random));
        // A spike in one place: the one point a plain every-nth thinning would miss.
        line.push_back({static_cast<double>(i), i == 123457 ? 1e6 : balance});
    }
    for (int columns : {1, 4, 512, 1024, 4096}) {
        const double x1 = 1024.0 * 256;  // beyond the last point; columns a power of two wide
        const std::vector<LinePoint> thin = ThinLine(line, 0, x1, columns);
        EXPECT_LE(thin.size(), 4u * static_cast<size_t>(columns)) << columns;
        EXPECT_NE(std::find(thin.begin(), thin.end(), LinePoint{123457, 1e6}), thin.end())
            << columns;
        ExpectShapeKept(line, thin, 0, x1, columns, std::to_string(columns) + " columns");
    }
}

}  // namespace

#pragma once

#include <cstdint>
#include <string>

#include "trial/Verdict.h"

namespace qv::test {

// The verdict the multi-file tests decide: article 12 "X", 29 points in all, 12 units of
// implement A and `points` on the balance, with the record line
// "<time>\t12\tX\t29\tA:12 \t0\t12\t0\t0\t0\t<points>".
inline CVerdict SampleVerdict(std::int64_t points = 9, std::string verdictText = {}) {
    CVerdict v;
    v.articleNumber = 12;
    v.articleName = "X";
    v.total = 29;
    v.distribution = "A:12 ";
    v.counts = {12, 0, 0, 0, points};
    v.countsText = "12\t0\t0\t0\t" + std::to_string(points);
    v.points = points;
    v.verdictText = std::move(verdictText);
    return v;
}

}  // namespace qv::test

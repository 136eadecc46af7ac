#include "execution/PointReport.h"

#include <cmath>
#include <limits>

#include "rulebook/Tenths.h"
#include "text/Numbers.h"

namespace qv::execution {

namespace {

constexpr double kMaxReport = 2147483647.0;

// The running total of a report, rounded down: the products and sums are formed at
// extended precision and the running total is rounded to a double after each addition.
double RoundedTotal(const std::array<std::int64_t, 4>& units, const std::array<int, 4>& weights) {
    double running = 0.0;
    for (size_t k = 0; k < units.size(); ++k) {
        if (weights[k] <= 0 || units[k] <= 0) continue;
        running = static_cast<double>(static_cast<Extended>(running) +
                                      static_cast<Extended>(units[k]) *
                                          static_cast<Extended>(ImplementCoefficient(weights[k])));
    }
    return std::floor(running);
}

// A plan as the report would book it; none when its report would not fit.
std::optional<PayDownPlan> Booked(const std::array<std::int64_t, 4>& units,
                                  const std::array<int, 4>& weights) {
    const double r = RoundedTotal(units, weights);
    if (r > kMaxReport) return std::nullopt;
    return PayDownPlan{units, static_cast<std::int64_t>(r)};
}

}  // namespace

double ImplementCoefficient(int weight) {
    return static_cast<double>(static_cast<Extended>(weight) * kTenth);
}

PointReportTotal TotalPointReport(const std::array<std::int64_t, 4>& units,
                                  const std::array<int, 4>& weights) {
    PointReportTotal total;
    for (size_t k = 0; k < units.size(); ++k) {
        if (weights[k] > 0 && units[k] > 0) total.units[k] = units[k];
    }
    const double r = RoundedTotal(total.units, weights);
    // Refused rather than wrapped into a wrong (possibly negative) report.
    total.fits = r <= kMaxReport;
    total.points = total.fits ? static_cast<std::int64_t>(r) : 0;
    return total;
}

PointReportTotal TotalPointReport(const std::array<PointReportEntry, 4>& entries) {
    std::array<std::int64_t, 4> units{};
    std::array<int, 4> weights{};
    for (size_t k = 0; k < entries.size(); ++k) {
        weights[k] = entries[k].weight;
        if (entries[k].weight > 0 && !entries[k].units.empty())
            units[k] = ReadInt64(entries[k].units);
    }
    return TotalPointReport(units, weights);
}

ReportEffect EffectOfReport(std::int64_t balance, std::int64_t points) {
    ReportEffect effect;
    if (points <= 0) {
        effect.after = balance;
        return effect;
    }
    const std::int64_t after = SaturatingAdd(balance, -points);
    effect.after = after < 0 ? 0 : after;
    // What lay below 0 is lost; a balance already below 0 loses all of R.
    effect.swallowed = after < 0 ? (balance < 0 ? points : -after) : 0;
    return effect;
}

PayDownPlans PlanPayDown(std::int64_t balance, const std::array<int, 4>& weights) {
    PayDownPlans plans;
    if (balance <= 0 || balance > static_cast<std::int64_t>(kMaxReport)) return plans;
    const double target = static_cast<double>(balance);
    const auto reaches = [&](const std::array<std::int64_t, 4>& units) {
        return RoundedTotal(units, weights) >= target;
    };

    // One implement alone: start from the quotient rounded up, then settle on the fewest
    // units the report's own rounding accepts (0.7 is held slightly below 0.7).
    for (size_t k = 0; k < weights.size(); ++k) {
        if (weights[k] <= 0) continue;
        std::array<std::int64_t, 4> units{};
        units[k] = static_cast<std::int64_t>(std::ceil(target / ImplementCoefficient(weights[k])));
        for (;;) {
            --units[k];
            if (units[k] < 1 || !reaches(units)) break;
        }
        ++units[k];
        while (!reaches(units)) ++units[k];
        plans.alone[k] = Booked(units, weights);
    }

    // Points in proportion to the weights is the same number of units of each: q of each
    // falls short, q + 1 of each reaches; then one more unit at a time, in implement
    // order, until the report reaches the balance.
    std::int64_t weightSum = 0;
    for (int w : weights) weightSum += w > 0 ? w : 0;
    if (weightSum == 0) return plans;
    const auto each = [&](std::int64_t q) {
        std::array<std::int64_t, 4> units{};
        for (size_t k = 0; k < weights.size(); ++k) units[k] = weights[k] > 0 ? q : 0;
        return units;
    };
    std::int64_t q = balance * 10 / weightSum;
    while (q > 0 && reaches(each(q))) --q;
    while (reaches(each(q + 1)) == false) ++q;
    std::array<std::int64_t, 4> units = each(q);
    for (size_t k = 0; k < weights.size() && !reaches(units); ++k) {
        if (weights[k] > 0) ++units[k];
    }
    plans.mixed = Booked(units, weights);
    return plans;
}

}  // namespace qv::execution

#include "execution/PointReport.h"

#include <cmath>

#include "rulebook/Tenths.h"
#include "text/Numbers.h"

namespace qv {

double ImplementCoefficient(int weight) {
    return static_cast<double>(static_cast<Extended>(weight) * kTenth);
}

PointReportTotal TotalPointReport(const std::array<PointReportEntry, 4>& entries) {
    PointReportTotal total;
    double running = 0.0;
    for (size_t k = 0; k < entries.size(); ++k) {
        const PointReportEntry& entry = entries[k];
        if (entry.weight <= 0 || entry.units.empty()) continue;
        std::int64_t u = ReadInt64(entry.units);
        if (u <= 0) continue;
        total.units[k] = u;
        running = static_cast<double>(static_cast<Extended>(running) +
                                      static_cast<Extended>(u) *
                                          static_cast<Extended>(ImplementCoefficient(entry.weight)));
    }
    const double r = std::floor(running);
    // Refused rather than wrapped into a wrong (possibly negative) report.
    total.fits = r <= 2147483647.0;
    total.points = total.fits ? static_cast<std::int64_t>(r) : 0;
    return total;
}

}  // namespace qv

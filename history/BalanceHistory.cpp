#include "history/BalanceHistory.h"

#include "rulebook/Info.h"
#include "text/Numbers.h"

namespace qv::history {

BalanceHistory ReadBalanceHistory(const CInfo&) { return {}; }

std::array<std::int64_t, kImplementCount> ReportedUnits(const BalanceHistory& history,
                                                        std::optional<Seconds> from,
                                                        std::optional<Seconds> to) {
    std::array<std::int64_t, kImplementCount> sums{};
    for (const BalanceEvent& e : history.events) {
        if ((from && e.time < *from) || (to && e.time >= *to)) continue;
        for (int k = 0; k < kImplementCount; ++k)
            sums[k] = qv::SaturatingAdd(sums[k], e.reportedUnits[k]);
    }
    return sums;
}

bool LedgerStartsLate(const BalanceHistory& history, std::optional<Seconds> from) {
    if (history.Empty()) return true;
    return !from || *history.Start() > *from;
}

}  // namespace qv::history

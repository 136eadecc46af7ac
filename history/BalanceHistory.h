#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "history/HistoryIndex.h"
#include "rulebook/Clock.h"

class CInfo;

namespace qv::history {

// One change of the point balance as a ledger of them will record it: when, by how much,
// the balance after it, and the units reported executed with it.
struct BalanceEvent {
    Seconds time = 0;
    std::int64_t change = 0;
    std::int64_t balance = 0;
    std::array<std::int64_t, kImplementCount> reportedUnits{};
};

// The balance's past as far as the ledger records it, oldest first. "user.dat" holds only
// the balance of the moment, so a folder without a ledger (or from before it) has none:
// history then says so instead of drawing a past it cannot know.
struct BalanceHistory {
    std::vector<BalanceEvent> events;
    bool Empty() const { return events.empty(); }
    std::optional<Seconds> Start() const {
        if (events.empty()) return std::nullopt;
        return events.front().time;
    }
};

// The ledger beside the data files (CInfo's ledger path), read for history.
BalanceHistory ReadBalanceHistory(const CInfo& info);

// Units reported per implement in [from, to).
std::array<std::int64_t, kImplementCount> ReportedUnits(const BalanceHistory& history,
                                                        std::optional<Seconds> from,
                                                        std::optional<Seconds> to);

// Whether the ledger begins after from (or has nothing), so the part before it is unknown.
bool LedgerStartsLate(const BalanceHistory& history, std::optional<Seconds> from);

}  // namespace qv::history

#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <utility>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "history/HistoryIndex.h"
#include "history/HistoryQuery.h"
#include "history/PagesAhead.h"
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

// The ledger's events in order, 16 bytes each however many there are: the time and the
// balance after it. The change is kept only where it is not the step from the balance
// before (the first event, a merge, an adjusted figure), the units only where a report
// or its undo carries them. A ledger of a million lines costs 16 MB instead of 56.
class BalanceEvents {
public:
    using Units = std::array<std::int64_t, kImplementCount>;

    BalanceEvents() = default;
    BalanceEvents(std::initializer_list<BalanceEvent> events) {
        for (const BalanceEvent& e : events) push_back(e);
    }

    void reserve(size_t n) { points_.reserve(n); }
    void push_back(const BalanceEvent& e);
    size_t size() const { return points_.size(); }
    bool empty() const { return points_.empty(); }
    Seconds Time(size_t i) const { return points_[i].time; }
    std::int64_t Balance(size_t i) const { return points_[i].balance; }
    BalanceEvent operator[](size_t i) const;
    BalanceEvent front() const { return (*this)[0]; }
    BalanceEvent back() const { return (*this)[size() - 1]; }
    // The events that carry units, as (event number, units), in order.
    const std::vector<std::pair<std::uint32_t, Units>>& WithUnits() const { return units_; }

    // Walks the events as values, oldest first.
    class const_iterator {
    public:
        using value_type = BalanceEvent;
        using difference_type = std::ptrdiff_t;
        const_iterator(const BalanceEvents* events, size_t i) : events_(events), i_(i) {}
        BalanceEvent operator*() const { return (*events_)[i_]; }
        const_iterator& operator++() {
            ++i_;
            return *this;
        }
        bool operator==(const const_iterator& other) const { return i_ == other.i_; }

    private:
        const BalanceEvents* events_;
        size_t i_;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

private:
    struct Point {
        Seconds time;
        std::int64_t balance;
    };
    std::vector<Point> points_;
    PagesAhead<Point> pointsAhead_;
    std::vector<std::pair<std::uint32_t, std::int64_t>> changes_;  // the changes not stepped
    std::vector<std::pair<std::uint32_t, Units>> units_;
};

// The balance's past as far as the ledger records it, oldest first. "user.dat" holds only
// the balance of the moment, so a folder without a ledger (or from before it) has none:
// history then says so instead of drawing a past it cannot know.
struct BalanceHistory {
    BalanceEvents events;
    bool Empty() const { return events.empty(); }
    std::optional<Seconds> Start() const {
        if (events.empty()) return std::nullopt;
        return events.Time(0);
    }
};

// The ledger beside the data files (CInfo's ledger path), read for history.
BalanceHistory ReadBalanceHistory(const CInfo& info);

// Units reported per implement in [from, to).
std::array<std::int64_t, kImplementCount> ReportedUnits(const BalanceHistory& history,
                                                        std::optional<Seconds> from,
                                                        std::optional<Seconds> to);

// The range the ledger's figures (the balance, the reports) are shown over: the sentences'
// range where the filter sets an end, else widened to whole days holding every event of
// the ledger. Deletes, restores and reports after the last sentence change the balance
// too, and "all" must end at the balance as it is.
Range LedgerRange(const Range& sentences, const Filter& filter, const BalanceHistory& history);

// Whether the ledger begins after from (or has nothing), so the part before it is unknown.
bool LedgerStartsLate(const BalanceHistory& history, std::optional<Seconds> from);

}  // namespace qv::history

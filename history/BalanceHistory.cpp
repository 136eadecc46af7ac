#include "history/BalanceHistory.h"

#include <algorithm>
#include <string>

#include "records/Ledger.h"
#include "records/LedgerLine.h"
#include "records/LineBlocks.h"
#include "text/FileIo.h"
#include "text/LineWalk.h"
#include "rulebook/Info.h"
#include "text/Numbers.h"
#include "records/DataFolder.h"

namespace qv::history {

namespace {
// The change from a balance to the next, as a ledger line's before and after give it.
std::int64_t Step(std::int64_t before, std::int64_t after) { return qv::SaturatingAdd(after, -before); }
}  // namespace

void BalanceEvents::push_back(const BalanceEvent& e) {
    const auto i = static_cast<std::uint32_t>(points_.size());
    if (points_.empty() || e.change != Step(points_.back().balance, e.balance))
        changes_.emplace_back(i, e.change);
    if (e.reportedUnits != Units{}) units_.emplace_back(i, e.reportedUnits);
    points_.push_back({e.time, e.balance});
    pointsAhead_.Keep(points_);
}

BalanceEvent BalanceEvents::operator[](size_t i) const {
    BalanceEvent e;
    e.time = points_[i].time;
    e.balance = points_[i].balance;
    const auto byIndex = [](const auto& kept, std::uint32_t at) { return kept.first < at; };
    const auto at = static_cast<std::uint32_t>(i);
    const auto change = std::lower_bound(changes_.begin(), changes_.end(), at, byIndex);
    e.change = change != changes_.end() && change->first == at
                   ? change->second
                   : Step(points_[i - 1].balance, points_[i].balance);
    const auto units = std::lower_bound(units_.begin(), units_.end(), at, byIndex);
    if (units != units_.end() && units->first == at) e.reportedUnits = units->second;
    return e;
}

BalanceHistory ReadBalanceHistory(const CInfo& info) {
    BalanceHistory history;
    const Ledger ledger(FolderOf(info).LedgerPath());
    if (!ledger.Enabled()) return history;
    // Line by line into events, a block of the file at a time: a ledger of a million
    // lines is never held as bytes or as entries too.
    BalanceEvents events;
    // Room for as many entries as the file could hold (an entry takes at least 16 bytes):
    // pages never filled are never touched, and the events are never copied as they grow.
    events.reserve(static_cast<size_t>(std::max<std::int64_t>(0, qv::io::FileSize(ledger.Path()))) / 16);
    // A ledger that cannot be read leaves the past unknown, as no ledger does.
    const qv::io::ReadStatus read = qv::records::ForEachLineInBlocks(ledger.Path(), [&](const qv::Line& line) {
        if (!line.terminated) return;  // a torn last line is no entry
        // Read in place: a million lines are never a million entries made and dropped.
        qv::records::LedgerLine e;
        if (!qv::records::ReadLedgerLine(line.text, e)) return;
        BalanceEvent event;
        event.time = e.time;
        event.change = qv::SaturatingAdd(e.after, -e.before);
        event.balance = e.after;
        // Units go with a report, and come off again with its undo.
        if (e.hasUnits && (e.kind == Ledger::Kind::Report || e.kind == Ledger::Kind::Undo)) {
            const std::int64_t sign = e.kind == Ledger::Kind::Report ? 1 : -1;
            for (int k = 0; k < kImplementCount; ++k)
                event.reportedUnits[k] = sign * e.units[static_cast<size_t>(k)];
        }
        events.push_back(event);
    });
    if (read == qv::io::ReadStatus::Ok) history.events = std::move(events);
    return history;
}

std::array<std::int64_t, kImplementCount> ReportedUnits(const BalanceHistory& history,
                                                        std::optional<Seconds> from,
                                                        std::optional<Seconds> to) {
    std::array<std::int64_t, kImplementCount> sums{};
    // Only the events that carry units can add any.
    for (const auto& [i, units] : history.events.WithUnits()) {
        const Seconds time = history.events.Time(i);
        if ((from && time < *from) || (to && time >= *to)) continue;
        for (int k = 0; k < kImplementCount; ++k) sums[k] = qv::SaturatingAdd(sums[k], units[k]);
    }
    return sums;
}

bool LedgerStartsLate(const BalanceHistory& history, std::optional<Seconds> from) {
    if (history.Empty()) return true;
    return !from || *history.Start() > *from;
}

Range LedgerRange(const Range& sentences, const Filter& filter, const BalanceHistory& history) {
    Range range = sentences;
    if (history.Empty()) return range;
    const Seconds first = LocalDayStart(history.events.Time(0));
    const Seconds after = AddLocalDays(LocalDayStart(history.events.Time(history.events.size() - 1)), 1);
    if (!filter.from) range.from = range.from ? std::min(*range.from, first) : first;
    if (!filter.to) range.to = range.to ? std::max(*range.to, after) : after;
    return range;
}

}  // namespace qv::history

#include "history/BalanceHistory.h"

#include <algorithm>
#include <string>

#include "records/Ledger.h"
#include "records/LineBlocks.h"
#include "text/FileIo.h"
#include "text/LineWalk.h"
#include "rulebook/Info.h"
#include "text/Numbers.h"
#include "records/DataFolder.h"

namespace qv::history {

BalanceHistory ReadBalanceHistory(const CInfo& info) {
    BalanceHistory history;
    const Ledger ledger(FolderOf(info).LedgerPath());
    if (!ledger.Enabled()) return history;
    // Line by line into events, a block of the file at a time: a ledger of a million
    // lines is never held as bytes or as entries too.
    std::vector<BalanceEvent> events;
    // Room for as many entries as the file could hold (an entry takes at least 16 bytes):
    // pages never filled are never touched, and the vector is never copied as it grows.
    events.reserve(static_cast<size_t>(std::max<std::int64_t>(0, qv::io::FileSize(ledger.Path()))) / 16);
    // A ledger that cannot be read leaves the past unknown, as no ledger does.
    const qv::io::ReadStatus read = qv::records::ForEachLineInBlocks(ledger.Path(), [&](const qv::Line& line) {
        if (!line.terminated) return;  // a torn last line is no entry
        const std::optional<Ledger::Entry> e = Ledger::FromLine(line.text);
        if (!e) return;
        BalanceEvent event;
        event.time = e->time;
        event.change = qv::SaturatingAdd(e->after, -e->before);
        event.balance = e->after;
        // Units go with a report, and come off again with its undo.
        if (e->units && (e->kind == Ledger::Kind::Report || e->kind == Ledger::Kind::Undo)) {
            const std::int64_t sign = e->kind == Ledger::Kind::Report ? 1 : -1;
            for (int k = 0; k < kImplementCount; ++k)
                event.reportedUnits[k] = sign * (*e->units)[static_cast<size_t>(k)];
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

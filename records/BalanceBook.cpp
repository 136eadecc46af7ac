#include "records/BalanceBook.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <vector>

#include "text/FileIo.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

BalanceBook::BalanceBook(DataFolder folder, qv::Clock clock)
    : folder_(std::move(folder)),
      balance_(folder_.BalancePath()),
      ledger_(folder_.LedgerPath()),
      clock_(clock ? std::move(clock) : qv::Clock(qv::SystemNow)) {}

Booking BalanceBook::Change(Ledger::Kind kind, std::string_view id,
                            const std::optional<std::array<std::int64_t, 4>>& units,
                            std::int64_t delta, bool floorAtZero,
                            std::vector<qv::records::JournalLine> lines) const {
    Booking booking;
    ::Change change(folder_, clock_);
    change.Journal(std::move(lines));
    if (!change.Lock(folder_.BalancePath())) {  // from the read of the figure to the write
        booking.status = PointBalance::Status::Busy;
        booking.error = change.error;
        return booking;
    }
    std::string old, bytes;
    booking.status = floorAtZero ? balance_.PlanReport(-delta, old, bytes, &booking.error)
                                 : balance_.PlanGiveBack(delta, old, bytes, &booking.error);
    if (booking.status != PointBalance::Status::Ok) return booking;
    // The figure before, from the very bytes the change was planned on.
    const bool had = !old.empty();
    std::vector<std::string_view> fields;
    if (had) qv::SplitFields(old, fields);
    booking.figures.before =
        fields.size() > PointBalance::kBalanceField
            ? qv::ReadInt64(fields[PointBalance::kBalanceField])
            : 0;
    booking.figures.after = qv::SaturatingAdd(booking.figures.before, delta);
    if (floorAtZero) booking.figures.after = std::max<std::int64_t>(0, booking.figures.after);

    const Ledger::Entry line{change.Now(), kind, std::string(id), units, delta,
                             booking.figures.before, booking.figures.after};
    // Two files: the intent goes first, so a kill in between is settled at the next start.
    if (ledger_.Enabled()) {
        IntentEntry entry;
        entry.kind = IntentEntry::Kind::Balance;
        entry.id = std::string(id);
        entry.points = delta;
        entry.balanceBefore = had ? qv::Decimal(booking.figures.before) : "-";
        entry.balanceAfter = booking.figures.after;
        entry.ledgerKind = std::string(Ledger::KindToken(kind));
        const std::string text = Ledger::ToLine(line);
        std::vector<std::string_view> f;
        qv::SplitFields(std::string_view(text).substr(0, text.size() - 2), f);
        entry.units = std::string(f[3]);
        if (!change.Begin(entry, {&folder_.LedgerPath()})) {
            booking.status = PointBalance::Status::WriteFailed;
            booking.intentFailed = true;
            booking.error = change.error;
            return booking;
        }
    } else if (!change.CommitJournal()) {
        booking.status = PointBalance::Status::WriteFailed;
        booking.intentFailed = true;
        booking.error = change.error;
        return booking;
    }
    if (!change.Replace(folder_.BalancePath(), bytes, std::move(old))) {
        booking.status = PointBalance::Status::WriteFailed;
        booking.error = change.error;
        change.Rollback();
        booking.effects = change.effects;
        return booking;
    }
    change.Book(line);
    change.Commit();
    booking.lines = change.Committed();
    booking.effects = change.effects;
    return booking;
}

Booking BalanceBook::Credit(std::string_view id, std::int64_t points) const {
    return Change(Ledger::Kind::Credit, id, std::nullopt, points, false);
}

Booking BalanceBook::Report(const std::array<std::int64_t, 4>& units, std::int64_t points) const {
    return Change(Ledger::Kind::Report, {}, units, -points, true, {qv::records::ReportLine(units, points)});
}

Booking BalanceBook::GiveBack(std::string_view id,
                              const std::optional<std::array<std::int64_t, 4>>& units,
                              std::int64_t amount, const std::optional<qv::records::LineRef>& report) const {
    std::vector<qv::records::JournalLine> lines;
    if (report) lines.push_back(qv::records::TargetLine(qv::records::JournalLine::Kind::Unreport, *report));
    return Change(Ledger::Kind::Undo, id, units, amount, false, std::move(lines));
}

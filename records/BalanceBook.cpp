#include "records/BalanceBook.h"

#include <vector>

#include "text/Numbers.h"

BalanceBook::BalanceBook(std::string balancePath, std::string ledgerPath, qv::Clock clock)
    : balancePath_(balancePath),
      balance_(std::move(balancePath)),
      ledger_(std::move(ledgerPath)),
      clock_(clock ? std::move(clock) : qv::Clock(qv::SystemNow)) {}

Booking BalanceBook::Book(PointBalance::Status status, Ledger::Entry entry, bool commit) const {
    Booking booking;
    booking.status = status;
    if (status != PointBalance::Status::Ok) return booking;
    booking.figures = balance_.LastFigures();
    if (!ledger_.Enabled()) return booking;

    entry.time = clock_();
    entry.before = booking.figures.before;
    entry.after = booking.figures.after;
    std::vector<Ledger::Entry> lines;
    Ledger::Contents contents;
    const auto read = ledger_.Read(contents);
    const auto last = contents.Last();
    if (read == qv::io::ReadStatus::Unreadable) {
        booking.ledgered = false;
        return booking;
    }
    if (!last) {
        // A ledger started by this change: it opens with the figure found.
        lines.push_back({entry.time, Ledger::Kind::Open, {}, {}, entry.before, 0, entry.before});
    } else if (*last != entry.before) {
        booking.adjusted = PointBalance::Figures{*last, entry.before};
        lines.push_back({entry.time,
                         Ledger::Kind::Adjust,
                         {},
                         {},
                         qv::SaturatingAdd(entry.before, -*last),
                         *last,
                         entry.before});
    }
    lines.push_back(std::move(entry));
    booking.pending = std::move(lines);
    if (commit) Commit(booking);
    return booking;
}

bool BalanceBook::Commit(Booking& booking) const {
    if (booking.pending.empty()) return booking.ledgered;
    booking.ledgered = ledger_.Append(booking.pending);
    booking.pending.clear();
    return booking.ledgered;
}

Booking BalanceBook::Credit(std::string_view id, std::int64_t points) const {
    return Book(balance_.Credit(points), {0, Ledger::Kind::Credit, std::string(id), {}, points},
                true);
}

Booking BalanceBook::Report(const std::array<std::int64_t, 4>& units, std::int64_t points) const {
    return Book(balance_.DebitReport(points), {0, Ledger::Kind::Report, {}, units, -points}, true);
}

Booking BalanceBook::DebitDelete(std::string_view id, std::span<const std::int64_t> points,
                                 std::string* before) const {
    std::int64_t asked = 0;
    for (std::int64_t p : points) asked = qv::SaturatingAdd(asked, -p);
    return Book(balance_.DebitDeleteEach(points, before),
                {0, Ledger::Kind::Delete, std::string(id), {}, asked}, false);
}

Booking BalanceBook::GiveBack(std::string_view id,
                              const std::optional<std::array<std::int64_t, 4>>& units,
                              std::int64_t amount, std::string* before) const {
    // Credit adds without a floor, so a negative amount (a debit that raised a negative
    // balance to 0) is taken back just as exactly.
    const PointBalance::Status status = balance_.Credit(amount, before);
    return Book(status, {0, Ledger::Kind::Undo, std::string(id), units, amount}, false);
}

#include "records/BalanceBook.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <vector>

#include "records/Intent.h"
#include "text/FileIo.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

BalanceBook::BalanceBook(std::string balancePath, std::string ledgerPath, qv::Clock clock,
                         std::string backupFolder)
    : balancePath_(balancePath),
      balance_(std::move(balancePath)),
      ledger_(std::move(ledgerPath)),
      backups_(std::move(backupFolder), clock),
      clock_(clock ? std::move(clock) : qv::Clock(qv::SystemNow)) {}

Booking BalanceBook::Change(Ledger::Kind kind, std::string_view id,
                            const std::optional<std::array<std::int64_t, 4>>& units,
                            std::int64_t delta, bool floorAtZero) const {
    Booking booking;
    qv::io::FileLock lock;  // from the read of the figure to the write
    if (!lock.Acquire(balancePath_)) {
        booking.status = PointBalance::Status::Busy;
        qv::io::Fail(&booking.error, qv::io::IoError::Op::Lock, balancePath_, EWOULDBLOCK);
        return booking;
    }
    std::vector<std::string> fields;
    PointBalance::Status read = balance_.Read(fields, &booking.error);
    if (read == PointBalance::Status::Ok && fields.size() < PointBalance::kFieldCount)
        read = PointBalance::Status::Short;
    std::string mark;
    if (read == PointBalance::Status::Missing && delta > 0) {
        mark = "-";  // the write makes a fresh file
    } else if (read != PointBalance::Status::Ok) {
        booking.status = read;
        return booking;
    } else {
        booking.figures.before = qv::ReadInt64(fields[PointBalance::kBalanceField]);
        mark = qv::Decimal(booking.figures.before);
    }
    if (delta > 0 && booking.figures.before > std::numeric_limits<std::int64_t>::max() - delta) {
        booking.status = PointBalance::Status::Overflow;
        return booking;
    }
    booking.figures.after = qv::SaturatingAdd(booking.figures.before, delta);
    if (floorAtZero) booking.figures.after = std::max<std::int64_t>(0, booking.figures.after);

    Ledger::Entry line{clock_(),
                       kind,
                       std::string(id),
                       units,
                       delta,
                       booking.figures.before,
                       booking.figures.after};
    // Two files: the intent goes first, so a kill in between is settled at the next start.
    const IntentRecord intent = IntentRecord::Beside(balancePath_);
    IntentRecord::Opened opened;
    if (ledger_.Enabled()) {
        IntentEntry entry;
        entry.kind = IntentEntry::Kind::Balance;
        entry.id = std::string(id);
        entry.points = delta;
        entry.balanceBefore = mark;
        entry.balanceAfter = booking.figures.after;
        entry.ledgerKind = std::string(Ledger::KindToken(kind));
        const std::string text = Ledger::ToLine(line);
        std::vector<std::string_view> f;
        qv::SplitFields(std::string_view(text).substr(0, text.size() - 2), f);
        entry.units = std::string(f[3]);
        if (!intent.Open(entry, opened)) {
            booking.status = PointBalance::Status::WriteFailed;
            booking.intentFailed = true;
            qv::io::Fail(&booking.error, qv::io::IoError::Op::Write, intent.Path(), errno);
            return booking;
        }
    }
    {
        const Backups::OnReplace keep(backups_, balancePath_);
        booking.status = floorAtZero ? balance_.DebitReport(-delta, &booking.error)
                                     : balance_.GiveBack(delta, nullptr, &booking.error);
        booking.backedUp = keep.Kept();
    }
    if (booking.status == PointBalance::Status::Ok)
        booking.ledgered = ledger_.Book(line, &booking.adjusted);
    if (!opened.line.empty()) intent.Close(opened);
    return booking;
}

Booking BalanceBook::Credit(std::string_view id, std::int64_t points) const {
    return Change(Ledger::Kind::Credit, id, std::nullopt, points, false);
}

Booking BalanceBook::Report(const std::array<std::int64_t, 4>& units, std::int64_t points) const {
    return Change(Ledger::Kind::Report, {}, units, -points, true);
}

Booking BalanceBook::GiveBack(std::string_view id,
                              const std::optional<std::array<std::int64_t, 4>>& units,
                              std::int64_t amount) const {
    return Change(Ledger::Kind::Undo, id, units, amount, false);
}

#include "execution/Undo.h"

#include <algorithm>
#include <cerrno>

#include "records/Intent.h"
#include "text/FileIo.h"
#include "text/Numbers.h"

namespace qv::undo {

namespace {
// What a balance booking tells the window: its status and failed call, and for a booking
// made, whether the ledger and the backup kept up. False when it was not made.
bool TakeBooking(const Booking& booking, Outcome& o) {
    o.balance = booking.status;
    o.error = booking.error;
    o.backedUp = booking.backedUp;
    if (!booking.Ok()) {
        o.result = Outcome::Result::BalanceFailed;
        return false;
    }
    o.ledgered = booking.ledgered;
    o.adjusted = booking.adjusted;
    return true;
}
}  // namespace

ReportFiles ReportFiles::From(const CInfo& info, qv::Clock clock) {
    return {SentenceLog(info.GetLogPath()), PointBalance(info.GetBalancePath()),
            BalanceBook(info.GetBalancePath(), info.GetLedgerPath(), clock, info.GetBackupFolder()),
            DeleteJournal{Ledger(info.GetLedgerPath()), Trash(info.GetTrashPath()),
                          Backups(info.GetBackupFolder(), clock), clock}};
}

ReportSession::ReportSession(const CInfo& info, qv::Clock clock)
    : files_(ReportFiles::From(info, clock)),
      clock_(clock ? std::move(clock) : qv::Clock(qv::SystemNow)) {}

std::optional<ReportSession::Kind> ReportSession::NextUndo() const {
    if (done_.empty()) return std::nullopt;
    return done_.back().kind;
}

Outcome ReportSession::Mark(std::string_view id, bool executed, const SentenceLog::Contents* copy,
                            SentenceLog::Contents* written) {
    Outcome o;
    // Holds the log's lock until the log is written.
    SentenceLog::Rewrite rewrite = files_.log.PlanMark(id, executed, copy);
    if (rewrite.busy || rewrite.read == qv::io::ReadStatus::Unreadable) {
        o.result = Outcome::Result::LogUnreadable;
        o.error = rewrite.error;
        return o;
    }
    if (rewrite.read != qv::io::ReadStatus::Ok || rewrite.matched == 0) {
        o.result = Outcome::Result::NotFound;
        return o;
    }
    // The marks as they were, from the same bytes the rewrite was made from.
    std::string bytes;
    const bool fromCopy = copy != nullptr && copy->StillMatches(files_.log.Path());
    if (!fromCopy && qv::io::ReadFile(files_.log.Path(), bytes) != qv::io::ReadStatus::Ok) {
        o.result = Outcome::Result::LogUnreadable;
        return o;
    }
    Action action{
        Kind::Mark, std::string(id), MarksOf(fromCopy ? copy->Bytes() : bytes, id), {}, {}, {}, 0};
    o.records = rewrite.matched;
    const Backups::OnReplace keep(files_.journal.backups, files_.log.Path());
    const bool ok = written != nullptr
                        ? files_.log.WriteKeeping(std::move(rewrite), *written, &o.error)
                        : files_.log.Write(rewrite, &o.error);
    o.backedUp = keep.Kept();
    if (!ok) {
        o.result = Outcome::Result::LogWriteFailed;
        return o;
    }
    done_.push_back(std::move(action));
    return o;
}

Outcome ReportSession::Delete(std::string_view id) {
    Outcome o;
    DeleteOutcome d = DeleteSentence(files_.log, files_.balance, id, files_.journal);
    o.balance = d.balance;
    o.error = d.error;
    o.restored = d.restored;
    o.ledgered = d.ledgered;
    o.backedUp = d.backedUp;
    o.adjusted = d.adjusted;
    o.records = d.deleted;
    switch (d.result) {
        case DeleteOutcome::Result::Deleted:
            done_.push_back(
                {Kind::Delete, std::string(id), {}, d.cuts, d.trashSerials, {}, d.taken});
            break;
        case DeleteOutcome::Result::NotFound:
            o.result = Outcome::Result::NotFound;
            break;
        case DeleteOutcome::Result::LogWriteFailed:
            o.result = Outcome::Result::LogWriteFailed;
            break;
        case DeleteOutcome::Result::BalanceFailed:
            o.result = Outcome::Result::BalanceFailed;
            break;
        case DeleteOutcome::Result::LogUnreadable:
            o.result = Outcome::Result::LogUnreadable;
            break;
        default:
            o.result = Outcome::Result::Refused;
            break;
    }
    o.deletion = std::move(d);
    return o;
}

Outcome ReportSession::Report(const std::array<std::int64_t, 4>& units, std::int64_t points) {
    Outcome o;
    if (points <= 0) return o;
    const Booking booking = files_.book.Report(units, points);
    if (!TakeBooking(booking, o)) return o;
    done_.push_back(
        {Kind::Report, {}, {}, {}, {}, units, booking.figures.before - booking.figures.after});
    return o;
}

Outcome ReportSession::PutBack(std::string_view id, std::span<const CutRecord> cuts,
                               std::int64_t taken, std::span<const std::int64_t> trashSerials) {
    Outcome o;
    const std::string& logPath = files_.log.Path();
    const std::string& balancePath = files_.balance.Path();
    qv::io::FileLock logLock, balanceLock;
    if (!logLock.Acquire(logPath) || (taken != 0 && !balanceLock.Acquire(balancePath))) {
        o.result = Outcome::Result::LogUnreadable;
        qv::io::Fail(&o.error, qv::io::IoError::Op::Lock, logPath, EWOULDBLOCK);
        return o;
    }
    std::string bytes;
    const qv::io::ReadStatus read = qv::io::ReadFile(logPath, bytes, qv::io::kWholeFile, &o.error);
    if (read == qv::io::ReadStatus::Unreadable) {
        o.result = Outcome::Result::LogUnreadable;
        return o;
    }
    const std::string restored = InsertRecords(bytes, cuts);

    // The figures of the give-back, for the intent and the ledger.
    IntentEntry entry;
    entry.kind = IntentEntry::Kind::Restore;
    entry.id = std::string(id);
    entry.points = taken;
    entry.balanceBefore = "-";
    entry.serials.assign(trashSerials.begin(), trashSerials.end());
    std::int64_t before = 0;
    if (taken != 0) {
        std::vector<std::string> fields;
        o.balance = files_.balance.Read(fields, &o.error);
        if (o.balance == PointBalance::Status::Ok && fields.size() < PointBalance::kFieldCount)
            o.balance = PointBalance::Status::Short;
        if (o.balance == PointBalance::Status::Ok) {
            before = qv::ReadInt64(fields[PointBalance::kBalanceField]);
            entry.balanceBefore = qv::Decimal(before);
        } else if (!(o.balance == PointBalance::Status::Missing && taken > 0)) {
            o.result = Outcome::Result::BalanceFailed;
            return o;
        }
        entry.balanceAfter = qv::SaturatingAdd(before, taken);
    }
    // Several files: the intent goes first; a kill in between is finished at the next start.
    const IntentRecord intent = IntentRecord::Beside(logPath);
    IntentRecord::Opened opened;
    if (!intent.Open(entry, opened)) {
        qv::io::Fail(&o.error, qv::io::IoError::Op::Write, intent.Path(), errno);
        o.result = Outcome::Result::LogWriteFailed;
        return o;
    }
    std::string old;
    if (taken != 0) {
        const Backups::OnReplace keep(files_.journal.backups, balancePath);
        o.balance = files_.balance.GiveBack(taken, &old, &o.error);
        o.backedUp = keep.Kept();
        if (o.balance != PointBalance::Status::Ok) {
            intent.Close(opened);
            o.result = Outcome::Result::BalanceFailed;
            return o;
        }
    }
    const Backups::OnReplace keepLog(files_.journal.backups, logPath);
    const bool logWritten = qv::io::WriteFileAtomic(logPath, restored, &o.error);
    if (!keepLog.Kept()) o.backedUp = false;
    if (!logWritten) {
        o.result = Outcome::Result::LogWriteFailed;
        o.restored = taken == 0 || files_.balance.PutBack(old);
        // Not put back: the intent stays, and the next start finishes the restore.
        if (o.restored) intent.Close(opened);
        return o;
    }
    if (taken != 0)
        o.ledgered = files_.journal.ledger.Book({clock_(), Ledger::Kind::Undo, std::string(id),
                                                 std::nullopt, taken, before, entry.balanceAfter},
                                                &o.adjusted);
    o.records = cuts.size();
    o.trashed = files_.journal.trash.Remove(trashSerials);
    // A trash that keeps the entries keeps the intent too: the next start takes them out.
    if (o.trashed) intent.Close(opened);
    return o;
}

Outcome ReportSession::GiveBackReport(const Action& action) {
    Outcome o;
    if (action.taken == 0) return o;
    const Booking booking = files_.book.GiveBack({}, action.units, action.taken);
    if (!TakeBooking(booking, o)) return o;
    return o;
}

Outcome ReportSession::SetMarksBack(const Action& action) {
    Outcome o;
    qv::io::FileLock lock;  // from the read to the write
    if (!lock.Acquire(files_.log.Path())) {
        o.result = Outcome::Result::LogUnreadable;
        qv::io::Fail(&o.error, qv::io::IoError::Op::Lock, files_.log.Path(), EWOULDBLOCK);
        return o;
    }
    std::string bytes;
    const qv::io::ReadStatus read =
        qv::io::ReadFile(files_.log.Path(), bytes, qv::io::kWholeFile, &o.error);
    if (read == qv::io::ReadStatus::Unreadable) {
        o.result = Outcome::Result::LogUnreadable;
        return o;
    }
    if (read != qv::io::ReadStatus::Ok || MarksOf(bytes, action.id).empty()) {
        o.result = Outcome::Result::NotFound;
        return o;
    }
    const Backups::OnReplace keep(files_.journal.backups, files_.log.Path());
    if (!qv::io::WriteFileAtomic(files_.log.Path(), SetMarks(bytes, action.id, action.flags),
                                 &o.error))
        o.result = Outcome::Result::LogWriteFailed;
    o.backedUp = keep.Kept();
    return o;
}

Outcome ReportSession::Undo() {
    if (done_.empty()) {
        Outcome nothing;
        nothing.result = Outcome::Result::NothingToUndo;
        return nothing;
    }
    const Action& action = done_.back();
    Outcome o;
    switch (action.kind) {
        case Kind::Mark:
            o = SetMarksBack(action);
            break;
        case Kind::Delete:
            o = PutBack(action.id, action.cuts, action.taken, action.trashSerials);
            break;
        case Kind::Report:
            o = GiveBackReport(action);
            break;
    }
    // A sentence deleted meanwhile elsewhere has nothing left to undo either.
    if (o.result == Outcome::Result::Done || o.result == Outcome::Result::NotFound)
        done_.pop_back();
    return o;
}

Outcome ReportSession::RestoreFromTrash(std::span<const Trash::Entry> entries) {
    std::vector<CutRecord> cuts;
    std::vector<std::int64_t> serials;
    std::int64_t taken = 0;
    for (const Trash::Entry& e : entries) {
        if (e.kind != Trash::Kind::LogRecord) continue;
        cuts.push_back({e.payload, e.anchor, e.nth, 0});
        serials.push_back(e.serial);
        taken = qv::SaturatingAdd(taken, e.points);
    }
    if (cuts.empty()) {
        Outcome none;
        none.result = Outcome::Result::NotFound;
        return none;
    }
    const std::string id(cuts.front().line.substr(0, cuts.front().line.find('\t')));
    Outcome o = PutBack(id, cuts, taken, serials);
    if (o.Ok()) {
        // The same records may still wait on the undo stack: undoing their delete again
        // would put them in twice.
        std::erase_if(done_, [&](const Action& a) {
            return a.kind == Kind::Delete &&
                   std::any_of(a.trashSerials.begin(), a.trashSerials.end(), [&](std::int64_t s) {
                       return std::find(serials.begin(), serials.end(), s) != serials.end();
                   });
        });
    }
    return o;
}

}  // namespace qv::undo

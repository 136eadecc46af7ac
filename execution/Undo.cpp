#include "execution/Undo.h"

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

#include "records/Intent.h"
#include "records/Marks.h"
#include "text/FileIo.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace qv::execution {

using JournalKind = qv::records::JournalLine::Kind;

namespace {
// What a balance booking tells the window: its status and failed call, and for a booking
// made, what became of its side files. False when it was not made.
bool TakeBooking(const Booking& booking, Outcome& o) {
    o.balance = booking.status;
    o.error = booking.error;
    o.effects = booking.effects;
    if (!booking.Ok()) {
        o.result = Outcome::Result::BalanceFailed;
        return false;
    }
    return true;
}
}  // namespace

ReportSession::ReportSession(const CInfo& info, qv::Clock clock)
    : folder_(FolderOf(info)),
      log_(folder_.LogPath()),
      book_(folder_, clock),
      clock_(clock ? std::move(clock) : qv::Clock(qv::SystemNow)) {}

ReportSession::~ReportSession() { Settle(); }

void ReportSession::KeepLogAhead() {
    // Below this the copy costs less than the mark's own sync; above it, even a log of a
    // few thousand records costs the first mark more than its sync does.
    constexpr off_t kAheadFrom = off_t{64} << 10;
    struct stat st {};
    if (logKept_ || keptAhead_.valid() || aheadResult_ || ::stat(log_.Path().c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode) || st.st_size < kAheadFrom)
        return;
    try {
        keptAhead_ = std::async(std::launch::async,
                                [backups = Backups(folder_.BackupFolder(), clock_), path = log_.Path()] {
                                    return backups.KeepBeforeInPlace(path);
                                });
    } catch (const std::exception&) {
        // No thread to spare: the first mark takes the copy itself.
    }
}

void ReportSession::Settle() {
    if (!keptAhead_.valid()) return;
    try {
        aheadResult_ = keptAhead_.get();
    } catch (const std::exception&) {
        aheadResult_.reset();  // the first mark takes the copy itself
    }
}

std::optional<ReportSession::Kind> ReportSession::NextUndo() const {
    if (done_.empty()) return std::nullopt;
    return done_.back().kind;
}

std::vector<std::int64_t> ReportSession::NextUndoMarkOffsets() const {
    std::vector<std::int64_t> offsets;
    if (done_.empty() || done_.back().kind != Kind::Mark) return offsets;
    for (const IntentEntry::Byte& b : done_.back().bytes) offsets.push_back(b.offset);
    return offsets;
}

namespace {
// A log with further hard links would change every other name with it (a backup, too):
// such a log is replaced, never written in place. So is one the user marked read-only,
// which the replacement refuses as it always did.
bool SoleLink(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
           (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 && ::access(path.c_str(), W_OK) == 0;
}
}  // namespace

Outcome ReportSession::Mark(std::string_view id, bool executed, const SentenceLog::Contents* copy,
                            SentenceLog::Contents* written, size_t which) {
    Settle();
    Outcome o;
    if (MarkInPlace(id, executed, copy, written, which, o)) return o;
    return MarkByRewrite(id, executed, copy, written, which);
}

bool ReportSession::WriteMarkBytes(Change& change, std::string_view id, std::int64_t logSize,
                                   const std::vector<IntentEntry::Byte>& bytes, Outcome& o) {
    Settle();
    if (!logKept_) {
        // One copy of the log before its first in-place write of the session (or the day):
        // a mark is one byte, its undo is on the stack, and a copy per mark would cost the
        // whole log each time. The copy taken as the window opened is that copy when it
        // was made; else it is made now.
        const Backups::Keeping keeping =
            aheadResult_ && aheadResult_->result == Backups::Result::Kept
                ? *aheadResult_
                : Backups(folder_.BackupFolder(), clock_).KeepBeforeInPlace(log_.Path());
        aheadResult_.reset();
        o.effects.backedUp = keeping.result == Backups::Result::Kept;
        if (!o.effects.backedUp) o.effects.error = keeping.error;
        logKept_ = o.effects.backedUp;
    }
    IntentEntry entry;
    entry.kind = IntentEntry::Kind::Mark;
    entry.id = std::string(id);
    entry.logSize = logSize;
    entry.bytes = bytes;
    if (!change.Begin(entry)) {
        o.result = Outcome::Result::LogWriteFailed;
        o.error = change.error;
        return false;
    }
    if (!change.SetBytes(log_.Path(), bytes)) {
        o.result = Outcome::Result::LogWriteFailed;
        o.error = change.error;
        o.restored = change.Rollback();
        return false;
    }
    // When it was marked, for a merge with another computer's copy of the log: noted while
    // the intent still stands, so a kill before it leaves start-up to note it.
    MarkJournal(folder_.MarksPath()).Append({clock_(), std::string(id), bytes.front().after == '1', {}});
    change.Commit();
    return true;
}

bool ReportSession::MarkInPlace(std::string_view id, bool executed,
                                const SentenceLog::Contents* copy, SentenceLog::Contents* written,
                                size_t which, Outcome& o) {
    Change change(folder_.WithoutBackups(), clock_);
    // Held from the search for the marks to their write.
    if (!change.Lock(log_.Path())) {
        o.result = Outcome::Result::LogUnreadable;
        o.error = change.error;
        return true;
    }
    SentenceLog::Contents read;
    const SentenceLog::Contents* from = copy;
    if (from == nullptr || !from->StillMatches(log_.Path())) {
        const qv::io::ReadStatus status = log_.Read(read, &o.error);
        if (status == qv::io::ReadStatus::Unreadable) {
            o.result = Outcome::Result::LogUnreadable;
            return true;
        }
        if (status != qv::io::ReadStatus::Ok) {
            o.result = Outcome::Result::NotFound;
            return true;
        }
        from = &read;
    }
    std::vector<IntentEntry::Byte> bytes;
    size_t matched = 0;
    if (!SentenceLog::MarkBytes(*from, id, executed, which, bytes, matched) ||
        !SoleLink(log_.Path())) {
        if (matched != 0) return false;
        o.result = Outcome::Result::NotFound;
        return true;
    }
    if (matched == 0) {
        o.result = Outcome::Result::NotFound;
        return true;
    }
    // Checked on the file itself before anything is written: each byte is still the mark of
    // a record carrying id and holds what the copy says.
    std::vector<int> now;
    std::int64_t size = 0;
    if (log_.ReadMarks(id, bytes, now, size, &o.error) != qv::io::ReadStatus::Ok) return false;
    for (size_t i = 0; i < bytes.size(); ++i)
        if (now[i] != bytes[i].before) return false;
    Action action{Kind::Mark, std::string(id), SentenceLog::MarksIn(*from, id), which, {}, {},
                  {},         0,               bytes,                            {}};
    o.records = matched;
    if (!bytes.empty() &&
        !change.JournalTargets(JournalKind::Mark, id, true, which, {executed ? "1" : "0"})) {
        o.result = Outcome::Result::LogUnreadable;
        o.error = change.error;
        return true;
    }
    if (!bytes.empty() && !WriteMarkBytes(change, id, size, bytes, o)) return true;
    if (written != nullptr) {
        if (written == from) {
            log_.SetInCopy(*written, bytes, false);
        } else if (from == &read) {
            log_.SetInCopy(read, bytes, false);
            *written = std::move(read);
        } else {
            log_.Read(*written);
        }
    }
    done_.push_back(std::move(action));
    return true;
}

Outcome ReportSession::MarkByRewrite(std::string_view id, bool executed,
                                     const SentenceLog::Contents* copy,
                                     SentenceLog::Contents* written, size_t which) {
    Outcome o;
    // Holds the log's lock until the log is written.
    SentenceLog::Rewrite rewrite = log_.PlanMark(id, executed, copy, which);
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
    const bool fromCopy = copy != nullptr && copy->StillMatches(log_.Path());
    if (!fromCopy && qv::io::ReadFile(log_.Path(), bytes) != qv::io::ReadStatus::Ok) {
        o.result = Outcome::Result::LogUnreadable;
        return o;
    }
    Action action{Kind::Mark, std::string(id), qv::records::MarksOf(fromCopy ? copy->Bytes() : bytes, id),
                  which,      {},              {},
                  {},         0,               {},              {}};
    o.records = rewrite.matched;
    qv::records::ActionLines lines(folder_, clock_);
    if (!lines.AddTargets(JournalKind::Mark, id, true, which, {executed ? "1" : "0"}, &o.error) ||
        !lines.Commit(&o.error)) {
        o.result = Outcome::Result::LogWriteFailed;
        return o;
    }
    const Backups::OnReplace keep(Backups(folder_.BackupFolder(), clock_), log_.Path());
    const bool ok = written != nullptr ? log_.WriteKeeping(std::move(rewrite), *written, &o.error)
                                       : log_.Write(rewrite, &o.error);
    o.effects.backedUp = keep.Kept();
    if (!ok) {
        lines.Void();
        o.result = Outcome::Result::LogWriteFailed;
        return o;
    }
    // When it was marked, for a merge with another computer's copy of the log.
    MarkJournal(folder_.MarksPath()).Append({clock_(), std::string(id), executed, {}});
    lines.Done();
    done_.push_back(std::move(action));
    return o;
}

Outcome ReportSession::Delete(std::string_view id, size_t which,
                              const SentenceLog::Contents* copy) {
    Settle();
    Outcome o;
    DeleteOutcome d = DeleteSentence(folder_, id, which, clock_, copy);
    o.balance = d.balance;
    o.error = d.error;
    o.restored = d.restored;
    o.effects = d.effects;
    o.records = d.deleted;
    switch (d.result) {
        case DeleteOutcome::Result::Deleted:
            done_.push_back(
                {Kind::Delete, std::string(id), {}, which, d.cuts, d.trashSerials, {}, d.taken, {}, {}});
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
    Settle();
    Outcome o;
    if (points <= 0) return o;
    const Booking booking = book_.Report(units, points);
    if (!TakeBooking(booking, o)) return o;
    done_.push_back({Kind::Report, {}, {}, qv::records::kEveryRecord, {}, {}, units,
                     booking.figures.before - booking.figures.after, {},
                     booking.lines.empty() ? std::nullopt
                                           : std::optional<qv::records::LineRef>(booking.lines.front())});
    return o;
}

namespace {

// Whether the log holds one of the records as cut (its mark aside).
bool HoldsAny(std::string_view log, std::span<const qv::records::CutRecord> cuts) {
    for (const qv::records::CutRecord& cut : cuts) {
        const std::string_view id = std::string_view(cut.line).substr(0, cut.line.find('\t'));
        const std::string want = qv::records::RecordKey(cut.line);
        bool found = false;
        qv::ForEachLine(log, [&](const qv::Line& line) {
            if (!found && line.text.substr(0, id.size() + 1) == std::string(id) + "\t")
                found = qv::records::RecordKey(line.text) == want;
        });
        if (found) return true;
    }
    return false;
}

}  // namespace

Outcome ReportSession::PutBack(std::string_view id, std::span<const qv::records::CutRecord> cuts,
                               std::int64_t taken, std::span<const std::int64_t> trashSerials,
                               const SentenceLog::Contents* copy) {
    Outcome o;
    const std::string& logPath = folder_.LogPath();
    const PointBalance balance(folder_.BalancePath());
    Change change(folder_, clock_);
    const auto failed = [&](Outcome::Result result) {
        o.result = result;
        if (!o.error.Failed()) o.error = change.error;
        o.restored = change.Rollback();
        o.effects = change.effects;
        return o;
    };
    if (!change.Lock(logPath) || (taken != 0 && !change.Lock(balance.Path())))
        return failed(Outcome::Result::LogUnreadable);
    // Where the records go back is found in the copy through its index while the file is
    // still that copy; else the log is read and walked.
    std::vector<SentenceLog::Contents::Insertion> insertions;
    const bool inCopy = copy != nullptr && copy->StillMatches(logPath) &&
                        SentenceLog::InsertionsIn(*copy, cuts, insertions);
    std::string bytes, restored;
    if (!inCopy) {
        const qv::io::ReadStatus read =
            qv::io::ReadFile(logPath, bytes, qv::io::kWholeFile, &o.error);
        if (read == qv::io::ReadStatus::Unreadable) return failed(Outcome::Result::LogUnreadable);
        // The log replaced meanwhile (a sync tool brought another computer's copy) may hold
        // the sentence again: put back once more, it would stand there twice.
        if (HoldsAny(bytes, cuts)) return failed(Outcome::Result::AlreadyBack);
        restored = qv::records::InsertRecords(bytes, cuts);
    }

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
        o.balance = balance.Read(fields, &o.error);
        if (o.balance == PointBalance::Status::Ok && fields.size() < PointBalance::kFieldCount)
            o.balance = PointBalance::Status::Short;
        if (o.balance == PointBalance::Status::Ok) {
            before = qv::ReadInt64(fields[PointBalance::kBalanceField]);
            entry.balanceBefore = qv::Decimal(before);
        } else if (!(o.balance == PointBalance::Status::Missing && taken > 0)) {
            return failed(Outcome::Result::BalanceFailed);
        }
        entry.balanceAfter = qv::SaturatingAdd(before, taken);
    }
    // Several files: the intent goes first; a kill in between is finished at the next start.
    if (!change.JournalTargets(JournalKind::Restore, id, false) ||
        !change.Begin(entry, {&folder_.LedgerPath()}))
        return failed(Outcome::Result::LogWriteFailed);
    if (taken != 0) {
        std::string old, given;
        o.balance = balance.PlanGiveBack(taken, old, given, &o.error);
        if (o.balance == PointBalance::Status::Ok &&
            !change.Replace(balance.Path(), given, std::move(old)))
            o.balance = PointBalance::Status::WriteFailed;
        if (o.balance != PointBalance::Status::Ok) return failed(Outcome::Result::BalanceFailed);
    }
    // The last step that can fail: nothing after it rolls the log back.
    const std::vector<std::string_view> pieces =
        inCopy ? SentenceLog::Pieces(*copy, insertions) : std::vector<std::string_view>{restored};
    if (!change.Replace(logPath, pieces, std::nullopt))
        return failed(Outcome::Result::LogWriteFailed);
    if (inCopy) {
        // Still under the log's lock: the stamp is of the file as written here.
        o.logStamp = qv::io::StampOf(logPath);
        o.inserted = std::move(insertions);
    }
    if (taken != 0)
        change.Book({change.Now(), Ledger::Kind::Undo, std::string(id), std::nullopt, taken, before,
                     entry.balanceAfter});
    o.records = cuts.size();
    if (change.TakeFromTrash(trashSerials)) {
        change.Commit();
    } else {
        // A trash that keeps the entries keeps the intent too: the entries cannot be put
        // back again meanwhile, and the next start takes them out.
        if (change.effects.AllKept()) change.effects.error = change.error;
        change.effects.trashed = false;
        change.Leave();
    }
    o.effects = change.effects;
    return o;
}

Outcome ReportSession::GiveBackReport(const Action& action) {
    Outcome o;
    if (action.taken == 0) return o;
    const Booking booking = book_.GiveBack({}, action.units, action.taken, action.report);
    TakeBooking(booking, o);
    return o;
}

Outcome ReportSession::SetMarksBack(const Action& action, SentenceLog::Contents* written) {
    Outcome o;
    qv::io::FileLock lock;  // from the read to the write
    if (!lock.Acquire(log_.Path())) {
        o.result = Outcome::Result::LogUnreadable;
        qv::io::Fail(&o.error, qv::io::IoError::Op::Lock, log_.Path(), EWOULDBLOCK);
        return o;
    }
    if (!action.bytes.empty() && SoleLink(log_.Path())) {
        // The reverse of the bytes written, where each still stands as this session left it.
        std::vector<int> now;
        std::int64_t size = 0;
        const qv::io::ReadStatus read = log_.ReadMarks(action.id, action.bytes, now, size, &o.error);
        if (read == qv::io::ReadStatus::Unreadable) {
            o.result = Outcome::Result::LogUnreadable;
            return o;
        }
        std::vector<IntentEntry::Byte> back;
        bool standing = read == qv::io::ReadStatus::Ok;
        for (size_t i = 0; standing && i < action.bytes.size(); ++i) {
            const IntentEntry::Byte& b = action.bytes[i];
            if (now[i] == b.after)
                back.push_back({b.offset, b.after, b.before});
            else if (now[i] != b.before)
                standing = false;  // no longer that mark: the marks are set back by identifier
        }
        if (standing) {
            const bool copyMatches = written != nullptr && written->StillMatches(log_.Path());
            Change change(folder_.WithoutBackups(), clock_);
            if (!back.empty() &&
                !change.JournalTargets(JournalKind::Mark, action.id, true, action.which, action.flags)) {
                o.result = Outcome::Result::LogUnreadable;
                o.error = change.error;
                return o;
            }
            if (!back.empty() && !WriteMarkBytes(change, action.id, size, back, o)) return o;
            if (copyMatches) log_.SetInCopy(*written, back, false);
            return o;
        }
    }
    std::string bytes;
    const qv::io::ReadStatus read =
        qv::io::ReadFile(log_.Path(), bytes, qv::io::kWholeFile, &o.error);
    if (read == qv::io::ReadStatus::Unreadable) {
        o.result = Outcome::Result::LogUnreadable;
        return o;
    }
    if (read != qv::io::ReadStatus::Ok || qv::records::MarksOf(bytes, action.id).empty()) {
        o.result = Outcome::Result::NotFound;
        return o;
    }
    qv::records::ActionLines lines(folder_, clock_);
    if (!lines.AddTargets(JournalKind::Mark, action.id, true, action.which, action.flags, &o.error) ||
        !lines.Commit(&o.error)) {
        o.result = Outcome::Result::LogWriteFailed;
        return o;
    }
    const Backups::OnReplace keep(Backups(folder_.BackupFolder(), clock_), log_.Path());
    if (!qv::io::WriteFileAtomic(log_.Path(), qv::records::SetMarks(bytes, action.id, action.flags), &o.error)) {
        lines.Void();
        o.result = Outcome::Result::LogWriteFailed;
    } else {
        if (!action.flags.empty())
            MarkJournal(folder_.MarksPath()).Append({clock_(), action.id, action.flags.front() != "0", {}});
        lines.Done();
    }
    o.effects.backedUp = keep.Kept();
    return o;
}

Outcome ReportSession::Undo() { return Undo(nullptr); }

Outcome ReportSession::Undo(SentenceLog::Contents* written) {
    Settle();
    if (done_.empty()) {
        Outcome nothing;
        nothing.result = Outcome::Result::NothingToUndo;
        return nothing;
    }
    const Action& action = done_.back();
    Outcome o;
    switch (action.kind) {
        case Kind::Mark:
            o = SetMarksBack(action, written);
            break;
        case Kind::Delete:
            o = PutBack(action.id, action.cuts, action.taken, action.trashSerials, written);
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
    Settle();
    std::vector<qv::records::CutRecord> cuts;
    std::vector<std::int64_t> serials;
    std::int64_t taken = 0;
    for (const Trash::Entry& e : entries) {
        if (e.kind != Trash::Kind::LogRecord) continue;
        cuts.push_back({e.payload, e.anchor, e.nth, 0});
        serials.push_back(e.serial);
        // A delete took at most the record's own points: an entry claiming more (a forged or
        // damaged trash) gives back no more than that.
        const std::int64_t own = std::max<std::int64_t>(
            0, qv::ReadInt64(SentenceLog::Contents::FieldOf(e.payload, SentenceRecord::kPoints)));
        taken = qv::SaturatingAdd(taken, std::clamp<std::int64_t>(e.points, 0, own));
    }
    if (cuts.empty()) {
        Outcome none;
        none.result = Outcome::Result::NotFound;
        return none;
    }
    // An entry whose restore is still open (its trash line could not be taken out) is
    // back in the log already: putting it back again would log it twice.
    std::vector<IntentEntry> open;
    const IntentRecord intent(folder_.IntentPath());
    if (intent.Read(open) == qv::io::ReadStatus::Unreadable) {
        Outcome unreadable;
        unreadable.result = Outcome::Result::Pending;
        qv::io::Fail(&unreadable.error, qv::io::IoError::Op::Read, intent.Path(), EIO);
        return unreadable;
    }
    for (const IntentEntry& e : open) {
        if (e.kind != IntentEntry::Kind::Restore) continue;
        for (std::int64_t s : e.serials)
            if (std::find(serials.begin(), serials.end(), s) != serials.end()) {
                Outcome pending;
                pending.result = Outcome::Result::Pending;
                return pending;
            }
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

}  // namespace qv::execution

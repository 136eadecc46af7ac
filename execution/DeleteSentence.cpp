#include "execution/DeleteSentence.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <vector>

#include "records/Intent.h"
#include "text/Numbers.h"

DeleteOutcome DeleteSentence(const SentenceLog& log, const PointBalance& balance,
                             std::string_view id) {
    return DeleteSentence(DataFolder::DataOnly(log.Path(), balance.Path()), id);
}

DeleteOutcome DeleteSentence(const DataFolder& folder, std::string_view id, size_t which,
                             qv::Clock clock, const SentenceLog::Contents* copy) {
    using Result = DeleteOutcome::Result;
    DeleteOutcome outcome;
    const SentenceLog log(folder.LogPath());
    const PointBalance balance(folder.BalancePath());
    Change change(folder, clock);
    // Holds the log's lock until the log is written.
    SentenceLog::Rewrite rewrite = log.PlanDelete(id, which, copy);
    if (rewrite.busy) {
        outcome.result = Result::Busy;
        outcome.error = rewrite.error;
        return outcome;
    }
    if (rewrite.read == qv::io::ReadStatus::Unreadable) {
        outcome.result = Result::LogUnreadable;
        outcome.error = rewrite.error;
        return outcome;
    }
    if (rewrite.matched == 0) return outcome;
    const auto fail = [&](Result result) {
        outcome.result = result;
        outcome.error = change.error;
        change.Rollback();
        outcome.effects = change.effects;
        return outcome;
    };

    // Points a failed credit never put on the balance are not taken off it either.
    const IntentRecord intent(folder.IntentPath());
    std::int64_t uncredited = 0;
    if (!intent.UncreditedPoints(id, uncredited)) {
        qv::io::Fail(&change.error, qv::io::IoError::Op::Read, intent.Path(), EIO);
        return fail(Result::IntentFailed);
    }
    outcome.uncredited = uncredited;
    std::vector<std::int64_t> perRecord;  // what each record asks, in file order
    std::vector<std::int64_t> debits;
    for (std::int64_t p : rewrite.droppedPoints) {
        std::int64_t asked = 0;
        if (p > 0) {
            const std::int64_t skip = std::min(p, uncredited);
            uncredited -= skip;
            asked = p - skip;
        }
        perRecord.push_back(asked);
        if (asked > 0) debits.push_back(asked);
    }

    IntentEntry entry;
    entry.kind = IntentEntry::Kind::Delete;
    entry.id = std::string(id);
    entry.balanceBefore = "-";
    std::int64_t before = 0;
    if (!debits.empty()) {
        if (!change.Lock(balance.Path())) return fail(Result::Busy);
        for (std::int64_t p : debits) entry.points = qv::SaturatingAdd(entry.points, p);
        std::vector<std::string> fields;
        outcome.balance = balance.Read(fields, &change.error);
        if (outcome.balance == PointBalance::Status::Ok &&
            fields.size() < PointBalance::kFieldCount)
            outcome.balance = PointBalance::Status::Short;
        if (outcome.balance != PointBalance::Status::Ok)
            return fail(Result::BalanceFailed);  // what the debit would meet as well
        before = qv::ReadInt64(fields[PointBalance::kBalanceField]);
        std::int64_t after = before;
        for (std::int64_t p : debits)
            after = std::max<std::int64_t>(0, qv::SaturatingAdd(after, -p));
        entry.balanceBefore = qv::Decimal(before);
        entry.balanceAfter = after;
        outcome.taken = qv::SaturatingAdd(before, -after);
    }

    // The records, each with the points it took, as trash entries with their serials
    // chosen now, so the intent can name them.
    const std::vector<std::int64_t> taken = qv::records::TakenEach(before, perRecord);
    std::vector<Trash::Entry> trashed;
    const Trash trash(folder.TrashPath());
    if (trash.Enabled()) {
        if (!change.Lock(trash.Path())) return fail(Result::Busy);
        std::int64_t serial = trash.NextSerial(&change.error);
        if (serial == 0) return fail(Result::TrashFailed);
        for (size_t i = 0; i < rewrite.cuts.size(); ++i) {
            const qv::records::CutRecord& cut = rewrite.cuts[i];
            trashed.push_back({serial, Trash::Kind::LogRecord, change.Now(),
                               i < taken.size() ? taken[i] : 0, cut.anchor, cut.nth, cut.line});
            entry.serials.push_back(serial++);
        }
    }

    // More than one file: the intent goes first, so a kill in between is settled at the
    // next start.
    const bool twoFiles = !debits.empty() || !trashed.empty();
    if (!change.JournalTargets(qv::records::JournalLine::Kind::Delete, id, true, which) ||
        (twoFiles ? !change.Begin(entry, {&folder.TrashPath(), &folder.LedgerPath()})
                  : !change.CommitJournal()))
        return fail(Result::IntentFailed);
    if (!change.PutInTrash(trashed)) return fail(Result::TrashFailed);
    if (!debits.empty()) {
        std::string old;
        std::string bytes;
        outcome.balance = balance.PlanDebitDeleteEach(debits, old, bytes, &change.error);
        if (outcome.balance != PointBalance::Status::Ok ||
            !change.Replace(balance.Path(), bytes, std::move(old))) {
            if (outcome.balance == PointBalance::Status::Ok)
                outcome.balance = PointBalance::Status::WriteFailed;
            return fail(Result::BalanceFailed);
        }
    }
    // The last step: nothing after it rolls back, so the log is not read again to keep it.
    // Planned in the copy, the new file is written from the copy's own bytes.
    const std::vector<std::string_view> pieces =
        rewrite.dropped.empty() ? std::vector<std::string_view>{rewrite.bytes}
                                : SentenceLog::Pieces(rewrite);
    if (!change.Replace(log.Path(), pieces, std::nullopt)) {
        outcome.result = Result::LogWriteFailed;
        outcome.error = change.error;
        // Not put back: the intent stays, and the next start finishes the delete.
        outcome.restored = change.Rollback();
        outcome.effects = change.effects;
        return outcome;
    }
    if (!debits.empty())
        change.Book({change.Now(), Ledger::Kind::Delete, std::string(id), std::nullopt,
                     -entry.points, before, entry.balanceAfter});
    // A deleted record takes its note of points not credited with it.
    const auto dropNotes = [&](const IntentEntry& e) {
        return e.kind == IntentEntry::Kind::Decide && e.id == id;
    };
    change.Commit(outcome.uncredited > 0 ? std::function<bool(const IntentEntry&)>(dropNotes)
                                         : nullptr);
    outcome.result = Result::Deleted;
    outcome.deleted = rewrite.matched;
    outcome.cuts = std::move(rewrite.cuts);
    // Still under the log's lock: the stamp is of the file as written here.
    outcome.logStamp = qv::io::StampOf(log.Path());
    outcome.dropped = std::move(rewrite.dropped);
    outcome.trashSerials = entry.serials;
    outcome.effects = change.effects;
    return outcome;
}

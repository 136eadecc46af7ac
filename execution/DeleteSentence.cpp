#include "execution/DeleteSentence.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <vector>

#include "records/Intent.h"
#include "text/Numbers.h"

DeleteOutcome DeleteSentence(const SentenceLog& log, const PointBalance& balance,
                             std::string_view id, const DeleteJournal& journal) {
    using Result = DeleteOutcome::Result;
    DeleteOutcome outcome;
    // Holds the log's lock until the log is written.
    SentenceLog::Rewrite rewrite = log.PlanDelete(id);
    if (rewrite.busy) {
        outcome.result = Result::Busy;
        return outcome;
    }
    if (rewrite.read == qv::io::ReadStatus::Unreadable) {
        outcome.result = Result::LogUnreadable;
        outcome.error = rewrite.error;
        return outcome;
    }
    if (rewrite.matched == 0) return outcome;

    // Points a failed credit never put on the balance are not taken off it either.
    const IntentRecord intent = IntentRecord::Beside(log.Path());
    std::int64_t uncredited = 0;
    if (!intent.UncreditedPoints(id, uncredited)) {
        outcome.result = Result::IntentFailed;
        return outcome;
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
    const std::function<bool(const IntentEntry&)> dropNotes = [&](const IntentEntry& e) {
        return e.kind == IntentEntry::Kind::Decide && e.id == id;
    };

    IntentEntry entry;
    entry.kind = IntentEntry::Kind::Delete;
    entry.id = std::string(id);
    entry.balanceBefore = "-";
    qv::io::FileLock balanceLock;
    std::int64_t before = 0;
    if (!debits.empty()) {
        if (!balanceLock.Acquire(balance.Path())) {
            outcome.result = Result::Busy;
            return outcome;
        }
        for (std::int64_t p : debits) entry.points = qv::SaturatingAdd(entry.points, p);
        std::vector<std::string> fields;
        outcome.balance = balance.Read(fields, &outcome.error);
        if (outcome.balance == PointBalance::Status::Ok &&
            fields.size() < PointBalance::kFieldCount)
            outcome.balance = PointBalance::Status::Short;
        if (outcome.balance != PointBalance::Status::Ok) {
            outcome.result = Result::BalanceFailed;  // what the debit would meet as well
            return outcome;
        }
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
    const qv::Seconds now = journal.clock ? journal.clock() : qv::SystemNow();
    const std::vector<std::int64_t> taken = qv::undo::TakenEach(before, perRecord);
    std::vector<Trash::Entry> trashed;
    qv::io::FileLock trashLock;
    if (journal.trash.Enabled()) {
        if (!trashLock.Acquire(journal.trash.Path())) {
            outcome.result = Result::Busy;
            return outcome;
        }
        std::int64_t serial = journal.trash.NextSerial(&outcome.error);
        if (serial == 0) {
            outcome.result = Result::TrashFailed;
            return outcome;
        }
        for (size_t i = 0; i < rewrite.cuts.size(); ++i) {
            const qv::undo::CutRecord& cut = rewrite.cuts[i];
            trashed.push_back({serial, Trash::Kind::LogRecord, now, i < taken.size() ? taken[i] : 0,
                               cut.anchor, cut.nth, cut.line});
            entry.serials.push_back(serial++);
        }
    }

    // More than one file: the intent goes first, so a kill in between is settled at the
    // next start.
    IntentRecord::Opened opened;
    const bool twoFiles = !debits.empty() || !trashed.empty();
    if (twoFiles && !intent.Open(entry, opened)) {
        qv::io::Fail(&outcome.error, qv::io::IoError::Op::Write, intent.Path(), errno);
        outcome.result = Result::IntentFailed;
        return outcome;
    }
    if (!trashed.empty() && !journal.trash.Append(trashed, &outcome.error)) {
        intent.Close(opened);
        outcome.result = Result::TrashFailed;
        return outcome;
    }
    auto untrash = [&] { return journal.trash.Remove(entry.serials); };

    std::string old;
    if (!debits.empty()) {
        const Backups::OnReplace keep(journal.backups, balance.Path());
        outcome.balance = balance.DebitDeleteEach(debits, &old, &outcome.error);
        outcome.backedUp = keep.Kept();
        if (outcome.balance != PointBalance::Status::Ok) {
            if (untrash()) intent.Close(opened);
            outcome.result = Result::BalanceFailed;
            return outcome;
        }
    }
    const Backups::OnReplace keepLog(journal.backups, log.Path());
    const bool logWritten = log.Write(rewrite, &outcome.error);
    if (!keepLog.Kept()) outcome.backedUp = false;
    if (!logWritten) {
        outcome.result = Result::LogWriteFailed;
        outcome.restored = debits.empty() || balance.PutBack(old);
        // Not put back: the intent stays, and the next start finishes the delete.
        if (outcome.restored && untrash() && !opened.line.empty()) intent.Close(opened);
        return outcome;
    }
    if (!debits.empty()) {
        const Ledger::Entry line{
            now,    Ledger::Kind::Delete, std::string(id), std::nullopt, -entry.points,
            before, entry.balanceAfter};
        outcome.ledgered = journal.ledger.Book(line, &outcome.adjusted);
    }
    if (!opened.line.empty())
        intent.Close(
            opened, outcome.uncredited > 0 ? dropNotes : std::function<bool(const IntentEntry&)>());
    else if (outcome.uncredited > 0)
        intent.Keep([&](const IntentEntry& e) { return !dropNotes(e); });
    outcome.result = Result::Deleted;
    outcome.deleted = rewrite.matched;
    outcome.cuts = std::move(rewrite.cuts);
    outcome.trashSerials = entry.serials;
    return outcome;
}

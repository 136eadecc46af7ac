#include "execution/DeleteSentence.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "records/Intent.h"
#include "text/Numbers.h"

DeleteOutcome DeleteSentence(const SentenceLog& log, const PointBalance& balance,
                             std::string_view id) {
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
    std::vector<std::int64_t> debits;
    for (std::int64_t p : rewrite.droppedPoints) {
        if (p <= 0) continue;
        const std::int64_t skip = std::min(p, uncredited);
        uncredited -= skip;
        if (p - skip > 0) debits.push_back(p - skip);
    }
    const std::function<bool(const IntentEntry&)> dropNotes = [&](const IntentEntry& e) {
        return e.kind == IntentEntry::Kind::Decide && e.id == id;
    };

    std::string before;
    qv::io::FileLock balanceLock;
    IntentRecord::Opened opened;
    if (!debits.empty()) {
        if (!balanceLock.Acquire(balance.Path())) {
            outcome.result = Result::Busy;
            return outcome;
        }
        // Two files: the intent goes first, so a kill in between is settled at next start.
        IntentEntry entry;
        entry.kind = IntentEntry::Kind::Delete;
        entry.id = std::string(id);
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
        std::int64_t after = qv::ReadInt64(fields[PointBalance::kBalanceField]);
        entry.balanceBefore = qv::Decimal(after);
        for (std::int64_t p : debits)
            after = std::max<std::int64_t>(0, qv::SaturatingAdd(after, -p));
        entry.balanceAfter = after;
        if (!intent.Open(entry, opened)) {
            outcome.result = Result::IntentFailed;
            return outcome;
        }
        outcome.balance = balance.DebitDeleteEach(debits, &before, &outcome.error);
        if (outcome.balance != PointBalance::Status::Ok) {
            intent.Close(opened);
            outcome.result = Result::BalanceFailed;
            return outcome;
        }
    }
    if (!log.Write(rewrite, &outcome.error)) {
        outcome.result = Result::LogWriteFailed;
        outcome.restored = debits.empty() || balance.PutBack(before);
        // Not put back: the intent stays, and the next start finishes the delete.
        if (outcome.restored && !opened.line.empty()) intent.Close(opened);
        return outcome;
    }
    if (!opened.line.empty())
        intent.Close(
            opened, outcome.uncredited > 0 ? dropNotes : std::function<bool(const IntentEntry&)>());
    else if (outcome.uncredited > 0)
        intent.Keep([&](const IntentEntry& e) { return !dropNotes(e); });
    outcome.result = Result::Deleted;
    outcome.deleted = rewrite.matched;
    return outcome;
}

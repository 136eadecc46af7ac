#include "execution/DeleteSentence.h"

#include <vector>

DeleteOutcome DeleteSentence(const SentenceLog& log, const PointBalance& balance,
                             std::string_view id) {
    using Result = DeleteOutcome::Result;
    DeleteOutcome outcome;
    SentenceLog::Rewrite rewrite = log.PlanDelete(id);
    if (rewrite.read == qv::io::ReadStatus::Unreadable) {
        outcome.result = Result::LogUnreadable;
        outcome.error = rewrite.error;
        return outcome;
    }
    if (rewrite.matched == 0) return outcome;

    std::vector<std::int64_t> debits;
    for (std::int64_t p : rewrite.droppedPoints)
        if (p > 0) debits.push_back(p);
    std::string before;
    if (!debits.empty()) {
        outcome.balance = balance.DebitDeleteEach(debits, &before, &outcome.error);
        if (outcome.balance != PointBalance::Status::Ok) {
            outcome.result = Result::BalanceFailed;
            return outcome;
        }
    }
    if (!log.Write(rewrite, &outcome.error)) {
        outcome.result = Result::LogWriteFailed;
        outcome.restored = debits.empty() || balance.PutBack(before);
        return outcome;
    }
    outcome.result = Result::Deleted;
    outcome.deleted = rewrite.matched;
    return outcome;
}

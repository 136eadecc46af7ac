#include "execution/Overdue.h"

#include <algorithm>

#include "execution/LogSummary.h"
#include "records/LogIssues.h"
#include "records/PointBalance.h"
#include "text/Numbers.h"

namespace {
constexpr std::int64_t kDay = 86400;

std::string DaysAgo(std::int64_t days) {
    return days == 0 ? std::string("今日") : std::to_string(days) + "日前";
}
}  // namespace

OverdueSummary SummarizeOverdue(const SentenceLog::Contents& log,
                                std::optional<std::int64_t> balance, std::int64_t now,
                                const OverdueRule& rule) {
    OverdueSummary s;
    // The counts the execution report's status line shows, so both say the same.
    const LogSummary counts = SummarizeLog(log);
    s.notExecuted = counts.notExecuted;
    s.notExecutedPoints = counts.notExecutedPoints;
    const std::int64_t limit = static_cast<std::int64_t>(std::max(rule.days, 0)) * kDay;
    std::optional<std::int64_t> oldestAge;
    for (size_t i = 0; i < log.RecordCount(); ++i) {
        if (log.Field(i, SentenceRecord::kExecuted) != "0") continue;
        const std::string_view time = log.Field(i, SentenceRecord::kDecisionTime);
        // A time that cannot be placed on a calendar makes no sentence overdue (atol would
        // read it as 1970, decades ago).
        if (!IsDecisionTime(time)) continue;
        const std::int64_t age = std::max<std::int64_t>(0, now - qv::ReadInt64(time));
        if (age > limit) ++s.overdue;
        if (!oldestAge || age > *oldestAge) oldestAge = age;
    }
    if (oldestAge) s.oldestDays = *oldestAge / kDay;
    s.balance = balance;
    s.balanceOver = balance && rule.balanceAbove && *balance > *rule.balanceAbove;
    return s;
}

std::string OverdueText(const OverdueSummary& s, const OverdueRule& rule) {
    std::string text;
    if (s.Tell()) {
        if (s.notExecuted > 0) {
            text += "未執行の判決が" + std::to_string(s.notExecuted) + "件あります（量刑計" +
                    std::to_string(s.notExecutedPoints) + "ポイント";
            if (s.oldestDays) text += "、最も古いものは" + DaysAgo(*s.oldestDays);
            text += "）";
        }
        if (s.balanceOver) {
            if (!text.empty()) text += '\n';
            text += "ポイント残高が" + std::to_string(*s.balance) + "ポイントあります（" +
                    std::to_string(*rule.balanceAbove) + "ポイントを超えています）";
        }
        return text;
    }
    text = "知らせることはありません（未執行の判決" + std::to_string(s.notExecuted) + "件";
    if (s.notExecuted > 0 && s.oldestDays)
        text += "、最も古いものは" + DaysAgo(*s.oldestDays);
    if (s.balance) text += "、ポイント残高" + std::to_string(*s.balance) + "ポイント";
    return text + "）";
}

OverdueCheck CheckOverdue(const std::string& logPath, const std::string& balancePath,
                          std::int64_t now, const OverdueRule& rule) {
    OverdueCheck check;
    SentenceLog::Contents log;
    // Read takes no lock: the program may hold the log's lock for as long as it likes.
    if (SentenceLog(logPath).Read(log, &check.error) == qv::io::ReadStatus::Unreadable)
        return check;
    std::optional<std::int64_t> balance;
    std::vector<std::string> fields;
    switch (PointBalance(balancePath).Read(fields, &check.error)) {
        case PointBalance::Status::Ok:
            balance = qv::ReadInt64(fields[PointBalance::kBalanceField]);
            break;
        case PointBalance::Status::Unreadable:
            return check;
        default:
            break;  // no balance file yet, or one the report shows as unreadable: none
    }
    check.error = {};
    check.ok = true;
    check.summary = SummarizeOverdue(log, balance, now, rule);
    return check;
}

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "records/SentenceLog.h"
#include "text/IoError.h"

// What the daily reminder looks at: the sentences still not executed and the point
// balance, against the user's two limits. Read only: neither a lock nor a write, so a
// running program keeps its folder while a check looks at it.
struct OverdueRule {
    int days = 3;  // a sentence not executed for longer than this many days is overdue
    std::optional<std::int64_t> balanceAbove;  // tell when the balance is above this
};

struct OverdueSummary {
    size_t notExecuted = 0;             // records whose flag is "0", as the report counts them
    std::int64_t notExecutedPoints = 0;  // their sentences (field 3) added up
    size_t overdue = 0;                 // of them, those older than the rule's days
    // Whole days since the oldest of them was decided; none when no not executed record
    // carries a readable decision time.
    std::optional<std::int64_t> oldestDays;
    std::optional<std::int64_t> balance;  // field 3 of the balance file; none without one
    bool balanceOver = false;

    // Whether the user is to be told at all.
    bool Tell() const { return overdue > 0 || balanceOver; }
};

// now: seconds since 1970, as the log's decision times. A decision time in the future
// (another computer's clock) counts as today.
OverdueSummary SummarizeOverdue(const SentenceLog::Contents& log,
                                std::optional<std::int64_t> balance, std::int64_t now,
                                const OverdueRule& rule);

// The summary in Japanese (UTF-8), one line per thing to tell, without a final line end:
// 「未執行の判決が3件あります（量刑計45ポイント、最も古いものは5日前）」 and, when the balance
// is over its limit, a line about it. With nothing to tell, one line saying so.
std::string OverdueText(const OverdueSummary& summary, const OverdueRule& rule);

// Reads the log and the balance file as they stand and sums them up. A missing log is an
// empty one, a missing or short balance file has no balance; a file that exists but
// cannot be read fails the check (error says which and why).
struct OverdueCheck {
    bool ok = false;
    qv::io::IoError error;
    OverdueSummary summary;
};
OverdueCheck CheckOverdue(const std::string& logPath, const std::string& balancePath,
                          std::int64_t now, const OverdueRule& rule);

#pragma once

#include <cstddef>
#include <cstdint>

#include "records/SentenceLog.h"

// The figures of the execution report's status line.
struct LogSummary {
    size_t records = 0;
    size_t notExecuted = 0;              // records whose flag is "0"
    std::int64_t notExecutedPoints = 0;  // their sentences (field 3) added up
};

LogSummary SummarizeLog(const SentenceLog::Contents& contents);
// The same over records [begin, end) of the contents, in file order.
LogSummary SummarizeRecords(const SentenceLog::Contents& contents, size_t begin, size_t end);

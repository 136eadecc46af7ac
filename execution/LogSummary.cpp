#include "execution/LogSummary.h"

#include <algorithm>

#include "text/Numbers.h"

LogSummary SummarizeLog(const SentenceLog::Contents& contents) {
    return SummarizeRecords(contents, 0, contents.RecordCount());
}

LogSummary SummarizeRecords(const SentenceLog::Contents& contents, size_t begin, size_t end) {
    LogSummary summary;
    end = std::min(end, contents.RecordCount());
    begin = std::min(begin, end);
    summary.records = end - begin;
    for (size_t i = begin; i < end; ++i) {
        // The same test as the list's mark: "0" is "未", anything else "済".
        if (contents.Field(i, SentenceRecord::kExecuted) != "0") continue;
        ++summary.notExecuted;
        summary.notExecutedPoints = qv::SaturatingAdd(
            summary.notExecutedPoints, qv::ReadInt64(contents.Field(i, SentenceRecord::kTotal)));
    }
    return summary;
}

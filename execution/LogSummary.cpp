#include "execution/LogSummary.h"

#include "text/Numbers.h"

LogSummary SummarizeLog(const SentenceLog::Contents& contents) {
    LogSummary summary;
    summary.records = contents.RecordCount();
    for (size_t i = 0; i < contents.RecordCount(); ++i) {
        // The same test as the list's mark: "0" is "未", anything else "済".
        if (contents.Field(i, SentenceRecord::kExecuted) != "0") continue;
        ++summary.notExecuted;
        summary.notExecutedPoints = qv::SaturatingAdd(
            summary.notExecutedPoints, qv::ReadInt64(contents.Field(i, SentenceRecord::kTotal)));
    }
    return summary;
}

#include "execution/LogSummary.h"

#include <algorithm>

#include "text/Numbers.h"

LogSummary SummarizeLog(const SentenceLog::Contents& contents) {
    // Counted as the log was read, while its bytes were in the cache; a walk over a
    // million records afterwards costs more than the read.
    if (const SentenceLog::Contents::Unmarked& unmarked = contents.NotExecuted(); unmarked.known)
        return {contents.RecordCount(), unmarked.records, unmarked.points};
    return SummarizeRecords(contents, 0, contents.RecordCount());
}

LogSummary SummarizeRecords(const SentenceLog::Contents& contents, size_t begin, size_t end) {
    LogSummary summary;
    end = std::min(end, contents.RecordCount());
    begin = std::min(begin, end);
    summary.records = end - begin;
    static_assert(SentenceRecord::kTotal < SentenceRecord::kExecuted);
    for (size_t i = begin; i < end; ++i) {
        // One walk over the record's first fields finds both, where a field at a time
        // would walk them twice: this runs over every record as the window opens.
        const std::string_view text = contents.Record(i);
        const char* at[SentenceRecord::kExecuted + 1] = {text.data()};
        size_t f = 0;
        const char* const stop = text.data() + text.size();
        for (const char* p = text.data(); p != stop && f < SentenceRecord::kExecuted; ++p)
            if (*p == '\t') at[++f] = p + 1;
        // The same test as the list's mark: "0" is "未", anything else "済".
        const char* mark = at[SentenceRecord::kExecuted];
        if (f < SentenceRecord::kExecuted || mark == stop || *mark != '0' ||
            (mark + 1 != stop && mark[1] != '\t'))
            continue;
        ++summary.notExecuted;
        const char* total = at[SentenceRecord::kTotal];
        summary.notExecutedPoints = qv::SaturatingAdd(
            summary.notExecutedPoints,
            qv::ReadInt64(std::string_view(
                total, static_cast<size_t>(at[SentenceRecord::kTotal + 1] - 1 - total))));
    }
    return summary;
}

#include "trial/Preview.h"

#include <limits>

TrialPreview PreviewTrial(int articleNumber, int level, const CInfo& info, qv::Seconds now,
                          const SentenceLog::Contents& log, qv::io::ReadStatus read,
                          const qv::io::IoError& error) {
    TrialPreview p;
    p.now = ComposeVerdict(articleNumber, level, info, now, log, read, error);
    // A refused trial has no figures: the preview says why, as 提出 would.
    if (p.now.status != Composition::Status::Ok) return p;
    p.history = CountHistory(log, articleNumber, now);
    if (!p.history.oldest) return p;
    p.oldestStops = StopsCounting(*p.history.oldest);
    p.afterwards = ComposeVerdict(articleNumber, level, info, *p.oldestStops, log, read, error);
    return p;
}

qv::Seconds NextPreviewChange(qv::Seconds now) {
    constexpr qv::Seconds kDay = 86400;
    const std::int64_t day = DayNumber(now);
    if (day >= std::numeric_limits<qv::Seconds>::max() / kDay - 1)
        return std::numeric_limits<qv::Seconds>::max();
    return (day + 1) * kDay;
}

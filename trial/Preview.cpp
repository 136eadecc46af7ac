#include "trial/Preview.h"

#include <limits>

namespace {
// compose(t) is the composition at t, count(t) the history at t, over one log.
template <typename Compose, typename Count>
TrialPreview Preview(qv::Seconds now, const Compose& compose, const Count& count) {
    TrialPreview p;
    p.now = compose(now);
    // A refused trial has no figures: the preview says why, as 提出 would.
    if (p.now.status != Composition::Status::Ok) return p;
    p.history = count(now);
    if (!p.history.oldest) return p;
    p.oldestStops = StopsCounting(*p.history.oldest);
    p.afterwards = compose(*p.oldestStops);
    return p;
}
}  // namespace

TrialPreview PreviewTrial(int articleNumber, int level, const CInfo& info, qv::Seconds now,
                          const SentenceLog::Contents& log, qv::io::ReadStatus read,
                          const qv::io::IoError& error) {
    return Preview(
        now,
        [&](qv::Seconds t) { return ComposeVerdict(articleNumber, level, info, t, log, read, error); },
        [&](qv::Seconds t) { return CountHistory(log, articleNumber, t); });
}

TrialPreview PreviewTrial(int articleNumber, int level, const CInfo& info, qv::Seconds now,
                          const TrialLog& log) {
    // Later than now, so a pass that covers now covers it too.
    return Preview(
        now, [&](qv::Seconds t) { return ComposeVerdict(articleNumber, level, info, t, log); },
        [&](qv::Seconds t) { return CountHistory(log, articleNumber, t); });
}

qv::Seconds NextPreviewChange(qv::Seconds now) {
    constexpr qv::Seconds kDay = 86400;
    const std::int64_t day = DayNumber(now);
    if (day >= std::numeric_limits<qv::Seconds>::max() / kDay - 1)
        return std::numeric_limits<qv::Seconds>::max();
    return (day + 1) * kDay;
}

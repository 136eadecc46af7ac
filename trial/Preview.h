#pragma once

#include <optional>

#include "records/SentenceLog.h"
#include "rulebook/Clock.h"
#include "text/IoError.h"
#include "trial/Verdict.h"

class CInfo;

// What the trial window shows before 提出, from a log it read once when it opened: the
// composition the verdict window would run now, and the same trial from the moment the
// oldest of the counted applications stops counting. Every figure is ComposeVerdict's.
struct TrialPreview {
    Composition now;  // what 提出 would give at `now`
    // The same article's applications counted now (count, sum, the oldest).
    History history;
    // When the oldest of them stops counting, and the trial composed from that second on.
    std::optional<qv::Seconds> oldestStops;
    std::optional<Composition> afterwards;
};

TrialPreview PreviewTrial(int articleNumber, int level, const CInfo& info, qv::Seconds now,
                          const SentenceLog::Contents& log, qv::io::ReadStatus read,
                          const qv::io::IoError& error);
// The same from the pass a trial window keeps; now must be covered (TrialLog::Covers).
TrialPreview PreviewTrial(int articleNumber, int level, const CInfo& info, qv::Seconds now,
                          const TrialLog& log);

// The next second at which a preview made at `now` may change: the history counts whole
// UTC days, so that is the next 00:00 UTC.
qv::Seconds NextPreviewChange(qv::Seconds now);

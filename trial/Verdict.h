#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "records/PointBalance.h"
#include "records/SentenceLog.h"
#include "rulebook/Clock.h"

class CInfo;

// One composed verdict, held by the verdict window until it is decided or cancelled.
// Texts are CP932 bytes, as they go into the log.
struct CVerdict {
    int articleNumber = 0;
    std::string articleName;
    std::int64_t total = 0;                // the sentence in points
    std::string distribution;              // "name:count " for every implement with units
    std::array<std::int64_t, 5> counts{};  // units of implements 1..4, then the points share
    std::string countsText;                // counts joined by TABs (log fields 6..10)
    std::int64_t points = 0;  // the points share when above 0, else 0: what is credited
    std::string heading;      // "12条:name"
    std::string articleText;
    std::string verdictText;  // lines end in CR LF, the last one has none

    // How the total came about.
    std::int64_t reduction = 0;
    std::int64_t increase = 0;
    std::int64_t historyCount = 0;
    std::int64_t historySum = 0;

    // The log record of this verdict decided at `decidedAt`, not yet executed.
    SentenceRecord ToRecord(qv::Seconds decidedAt) const;
};

// A verdict, or why none could be composed (CP932 text for the user).
struct Composition {
    std::optional<CVerdict> verdict;
    std::string refusal;
};

// Composes the verdict for an article and a mercy level (0..10) at the time `now`: the
// article's base points, lowered by the level, raised by the same article's sentences
// in the log over the current UTC day and the 10 before, spread over the implements and
// the points share. Reads the log, writes nothing. Refuses an article that is not in the
// book, one whose shares add up to 0, and a log that exists but cannot be read.
Composition ComposeVerdict(int articleNumber, int level, const CInfo& info, qv::Seconds now);

// UTC day number of a time: seconds / 86400 rounded down, for any 64-bit time.
std::int64_t DayNumber(qv::Seconds t);

struct Decision {
    enum class Status {
        Ok,
        NotRecorded,  // the record could not be appended: nothing was written
        NotCredited   // the record is in the log, the balance could not be credited
    };
    Status status = Status::Ok;
    PointBalance::Status balance = PointBalance::Status::Ok;  // why, for NotCredited
    bool busy = false;  // NotRecorded because another program holds the log or the balance
    std::string id;     // the record's identifier
};

// Makes a verdict final: appends its record to the log and then, when it carries
// points, credits them to the balance file, both under the files' locks. An intent entry
// is made durable before the append and removed after the credit; when the credit fails
// it stays as the note that these points are not on the balance (see CreditPending).
Decision DecideVerdict(const CVerdict& verdict, const CInfo& info, qv::Seconds decidedAt);

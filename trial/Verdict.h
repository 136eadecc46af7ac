#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "records/Change.h"
#include "records/Ledger.h"
#include "records/PointBalance.h"
#include "records/SentenceLog.h"
#include "rulebook/Clock.h"
#include "text/FileIo.h"

class CInfo;
class CRule;
class CRuleBook;

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

// A verdict, or why none could be composed.
struct Composition {
    enum class Status {
        Ok,
        NoSuchArticle,      // the article is not in the book
        SharesAddUpToZero,  // its shares add up to 0: nothing to spread the sentence over
        LogUnreadable       // the log exists but cannot be read: the history is unknown
    };
    Status status = Status::Ok;
    std::optional<CVerdict> verdict;  // set exactly when status is Ok
    qv::io::IoError error;            // LogUnreadable: why
};

// Composes the verdict for an article and a mercy level (0..10) at the time `now`: the
// article's base points, lowered by the level, raised by the same article's sentences
// in the log over the current UTC day and the 10 before, spread over the implements and
// the points share. Reads the log, writes nothing. Refuses an article that is not in the
// book, one whose shares add up to 0, and a log that exists but cannot be read, in that
// order.
Composition ComposeVerdict(int articleNumber, int level, const CInfo& info, qv::Seconds now);

// The same over a log the caller has already read (read is how that went, error why it
// failed), so a window that also looks the log over for damage reads it once.
Composition ComposeVerdict(int articleNumber, int level, const CInfo& info, qv::Seconds now,
                           const SentenceLog::Contents& log, qv::io::ReadStatus read,
                           const qv::io::IoError& error);

// The steps of a composition, each usable by itself (a preview runs 2 to 4 on a log it
// holds, with the same arithmetic).

// 1. The article to sentence, or why it cannot be (rule is set only for Ok).
Composition::Status FindArticle(const CInfo& info, int articleNumber, const CRule*& rule);

// 2. The same article's sentences that weigh on a sentence passed at `now`: whole
// records decided on the current UTC day or the 10 before. A damaged line is neither
// listed nor deletable, so it does not weigh either.
struct History {
    std::int64_t count = 0;
    std::int64_t sum = 0;  // their totals, saturating
    // Decision time of the earliest of them, which is the first to stop counting.
    std::optional<qv::Seconds> oldest;
};
History CountHistory(const SentenceLog::Contents& log, int articleNumber, qv::Seconds now);
// The first second at which a sentence decided at `decidedAt` no longer counts: the
// start of the 11th UTC day after its own (saturating at the end of time).
qv::Seconds StopsCounting(qv::Seconds decidedAt);

// 3. The sentence: the base, lowered by the level, raised by the history.
struct Sentence {
    std::int64_t reduction = 0;
    std::int64_t increase = 0;
    std::int64_t total = 0;
};
Sentence ComputeSentence(const CRule& rule, int level, const History& history);

// 4. The sentence spread over the implements and the points share; each portion is
// rounded up by itself. counts[4] is the points share.
struct Distribution {
    std::array<std::int64_t, 5> counts{};
    std::string text;  // "name:count " for every implement with units
};
Distribution DistributeSentence(const CRule& rule, const CRuleBook& book, std::int64_t total);

// UTC day number of a time: seconds / 86400 rounded down, for any 64-bit time.
std::int64_t DayNumber(qv::Seconds t);

// What trials from a moment on need of the log, from one pass that holds no copy of it:
// the records that may weigh on a sentence passed then or later (decided on that UTC day,
// the 10 before or since), what could not be read as records, and the file's stamp. The
// trial window keeps it for its preview and hands it to the verdict, so a trial reads the
// log once however long it is.
struct TrialLog {
    struct Entry {
        qv::Seconds decidedAt = 0;
        std::int64_t article = 0;  // field 1, read as a number
        std::int64_t total = 0;    // field 3
    };
    qv::io::ReadStatus read = qv::io::ReadStatus::Missing;
    qv::io::IoError error;  // why, when read is Unreadable
    SentenceLog::Contents::Damage damage;
    qv::io::FileStamp stamp;  // unknown when the file changed while it was read
    std::int64_t firstDay = 0;  // the UTC day of `since`
    std::vector<Entry> entries;  // in file order

    // The log at path as trials at `since` or later see it.
    static TrialLog Read(const std::string& path, qv::Seconds since);
    // Whether every record that weighs on a trial at now was kept: now is not on a day
    // before the one it was read for (a clock set back needs a new read).
    bool Covers(qv::Seconds now) const { return DayNumber(now) >= firstDay; }
    // Whether the file at path is still exactly the one read.
    bool StillMatches(const std::string& path) const;
};
// Step 2 over such a pass; now must be covered.
History CountHistory(const TrialLog& log, int articleNumber, qv::Seconds now);
// A composition over such a pass (its read status and error included); now must be covered.
Composition ComposeVerdict(int articleNumber, int level, const CInfo& info, qv::Seconds now,
                           const TrialLog& log);

struct Decision {
    enum class Status {
        Ok,
        NotRecorded,  // the record could not be appended: nothing was written
        NotCredited   // the record is in the log, the balance could not be credited
    };
    Status status = Status::Ok;
    PointBalance::Status balance = PointBalance::Status::Ok;  // why, for NotCredited
    qv::io::IoError error;  // the failed call, for NotRecorded and NotCredited
    bool busy = false;      // NotRecorded because another program holds the log or the balance
    std::string id;         // the record's identifier
    SideEffects effects;    // the ledger line, the backup, the verdict text
};

// Makes a verdict final, as one change of the context's folder: the verdict text goes
// beside the log, the record is appended to the log and then, when it carries points,
// they are credited to the balance file and booked in the ledger. A second that already
// names a sentence in the log is taken by the next free one, so no two sentences share
// an identifier. When the credit fails the intent entry stays as the note that these
// points are not on the balance (see CreditPending).
Decision DecideVerdict(const CVerdict& verdict, const CInfo& info, qv::Seconds decidedAt);

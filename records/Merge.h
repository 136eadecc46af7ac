#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "records/ConflictCopies.h"
#include "records/DataFolder.h"
#include "records/Fold.h"
#include "rulebook/Clock.h"
#include "text/IoError.h"

namespace qv::records {

// The implement table of a rule book file as stored: names and weights, fields 4 to 11 of
// its header line.
struct Implements {
    std::array<std::string, 4> names;
    std::array<std::string, 4> weights;
    bool operator==(const Implements&) const = default;
};

// What one computer's files hold, byte for byte (empty: no such file). The other side of
// a merge is made of the conflict copies, and of this side's file where a file has none
// (the sync tool brought it over whole).
using FolderBytes = ViewBytes;

// What a merge took in, as one box says it.
struct MergeCounts {
    size_t records = 0;   // sentences added from the other side
    size_t marks = 0;     // sentences whose 執行 mark the other side's later mark changed
    size_t deletes = 0;   // sentences the other side deleted, taken out here
    std::int64_t points = 0;  // the balance's change
    size_t articles = 0;  // articles taken over, added or deleted
    size_t renumbered = 0;  // sentences of the other side moved to the next free second
    size_t refused = 0;  // records of the other side that break the log's rules: left out
    size_t refusedBookings = 0;  // its ledger lines that no sentence of its own bears out
    bool implementsDiffered = false;
    bool keptOwnImplements = true;
    bool balanceKept = false;  // the balance could not be replayed (no ledger): kept as is
};

// Asked when the two implement tables differ: true keeps theirs.
using ChooseImplements = std::function<bool(const Implements& ours, const Implements& theirs)>;

// The merge of the other side's files into ours, every file worked out in memory:
//  - the log: the union of the records in decision order, a record in one side's trash
//    staying deleted, a differing mark taken from the later mark event (executed when no
//    event tells), a different record under a taken identifier moved to the next free
//    second;
//  - the balance: both sides' ledger lines after their common start replayed in time
//    order, floors where the actions have them; the ledger gets the other side's lines
//    marked merged and one "merge" line;
//  - trash, kept verdict texts and marks: the union (trash serials renumbered on a clash);
//  - the rule book: per article the later `updated`; an article deleted on one side after
//    the other's last change stays deleted; differing implements are asked about.
// Returns ours with theirs merged in; files that do not change keep their bytes.
FolderBytes MergeBytes(const FolderBytes& ours, const FolderBytes& theirs, qv::Seconds now,
                       const ChooseImplements& choose, MergeCounts& counts);

struct MergeOutcome {
    enum class Result {
        Nothing,  // no conflict copies
        Merged,
        Busy,    // another program holds the files: nothing done
        Failed,  // nothing changed (error says why), or finished at the next start
    };
    Result result = Result::Nothing;
    MergeCounts counts;
    std::vector<std::string> merged;      // copies moved into conflicts/ (bare names)
    std::vector<std::string> unreadable;  // copies left in place: they could not be read
    qv::io::IoError error;
    bool leftForStart = false;  // Failed after the merge was decided: the next start ends it
};

// Finds the conflict copies of the folder's files and merges them into the files as one
// change: the merged files are written to a staging folder first, the intent names them,
// then they replace the files and the copies move into conflicts/; a kill anywhere leaves
// the folder as before (staging not yet complete: start-up drops it) or as after (start-up
// ends the job). Several copies of one file are taken one after another.
// withBook false: the rule book's copies wait (the book has unsaved changes in memory).
MergeOutcome MergeConflicts(const DataFolder& folder, const ChooseImplements& choose = nullptr,
                            qv::Clock clock = nullptr, bool withBook = true);

// At start-up: ends a merge the intent names (finished: true), or drops a staging folder
// no intent names. Idempotent.
bool SettleMerge(const DataFolder& folder, bool intended);

}  // namespace qv::records

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "records/Change.h"
#include "records/DataFolder.h"
#include "records/Ledger.h"
#include "records/LogSplice.h"
#include "records/PointBalance.h"
#include "records/SentenceLog.h"
#include "records/Trash.h"
#include "rulebook/Clock.h"

// What became of deleting the sentences that carry one identifier.
struct DeleteOutcome {
    enum class Result {
        Deleted,
        NotFound,        // no record carries the identifier (any more): nothing written
        LogUnreadable,   // nothing written
        BalanceFailed,   // the points could not be taken off: nothing written (see balance)
        LogWriteFailed,  // the log kept its records; the balance was put back when restored
        Busy,            // another program holds the log or the balance: nothing written
        IntentFailed,    // the intent record could not be written: nothing written
        TrashFailed,     // the records could not be put into the trash: nothing written
    };
    Result result = Result::NotFound;
    PointBalance::Status balance = PointBalance::Status::Ok;
    size_t deleted = 0;           // records left out of the log
    bool restored = true;         // LogWriteFailed: the balance has its old bytes again
    std::int64_t uncredited = 0;  // points of the records never credited, so not debited
    qv::io::IoError error;        // the failed call, for every result but Deleted and NotFound

    // For undo: the records as they stood, the points the debits really took (the floor
    // at 0 applied) and the trash entries that hold the records.
    std::vector<qv::records::CutRecord> cuts;
    std::int64_t taken = 0;
    std::vector<std::int64_t> trashSerials;
    SideEffects effects;  // the ledger line, the backups
    // Planned in a copy of the log: the records left out (their indices in it) and the
    // log's stamp as written, so the copy can follow without reading the log again.
    std::vector<size_t> dropped;
    qv::io::FileStamp logStamp;
};

// Deletes the records of the folder's log whose identifier is id (only the which-th of
// them, when given: a row acts on itself alone) and takes the points of each (those above
// 0, less what a failed credit never put on the balance) off the balance, as one change:
// the records go to the trash first, then the debit, then the log rewrite, then the
// ledger line. A step that cannot be made leaves every file as it was; a log that cannot
// be written gets the balance put back (when that fails too, the next start finishes the
// delete).
// copy: the log as the caller holds it, planned from while the file is still that.
DeleteOutcome DeleteSentence(const DataFolder& folder, std::string_view id,
                             size_t which = qv::records::kEveryRecord, qv::Clock clock = nullptr,
                             const SentenceLog::Contents* copy = nullptr);
// The same in a folder of the log and the balance alone.
DeleteOutcome DeleteSentence(const SentenceLog& log, const PointBalance& balance,
                             std::string_view id);

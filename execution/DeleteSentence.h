#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "records/PointBalance.h"
#include "records/SentenceLog.h"

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
    };
    Result result = Result::NotFound;
    PointBalance::Status balance = PointBalance::Status::Ok;
    size_t deleted = 0;           // records left out of the log
    bool restored = true;         // LogWriteFailed: the balance has its old bytes again
    std::int64_t uncredited = 0;  // points of the records never credited, so not debited
    qv::io::IoError error;        // the failed call, for every result but Deleted and NotFound
};

// Deletes every record of the log whose identifier is id and takes the points of each
// (those above 0, less what a failed credit never put on the balance) off the balance,
// the balance first, under the locks of both files and with an intent entry around them. A debit
// that cannot be made leaves both files untouched; a log that cannot be written gets the balance
// put back.
DeleteOutcome DeleteSentence(const SentenceLog& log, const PointBalance& balance,
                             std::string_view id);

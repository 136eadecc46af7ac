#pragma once

#include <cstddef>
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
    };
    Result result = Result::NotFound;
    PointBalance::Status balance = PointBalance::Status::Ok;
    size_t deleted = 0;    // records left out of the log
    bool restored = true;  // LogWriteFailed: the balance has its old bytes again
    qv::io::IoError error;  // the failed call, for every result but Deleted and NotFound
};

// Deletes every record of the log whose identifier is id and takes the points of each
// (those above 0) off the balance, the balance first. A debit that cannot be made leaves
// both files untouched; a log that cannot be written gets the balance put back.
DeleteOutcome DeleteSentence(const SentenceLog& log, const PointBalance& balance,
                             std::string_view id);

#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "records/DataFolder.h"
#include "records/Intent.h"
#include "records/PointBalance.h"
#include "rulebook/Clock.h"

// Field 3 of the balance as an intent entry keeps it: the number, "-" when there is no
// file, "?" when it cannot be read or is short.
std::string BalanceMark(const PointBalance& balance);

// What start-up found left over by a run that ended midway, and what it did about it.
struct StartRepair {
    struct Item {
        enum class What {
            DecideNotRecorded,  // the record never reached the log; nothing was credited
            DecideCredited,     // the record was in the log: its points are now credited
            DeleteNotMade,      // nothing had been debited: the record stays
            DeleteFinished,     // the points had been debited: the record is now deleted
            DeleteUnfinished,   // could not be settled now; tried again at the next start
            BalanceFinished,    // a report or its undo had changed the balance: booked
            BalanceNotMade,     // a report or its undo had not reached the balance
            RestoreFinished,    // records being put back from the trash are back
            RestoreUnfinished,  // could not be finished now; tried again at the next start
            MarkFinished,       // marks being set in the log were set
            // The entry does not agree with the files (the record's bytes or points, the
            // trash copies): nothing was done for it, and it was dropped.
            Refused,
        };
        What what;
        std::string id;
        std::int64_t points = 0;
    };
    std::vector<Item> items;
    size_t leftoversRemoved = 0;              // temporary files of killed writes
    std::vector<std::string> copiesFinished;  // files completed from their synced copies
    bool busy = false;  // another program holds the files: nothing was settled
    bool mergeFinished = false;  // a merge of conflict copies a kill cut short was ended
    bool AnyToTell() const { return !items.empty() || !copiesFinished.empty() || mergeFinished; }
};

// Run once at start-up, before any window: removes the temporary files of writes that a
// kill interrupted (their process gone), finishes interrupted in-place rewrites, cuts the
// torn tails of the journals back (an append a kill cut short; the log's own back to the
// size its intent noted), and settles every open action of the intent record so the log,
// the balance, the ledger and the trash agree. An entry is a claim checked against the
// files, not an order: a decision is credited with its record's own points, a delete is
// finished only with its records in the trash, and what does not agree is refused.
StartRepair RepairAtStart(const DataFolder& folder, qv::Clock clock = nullptr);

// Credits the points of the decision id that are noted as not credited, and drops the
// note when that works. Ok when there was nothing to credit.
PointBalance::Status CreditPending(const DataFolder& folder, std::string_view id);

#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "records/Intent.h"
#include "records/PointBalance.h"

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
        };
        What what;
        std::string id;
        std::int64_t points = 0;
    };
    std::vector<Item> items;
    size_t leftoversRemoved = 0;              // temporary files of killed writes
    std::vector<std::string> copiesFinished;  // files completed from their synced copies
    bool busy = false;  // another program holds the files: nothing was settled
    bool AnyToTell() const { return !items.empty() || !copiesFinished.empty(); }
};

// Run once at start-up, before any window: removes the temporary files of writes that a
// kill interrupted (their process gone), finishes interrupted in-place rewrites, and
// settles every open action of the intent record so the log and the balance agree. A
// decision whose record is in the log gets its points credited (a note of points not
// credited is retried the same way); one whose record is not is dropped. A delete whose
// debit was made is finished; one whose debit was not is dropped.
StartRepair RepairAtStart(const std::string& bookPath, const std::string& logPath,
                          const std::string& balancePath);

// Credits the points of the decision id that are noted as not credited, and drops the
// note when that works. Ok when there was nothing to credit.
PointBalance::Status CreditPending(const std::string& logPath, const std::string& balancePath,
                                   std::string_view id);

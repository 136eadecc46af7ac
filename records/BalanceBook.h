#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "records/Change.h"
#include "records/DataFolder.h"
#include "records/Ledger.h"
#include "records/PointBalance.h"
#include "rulebook/Clock.h"
#include "text/IoError.h"

// What became of one change to the balance.
struct Booking {
    PointBalance::Status status = PointBalance::Status::Ok;  // of the balance file
    Ledger::Figures figures;  // before and after, when the balance was written
    SideEffects effects;      // the ledger line and the backup
    bool intentFailed = false;  // the intent record could not be written: nothing written
    qv::io::IoError error;      // the failed call, when status is not Ok
    std::vector<qv::records::LineRef> lines;  // the journal lines it committed
    bool Ok() const { return status == PointBalance::Status::Ok; }
};

// A change of the balance file that stands alone (a point report, its undo) with its
// ledger line, as one change of the folder: under the balance's lock, an intent entry
// ("balance") goes first, then the old version to the backups, the balance, the ledger
// line, and the entry is removed. A kill anywhere in between is settled at the next start.
class BalanceBook {
public:
    // A folder without a ledger writes no intent either: there is one file only.
    explicit BalanceBook(DataFolder folder, qv::Clock clock = nullptr);

    const PointBalance& Balance() const { return balance_; }
    const Ledger& GetLedger() const { return ledger_; }

    // Points added (> 0), as a decision's credit is booked.
    Booking Credit(std::string_view id, std::int64_t points) const;
    // A point execution report of R points (> 0), with the units per implement; the
    // balance never goes below 0.
    Booking Report(const std::array<std::int64_t, 4>& units, std::int64_t points) const;
    // Gives back what an earlier change took (after - before of that change, negated),
    // without the floor: exactly the points that were taken, not more.
    // report: the journal line of the report given back, when it has one.
    Booking GiveBack(std::string_view id, const std::optional<std::array<std::int64_t, 4>>& units,
                     std::int64_t amount, const std::optional<qv::records::LineRef>& report = {}) const;

private:
    Booking Change(Ledger::Kind kind, std::string_view id,
                   const std::optional<std::array<std::int64_t, 4>>& units, std::int64_t delta,
                   bool floorAtZero, std::vector<qv::records::JournalLine> lines = {}) const;

    DataFolder folder_;
    PointBalance balance_;
    Ledger ledger_;
    qv::Clock clock_;
};

#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "records/Backups.h"
#include "records/Ledger.h"
#include "records/PointBalance.h"
#include "rulebook/Clock.h"
#include "text/IoError.h"

// What became of one change to the balance.
struct Booking {
    PointBalance::Status status = PointBalance::Status::Ok;  // of the balance file
    Ledger::Figures figures;  // before and after, when the balance was written
    // The ledger line could not be appended: the balance is right, and the next check
    // finds the difference and shows it.
    bool ledgered = true;
    // The ledger's figure and the file's did not agree before this change; the file's
    // was taken (an "adjust" line went first) so the ledger keeps adding up.
    std::optional<Ledger::Figures> adjusted;
    bool backedUp = true;       // false: the balance file's old version could not be kept
    bool intentFailed = false;  // the intent record could not be written: nothing written
    qv::io::IoError error;      // the failed call, when status is not Ok
    bool Ok() const { return status == PointBalance::Status::Ok; }
};

// A change of the balance file that stands alone (a point report, its undo) with its
// ledger line: under the balance's lock, an intent entry ("balance") goes first, then
// the old version to the backups, the balance, the ledger line, and the entry is removed.
// A kill anywhere in between is settled at the next start (RepairAtStart books the
// line of a change that reached the balance); a ledger line that cannot be appended
// leaves a difference the check against the ledger finds.
class BalanceBook {
public:
    // ledgerPath empty: no ledger (and no intent: there is one file only); backupFolder
    // empty: no backups.
    BalanceBook(std::string balancePath, std::string ledgerPath, qv::Clock clock = nullptr,
                std::string backupFolder = {});

    const PointBalance& Balance() const { return balance_; }
    const Ledger& GetLedger() const { return ledger_; }

    // Points added (> 0), as a decision's credit is booked.
    Booking Credit(std::string_view id, std::int64_t points) const;
    // A point execution report of R points (> 0), with the units per implement; the
    // balance never goes below 0.
    Booking Report(const std::array<std::int64_t, 4>& units, std::int64_t points) const;
    // Gives back what an earlier change took (after - before of that change, negated),
    // without the floor: exactly the points that were taken, not more.
    Booking GiveBack(std::string_view id, const std::optional<std::array<std::int64_t, 4>>& units,
                     std::int64_t amount) const;

private:
    Booking Change(Ledger::Kind kind, std::string_view id,
                   const std::optional<std::array<std::int64_t, 4>>& units, std::int64_t delta,
                   bool floorAtZero) const;

    std::string balancePath_;
    PointBalance balance_;
    Ledger ledger_;
    Backups backups_;
    qv::Clock clock_;
};

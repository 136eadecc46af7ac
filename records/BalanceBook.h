#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/Ledger.h"
#include "records/PointBalance.h"
#include "rulebook/Clock.h"

// What became of one change to the balance.
struct Booking {
    PointBalance::Status status = PointBalance::Status::Ok;  // of the balance file
    PointBalance::Figures figures;  // before and after, when the balance was written
    // The ledger line could not be appended: the balance is right, and the next check
    // finds the difference and shows it.
    bool ledgered = true;
    // The ledger's figure and the file's did not agree before this change; the file's
    // was taken (an "adjust" line went first) so the ledger keeps adding up.
    std::optional<PointBalance::Figures> adjusted;
    bool Ok() const { return status == PointBalance::Status::Ok; }

    std::vector<Ledger::Entry> pending;  // ledger lines not yet appended (see Commit)
};

// The balance file and its ledger together: every change is written to "user.dat" and
// then appended to the ledger with the figures the file really got. The balance goes
// first, so a failure or a kill between the two leaves a difference that the check
// against the ledger finds, never a ledger line for a change that did not happen.
class BalanceBook {
public:
    BalanceBook(std::string balancePath, std::string ledgerPath, qv::Clock clock);

    const PointBalance& Balance() const { return balance_; }
    const std::string& BalancePath() const { return balancePath_; }
    const Ledger& GetLedger() const { return ledger_; }

    // The credit of a decided verdict (points > 0).
    Booking Credit(std::string_view id, std::int64_t points) const;
    // A point execution report of R points (> 0), with the units per implement.
    Booking Report(const std::array<std::int64_t, 4>& units, std::int64_t points) const;
    // The debits of deleting the records of one identifier (see DebitDeleteEach). The
    // ledger lines wait for Commit: the log rewrite that follows may still fail, and then
    // the balance is put back (PointBalance::PutBack) instead.
    Booking DebitDelete(std::string_view id, std::span<const std::int64_t> points,
                        std::string* before) const;
    // Gives back what an earlier change took (after - before of that change, negated),
    // without the floor: exactly the points that were taken, not more. Waits for Commit
    // like DebitDelete.
    Booking GiveBack(std::string_view id, const std::optional<std::array<std::int64_t, 4>>& units,
                     std::int64_t amount, std::string* before = nullptr) const;
    // Appends a booking's waiting ledger lines; sets and returns booking.ledgered.
    bool Commit(Booking& booking) const;

private:
    Booking Book(PointBalance::Status status, Ledger::Entry entry, bool commit) const;

    std::string balancePath_;
    PointBalance balance_;
    Ledger ledger_;
    qv::Clock clock_;
};

#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/Backups.h"
#include "records/BalanceBook.h"
#include "records/SentenceLog.h"
#include "records/Trash.h"
#include "rulebook/Clock.h"
#include "rulebook/Info.h"

namespace qv::undo {

// A record cut out of the log, with what puts it back where it stood.
struct CutRecord {
    std::string line;    // the record line without its line end, byte for byte
    std::string anchor;  // first field of the line that followed it; empty: none did
    // Which line carrying anchor that was (1 = the first); with no anchor, the line
    // number it stood at (0 = the first line).
    std::int64_t nth = 0;
    std::int64_t points = 0;  // field 10 read like atol
};

// The records carrying id in content, in file order, with their anchors as seen in the
// log once they are gone (see SentenceLog::RewriteBytes, Change::Drop).
std::vector<CutRecord> CutsOf(std::string_view content, std::string_view id);

// Puts records back into content, in the order given: each before the nth line whose
// first field is its anchor, or, when that line is gone, before the first record decided
// later than itself, or at the end. A record that no line followed goes back at its line
// number (or the end). Every other byte stays.
std::string InsertRecords(std::string_view content, std::span<const CutRecord> records);

// Field 5 of every record carrying id, in file order.
std::vector<std::string> MarksOf(std::string_view content, std::string_view id);
// Sets field 5 of the records carrying id back to flags, in file order (records beyond
// the flags are left as they are); every other byte stays.
std::string SetMarks(std::string_view content, std::string_view id,
                     std::span<const std::string> flags);

// What each debit of a delete took from a balance that stood at before: debits apply
// one after another, each floored at 0, and a debit of 0 or less takes nothing.
std::vector<std::int64_t> TakenEach(std::int64_t before, std::span<const std::int64_t> points);

// The files of the execution report, as the context names them.
struct ReportFiles {
    SentenceLog log;
    BalanceBook book;
    Trash trash;
    Backups backups;
    static ReportFiles From(const CInfo& info, qv::Clock clock);
};

// What became of an action or an undo.
struct Outcome {
    enum class Result {
        Done,
        NotFound,        // nothing carries the identifier (any more): nothing written
        LogUnreadable,   // nothing written
        BalanceFailed,   // the balance could not be changed: nothing written
        LogWriteFailed,  // the log is as it was; the balance was put back when restored
        NothingToUndo,
    };
    Result result = Result::Done;
    PointBalance::Status balance = PointBalance::Status::Ok;
    bool restored = true;  // LogWriteFailed: the balance has its old bytes again
    bool ledgered = true;  // false: the ledger line is missing (the check will find it)
    bool trashed = true;   // false: the trash could not be written (see each action)
    bool backedUp = true;  // false: a backup could not be made (the change went on)
    std::optional<PointBalance::Figures> adjusted;  // see Booking::adjusted
    size_t records = 0;                             // records deleted or put back
    bool Ok() const { return result == Result::Done; }
};

// The actions of one execution report window, each undoable one at a time, newest
// first, back to when the window opened: 執行 / 未執行, 削除 and the point report.
class ReportSession {
public:
    ReportSession(const CInfo& info, qv::Clock clock = nullptr);

    Outcome Mark(std::string_view id, bool executed);
    // Deletes the records carrying id: the balance is debited, the log rewritten, the
    // records go to the trash with the points each took, the ledger gets its line.
    Outcome Delete(std::string_view id);
    Outcome Report(const std::array<std::int64_t, 4>& units, std::int64_t points);

    bool CanUndo() const { return !done_.empty(); }
    enum class Kind { Mark, Delete, Report };
    std::optional<Kind> NextUndo() const;
    // Undoes the newest action still done; it stays on the stack when the undo fails.
    Outcome Undo();

    // Puts trash entries of deleted records back into the log and gives back their
    // points; they leave the trash. Entries of other kinds are ignored.
    Outcome RestoreFromTrash(std::span<const Trash::Entry> entries);

private:
    struct Action {
        Kind kind;
        std::string id;
        std::vector<std::string> flags;  // Mark: field 5 as it was, in file order
        std::vector<CutRecord> cuts;     // Delete
        std::vector<std::int64_t> trashSerials;
        std::array<std::int64_t, 4> units{};  // Report
        std::int64_t taken = 0;               // Delete, Report: before - after of the change
    };
    enum class LogRead { Ok, Missing, Unreadable };
    LogRead ReadLog(std::string& bytes) const;
    Outcome PutBack(std::string_view id, std::span<const CutRecord> cuts, std::int64_t taken,
                    std::span<const std::int64_t> trashSerials);
    Outcome GiveBackReport(const Action& action);
    Outcome SetMarksBack(const Action& action);
    bool Keep(const std::string& path);

    ReportFiles files_;
    qv::Clock clock_;
    std::vector<Action> done_;
    bool backedUp_ = true;  // of the action at hand
};

}  // namespace qv::undo

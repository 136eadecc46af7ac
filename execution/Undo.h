#pragma once

#include <array>
#include <cstdint>
#include <future>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "execution/DeleteSentence.h"
#include "records/Backups.h"
#include "records/BalanceBook.h"
#include "records/Change.h"
#include "records/DataFolder.h"
#include "records/Intent.h"
#include "records/LogSplice.h"
#include "records/SentenceLog.h"
#include "records/Trash.h"
#include "rulebook/Clock.h"
#include "rulebook/Info.h"

namespace qv::execution {

// What became of an action or an undo.
struct Outcome {
    enum class Result {
        Done,
        NotFound,        // nothing carries the identifier (any more): nothing written
        LogUnreadable,   // nothing written
        BalanceFailed,   // the balance could not be changed: nothing written
        LogWriteFailed,  // the log is as it was; the balance was put back when restored
        NothingToUndo,
        Refused,  // a delete that did not go through: see deletion
        Pending,  // a restore of these trash entries is still open: not made twice
        AlreadyBack,  // the log holds the sentence again (another computer's copy came in)
    };
    Result result = Result::Done;
    PointBalance::Status balance = PointBalance::Status::Ok;
    qv::io::IoError error;  // the failed call
    bool restored = true;   // LogWriteFailed: the balance has its old bytes again
    SideEffects effects;    // the ledger line, the trash, the backups
    std::optional<DeleteOutcome> deletion;  // Delete: what DeleteSentence said
    size_t records = 0;                       // records deleted or put back
    // The undo of a delete planned in the window's copy of the log: the lines put back
    // (at the copy's offsets) and the log's stamp as written, so the copy can follow.
    std::vector<SentenceLog::Contents::Insertion> inserted;
    qv::io::FileStamp logStamp;
    bool Ok() const { return result == Result::Done; }
};

// The actions of one execution report window, each undoable one at a time, newest
// first, back to when the window opened: 執行 / 未執行, 削除 and the point report.
class ReportSession {
public:
    ReportSession(const CInfo& info, qv::Clock clock = nullptr);
    ~ReportSession();
    ReportSession(const ReportSession&) = delete;
    ReportSession& operator=(const ReportSession&) = delete;

    // Starts taking the copy of the log that its first in-place write needs, in the
    // background, when the log is large enough for the copy to be felt (a small one is
    // copied by the mark itself). Every action of the session first waits for it, so no
    // byte is written in place before the copy is complete.
    void KeepLogAhead();
    // Waits for that copy; for anything that touches the log or the backups meanwhile.
    void Settle();

    // copy: the log as the window holds it, where the marks are found while the file is
    // still that (else the log is read); written, when given, receives the log as written
    // (when it is copy, the marks are set in it where they stand). which: only the
    // which-th record carrying id (a row of the list acts on itself alone). The marks are
    // written where they stand, a byte each, journalled in the intent record; the log is
    // rewritten whole only where that cannot be done (a record ended by a bare LF, a mark
    // that is not one byte, a log with further hard links). The log's first such write in
    // a session keeps a copy of it in the backups, unless one was kept today.
    Outcome Mark(std::string_view id, bool executed, const SentenceLog::Contents* copy = nullptr,
                 SentenceLog::Contents* written = nullptr, size_t which = qv::records::kEveryRecord);
    // Deletes the records carrying id (or the which-th) through DeleteSentence: the records
    // go to the trash with the points each took, the balance is debited, the log
    // rewritten, the ledger gets its line.
    // copy: the log as the window holds it, planned from while the file is still that.
    Outcome Delete(std::string_view id, size_t which = qv::records::kEveryRecord,
                   const SentenceLog::Contents* copy = nullptr);
    Outcome Report(const std::array<std::int64_t, 4>& units, std::int64_t points);

    bool CanUndo() const { return !done_.empty(); }
    enum class Kind { Mark, Delete, Report };
    std::optional<Kind> NextUndo() const;
    // The log offsets of the marks the next undo sets back where they stand; empty when
    // the next undo is no mark written in place.
    std::vector<std::int64_t> NextUndoMarkOffsets() const;
    // Undoes the newest action still done; it stays on the stack when the undo fails.
    Outcome Undo();
    // The same; the undo of a mark made in place also sets the marks back in written (the
    // log as the window holds it) while that still matches the file, so the window need
    // not read the log again. The undo of a delete is planned in it (see Outcome::inserted)
    // and leaves it as it is.
    Outcome Undo(SentenceLog::Contents* written);

    // Puts trash entries of deleted records back into the log and gives back their
    // points; they leave the trash. Entries of other kinds are ignored.
    Outcome RestoreFromTrash(std::span<const Trash::Entry> entries);

private:
    struct Action {
        Kind kind;
        std::string id;
        std::vector<std::string> flags;  // Mark: field 5 as it was, in file order
        size_t which = qv::records::kEveryRecord;     // Mark: the record marked
        std::vector<qv::records::CutRecord> cuts;     // Delete
        std::vector<std::int64_t> trashSerials;
        std::array<std::int64_t, 4> units{};  // Report
        std::int64_t taken = 0;               // Delete, Report: before - after of the change
        std::vector<IntentEntry::Byte> bytes;  // Mark: written in place (empty: rewritten)
        std::optional<qv::records::LineRef> report;  // Report: its journal line
    };
    // Marks written where they stand; false (nothing done, o untouched) when they cannot be.
    bool MarkInPlace(std::string_view id, bool executed, const SentenceLog::Contents* copy,
                     SentenceLog::Contents* written, size_t which, Outcome& o);
    // The bytes of change set (or set back) in the log under the intent record.
    bool WriteMarkBytes(Change& change, std::string_view id, std::int64_t logSize,
                        const std::vector<IntentEntry::Byte>& bytes, Outcome& o);
    Outcome MarkByRewrite(std::string_view id, bool executed, const SentenceLog::Contents* copy,
                          SentenceLog::Contents* written, size_t which);
    Outcome PutBack(std::string_view id, std::span<const qv::records::CutRecord> cuts, std::int64_t taken,
                    std::span<const std::int64_t> trashSerials,
                    const SentenceLog::Contents* copy = nullptr);
    Outcome GiveBackReport(const Action& action);
    Outcome SetMarksBack(const Action& action, SentenceLog::Contents* written);

    DataFolder folder_;
    SentenceLog log_;
    BalanceBook book_;
    qv::Clock clock_;
    std::vector<Action> done_;
    bool logKept_ = false;  // a copy of the log was kept before its first in-place write
    std::future<Backups::Keeping> keptAhead_;  // KeepLogAhead's copy, until Settle
    std::optional<Backups::Keeping> aheadResult_;  // what it came to
};

}  // namespace qv::execution

#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/Backups.h"
#include "records/DataFolder.h"
#include "records/Intent.h"
#include "records/Journaling.h"
#include "records/Ledger.h"
#include "records/Trash.h"
#include "rulebook/Clock.h"
#include "text/FileIo.h"
#include "text/IoError.h"

// Cuts a journal's torn tail (a last line without its line end, which only a kill leaves)
// back to its last whole line; true when nothing is left torn.
bool CutTornTail(const std::string& journal);

// What an action did besides its main files; a window words each one that failed.
struct SideEffects {
    bool ledgered = true;     // false: the ledger line could not be written
    bool backedUp = true;     // false: a replaced version could not be kept
    bool trashed = true;      // false: the trash could not be written (see each action)
    bool reasonsKept = true;  // false: the verdict text could not be kept
    // The ledger's figure and the file's did not agree before this change; the file's
    // was taken (an "adjust" line went first) so the ledger keeps adding up.
    std::optional<Ledger::Figures> adjusted;
    qv::io::IoError error;  // the first of these writes that failed
    bool AllKept() const { return ledgered && backedUp && trashed && reasonsKept; }
};

// One unit of work across the files of a folder: the locks on the real files, the intent
// made durable before the first write, the backups of replaced files, the ledger, trash
// and reasons lines, then commit or roll back. An action lists its steps; when one
// fails, Rollback undoes the ones made, newest first, and the intent goes only once all
// of them are undone (otherwise start-up finishes the job). Destroyed without Commit, a
// change rolls back.
class Change {
public:
    explicit Change(DataFolder folder, qv::Clock clock = nullptr);
    ~Change();
    Change(const Change&) = delete;
    Change& operator=(const Change&) = delete;

    const DataFolder& Folder() const { return folder_; }
    qv::Seconds Now() const { return clock_(); }

    // Holds the lock of the file path leads to until the change ends; false (error: Lock)
    // when another program holds it. An empty path locks nothing.
    bool Lock(const std::string& path);
    // Writes and syncs the intent entry; the sizes of the files named in appendsTo are
    // noted in it first, so a torn append can be cut back at start-up.
    bool Begin(IntentEntry entry, std::initializer_list<const std::string*> appendsTo = {});
    bool Begun() const { return begun_; }
    const IntentEntry& Entry() const { return entry_; }

    // The journal lines this change stands for. When the folder keeps journals they are
    // committed to this computer's journal once the intent is durable (Begin), before the
    // first file is written: from then on the files are views that follow the journals.
    // A change rolled back whole after that voids them.
    void Journal(std::vector<qv::records::JournalLine> lines) {
        for (auto& line : lines) lines_.Add(std::move(line));
    }
    // Adds a line of kind (Mark, Delete, Restore, Purge) for each sentence carrying id that
    // the journals know: live ones (in the log) or else deleted ones, only the which-th
    // when which names one; flag is a mark's. False (error says why) when the journals
    // could not be read. Commit tells the run's index what moved.
    bool JournalTargets(qv::records::JournalLine::Kind kind, std::string_view id, bool live,
                        size_t which = qv::records::ActionLines::kEvery,
                        const std::vector<std::string>& flags = {}) {
        return lines_.AddTargets(kind, id, live, which, flags, &error);
    }
    // Commits them now (Begin does it): for a change without an intent entry. True when
    // there is nothing to commit or the folder keeps no journals.
    bool CommitJournal();
    // The references of the lines committed (empty: none were).
    const std::vector<qv::records::LineRef>& Committed() const { return lines_.Committed(); }

    // Appends whole lines to the log or to a journal (a journal's torn tail is cut back
    // first; a new file takes the data files' group and mode).
    bool Append(const std::string& path, std::string_view lines);
    // Replaces a file with bytes, keeping the version replaced in the backups first (when
    // the folder keeps backups); old, the bytes replaced, puts it back on rollback. Without
    // old (the last step of an action, nothing after it rolls back) a rollback past this
    // step leaves the intent for start-up instead.
    bool Replace(const std::string& path, std::string_view bytes,
                 std::optional<std::string> old);
    // The same with the new file given as pieces in order (see qv::io::WriteFileAtomic).
    bool Replace(const std::string& path, std::span<const std::string_view> pieces,
                 std::optional<std::string> old);

    // Writes single bytes where they stand in the file (the marks of the log), then syncs
    // it: each byte's before is what a rollback writes back. The file keeps its inode, so
    // the caller has made sure no backup shares it. Only a regular file is written.
    bool SetBytes(const std::string& path, const std::vector<IntentEntry::Byte>& bytes);

    // The ledger line of a balance change, with an "open" or "adjust" line first where the
    // ledger's last figure is not entry.before. A failure is a side effect (the balance
    // is right; the check against the ledger finds the difference): false, effects say.
    bool Book(const Ledger::Entry& entry);
    // Puts entries into the trash, each with the next free serial (written back).
    bool PutInTrash(std::vector<Trash::Entry>& entries);
    // Takes the entries with these serials out of the trash for good.
    bool TakeFromTrash(std::span<const std::int64_t> serials);
    // The verdict text of the sentence id.
    bool KeepReasons(std::string_view id, std::string_view text);

    // Done: the intent entry goes, with every entry alsoDrop names.
    bool Commit(const std::function<bool(const IntentEntry&)>& alsoDrop = nullptr);
    // Undoes every step made, newest first; true when all are undone (the intent goes).
    bool Rollback();
    // Stops here without undoing, the intent entry replaced by entry (a note for later:
    // points not credited), for start-up or a retry to settle.
    bool Restate(const IntentEntry& entry);
    // Stops here without undoing; the intent stays for start-up to settle.
    void Leave() {
        ended_ = true;
        lines_.Done();
    }

    qv::io::IoError error;  // the call that failed, for the step that returned false
    SideEffects effects;

private:
    struct Step {
        enum class Kind { Appended, Replaced, BytesSet } kind;
        std::string path;
        std::int64_t size = 0;  // Appended: the size before (-1: there was no file)
        std::optional<std::string> old;  // Replaced: the bytes before, when kept
        std::vector<IntentEntry::Byte> bytes;  // BytesSet: what was written where
    };
    bool Fail(qv::io::IoError::Op op, const std::string& path, int err);
    void Side(bool& flag, const qv::io::IoError& why);

    DataFolder folder_;
    qv::Clock clock_;
    Backups backups_;
    std::vector<qv::io::FileLock> locks_;
    IntentRecord intent_;
    IntentRecord::Opened opened_;
    IntentEntry entry_;
    bool begun_ = false;
    bool ended_ = false;
    std::vector<Step> steps_;
    qv::records::ActionLines lines_;
};

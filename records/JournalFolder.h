#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "records/DataFolder.h"
#include "records/Fold.h"
#include "records/Journal.h"
#include "rulebook/Clock.h"
#include "text/IoError.h"

namespace qv::records {

// What a start took in from files changed by something else.
struct TakenIn {
    size_t records = 0;   // log records no journal held (kept as "found" lines)
    size_t articles = 0;  // articles under numbers the journals left free
};

// A data folder whose truth is its journals: this computer appends its own, every
// other file is brought up to the fold of all of them.
class JournalFolder {
public:
    JournalFolder(DataFolder folder, std::string device, qv::Clock clock = nullptr);

    const DataFolder& Folder() const { return folder_; }
    const Journals& Files() const { return journals_; }

    // The folder's files as they stand, read without following a link to a missing file.
    bool ReadViews(ViewBytes& out, qv::io::IoError* error = nullptr) const;

    // Takes the folder's files as they stand into the journals once, as its base: written
    // beside the journals as "base-<hash>.snap" and named by one line of this computer's
    // journal. Nothing is done when a journal already names a base. sample: the files are
    // the samples the program laid out itself (they bring no state when joining another
    // computer's folder).
    bool EnsureBase(bool sample, qv::io::IoError* error = nullptr);

    // Appends this computer's lines (each given without device, sequence and time; they
    // are filled in here) and syncs them: the commit of an action. seen receives the ends
    // of the journals the lines come after, written the lines as written.
    bool Commit(std::vector<JournalLine> lines, qv::io::IoError* error = nullptr,
                std::vector<Journals::End>* seen = nullptr, std::vector<JournalLine>* written = nullptr);

    // Reads every journal and folds them.
    bool Load(qv::io::IoError* error = nullptr);
    const ViewBytes& Folded() const { return folded_; }
    const FoldNotes& Notes() const { return notes_; }
    // Every sentence the journals decided, with its identifier in the log.
    const std::vector<FoldedSentence>& Sentences() const { return sentences_; }
    const Journals::Listing& Listing() const { return listing_; }
    // Lets go of the last read and its fold.
    void Release() {
        listing_ = {};
        folded_ = {};
        sentences_ = {};
    }

    // Writes each file whose bytes differ from the fold (atomically, the version replaced
    // kept in the backups); written lists the files written.
    bool BringViewsUp(std::vector<std::string>* written = nullptr, qv::io::IoError* error = nullptr);

    // What a start does: this computer's torn last line is cut (a kill during an append),
    // what an interrupted write left beside a file is cleared, the journals are read and
    // the files brought up to them; then a sync tool's conflict copies of the files that
    // hold nothing the journals lack are moved into conflicts/ (parked, by bare name).
    // Records and articles something else added to the
    // log or the rule book (another program, a text editor, a copy made before its
    // journal line arrived) are taken in as lines first (found, rule) so they are kept.
    bool Start(std::vector<std::string>* written = nullptr, qv::io::IoError* error = nullptr,
               std::vector<std::string>* parked = nullptr, TakenIn* taken = nullptr);

    // Start, unless this computer's stamp says the files hold every journal line and
    // nothing changed them since (moved: false, nothing read but the journals' ends).
    bool Follow(bool& moved, std::vector<std::string>* written = nullptr, qv::io::IoError* error = nullptr,
                std::vector<std::string>* parked = nullptr, TakenIn* taken = nullptr);

    // Notes on this computer (its state folder, not the data folder) which journal lines
    // the files hold and how the files looked when they did: a start that finds both
    // unchanged has nothing to bring up. A hint only: written without a sync, and a lost
    // or torn one costs no more than a full start.
    void WriteStamp() const;
    // Whether the stamp says the files hold every journal line and are as they were left.
    bool StampHolds() const;

    // The bytes conflicts/ may hold (0: like the backups, the larger of three times the
    // folder's files and 100 MB); parking a copy removes the oldest beyond it.
    void SetConflictBudget(std::int64_t bytes) { conflictBudget_ = bytes; }

    // Whether a copy of one of the folder's files (of: its path) holds nothing the journals
    // lack: every record of a log copy is a sentence the fold knows (in the log or the
    // trash, its identifier and mark aside). The other files are made from the journals
    // alone on every computer (an edit made there outside the program is taken in as
    // journal lines where it was made), so their copies hold nothing of their own.
    bool HoldsNothingNew(const std::string& of, std::string_view copy) const;

private:
    void ParkCopies(std::vector<std::string>* parked) const;
    // Keeps conflicts/ within its budget, the oldest copies going first; keep: the names
    // parked just now, which stay.
    void TrimConflicts(const std::set<std::string>& keep) const;
    std::optional<ViewBytes> LoadBase(const std::string& hash) const;
    std::string StampPath() const;
    std::string StampText(const std::vector<Journals::End>& ends) const;
    // The lines that keep what the files hold and the fold lacks (see Start).
    std::vector<JournalLine> LinesForAdditions(const ViewBytes& now, TakenIn& taken) const;
    std::string BasePath(const std::string& hash) const;

    DataFolder folder_;
    std::string device_;
    std::int64_t conflictBudget_ = 0;
    qv::Clock clock_;
    Journals journals_;
    Journals::Listing listing_;  // the last read
    ViewBytes folded_;
    FoldNotes notes_;
    std::vector<FoldedSentence> sentences_;
};

}  // namespace qv::records

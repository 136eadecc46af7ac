#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "records/DataFolder.h"
#include "records/JournalFolder.h"
#include "rulebook/Clock.h"
#include "text/IoError.h"

namespace qv::records {

// This computer's journal as the actions use it. A folder keeps journals once its files
// have been taken in as a base (its journal folder is there); until then an action writes
// the files alone, as it always did. One is kept per folder for the run, so an action
// finds the line that made a sentence without folding the journals itself.
class Journaling {
public:
    // The folder's, for this computer (ThisDevice).
    static Journaling& Of(const DataFolder& folder);

    // Whether the folder keeps journals.
    bool Active() const;
    JournalFolder& Folder() { return folder_; }

    // Appends this computer's lines (device, sequence, time and order filled in) and
    // syncs them: an action's commit. refs receives each line's reference.
    bool Commit(std::vector<JournalLine> lines, std::vector<LineRef>* refs = nullptr,
                qv::io::IoError* error = nullptr);
    // The lines that made the sentences carrying id: live ones (in the log) or deleted
    // ones (in the trash), in the order the fold holds them. False when the journals could
    // not be read; out is empty when no journal knows the sentence.
    bool SentenceRefs(std::string_view id, bool live, std::vector<LineRef>& out,
                      qv::io::IoError* error = nullptr);
    // This computer's decision ref was given the identifier id.
    void Decided(std::string_view id, const LineRef& ref);
    // This computer's lines moved the sentences refs carrying id: deleted (Live to Trash),
    // restored (Trash to Live) or purged (Trash to Gone).
    enum class Where { Live, Trash, Gone };
    void Moved(std::string_view id, const std::vector<LineRef>& refs, Where from, Where to);
    // What is known is dropped (the journals were folded anew, or the folder changed
    // under the run); the next question folds them again.
    void Forget() { indexed_ = false; }
    // Takes what a fold of every journal found, so the next question needs no fold.
    void Take(const JournalFolder& folded);

    // Brings the folder's files up to the journals: at start-up, when the program comes
    // to the front, when the folder changed. Where this computer has no journal yet, the
    // files are taken in as its base first (samples: the files are the program's samples,
    // which bring no state of their own beside another computer's). A folder without a
    // journal folder keeps none: nothing is done.
    struct Followed {
        bool moved = false;  // the journals or the files had changed: the files were looked at
        bool baseTaken = false;                 // this computer's first start in the folder
        std::vector<std::string> written;       // files brought up to the journals
        std::vector<std::string> parked;        // conflict copies moved into conflicts/
        TakenIn taken;                          // what something else had added
        std::vector<std::string> missingBases;  // named in a journal, not here yet: nothing written
        qv::io::IoError error;
        bool ok = true;
    };
    Followed Follow(bool samples);

private:
    explicit Journaling(DataFolder folder);
    bool Current(qv::io::IoError* error);

    bool keeps_;  // a folder made of a log and a balance alone keeps none
    JournalFolder folder_;
    struct Known {
        std::vector<LineRef> live, gone;
    };
    std::unordered_map<std::string, Known> ids_;
    // The journal ends (sequence, order) the index was made at, by device.
    std::map<std::string, std::pair<std::int64_t, std::int64_t>> ends_;
    bool indexed_ = false;
};

// The lines of an action, as every computer replays them.
JournalLine DecideLine(const std::vector<std::string>& record, std::string_view verdictText);
JournalLine TargetLine(JournalLine::Kind kind, const LineRef& target, std::string_view flag = {});
JournalLine ReportLine(const std::array<std::int64_t, 4>& units, std::int64_t points);

// The journal side of an action: its lines committed before the first file is written
// (when the folder keeps journals), voided when the action was undone before the files
// had it.
class ActionLines {
public:
    ActionLines(const DataFolder& folder, qv::Clock clock) : folder_(folder), clock_(std::move(clock)) {}

    void Add(JournalLine line) { pending_.push_back(std::move(line)); }
    // Adds a line of kind (Mark, Delete, Restore, Purge) for each sentence carrying id that
    // the journals know: live ones (in the log) or else deleted ones (in the trash), only
    // the which-th when which names one. flags: a mark's flag, one for every sentence or
    // one each. False (error says why) when the journals could not be read; a sentence
    // they do not know (a record from outside) adds nothing.
    bool AddTargets(JournalLine::Kind kind, std::string_view id, bool live, size_t which = kEvery,
                    const std::vector<std::string>& flags = {}, qv::io::IoError* error = nullptr);
    // Commits what was added (time filled in from the clock where 0); true with nothing
    // committed when the folder keeps no journals or nothing was added.
    bool Commit(qv::io::IoError* error = nullptr);
    const std::vector<LineRef>& Committed() const { return committed_; }
    // The committed lines never happened: the action was undone.
    void Void();
    // The action is done: the run's index follows what it moved.
    void Done();

    static constexpr size_t kEvery = static_cast<size_t>(-1);

private:
    Journaling* Journal();  // nothing when the folder keeps no journals

    const DataFolder& folder_;
    qv::Clock clock_;
    std::vector<JournalLine> pending_;
    std::vector<LineRef> committed_;
    struct Targets {
        JournalLine::Kind kind;
        std::string id;
        std::vector<LineRef> refs;
    };
    std::vector<Targets> targets_;
};

}  // namespace qv::records

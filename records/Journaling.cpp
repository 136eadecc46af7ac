#include "records/Journaling.h"

#include <cstdlib>
#include <mutex>

#include "records/DeviceTag.h"
#include "text/FileIo.h"

namespace qv::records {
namespace {

// Each journal's newest line, by device: what an index made from the journals holds.
std::map<std::string, std::pair<std::int64_t, std::int64_t>> EndsOf(const std::vector<Journals::End>& ends) {
    std::map<std::string, std::pair<std::int64_t, std::int64_t>> out;
    for (const Journals::End& end : ends)
        if (end.seq > 0) out[end.device] = {end.seq, end.order};
    return out;
}

}  // namespace

Journaling::Journaling(DataFolder folder)
    : keeps_(!folder.JournalsPath().empty()), folder_(std::move(folder), ThisDevice()) {}

Journaling& Journaling::Of(const DataFolder& folder) {
    // By the folder's real place: a relative one means another folder after a chdir.
    const std::string dir = folder.Dir().empty() ? "." : folder.Dir();
    std::string key = dir;
    if (char* real = ::realpath(dir.c_str(), nullptr)) {
        key = real;
        std::free(real);
    }
    key += '\n' + ThisDevice();
    static std::mutex guard;
    static std::map<std::string, std::unique_ptr<Journaling>> kept;
    const std::lock_guard<std::mutex> lock(guard);
    std::unique_ptr<Journaling>& j = kept[key];
    if (!j) j.reset(new Journaling(folder));
    return *j;
}

bool Journaling::Active() const { return keeps_ && qv::io::IsRealFolder(folder_.Files().Folder()); }

bool Journaling::Commit(std::vector<JournalLine> lines, std::vector<LineRef>* refs,
                        qv::io::IoError* error) {
    std::vector<Journals::End> seen;
    std::vector<JournalLine> made;
    if (!folder_.Commit(std::move(lines), error, &seen, &made)) return false;
    if (indexed_) {
        // Still current when no other line came in since the index was made.
        if (EndsOf(seen) != ends_) indexed_ = false;
        else if (!made.empty()) ends_[made.back().device] = {made.back().seq, made.back().order};
    }
    if (refs) {
        refs->clear();
        for (const JournalLine& line : made) refs->push_back(line.Ref());
    }
    return true;
}

bool Journaling::Current(qv::io::IoError* error) {
    std::vector<Journals::End> ends;
    if (!folder_.Files().Ends(ends, error)) return false;
    if (indexed_ && EndsOf(ends) == ends_) return true;
    if (!folder_.Load(error)) return false;
    Take(folder_);
    return true;
}

void Journaling::Take(const JournalFolder& folded) {
    ids_.clear();
    for (const FoldedSentence& s : folded.Sentences()) {
        Known& known = ids_[s.id];
        (s.live ? known.live : known.gone).push_back(s.ref);
    }
    ends_.clear();
    for (const JournalRead& j : folded.Listing().journals)
        if (!j.lines.empty()) ends_[j.device] = {j.lines.back().seq, j.lines.back().order};
    indexed_ = true;
}

Journaling::Followed Journaling::Follow(bool samples) {
    Followed f;
    // A folder keeps journals once its journal folder is there (laid out with the samples
    // for a new folder); until then the files alone hold its state, as they always did.
    if (!Active()) return f;
    const std::string own = folder_.Files().PathOf(ThisDevice());
    bool missing = false;
    if (!qv::io::IsRegularNoFollow(own, &missing) && missing) {
        // This computer's first start here: the folder's files become its base, unless
        // another computer's journals already hold one.
        f.baseTaken = true;
        if (!folder_.EnsureBase(samples, &f.error)) {
            f.ok = false;
            return f;
        }
    }
    f.ok = folder_.Follow(f.moved, &f.written, &f.error, &f.parked, &f.taken);
    if (f.moved) {
        f.missingBases = folder_.Notes().missingBases;
        if (f.ok) Take(folder_);
        else indexed_ = false;
        folder_.Release();  // the index is all the run keeps of the fold
    }
    return f;
}

bool Journaling::SentenceRefs(std::string_view id, bool live, std::vector<LineRef>& out,
                              qv::io::IoError* error) {
    out.clear();
    if (!Current(error)) return false;
    const auto found = ids_.find(std::string(id));
    if (found != ids_.end()) out = live ? found->second.live : found->second.gone;
    return true;
}

void Journaling::Decided(std::string_view id, const LineRef& ref) {
    if (indexed_) ids_[std::string(id)].live.push_back(ref);
}

void Journaling::Moved(std::string_view id, const std::vector<LineRef>& refs, Where from, Where to) {
    if (!indexed_) return;
    Known& known = ids_[std::string(id)];
    std::vector<LineRef>& a = from == Where::Live ? known.live : known.gone;
    for (const LineRef& ref : refs) {
        std::erase(a, ref);
        if (to == Where::Live) known.live.push_back(ref);
        else if (to == Where::Trash) known.gone.push_back(ref);
    }
}

JournalLine DecideLine(const std::vector<std::string>& record, std::string_view verdictText) {
    JournalLine line;
    line.kind = JournalLine::Kind::Decide;
    // The record's fields but its identifier (the fold gives it) and its mark (not yet).
    for (size_t f : {1, 2, 3, 4, 6, 7, 8, 9, 10}) line.fields.push_back(f < record.size() ? record[f] : "");
    // No text, no line of it: the decision keeps none either.
    for (size_t from = 0; !verdictText.empty();) {
        const size_t end = verdictText.find("\r\n", from);
        line.fields.emplace_back(verdictText.substr(from, end - from));
        if (end == std::string_view::npos) break;
        from = end + 2;
    }
    return line;
}

JournalLine TargetLine(JournalLine::Kind kind, const LineRef& target, std::string_view flag) {
    JournalLine line;
    line.kind = kind;
    line.fields = {target.origin, target.n};
    if (!flag.empty()) line.fields.emplace_back(flag);
    return line;
}

JournalLine ReportLine(const std::array<std::int64_t, 4>& u, std::int64_t points) {
    JournalLine line;
    line.kind = JournalLine::Kind::Report;
    line.fields = {std::to_string(u[0]) + "/" + std::to_string(u[1]) + "/" + std::to_string(u[2]) + "/" +
                       std::to_string(u[3]),
                   std::to_string(points)};
    return line;
}

Journaling* ActionLines::Journal() {
    // A folder that keeps none costs one look, and nothing that works out the device.
    const std::string& journals = folder_.JournalsPath();
    if (journals.empty() || !qv::io::IsRealFolder(journals)) return nullptr;
    return &Journaling::Of(folder_);
}

bool ActionLines::AddTargets(JournalLine::Kind kind, std::string_view id, bool live, size_t which,
                             const std::vector<std::string>& flags, qv::io::IoError* error) {
    Journaling* j = Journal();
    if (!j) return true;
    std::vector<LineRef> refs;
    if (!j->SentenceRefs(id, live, refs, error)) return false;
    if (which != kEvery) {
        if (which >= refs.size()) return true;
        refs = {refs[which]};
    }
    for (size_t i = 0; i < refs.size(); ++i) {
        const std::string_view flag = flags.empty()      ? std::string_view()
                                      : flags.size() == 1 ? std::string_view(flags[0])
                                      : i < flags.size()  ? std::string_view(flags[i])
                                      : which != kEvery && which < flags.size() ? std::string_view(flags[which])
                                                                                : std::string_view();
        if (kind == JournalLine::Kind::Mark && flag.empty()) continue;
        Add(TargetLine(kind, refs[i], flag));
    }
    targets_.push_back({kind, std::string(id), std::move(refs)});
    return true;
}

bool ActionLines::Commit(qv::io::IoError* error) {
    std::vector<JournalLine> lines = std::move(pending_);
    pending_.clear();
    if (lines.empty()) return true;
    Journaling* j = Journal();
    if (!j) return true;
    const qv::Seconds now = clock_ ? clock_() : qv::SystemNow();
    for (JournalLine& line : lines)
        if (line.time == 0) line.time = now;
    std::vector<LineRef> refs;
    if (!j->Commit(std::move(lines), &refs, error)) return false;
    committed_.insert(committed_.end(), refs.begin(), refs.end());
    return true;
}

void ActionLines::Void() {
    targets_.clear();
    if (committed_.empty()) return;
    pending_.clear();
    for (const LineRef& ref : committed_) Add(TargetLine(JournalLine::Kind::Void, ref));
    committed_.clear();
    // Should even this fail, the files are brought up to the journal at the next start.
    Commit();
    committed_.clear();
}

void ActionLines::Done() {
    if (committed_.empty()) return;
    // The files now hold this line too: the next start need not look at them.
    if (Journaling* j = Journal()) j->Folder().WriteStamp();
    using Kind = JournalLine::Kind;
    using Where = Journaling::Where;
    Journaling& index = Journaling::Of(folder_);
    for (const Targets& t : targets_) {
        if (t.kind == Kind::Delete) index.Moved(t.id, t.refs, Where::Live, Where::Trash);
        else if (t.kind == Kind::Restore) index.Moved(t.id, t.refs, Where::Trash, Where::Live);
        else if (t.kind == Kind::Purge) index.Moved(t.id, t.refs, Where::Trash, Where::Gone);
    }
    targets_.clear();
}

}  // namespace qv::records

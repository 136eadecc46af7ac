#include "records/JournalFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cerrno>
#include <set>
#include <utility>

#include "records/Backups.h"
#include "records/ConflictCopies.h"
#include "records/LogSplice.h"
#include "records/Trash.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"
#include "text/FileIo.h"

namespace qv::records {
namespace {

using Op = qv::io::IoError::Op;

// A base is read to this size at most: a forged one cannot take the memory.
constexpr std::int64_t kMaxBase = std::int64_t{1} << 34;

// The bytes of a regular file reached without a link, at most max; a missing file is "".
bool ReadNoFollow(const std::string& path, std::string& out, std::int64_t max, qv::io::IoError* error) {
    out.clear();
    bool missing = false;
    if (!qv::io::IsRegularNoFollow(path, &missing))
        return missing || qv::io::Fail(error, Op::Check, path, qv::io::IoError::kNotRegular);
    return qv::io::ReadFile(path, out, max, error) != qv::io::ReadStatus::Unreadable;
}

}  // namespace

JournalFolder::JournalFolder(DataFolder folder, std::string device, qv::Clock clock)
    : folder_(std::move(folder)),
      device_(std::move(device)),
      clock_(clock ? std::move(clock) : qv::Clock(qv::SystemNow)),
      journals_(folder_.Dir()) {}

std::string JournalFolder::BasePath(const std::string& hash) const {
    return journals_.Folder() + "/base-" + hash + ".snap";
}

bool JournalFolder::ReadViews(ViewBytes& out, qv::io::IoError* error) const {
    for (const FolderFile& v : FolderFiles()) {
        const std::string& path = (folder_.*v.path)();
        out.*v.bytes = {};
        if (path.empty()) continue;
        const auto status = qv::io::ReadFile(path, out.*v.bytes, qv::io::kWholeFile, error);
        if (status == qv::io::ReadStatus::Unreadable) return false;
    }
    return true;
}

std::optional<ViewBytes> JournalFolder::LoadBase(const std::string& hash) const {
    std::string text;
    if (!ReadNoFollow(BasePath(hash), text, kMaxBase, nullptr) || text.empty()) return std::nullopt;
    std::optional<ViewBytes> base = BaseFromText(text);
    // A base is named by its hash: one that does not match it is not the one named.
    if (!base || BaseHash(*base) != hash) return std::nullopt;
    return base;
}

bool JournalFolder::Load(qv::io::IoError* error) {
    listing_ = {};
    if (!journals_.ReadAll(listing_, error)) return false;
    folded_ = Fold(listing_.journals, [this](const std::string& hash) { return LoadBase(hash); }, &notes_,
                   &sentences_);
    return true;
}

bool JournalFolder::EnsureBase(bool sample, qv::io::IoError* error) {
    Journals::Listing listing;
    if (!journals_.ReadAll(listing, error)) return false;
    for (const JournalRead& j : listing.journals)
        for (const JournalRead::Line& line : j.lines)
            if (line.kind == JournalLine::Kind::Base) return true;
    ViewBytes base;
    if (!ReadViews(base, error)) return false;
    const std::string hash = BaseHash(base);
    const std::string path = BasePath(hash);
    if (!journals_.MakeFolder(error)) return false;
    // Two computers taking the same files write the same base under the same name.
    if (!LoadBase(hash)) {
        bool missing = false;
        if (!qv::io::IsRegularNoFollow(path, &missing) && !missing)
            return qv::io::Fail(error, Op::Check, path, qv::io::IoError::kNotRegular);
        if (!qv::io::WriteFileAtomic(path, BaseToText(base), error)) return false;
    }
    JournalLine line;
    line.kind = JournalLine::Kind::Base;
    line.fields = {hash, sample ? "sample" : "data"};
    return Commit({line}, error);
}

bool JournalFolder::Commit(std::vector<JournalLine> lines, qv::io::IoError* error,
                           std::vector<Journals::End>* seen, std::vector<JournalLine>* written) {
    // Each journal's end alone: the next sequence, and the order to come after, an
    // action costs no reading of the journals whole.
    std::vector<Journals::End> ends;
    if (!journals_.Ends(ends, error)) return false;  // the append cuts a torn line itself
    std::int64_t seq = 1, after = 0;
    for (const Journals::End& end : ends) {
        if (end.device == device_) seq = end.seq + 1;
        // After every line this computer holds, whatever its clock says.
        after = std::max(after, end.order);
    }
    const qv::Seconds now = clock_();
    std::string text;
    for (JournalLine& line : lines) {
        line.device = device_;
        line.seq = seq++;
        if (line.time == 0) line.time = now;
        line.order = std::max(line.time, after + 1);
        after = line.order;
        text += line.ToText();
    }
    if (seen) *seen = std::move(ends);
    if (!journals_.Append(device_, text, folder_.ModelFile(), error)) return false;
    if (written) *written = std::move(lines);
    return true;
}

bool JournalFolder::Start(std::vector<std::string>* written, qv::io::IoError* error,
                         std::vector<std::string>* parked, TakenIn* taken) {
    std::vector<std::string> paths;
    for (const FolderFile& v : FolderFiles())
        if (!(folder_.*v.path)().empty()) paths.push_back((folder_.*v.path)());
    qv::io::Leftovers left;
    qv::io::CleanLeftovers(paths, left);
    if (!journals_.CutTorn(device_, error) || !Load(error)) return false;
    if (notes_.baseTaken && notes_.missingBases.empty()) {
        ViewBytes now;
        if (!ReadViews(now, error)) return false;
        TakenIn found;
        std::vector<JournalLine> lines = LinesForAdditions(now, found);
        if (!lines.empty() && (!Commit(std::move(lines), error) || !Load(error))) return false;
        if (taken) *taken = found;
    }
    if (!BringViewsUp(written, error)) return false;
    ParkCopies(parked);
    WriteStamp();
    return true;
}

bool JournalFolder::Follow(bool& moved, std::vector<std::string>* written, qv::io::IoError* error,
                          std::vector<std::string>* parked, TakenIn* taken) {
    moved = !StampHolds() || !FindConflictCopies(folder_).empty();
    return !moved || Start(written, error, parked, taken);
}

std::vector<JournalLine> JournalFolder::LinesForAdditions(const ViewBytes& now, TakenIn& taken) const {
    // Held to every rule a journal line is read with: what could not be replayed is left.
    const auto Replayable = [this](JournalLine l) {
        l.device = device_, l.seq = 1, l.time = 1;
        const std::string text = l.ToText();
        return ParseJournalLine(std::string_view(text).substr(0, text.size() - 2)).has_value();
    };
    std::vector<JournalLine> lines;
    // Records: every one the fold knows, in the log or the trash, its mark aside.
    if (now.log != folded_.log) {
        std::multiset<std::string> known;
        const auto key = [](std::string_view record) { return RecordKey(record); };
        qv::ForEachLine(folded_.log, [&](const qv::Line& line) {
            if (line.terminated) known.insert(key(line.text));
        });
        for (const Trash::Entry& e : Trash::Parse(folded_.trash).entries)
            if (e.kind == Trash::Kind::LogRecord) known.insert(key(e.payload));
        qv::ForEachLine(now.log, [&](const qv::Line& line) {
            if (!line.terminated || !IsSoundRecord(line.text)) return;
            const auto found = known.find(key(line.text));
            if (found != known.end()) {
                known.erase(found);
                return;
            }
            std::vector<std::string_view> f;
            qv::SplitFields(line.text, f);
            JournalLine l;
            l.kind = JournalLine::Kind::Found;
            for (size_t i : {0, 5, 1, 2, 3, 4, 6, 7, 8, 9, 10}) l.fields.emplace_back(f[i]);
            if (!Replayable(l)) return;
            lines.push_back(std::move(l));
            ++taken.records;
        });
    }
    // Articles under numbers the journals hold none under; a changed article is not taken:
    // the file may be an older copy, and its version would undo a newer one.
    if (now.book != folded_.book) {
        std::set<std::int64_t> held;
        bool header = true;
        qv::ForEachLine(folded_.book, [&](const qv::Line& line) {
            if (!header) held.insert(qv::ReadInt64(line.text.substr(0, line.text.find('\t'))));
            header = false;
        });
        header = true;
        qv::ForEachLine(now.book, [&](const qv::Line& line) {
            if (std::exchange(header, false) || !line.terminated) return;
            std::vector<std::string_view> f;
            qv::SplitFields(line.text, f);
            if (f.size() != 14) return;
            JournalLine l;
            l.kind = JournalLine::Kind::Rule;
            for (std::string_view field : f) l.fields.emplace_back(field);
            l.fields.emplace_back("new");
            std::int64_t number = 0;
            if (!qv::ReadPlainDigits(f[0], number) || held.count(number) || !Replayable(l)) return;
            held.insert(number);
            lines.push_back(std::move(l));
            ++taken.articles;
        });
    }
    return lines;
}

std::string JournalFolder::StampPath() const {
    // Kept on this computer, outside the folder: a sync tool has no business with it, and
    // its sizes and times are this computer's own.
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    std::string dir = state && *state ? std::string(state) : home && *home ? std::string(home) + "/.local/state" : "";
    if (dir.empty()) return {};
    std::string where = folder_.Dir().empty() ? "." : folder_.Dir();
    if (char* real = ::realpath(where.c_str(), nullptr)) {
        where = real;
        std::free(real);
    }
    ViewBytes key;
    key.log = where + "\n" + device_;
    return dir + "/quorvel/" + BaseHash(key) + ".stamp";
}

std::string JournalFolder::StampText(const std::vector<Journals::End>& ends) const {
    std::string text = "qs1\r\n";
    for (const Journals::End& end : ends)
        text += "j\t" + end.device + "\t" + std::to_string(end.seq) + "\t" + std::to_string(end.order) + "\r\n";
    for (const FolderFile& v : FolderFiles()) {
        const std::string& path = (folder_.*v.path)();
        if (path.empty()) continue;
        const qv::io::FileStamp st = qv::io::StampOf(path);
        text += "v\t" + std::string(v.name) + "\t" + std::to_string(st.size) + "\t" +
                std::to_string(st.mtimeNs) + "\t" + std::to_string(st.ctimeNs) + "\t" +
                std::to_string(st.inode) + "\r\n";
    }
    return text;
}

void JournalFolder::WriteStamp() const {
    std::vector<Journals::End> ends;
    const std::string path = StampPath(), temp = path + ".tmp";
    if (path.empty() || !journals_.Ends(ends)) return;
    const std::string dir = path.substr(0, path.rfind('/'));
    ::mkdir(dir.substr(0, dir.rfind('/')).c_str(), 0700);
    ::mkdir(dir.c_str(), 0700);
    bool missing = false;
    if (!qv::io::IsRegularNoFollow(path, &missing) && !missing) return;  // never through a link
    const std::string text = StampText(ends);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return;
    const bool whole = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    if (!whole || ::rename(temp.c_str(), path.c_str()) != 0) ::unlink(temp.c_str());
}

bool JournalFolder::StampHolds() const {
    std::string kept;
    const std::string path = StampPath();
    if (path.empty() || !ReadNoFollow(path, kept, 1 << 20, nullptr) || kept.empty()) return false;
    std::vector<Journals::End> ends;
    return journals_.Ends(ends) && kept == StampText(ends);
}

void JournalFolder::ParkCopies(std::vector<std::string>* parked) const {
    const std::string& conflicts = folder_.ConflictFolder();
    if (conflicts.empty()) return;
    std::set<std::string> moved;
    for (const ConflictCopy& copy : FindConflictCopies(folder_)) {
        std::string bytes;
        if (!ReadNoFollow(copy.path, bytes, kMaxBase, nullptr) || !HoldsNothingNew(copy.of, bytes)) continue;
        // Only a real folder takes them: a link there would carry them out of the folder.
        if (!qv::io::MakeRealFolder(conflicts)) return;
        std::string target = conflicts + '/' + copy.name;
        struct stat st {};
        for (int n = 2; ::lstat(target.c_str(), &st) == 0; ++n)
            target = conflicts + '/' + std::to_string(n) + '-' + copy.name;
        if (qv::io::Sys().rename(copy.path.c_str(), target.c_str()) == 0) {
            if (parked) parked->push_back(copy.name);
            moved.insert(target.substr(conflicts.size() + 1));
        }
    }
    if (!moved.empty()) TrimConflicts(moved);
}

void JournalFolder::TrimConflicts(const std::set<std::string>& keep) const {
    const std::string& conflicts = folder_.ConflictFolder();
    if (!qv::io::IsRealFolder(conflicts)) return;
    // Like the backups: the larger of three times the folder's files and 100 MB.
    std::int64_t budget = conflictBudget_;
    if (budget <= 0) {
        std::int64_t files = 0;
        for (const FolderFile& v : FolderFiles())
            if (!(folder_.*v.path)().empty()) files += std::max<std::int64_t>(0, qv::io::FileSize((folder_.*v.path)()));
        budget = std::max(Backups::kMinBudget, Backups::kBudgetTimes * files);
    }
    struct Kept {
        std::int64_t mtimeNs;
        std::string path;
        std::int64_t size;
    };
    std::vector<Kept> older;
    std::int64_t total = 0;
    DIR* dir = ::opendir(conflicts.c_str());
    if (!dir) return;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        struct stat st {};
        const std::string path = conflicts + '/' + name;
        // Only the copies themselves: never a link, and nothing through one.
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        total += st.st_size;
        if (!keep.count(name))
            older.push_back({st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec, path, st.st_size});
    }
    ::closedir(dir);
    std::sort(older.begin(), older.end(), [](const Kept& a, const Kept& b) { return a.mtimeNs < b.mtimeNs; });
    for (const Kept& k : older) {
        if (total <= budget) break;
        if (qv::io::Sys().unlink(k.path.c_str()) == 0) total -= k.size;
    }
}

namespace {

// A sentence as a copy of the log and the fold may both hold it: its second aside (the
// fold may have moved it) and its mark.
std::string SentenceKey(std::string_view record) { return RecordKey(WithField(record, 0, "")); }

}  // namespace

bool JournalFolder::HoldsNothingNew(const std::string& of, std::string_view copy) const {
    if (of == folder_.LogPath()) {
        std::multiset<std::string> known;
        qv::ForEachLine(folded_.log, [&](const qv::Line& line) {
            if (line.terminated) known.insert(SentenceKey(line.text));
        });
        for (const Trash::Entry& e : Trash::Parse(folded_.trash).entries)
            if (e.kind == Trash::Kind::LogRecord) known.insert(SentenceKey(e.payload));
        bool all = true;
        qv::ForEachLine(copy, [&](const qv::Line& line) {
            if (!all || !line.terminated || line.text.empty()) return;
            const auto found = known.find(SentenceKey(line.text));
            if (found == known.end()) all = false;
            else known.erase(found);
        });
        return all;
    }
    return true;
}

bool JournalFolder::BringViewsUp(std::vector<std::string>* written, qv::io::IoError* error) {
    // Nothing is written while a named base has not arrived: the fold would lack it.
    if (!notes_.missingBases.empty() || !notes_.baseTaken)
        return qv::io::Fail(error, Op::Read, journals_.Folder(), ENOENT);
    ViewBytes now;
    if (!ReadViews(now, error)) return false;
    const Backups backups(folder_.BackupFolder(), clock_);
    for (const FolderFile& v : FolderFiles()) {
        const std::string& path = (folder_.*v.path)();
        if (path.empty() || now.*v.bytes == folded_.*v.bytes) continue;
        const Backups::OnReplace keep(backups, path);
        if (!qv::io::WriteFileAtomic(path, folded_.*v.bytes, error)) return false;
        if (written) written->push_back(path);
    }
    return true;
}

}  // namespace qv::records

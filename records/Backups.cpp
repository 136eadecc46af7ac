#include "records/Backups.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <set>

#include "text/FileIo.h"
#include "text/KxString.h"
#include "text/LineWalk.h"

namespace {

int RealMkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }
const Backups::Calls kReal{::link, ::unlink, RealMkdir};
std::atomic<const Backups::Calls*> gCalls{&kReal};
const Backups::Calls& CurrentCalls() { return *gCalls.load(); }

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "20261210-044800" in local time.
std::string Stamp(qv::Seconds t) {
    const std::time_t seconds = static_cast<std::time_t>(t);
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr) return "00000000-000000";
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

bool AllDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Splits "<file>.<YYYYMMDD-HHMMSS>[-N]" into the file's name and the time; false for
// any other name (those are never touched).
bool ParseName(const std::string& name, std::string& file, qv::Seconds& time, int& serial) {
    for (size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0;
         dot = name.rfind('.', dot - 1)) {
        std::string_view rest = std::string_view(name).substr(dot + 1);
        if (rest.size() < 15 || rest[8] != '-' || !AllDigits(rest.substr(0, 8)) ||
            !AllDigits(rest.substr(9, 6)))
            continue;
        serial = 1;
        if (rest.size() > 15) {
            if (rest[15] != '-' || !AllDigits(rest.substr(16)) || rest.size() > 22) continue;
            serial = std::atoi(std::string(rest.substr(16)).c_str());
        }
        std::tm tm{};
        const std::string digits(rest.substr(0, 15));
        tm.tm_year = std::atoi(digits.substr(0, 4).c_str()) - 1900;
        tm.tm_mon = std::atoi(digits.substr(4, 2).c_str()) - 1;
        tm.tm_mday = std::atoi(digits.substr(6, 2).c_str());
        tm.tm_hour = std::atoi(digits.substr(9, 2).c_str());
        tm.tm_min = std::atoi(digits.substr(11, 2).c_str());
        tm.tm_sec = std::atoi(digits.substr(13, 2).c_str());
        tm.tm_isdst = -1;
        time = static_cast<qv::Seconds>(std::mktime(&tm));
        file = name.substr(0, dot);
        return true;
    }
    return false;
}

struct Found {
    std::string name;
    std::string file;
    qv::Seconds time;
    int serial;
};

std::vector<Found> Scan(const std::string& folder) {
    std::vector<Found> found;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return found;
    while (const dirent* entry = ::readdir(dir)) {
        Found f{entry->d_name, {}, 0, 0};
        if (ParseName(f.name, f.file, f.time, f.serial)) found.push_back(std::move(f));
    }
    ::closedir(dir);
    // Newest first; within one second the later serial is the newer.
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.time != b.time ? a.time > b.time : a.serial > b.serial;
    });
    return found;
}

}  // namespace

void Backups::SetCalls(const Calls* calls) { gCalls.store(calls ? calls : &kReal); }

Backups::Backups(std::string folder, qv::Clock clock)
    : folder_(std::move(folder)), clock_(clock ? std::move(clock) : qv::Clock(qv::SystemNow)) {}

Backups::Keeping Backups::Keep(const std::string& path) const {
    Keeping keeping;
    if (!Enabled()) return keeping;
    // The file a link points to is the one being replaced.
    char real[PATH_MAX];
    if (::realpath(path.c_str(), real) == nullptr) {
        if (errno == ENOENT) return keeping;  // nothing yet to keep
        keeping.result = Result::Failed;
        return keeping;
    }
    return KeepFile(real, BaseName(path), true);
}

Backups::Keeping Backups::KeepFile(const std::string& real, const std::string& file,
                                   bool copy) const {
    Keeping keeping;
    struct stat st {};
    if (::stat(real.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        keeping.result = Result::Failed;
        return keeping;
    }
    if (CurrentCalls().mkdir(folder_.c_str(), 0777) != 0 && errno != EEXIST) {
        keeping.result = Result::Failed;
        return keeping;
    }
    const std::string stamp = Stamp(clock_());
    std::string name;
    for (int serial = 1; serial < 1000; ++serial) {
        name = file + "." + stamp + (serial > 1 ? "-" + std::to_string(serial) : "");
        struct stat taken {};
        if (::lstat((folder_ + "/" + name).c_str(), &taken) != 0) break;
    }
    const std::string target = folder_ + "/" + name;
    if (!copy && CurrentCalls().link(real.c_str(), target.c_str()) == 0) {
        keeping.linked = true;
    } else {
        // Another file system, one without links, or a file about to be rewritten in
        // place: the bytes themselves.
        std::string bytes;
        const auto read = qv::io::ReadFile(real, bytes);
        if ((read != qv::io::ReadStatus::Ok && read != qv::io::ReadStatus::Empty) ||
            !qv::io::WriteFileAtomic(target, bytes)) {
            keeping.result = Result::Failed;
            return keeping;
        }
    }
    keeping.name = name;
    keeping.rotated = Rotate(file);
    return keeping;
}

Backups::OnReplace::OnReplace(Backups backups, const std::string& path, bool required)
    : backups_(std::move(backups)),
      file_(BaseName(path)),
      required_(required),
      watch_(path, [this](const std::string& target, bool inPlace) {
          if (backups_.Enabled()) keeping_ = backups_.KeepFile(target, file_, inPlace);
          return !required_ || keeping_.result == Result::Kept;
      }) {}

std::vector<Backups::Version> Backups::List() const {
    std::vector<Version> versions;
    if (!Enabled()) return versions;
    for (const Found& f : Scan(folder_)) {
        Version v{f.file, f.name, f.time, 0, 0};
        std::string bytes;
        const std::string path = folder_ + "/" + f.name;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        v.size = st.st_size;
        if (qv::io::ReadFile(path, bytes, qv::io::kWholeFile) == qv::io::ReadStatus::Ok)
            v.records = CountRecords(bytes);
        versions.push_back(std::move(v));
    }
    return versions;
}

bool Backups::Rotate(const std::string& fileName) const {
    if (!Enabled()) return true;
    // The last 30 calendar days: today and the 29 before, by the names' local dates.
    const std::string firstDay =
        Stamp(clock_() - static_cast<qv::Seconds>(kKeepDays - 1) * 86400).substr(0, 8);
    std::set<std::string> daysKept;
    size_t position = 0;  // among this file's versions, newest first
    bool ok = true;
    for (const Found& f : Scan(folder_)) {
        if (f.file != fileName) continue;
        bool keep = position++ < kKeepLast;
        // The newest version of each day: the list is newest first.
        const std::string day = f.name.substr(f.file.size() + 1, 8);
        if (day >= firstDay && daysKept.insert(day).second) keep = true;
        if (keep) continue;
        if (CurrentCalls().unlink((folder_ + "/" + f.name).c_str()) != 0) ok = false;
    }
    return ok;
}

Backups::RestoreResult Backups::Restore(const Version& version, const std::string& target) const {
    std::string bytes;
    const auto read = qv::io::ReadFile(folder_ + "/" + version.name, bytes, qv::io::kWholeFile);
    if (read != qv::io::ReadStatus::Ok && read != qv::io::ReadStatus::Empty)
        return RestoreResult::BackupUnreadable;
    // The version being replaced is kept first: a restore is undone the same way.
    const OnReplace keep(*this, target, true);
    if (!qv::io::WriteFileAtomic(target, bytes))
        return keep.Kept() ? RestoreResult::WriteFailed : RestoreResult::KeepFailed;
    return RestoreResult::Restored;
}

std::int64_t Backups::CountRecords(const std::string& bytes) {
    std::int64_t records = 0;
    bool any = false;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        if (line.text.find('\t') == std::string_view::npos) return;
        any = true;
        if (!line.terminated || line.text.starts_with("qvrule\t")) return;
        ++records;
    });
    // The balance file is one record without a line end of its own.
    if (records == 0 && any && bytes.find('\n') == std::string::npos) records = 1;
    return records;
}

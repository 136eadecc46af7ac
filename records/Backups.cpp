#include "records/Backups.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "records/DeviceTag.h"
#include "text/FileIo.h"
#include "text/KxString.h"
#include "text/LineWalk.h"

namespace {

int RealMkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }
const Backups::Calls kReal{::linkat, ::unlinkat, RealMkdir};
std::atomic<const Backups::Calls*> gCalls{&kReal};
const Backups::Calls& CurrentCalls() { return *gCalls.load(); }

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder the data files sit in: the backup folder's parent.
std::string ParentOf(const std::string& folder) {
    std::string f = folder;
    while (f.size() > 1 && f.back() == '/') f.pop_back();
    const size_t slash = f.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : f.substr(0, slash);
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

int ToInt(std::string_view digits) {
    int n = 0;
    for (char c : digits) n = n * 10 + (c - '0');
    return n;
}

// The backup folder, opened without following a link in its place.
class FolderHandle {
public:
    FolderHandle() = default;
    ~FolderHandle() {
        if (fd_ >= 0) ::close(fd_);
    }
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    // Missing (ENOENT) leaves state Usable with no handle.
    Backups::FolderState Open(const std::string& folder) {
        fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd_ >= 0) return Backups::FolderState::Usable;
        error_ = errno;
        struct stat st {};
        if (::lstat(folder.c_str(), &st) != 0) return Backups::FolderState::Usable;
        if (S_ISLNK(st.st_mode)) return Backups::FolderState::Link;
        return S_ISDIR(st.st_mode) ? Backups::FolderState::Usable
                                   : Backups::FolderState::NotFolder;
    }
    int fd() const { return fd_; }
    int Error() const { return error_; }

private:
    int fd_ = -1;
    int error_ = 0;
};

struct Entry {
    std::string name;
    Backups::Name parsed;
    struct stat st {};
};

// Newer first: a sequence orders where both have one; a name with one is newer than a
// name without; otherwise the time in the name, then the serial within one second.
bool Newer(const Entry& a, const Entry& b) {
    const auto& x = a.parsed;
    const auto& y = b.parsed;
    if (x.sequence != y.sequence && x.sequence > 0 && y.sequence > 0)
        return x.sequence > y.sequence;
    if ((x.sequence > 0) != (y.sequence > 0)) return x.sequence > 0;
    if (x.time != y.time) return x.time > y.time;
    if (x.serial != y.serial) return x.serial > y.serial;
    return a.name > b.name;
}

// Who may have made a version of a data file: this process's user, or the data file's
// owner (a hard link keeps the owner of the file it was taken from).
class Owners {
public:
    explicit Owners(std::string dataDir) : dataDir_(std::move(dataDir)) {}
    bool MayHaveMade(const std::string& file, const struct stat& st) {
        if (st.st_uid == self_) return true;
        auto it = owners_.find(file);
        if (it == owners_.end()) {
            struct stat data {};
            const long owner = ::stat((dataDir_ + "/" + file).c_str(), &data) == 0
                                   ? static_cast<long>(data.st_uid)
                                   : -1;
            it = owners_.emplace(file, owner).first;
        }
        return it->second == static_cast<long>(st.st_uid);
    }

private:
    std::string dataDir_;
    uid_t self_ = ::geteuid();  // asked once per listing, not once per version
    std::map<std::string, long> owners_;
};

// A copy of the file real as name in the open folder: a reflink where the file system
// shares blocks, else the bytes copied in the kernel, into a file without a name until it
// is whole and synced, so a kill never leaves half a version (or a temporary) behind.
// Returns 0, or the errno that stopped it; EOPNOTSUPP where a nameless file cannot be made.
int CopyInto(int dirfd, const std::string& name, const std::string& real, const struct stat& st) {
    const int from = ::open(real.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (from < 0) return errno;
    const int to = ::openat(dirfd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, st.st_mode & 0777);
    if (to < 0) {
        ::close(from);
        return EOPNOTSUPP;
    }
    int err = 0;
    if (::ioctl(to, FICLONE, from) != 0) {
        off_t in = 0;
        while (in < st.st_size) {
            const ssize_t n = ::copy_file_range(from, &in, to, nullptr,
                                                static_cast<size_t>(st.st_size - in), 0);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                          errno == EOPNOTSUPP)) {
                // The bytes through memory, a block at a time.
                std::string block(1 << 20, '\0');
                while (err == 0) {
                    const ssize_t r = ::pread(from, block.data(), block.size(), in);
                    if (r < 0 && errno == EINTR) continue;
                    if (r <= 0) {
                        if (r < 0) err = errno;
                        break;
                    }
                    for (ssize_t put = 0; put < r && err == 0;) {
                        const ssize_t w = ::write(to, block.data() + put, static_cast<size_t>(r - put));
                        if (w < 0 && errno != EINTR) err = errno;
                        if (w > 0) put += w;
                    }
                    in += r;
                }
                break;
            }
            if (n < 0) {
                err = errno;
                break;
            }
            if (n == 0) break;  // the file shrank meanwhile: what was there
        }
    }
    if (err == 0) {
        if (::fchown(to, static_cast<uid_t>(-1), st.st_gid) != 0) { /* the group stays ours */ }
        ::fchmod(to, st.st_mode & 0777);
        if (::fsync(to) != 0) err = errno;
    }
    if (err == 0) {
        const std::string self = "/proc/self/fd/" + std::to_string(to);
        if (::linkat(AT_FDCWD, self.c_str(), dirfd, name.c_str(), AT_SYMLINK_FOLLOW) != 0)
            err = errno;
        else
            ::fsync(dirfd);
    }
    ::close(to);
    ::close(from);
    return err;
}

// The versions in the open folder, newest first: regular files with a version's name that
// this program (this user, or the data file's owner) made. Nothing else is ever touched.
std::vector<Entry> Scan(int dirfd, const std::string& dataDir) {
    std::vector<Entry> found;
    if (dirfd < 0) return found;
    const int copy = ::dup(dirfd);
    if (copy < 0) return found;
    DIR* dir = ::fdopendir(copy);
    if (dir == nullptr) {
        ::close(copy);
        return found;
    }
    ::rewinddir(dir);
    Owners owners(dataDir);
    while (const dirent* d = ::readdir(dir)) {
        Entry e;
        e.name = d->d_name;
        if (!Backups::ParseName(e.name, e.parsed)) continue;
        if (::fstatat(dirfd, d->d_name, &e.st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(e.st.st_mode) || !owners.MayHaveMade(e.parsed.file, e.st)) continue;
        found.push_back(std::move(e));
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(), Newer);
    return found;
}

// Reads a version through the open folder, never through a link; false unless it is one
// of the program's versions.
bool ReadVersion(int dirfd, const std::string& name, const std::string& dataDir,
                 std::string& out, bool& notVersion) {
    notVersion = false;
    Backups::Name parsed;
    if (!Backups::ParseName(name, parsed)) {
        notVersion = true;
        return false;
    }
    const int fd = ::openat(dirfd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        notVersion = errno == ELOOP;
        return false;
    }
    struct stat st {};
    Owners owners(dataDir);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !owners.MayHaveMade(parsed.file, st)) {
        notVersion = true;
        qv::io::Sys().close(fd);
        return false;
    }
    std::string bytes;
    bytes.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = qv::io::Sys().read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    if (qv::io::Sys().close(fd) != 0) ok = false;
    if (ok) out = std::move(bytes);
    return ok;
}

// The bytes the versions take (a name shared by two entries counted once).
std::int64_t Total(const std::vector<Entry>& entries, const std::vector<bool>& gone) {
    std::set<std::pair<dev_t, ino_t>> seen;
    std::int64_t total = 0;
    for (size_t i = 0; i < entries.size(); ++i)
        if (!gone[i] && seen.insert({entries[i].st.st_dev, entries[i].st.st_ino}).second)
            total += entries[i].st.st_size;
    return total;
}

// Removes versions oldest first, never the newest kKeepAlways of a file, until enough()
// says so. Returns how many went; failed learns whether a removal failed.
size_t PruneOldest(int dirfd, const std::vector<Entry>& entries, std::vector<bool>& gone,
                   const std::function<bool()>& enough, bool& failed) {
    std::vector<bool> kept(entries.size(), false);
    std::map<std::string, size_t> seen;
    for (size_t i = 0; i < entries.size(); ++i)
        if (!gone[i] && seen[entries[i].parsed.file]++ < Backups::kKeepAlways) kept[i] = true;
    size_t removed = 0;
    for (size_t i = entries.size(); i-- > 0;) {
        if (enough()) break;
        if (gone[i] || kept[i]) continue;
        if (CurrentCalls().unlinkat(dirfd, entries[i].name.c_str(), 0) != 0) {
            failed = true;
            continue;
        }
        gone[i] = true;
        ++removed;
    }
    return removed;
}

std::int64_t FreeBytes(int dirfd) {
    struct statvfs vfs {};
    if (::fstatvfs(dirfd, &vfs) != 0) return -1;
    return static_cast<std::int64_t>(vfs.f_bavail) * static_cast<std::int64_t>(vfs.f_frsize);
}

// Room a replacement of a file of this size needs: the new bytes beside the old ones,
// which may be somewhat larger, and a copy of the old ones when rewritten in place.
std::int64_t RoomFor(std::int64_t size, bool inPlace) {
    return size + size / 2 + (inPlace ? size : 0) + 64 * 1024;
}

// A folder's mode made from a file's: the file's read and write bits, and search where
// it may be read.
mode_t FolderModeFrom(mode_t file) {
    mode_t mode = file & 0777;
    if (mode & S_IRUSR) mode |= S_IXUSR;
    if (mode & S_IRGRP) mode |= S_IXGRP;
    if (mode & S_IROTH) mode |= S_IXOTH;
    return mode;
}

}  // namespace

void Backups::SetCalls(const Calls* calls) { gCalls.store(calls ? calls : &kReal); }

Backups::Backups(std::string folder, qv::Clock clock)
    : folder_(std::move(folder)), clock_(clock ? std::move(clock) : qv::Clock(qv::SystemNow)) {}

bool Backups::ParseName(std::string_view name, Name& out) {
    // ".<device>" last, after a sequence: a version kept where the folder keeps journals.
    if (const size_t dot = name.rfind('.'); dot != std::string_view::npos) {
        const std::string_view tag = name.substr(dot + 1);
        const bool isTag = qv::records::IsDeviceTag("@" + std::string(tag));
        if (isTag && ParsePlainName(name.substr(0, dot), out) && out.sequence > 0) {
            out.device = std::string(tag);
            return true;
        }
    }
    out.device.clear();
    return ParsePlainName(name, out);
}

bool Backups::ParsePlainName(std::string_view name, Name& out) {
    std::int64_t sequence = 0;
    // ".s<sequence>" at the end: at most 18 digits, so it fits and never wraps.
    const size_t s = name.rfind(".s");
    if (s != std::string_view::npos && AllDigits(name.substr(s + 2)) && name.size() - s - 2 <= 18) {
        for (char c : name.substr(s + 2)) sequence = sequence * 10 + (c - '0');
        if (sequence <= 0) return false;
        name = name.substr(0, s);
    }
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return false;
    const std::string_view rest = name.substr(dot + 1);
    if (rest.size() < 15 || rest[8] != '-' || !AllDigits(rest.substr(0, 8)) ||
        !AllDigits(rest.substr(9, 6)))
        return false;
    int serial = 1;
    if (rest.size() > 15) {
        if (rest[15] != '-' || !AllDigits(rest.substr(16)) || rest.size() > 22) return false;
        serial = ToInt(rest.substr(16));
    }
    std::tm tm{};
    tm.tm_year = ToInt(rest.substr(0, 4)) - 1900;
    tm.tm_mon = ToInt(rest.substr(4, 2)) - 1;
    tm.tm_mday = ToInt(rest.substr(6, 2));
    tm.tm_hour = ToInt(rest.substr(9, 2));
    tm.tm_min = ToInt(rest.substr(11, 2));
    tm.tm_sec = ToInt(rest.substr(13, 2));
    tm.tm_isdst = -1;
    out.time = static_cast<qv::Seconds>(std::mktime(&tm));
    out.file = std::string(name.substr(0, dot));
    out.serial = serial;
    out.sequence = sequence;
    return true;
}

std::string Backups::VersionName(const std::string& file, qv::Seconds time,
                                 std::int64_t sequence, std::string_view device) {
    std::string name = file + "." + Stamp(time) + ".s" + std::to_string(sequence);
    if (!device.empty()) name.append(".").append(device);
    return name;
}

bool Backups::IsNoSpace(int err) { return err == ENOSPC || err == EDQUOT; }

Backups::FolderState Backups::State() const {
    if (!Enabled()) return FolderState::Usable;
    FolderHandle folder;
    return folder.Open(folder_);
}

Backups::Keeping Backups::Keep(const std::string& path) const {
    Keeping keeping;
    if (!Enabled()) return keeping;
    // The file a link points to is the one being replaced.
    char real[PATH_MAX];
    if (::realpath(path.c_str(), real) == nullptr) {
        if (errno == ENOENT) return keeping;  // nothing yet to keep
        keeping.result = Result::Failed;
        keeping.problem = Problem::Other;
        qv::io::Fail(&keeping.error, qv::io::IoError::Op::Check, path, errno);
        return keeping;
    }
    return KeepFile(real, BaseName(path), true);
}

namespace {
// Rotation over a listing of the open folder (newest first), as Rotate does it.
bool RotateListed(int dirfd, const std::string& dataDir, const std::vector<Entry>& entries,
                  const std::string& fileName, qv::Seconds now, std::int64_t budget) {
    std::vector<bool> gone(entries.size(), false);
    bool ok = true;

    // The last 30 calendar days: today and the 29 before, by the names' local dates.
    const std::string firstDay =
        Stamp(now - static_cast<qv::Seconds>(Backups::kKeepDays - 1) * 86400).substr(0, 8);
    std::set<std::string> daysKept;
    size_t position = 0;  // among this file's versions, newest first
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        if (e.parsed.file != fileName) continue;
        bool keep = position++ < Backups::kKeepLast;
        // The newest version of each day: the list is newest first.
        const std::string day = e.name.substr(e.parsed.file.size() + 1, 8);
        if (day >= firstDay && daysKept.insert(day).second) keep = true;
        if (keep) continue;
        if (CurrentCalls().unlinkat(dirfd, e.name.c_str(), 0) != 0)
            ok = false;
        else
            gone[i] = true;
    }

    // Then the budget, over every file's versions.
    if (budget <= 0) {
        std::set<std::string> files{fileName};
        for (const Entry& e : entries) files.insert(e.parsed.file);
        std::int64_t data = 0;
        for (const std::string& f : files) data += qv::io::FileSize(dataDir + "/" + f);
        budget = std::max(Backups::kMinBudget, Backups::kBudgetTimes * data);
    }
    std::int64_t total = Total(entries, gone);
    if (total > budget) {
        bool failed = false;
        PruneOldest(
            dirfd, entries, gone,
            [&] {
                total = Total(entries, gone);
                return total <= budget;
            },
            failed);
        if (failed) ok = false;
    }
    return ok;
}

// The rotation after a version named kept was made, over the listing taken before it was
// made with the new one put in its place; a listing no longer true lists again.
bool RotateAfterKeeping(const Backups& backups, int dirfd, const std::string& dataDir,
                        std::vector<Entry>& listed, bool listedStill, const std::string& kept,
                        const std::string& fileName, qv::Seconds now, std::int64_t budget) {
    Entry made;
    made.name = kept;
    if (!listedStill || !Backups::ParseName(made.name, made.parsed) ||
        ::fstatat(dirfd, made.name.c_str(), &made.st, AT_SYMLINK_NOFOLLOW) != 0)
        return backups.Rotate(fileName);
    listed.insert(std::upper_bound(listed.begin(), listed.end(), made, Newer), std::move(made));
    return RotateListed(dirfd, dataDir, listed, fileName, now, budget);
}
}  // namespace

Backups::Keeping Backups::KeepFile(const std::string& real, const std::string& file,
                                   bool copy) const {
    using Op = qv::io::IoError::Op;
    Keeping keeping;
    auto fail = [&](Problem problem, Op op, const std::string& path, int err) {
        keeping.result = Result::Failed;
        keeping.problem = problem;
        qv::io::Fail(&keeping.error, op, path, err);
        return keeping;
    };
    struct stat st {};
    if (::stat(real.c_str(), &st) != 0) return fail(Problem::Other, Op::Check, real, errno);
    if (!S_ISREG(st.st_mode))
        return fail(Problem::Other, Op::Check, real, qv::io::IoError::kNotRegular);

    FolderHandle folder;
    // A folder that is a link or no folder keeps nothing; Usable may still be missing.
    const auto refused = [&]() -> std::optional<Keeping> {
        switch (folder.Open(folder_)) {
            case FolderState::Link:
                return fail(Problem::FolderIsLink, Op::Check, folder_, ELOOP);
            case FolderState::NotFolder:
                return fail(Problem::Other, Op::Check, folder_, ENOTDIR);
            case FolderState::Usable:
                break;
        }
        return std::nullopt;
    };
    if (auto no = refused()) return *no;
    if (folder.fd() < 0) {
        // Made now, with the group of the file it keeps and a mode made from the file's,
        // so the others who share the data files share their backups too.
        if (CurrentCalls().mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST)
            return fail(IsNoSpace(errno) ? Problem::NoSpace : Problem::Other, Op::Open, folder_,
                        errno);
        if (auto no = refused()) return *no;
        if (folder.fd() < 0) return fail(Problem::Other, Op::Open, folder_, folder.Error());
        struct stat made {};
        if (::fstat(folder.fd(), &made) == 0 && made.st_uid == ::geteuid()) {
            if (made.st_gid != st.st_gid) (void)::fchown(folder.fd(), static_cast<uid_t>(-1), st.st_gid);
            ::fchmod(folder.fd(), FolderModeFrom(st.st_mode));
        }
    }

    // The next sequence of the folder, whatever the clock says.
    const std::string dataDir = ParentOf(folder_);
    std::int64_t sequence = 0;
    // The listing serves the rotation after the new version too, unless room was made
    // meanwhile (versions removed): then the rotation lists the folder again.
    std::vector<Entry> listed = Scan(folder.fd(), dataDir);
    bool listedStill = true;
    for (const Entry& e : listed) sequence = std::max(sequence, e.parsed.sequence);
    const qv::Seconds now = clock_();
    std::string name;
    // Where the folder keeps one journal per computer, two computers keep versions into one
    // synced folder: their names carry the computer, so they never meet.
    std::string device;
    if (qv::io::IsRealFolder(dataDir + "/journal")) device = qv::records::ThisDevice().substr(1);
    auto nextName = [&] {
        for (;;) {
            name = VersionName(file, now, ++sequence, device);
            struct stat taken {};
            if (::fstatat(folder.fd(), name.c_str(), &taken, AT_SYMLINK_NOFOLLOW) != 0) return;
        }
    };
    nextName();
    if (!copy &&
        CurrentCalls().linkat(AT_FDCWD, real.c_str(), folder.fd(), name.c_str(), 0) == 0) {
        keeping.linked = true;
    } else {
        // Another file system, one without links, or a file about to be rewritten in
        // place: a reflink where the file system shares blocks, else the bytes themselves.
        int copied = CopyInto(folder.fd(), name, real, st);
        if (IsNoSpace(copied) && (listedStill = false, MakeRoom(RoomFor(st.st_size, false)))) {
            nextName();
            copied = CopyInto(folder.fd(), name, real, st);
        }
        if (copied == 0) {
            keeping.name = name;
            keeping.rotated = RotateAfterKeeping(*this, folder.fd(), dataDir, listed, listedStill, name,
                                              file, clock_(), budget_);
            return keeping;
        }
        if (copied != EOPNOTSUPP)
            return fail(IsNoSpace(copied) ? Problem::NoSpace : Problem::Other, Op::Write,
                        folder_ + "/" + name, copied);
        std::string bytes;
        qv::io::IoError error;
        const auto read = qv::io::ReadFile(real, bytes, qv::io::kWholeFile, &error);
        if (read != qv::io::ReadStatus::Ok && read != qv::io::ReadStatus::Empty)
            return fail(Problem::Other, Op::Read, real, error.err);
        const std::string target = folder_ + "/" + name;
        bool written = qv::io::WriteFileAtomic(target, bytes, &error);
        if (!written && IsNoSpace(error.err) && (listedStill = false, MakeRoom(RoomFor(st.st_size, false)))) {
            nextName();
            written = qv::io::WriteFileAtomic(folder_ + "/" + name, bytes, &error);
        }
        if (!written)
            return fail(IsNoSpace(error.err) ? Problem::NoSpace : Problem::Other, error.op,
                        error.path, error.err);
        // The copy takes the group and mode of the file it keeps, not the umask's.
        const int fd =
            ::openat(folder.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            struct stat made {};
            if (::fstat(fd, &made) == 0 && S_ISREG(made.st_mode)) {
                if (made.st_gid != st.st_gid) (void)::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
                ::fchmod(fd, st.st_mode & 0777);
            }
            ::close(fd);
        }
    }
    keeping.name = name;
    keeping.rotated = RotateAfterKeeping(*this, folder.fd(), dataDir, listed, listedStill, name,
                                              file, clock_(), budget_);
    return keeping;
}

Backups::Keeping Backups::KeepBeforeInPlace(const std::string& path) const {
    Keeping keeping;
    if (!Enabled()) return keeping;
    char real[PATH_MAX];
    if (::realpath(path.c_str(), real) == nullptr) {
        if (errno == ENOENT) return keeping;
        keeping.result = Result::Failed;
        keeping.problem = Problem::Other;
        qv::io::Fail(&keeping.error, qv::io::IoError::Op::Check, path, errno);
        return keeping;
    }
    const std::string file = BaseName(path);
    {
        FolderHandle folder;
        if (folder.Open(folder_) == FolderState::Usable && folder.fd() >= 0) {
            const std::string today = Stamp(clock_()).substr(0, 8);
            for (const Entry& e : Scan(folder.fd(), ParentOf(folder_))) {
                if (e.parsed.file != file) continue;
                if (Stamp(e.parsed.time).substr(0, 8) == today) return keeping;  // kept today
                break;  // the newest of that file is older
            }
        }
    }
    return KeepFile(real, file, true);
}

Backups::OnReplace::~OnReplace() {
    if (!keeping_.linked || keeping_.name.empty() || target_.empty()) return;
    struct stat kept {}, live {};
    const std::string at = backups_.Folder() + "/" + keeping_.name;
    if (::lstat(at.c_str(), &kept) == 0 && ::stat(target_.c_str(), &live) == 0 &&
        kept.st_dev == live.st_dev && kept.st_ino == live.st_ino)
        ::unlink(at.c_str());
}

void Backups::RoomBeforeReplacing(const std::string& path) const {
    struct stat data {};
    if (::stat(path.c_str(), &data) != 0 || !S_ISREG(data.st_mode)) return;
    FolderHandle folder;
    if (folder.Open(folder_) != FolderState::Usable || folder.fd() < 0) return;
    struct stat st {};
    // Removing versions frees room only on the disk the data file is on.
    if (::fstat(folder.fd(), &st) != 0 || st.st_dev != data.st_dev) return;
    const std::int64_t needed = RoomFor(data.st_size, data.st_nlink > 1);
    const std::int64_t free = FreeBytes(folder.fd());
    if (free >= 0 && free < needed) MakeRoom(needed);
}

Backups::OnReplace::OnReplace(Backups backups, const std::string& path, bool required)
    : backups_(std::move(backups)),
      file_(BaseName(path)),
      required_(required),
      watch_(path, [this](const std::string& target, bool inPlace) {
          target_ = target;
          if (backups_.Enabled()) keeping_ = backups_.KeepFile(target, file_, inPlace);
          return !required_ || keeping_.result == Result::Kept;
      }) {
    if (backups_.Enabled()) backups_.RoomBeforeReplacing(path);
}

std::vector<Backups::Version> Backups::List() const {
    std::vector<Version> versions;
    if (!Enabled()) return versions;
    FolderHandle folder;
    if (folder.Open(folder_) != FolderState::Usable || folder.fd() < 0) return versions;
    const std::string dataDir = ParentOf(folder_);
    for (const Entry& e : Scan(folder.fd(), dataDir)) {
        Version v{e.parsed.file, e.name, e.parsed.time, e.st.st_size, 0, e.parsed.sequence};
        std::string bytes;
        bool notVersion = false;
        if (ReadVersion(folder.fd(), e.name, dataDir, bytes, notVersion))
            v.records = CountRecords(bytes);
        else if (notVersion)
            continue;
        versions.push_back(std::move(v));
    }
    return versions;
}


bool Backups::Rotate(const std::string& fileName) const {
    if (!Enabled()) return true;
    FolderHandle folder;
    const FolderState state = folder.Open(folder_);
    if (state != FolderState::Usable) return false;  // never removes where a link leads
    if (folder.fd() < 0) return true;                 // no folder: nothing to rotate
    const std::string dataDir = ParentOf(folder_);
    return RotateListed(folder.fd(), dataDir, Scan(folder.fd(), dataDir), fileName, clock_(),
                        budget_);
}

bool Backups::MakeRoom(std::int64_t needed) const {
    if (!Enabled()) return false;
    FolderHandle folder;
    if (folder.Open(folder_) != FolderState::Usable || folder.fd() < 0) return false;
    const std::vector<Entry> entries = Scan(folder.fd(), ParentOf(folder_));
    std::vector<bool> gone(entries.size(), false);
    bool failed = false;
    const size_t removed = PruneOldest(
        folder.fd(), entries, gone,
        [&] {
            const std::int64_t free = FreeBytes(folder.fd());
            return free >= needed;
        },
        failed);
    if (removed > 0) ::fsync(folder.fd());
    return removed > 0;
}

bool Backups::WithRoom(std::int64_t needed, const std::function<bool(qv::io::IoError*)>& write,
                       qv::io::IoError* error) const {
    qv::io::IoError failure;
    if (write(&failure)) return true;
    if (IsNoSpace(failure.err) && MakeRoom(needed)) {
        failure = {};
        if (write(&failure)) return true;
    }
    if (error != nullptr) *error = failure;
    return false;
}

Backups::RestoreResult Backups::Read(const Version& version, std::string& bytes) const {
    FolderHandle folder;
    switch (folder.Open(folder_)) {
        case FolderState::Link:
            return RestoreResult::FolderIsLink;
        case FolderState::NotFolder:
            return RestoreResult::BackupUnreadable;
        case FolderState::Usable:
            break;
    }
    if (folder.fd() < 0) return RestoreResult::BackupUnreadable;
    bool notVersion = false;
    if (!ReadVersion(folder.fd(), version.name, ParentOf(folder_), bytes, notVersion))
        return notVersion ? RestoreResult::NotAVersion : RestoreResult::BackupUnreadable;
    return RestoreResult::Restored;
}

Backups::RestoreResult Backups::Restore(const Version& version, const std::string& target) const {
    std::string bytes;
    if (const RestoreResult read = Read(version, bytes); read != RestoreResult::Restored) return read;
    // The version being replaced is kept first: a restore is undone the same way.
    const OnReplace keep(*this, target, true);
    if (!qv::io::WriteFileAtomic(target, bytes))
        return keep.Kept() ? RestoreResult::WriteFailed : RestoreResult::KeepFailed;
    return RestoreResult::Restored;
}

namespace {
// The sentences of a log's bytes, each counted under its record line with the mark
// (field 5) left out: marking a sentence 執行 since does not make it another one.
std::map<std::string, std::int64_t> Sentences(const std::string& bytes) {
    std::map<std::string, std::int64_t> sentences;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        if (!line.terminated) return;
        std::string key;
        size_t field = 0;
        size_t start = 0;
        for (;;) {
            const size_t tab = line.text.find('\t', start);
            const std::string_view piece = line.text.substr(start, tab - start);
            if (field != 5) key.append(piece);
            key += '\t';
            ++field;
            if (tab == std::string_view::npos) break;
            start = tab + 1;
        }
        if (field >= 11) ++sentences[key];
    });
    return sentences;
}
}  // namespace

Backups::LogChange Backups::CompareLog(const Version& version, const std::string& logPath) const {
    LogChange change;
    std::string older;
    std::string present;
    if (Read(version, older) != RestoreResult::Restored ||
        qv::io::ReadFile(logPath, present) == qv::io::ReadStatus::Unreadable)
        return change;
    const auto then = Sentences(older);
    const auto now = Sentences(present);
    // What one side holds more often than the other.
    const auto beyond = [](const auto& more, const auto& less) {
        std::int64_t n = 0;
        for (const auto& [key, count] : more) {
            const auto found = less.find(key);
            n += std::max<std::int64_t>(0, count - (found == less.end() ? 0 : found->second));
        }
        return n;
    };
    change.known = true;
    change.lost = beyond(now, then);
    change.back = beyond(then, now);
    return change;
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

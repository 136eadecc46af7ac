#include "text/FileIo.h"
#include "text/FilePieces.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <thread>
#include <utility>

namespace qv::io {
namespace {

int RealOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }

const SysCalls kReal{RealOpen, ::read, ::write, ::fsync, ::rename, ::close, ::unlink, ::ftruncate};
std::atomic<const SysCalls*> gCalls{&kReal};

constexpr const char* kAclName = "system.posix_acl_access";

bool WriteAll(int fd, std::string_view bytes) {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = Sys().write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;  // a write that takes nothing: no room left
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Root may write to a file whose mode forbids it; the user's read-only mark still counts.
bool MayReplace(const std::string& path, const struct stat& st) {
    if (!S_ISREG(st.st_mode)) return false;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
    return ::access(path.c_str(), W_OK) == 0;
}

// Why MayReplace refused: a folder, something else that is not a regular file, or a file
// the user marked read-only (or may not write).
int RefusalOf(const struct stat& st) {
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return IoError::kNotRegular;
    return EACCES;
}

// Why a resolved path may not be read or written as a regular file.
int RefusalOf(const Target& t) {
    switch (t.kind) {
        case Target::Kind::Dangling:
            return ENOENT;
        case Target::Kind::Directory:
            return EISDIR;
        case Target::Kind::Unresolved:
            return ELOOP;
        default:
            return IoError::kNotRegular;
    }
}

void SyncFolder(const std::string& path) {
    int dfd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return;
    ::fsync(dfd);
    ::close(dfd);
}

// "<target>.<kind>-PID-N": PID lets start-up tell a dead writer's leftovers from a live one's.
std::string ScratchName(const std::string& target, const char* kind) {
    static std::atomic<unsigned> serial{0};
    return target + "." + kind + "-" + std::to_string(::getpid()) + "-" +
           std::to_string(serial.fetch_add(1));
}

// The target's ACL onto the new file, or none when the target has none (a default ACL
// of the folder must not add one). False when an ACL could not be carried over.
bool CopyAcl(const std::string& from, int toFd) {
    char acl[8192];
    const ssize_t n = ::getxattr(from.c_str(), kAclName, acl, sizeof acl);
    if (n < 0) {
        if (errno != ENODATA && errno != ENOTSUP) return false;
        ::fremovexattr(toFd, kAclName);
        return true;
    }
    return ::fsetxattr(toFd, kAclName, acl, static_cast<size_t>(n), 0) == 0;
}

// Overwrites the regular file's bytes where they are: the inode, and with it every other
// name, the owner, the group and the ACL, stays.
bool OverwriteInPlace(const std::string& target, std::string_view bytes) {
    int fd = Sys().open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK, 0);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && WriteAll(fd, bytes) &&
              ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0 && Sys().fsync(fd) == 0;
    ok = (Sys().close(fd) == 0) && ok;
    return ok;
}

// The in-place rewrite: the complete new bytes sit synced in `copy` first, so a kill
// midway is finished from it at the next start.
bool RewriteInPlace(const std::string& staged, const std::string& target, std::string_view bytes) {
    std::string old;
    if (ReadFile(target, old) == ReadStatus::Unreadable) {
        ::unlink(staged.c_str());
        return false;
    }
    const std::string copy = ScratchName(target, "new");
    if (Sys().rename(staged.c_str(), copy.c_str()) != 0) {
        ::unlink(staged.c_str());
        return false;
    }
    SyncFolder(target);
    if (!OverwriteInPlace(target, bytes)) {
        // Put the old bytes back; if even that fails, the copy stays for start-up to finish.
        if (OverwriteInPlace(target, old)) ::unlink(copy.c_str());
        return false;
    }
    ::unlink(copy.c_str());
    SyncFolder(target);
    return true;
}

bool ProcessGone(pid_t pid) { return pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH; }

// PID of a name "<base>.<kind>-PID-N", or 0 when the name is not of that form.
pid_t LeftoverPid(const std::string& name, const std::string& prefix) {
    if (name.compare(0, prefix.size(), prefix) != 0) return 0;
    const std::string rest = name.substr(prefix.size());
    const auto dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos || dash + 1 == rest.size()) return 0;
    if (rest.find_first_not_of("0123456789-") != std::string::npos) return 0;
    if (rest.find('-', dash + 1) != std::string::npos) return 0;
    const long pid = std::strtol(rest.substr(0, dash).c_str(), nullptr, 10);
    return pid > 0 && pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

struct HeldLock {
    pid_t pid;
    int fd;  // -1: no lock file could be made
    int count;
};
std::map<std::string, HeldLock>& Locks() {
    static std::map<std::string, HeldLock> locks;
    return locks;
}
std::atomic<long long> gLockWaitMs{2000};

}  // namespace

const SysCalls& Sys() { return *gCalls.load(); }
const SysCalls& RealSysCalls() { return kReal; }
void SetSysCalls(const SysCalls* calls) { gCalls.store(calls ? calls : &kReal); }

Target Resolve(const std::string& path) {
    Target t;
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0) {
            t.path = p;
            if (errno == ENOENT)
                t.kind = t.viaLink ? Target::Kind::Dangling : Target::Kind::Missing;
            else
                t.kind = Target::Kind::Unresolved;
            return t;
        }
        if (S_ISLNK(st.st_mode)) {
            std::string link(PATH_MAX, '\0');
            const ssize_t n = ::readlink(p.c_str(), link.data(), link.size());
            if (n <= 0 || static_cast<size_t>(n) >= link.size()) break;
            link.resize(static_cast<size_t>(n));
            p = link[0] == '/' ? link : FolderOf(p) + "/" + link;
            t.viaLink = true;
            continue;
        }
        t.path = p;
        if (S_ISREG(st.st_mode))
            t.kind = Target::Kind::Regular;
        else if (S_ISDIR(st.st_mode))
            t.kind = Target::Kind::Directory;
        else if (S_ISFIFO(st.st_mode))
            t.kind = Target::Kind::Fifo;
        else
            t.kind = Target::Kind::OtherKind;
        return t;
    }
    t.path = p;
    t.kind = Target::Kind::Unresolved;
    return t;
}

namespace {

// Opens a regular, readable file for a whole read: Ok with fd open and size > 0, or the
// status to return (fd then closed).
ReadStatus OpenForRead(const std::string& path, int& fd, std::int64_t& size, IoError* error) {
    using Op = IoError::Op;
    // O_NONBLOCK: opening a FIFO must not wait for a writer; the type is checked next.
    fd = Sys().open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0);
    if (fd < 0) {
        const int err = errno;
        // A link to a missing file is not a missing file: nothing may be made in its place.
        if (err == ENOENT && Resolve(path).kind != Target::Kind::Dangling)
            return ReadStatus::Missing;
        Fail(error, Op::Open, path, err);
        return ReadStatus::Unreadable;
    }
    struct stat st {};
    // A mode without any read bit means "do not read this", for root as well: root's
    // open succeeds regardless, so the bits themselves are what the user set.
    const bool known = ::fstat(fd, &st) == 0;
    if (!known || !S_ISREG(st.st_mode) || (st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) == 0) {
        Fail(error, Op::Check, path, known ? RefusalOf(st) : errno);
        Sys().close(fd);
        return ReadStatus::Unreadable;
    }
    if (st.st_size <= 0) {
        Sys().close(fd);
        return ReadStatus::Empty;
    }
    size = st.st_size;
    return ReadStatus::Ok;
}

// Reads up to n bytes into p, calling seen after each piece; closes fd. got is what came.
ReadStatus ReadAndClose(const std::string& path, int fd, char* p, size_t n, size_t& got,
                        IoError* error, const std::function<void(std::string_view)>& seen) {
    using Op = IoError::Op;
    // Pieces small enough to be looked over while they are still in the cache.
    const size_t piece = seen ? size_t{256} << 10 : n;
    got = 0;
    while (got < n) {
        // One read returns at most about 2 GiB on Linux: the loop reads the rest.
        ssize_t r = Sys().read(fd, p + got, std::min(piece, n - got));
        if (r < 0) {
            if (errno == EINTR) continue;
            Fail(error, Op::Read, path, errno);
            Sys().close(fd);
            return ReadStatus::Unreadable;
        }
        if (r == 0) break;  // shrank while reading: keep what is there
        got += static_cast<size_t>(r);
        if (seen) seen(std::string_view(p, got));
    }
    if (Sys().close(fd) != 0) {
        Fail(error, Op::Close, path, errno);
        return ReadStatus::Unreadable;
    }
    return got == 0 ? ReadStatus::Empty : ReadStatus::Ok;
}

}  // namespace

ReadStatus ReadFile(const std::string& path, std::string& out, std::int64_t maxBytes,
                    IoError* error) {
    int fd = -1;
    std::int64_t size = 0;
    if (const ReadStatus opened = OpenForRead(path, fd, size, error); opened != ReadStatus::Ok)
        return opened;
    std::int64_t want = size < maxBytes ? size : maxBytes;
    std::string buf;
    try {
        buf.resize(static_cast<size_t>(want));
    } catch (const std::exception&) {
        Fail(error, IoError::Op::Read, path, ENOMEM);
        Sys().close(fd);
        return ReadStatus::Unreadable;
    }
    size_t got = 0;
    const ReadStatus read = ReadAndClose(path, fd, buf.data(), buf.size(), got, error, {});
    if (read != ReadStatus::Ok) return read;
    buf.resize(got);
    out.swap(buf);
    return ReadStatus::Ok;
}

namespace {
struct Watch {
    size_t id;
    std::string target;  // the resolved file
    ReplaceHook hook;
};
std::vector<Watch>& Watches() {
    static std::vector<Watch> watches;
    return watches;
}
size_t gNextWatch = 1;

bool CallReplaceHooks(const std::string& target, bool inPlace) {
    const std::vector<Watch> watches = Watches();  // a hook may end a watch
    bool go = true;
    for (const Watch& w : watches)
        if (w.target == target && w.hook && !w.hook(target, inPlace)) go = false;
    return go;
}
}  // namespace

ReplaceWatch::ReplaceWatch(const std::string& path, ReplaceHook hook) : id_(gNextWatch++) {
    const Target t = Resolve(path);
    Watches().push_back({id_, t.path.empty() ? path : t.path, std::move(hook)});
}

ReplaceWatch::~ReplaceWatch() {
    std::erase_if(Watches(), [&](const Watch& w) { return w.id == id_; });
}

ReadStatus ReadFile(const std::string& path, FileBuffer& out, IoError* error,
                    const std::function<void(std::string_view)>& seen) {
    int fd = -1;
    std::int64_t size = 0;
    if (const ReadStatus opened = OpenForRead(path, fd, size, error); opened != ReadStatus::Ok)
        return opened;
    FileBuffer buf;
    if (static_cast<std::uint64_t>(size) > std::numeric_limits<size_t>::max() / 2 ||
        !buf.Allocate(static_cast<size_t>(size))) {
        Fail(error, IoError::Op::Read, path, ENOMEM);
        Sys().close(fd);
        return ReadStatus::Unreadable;
    }
    size_t got = 0;
    const ReadStatus read = ReadAndClose(path, fd, buf.data(), buf.size(), got, error, seen);
    if (read != ReadStatus::Ok) return read;
    buf.Shrink(got);
    out = std::move(buf);
    return ReadStatus::Ok;
}

ReadStatus ReadFileInPieces(const std::string& path, size_t pieceBytes,
                            const std::function<void(std::string_view)>& seen, IoError* error) {
    int fd = -1;
    std::int64_t size = 0;
    if (const ReadStatus opened = OpenForRead(path, fd, size, error); opened != ReadStatus::Ok)
        return opened;
    std::string piece(pieceBytes > 0 ? pieceBytes : 1, '\0');
    // No more than the size seen when it was opened, as a whole read takes.
    std::uint64_t left = static_cast<std::uint64_t>(size), got = 0;
    while (left > 0) {
        const ssize_t r = Sys().read(fd, piece.data(), std::min<std::uint64_t>(piece.size(), left));
        if (r < 0) {
            if (errno == EINTR) continue;
            Fail(error, IoError::Op::Read, path, errno);
            Sys().close(fd);
            return ReadStatus::Unreadable;
        }
        if (r == 0) break;  // shrank while reading: what is there
        left -= static_cast<std::uint64_t>(r);
        got += static_cast<std::uint64_t>(r);
        seen(std::string_view(piece.data(), static_cast<size_t>(r)));
    }
    if (Sys().close(fd) != 0) {
        Fail(error, IoError::Op::Close, path, errno);
        return ReadStatus::Unreadable;
    }
    return got == 0 ? ReadStatus::Empty : ReadStatus::Ok;
}

ReadStatus ReadLinesInPieces(const std::string& path, size_t pieceBytes,
                             const std::function<void(std::string_view)>& lines, IoError* error) {
    std::string carried;  // a line begun in an earlier piece
    const ReadStatus status = ReadFileInPieces(
        path, pieceBytes,
        [&](std::string_view bytes) {
            const void* last = ::memrchr(bytes.data(), '\n', bytes.size());
            if (last == nullptr) {
                carried.append(bytes);
                return;
            }
            const size_t end = static_cast<size_t>(static_cast<const char*>(last) - bytes.data()) + 1;
            size_t from = 0;
            if (!carried.empty()) {
                // The line begun before ends at this piece's first line end.
                from = bytes.find('\n') + 1;
                carried.append(bytes.substr(0, from));
                lines(carried);
                carried.clear();
            }
            if (end > from) lines(bytes.substr(from, end - from));
            carried.assign(bytes.substr(end));
        },
        error);
    if (status == ReadStatus::Ok && !carried.empty()) lines(carried);  // without its line end
    return status;
}

FileBuffer::FileBuffer(std::string bytes) : string_(std::move(bytes)), size_(string_.size()) {}

FileBuffer& FileBuffer::operator=(FileBuffer&& other) noexcept {
    if (this != &other) {
        Free();
        map_ = std::exchange(other.map_, nullptr);
        mapSize_ = std::exchange(other.mapSize_, 0);
        string_ = std::move(other.string_);
        other.string_.clear();
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void FileBuffer::Free() {
    if (map_ != nullptr) ::munmap(map_, mapSize_);
    map_ = nullptr;
    mapSize_ = 0;
    std::string().swap(string_);
    size_ = 0;
}

bool FileBuffer::Reserve(size_t n) {
    if (map_ == nullptr) {
        if (n <= string_.size()) return true;
        try {
            string_.resize(n);
        } catch (const std::exception&) {
            return false;
        }
        return true;
    }
    if (n <= mapSize_) return true;
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t length = (n + page - 1) / page * page;
    void* p = ::mremap(map_, mapSize_, length, MREMAP_MAYMOVE);
    if (p == MAP_FAILED) return false;
    map_ = static_cast<char*>(p);
    mapSize_ = length;
    return true;
}

bool FileBuffer::Allocate(size_t n) {
    Free();
    // Small files go on the heap; the mapping pays off from a few hundred kilobytes on.
    constexpr size_t kMapFrom = size_t{512} << 10;
    if (n < kMapFrom) {
        try {
            string_.resize(n);
        } catch (const std::exception&) {
            return false;
        }
        size_ = n;
        return true;
    }
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    constexpr size_t kHuge = size_t{2} << 20;
    const size_t length = (n + page - 1) / page * page;
    // Mapped with room to start on a huge-page boundary, then trimmed to exactly the
    // pages needed: no memory is spent on rounding.
    const size_t room = length + kHuge;
    void* p = ::mmap(nullptr, room, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    char* raw = static_cast<char*>(p);
    char* start = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(raw) + kHuge - 1) &
                                          ~std::uintptr_t{kHuge - 1});
    if (start > raw) ::munmap(raw, static_cast<size_t>(start - raw));
    const size_t after = static_cast<size_t>(raw + room - (start + length));
    if (after > 0) ::munmap(start + length, after);
#ifdef MADV_HUGEPAGE
    ::madvise(start, length, MADV_HUGEPAGE);  // a hint: without it, small pages serve
#endif
    map_ = start;
    mapSize_ = length;
    size_ = n;
    return true;
}

bool WriteFileAtomic(const std::string& path, std::string_view bytes, IoError* error) {
    return WriteFileAtomic(path, std::span<const std::string_view>(&bytes, 1), error);
}

bool WriteFileAtomic(const std::string& path, std::span<const std::string_view> pieces,
                     IoError* error) {
    using Op = IoError::Op;
    if (path.empty()) return Fail(error, Op::Open, path, ENOENT);
    const Target t = Resolve(path);
    struct stat st {};
    bool exists = false;
    switch (t.kind) {
        case Target::Kind::Regular:
            if (::stat(t.path.c_str(), &st) != 0) return Fail(error, Op::Check, path, errno);
            if (!MayReplace(t.path, st)) return Fail(error, Op::Check, path, RefusalOf(st));
            exists = true;
            break;
        case Target::Kind::Missing:
            break;
        default:  // a dangling link, a FIFO, a folder: never written over
            return Fail(error, Op::Check, path, RefusalOf(t));
    }
    const std::string& target = t.path;

    const std::string temp = ScratchName(target, "tmp");
    const mode_t mode = exists ? (st.st_mode & 07777) : 0666;
    int fd = Sys().open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return Fail(error, Op::Open, temp, errno);
    // A rename would part the file from its other names, or hand it to whoever writes
    // it (another member of a shared group): then the bytes go in place instead.
    bool inPlace = false;
    if (exists) {
        struct stat made {};
        if (::fstat(fd, &made) != 0 || ((made.st_uid != st.st_uid || made.st_gid != st.st_gid) &&
                                        ::fchown(fd, st.st_uid, st.st_gid) != 0))
            inPlace = true;
        ::fchmod(fd, mode);  // the user's permissions despite the umask (and after chown)
        if (!CopyAcl(target, fd)) inPlace = true;
        if (st.st_nlink > 1) inPlace = true;
    }

    bool ok = true;
    for (std::string_view piece : pieces)
        ok = ok && (WriteAll(fd, piece) || Fail(error, Op::Write, temp, errno));
    ok = ok && (Sys().fsync(fd) == 0 || Fail(error, Op::Sync, temp, errno));
    ok = (Sys().close(fd) == 0 || (ok && Fail(error, Op::Close, temp, errno))) && ok;
    if (ok && exists && !Watches().empty() && !CallReplaceHooks(target, inPlace))
        ok = Fail(error, Op::Write, path, EAGAIN);
    if (ok && inPlace) {
        std::string bytes;
        for (std::string_view piece : pieces) bytes.append(piece);
        return RewriteInPlace(temp, target, bytes) || Fail(error, Op::Write, target, errno);
    }
    ok = ok &&
         (Sys().rename(temp.c_str(), target.c_str()) == 0 || Fail(error, Op::Rename, path, errno));
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(target);
    return true;
}

bool AppendLine(const std::string& path, std::string_view bytes, IoError* error) {
    return AppendLine(path, bytes, error, AppendMode{});
}

void TakeGroupAndMode(int fd, const std::string& like) {
    struct stat st {};
    if (like.empty() || ::stat(like.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    struct stat made {};
    if (::fstat(fd, &made) == 0 && made.st_gid != st.st_gid) (void)::fchown(fd, -1, st.st_gid);
    ::fchmod(fd, st.st_mode & 07777 & ~static_cast<mode_t>(S_ISUID | S_ISGID | S_IXUSR | S_IXGRP | S_IXOTH));
}

std::int64_t WholeLinesSize(const std::string& path) {
    std::string bytes;
    if (ReadFile(path, bytes) != ReadStatus::Ok) return 0;
    const size_t end = bytes.rfind('\n');
    return end == std::string::npos ? 0 : static_cast<std::int64_t>(end + 1);
}

bool TruncateTo(const std::string& path, std::int64_t size, IoError* error) {
    using Op = IoError::Op;
    const Target t = Resolve(path);
    if (t.kind == Target::Kind::Missing) return size == 0;
    if (t.kind != Target::Kind::Regular) return Fail(error, Op::Check, path, RefusalOf(t));
    int fd = Sys().open(t.path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK, 0);
    if (fd < 0) return Fail(error, Op::Open, path, errno);
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 || Fail(error, Op::Check, path, errno);
    if (ok && st.st_size > size)
        ok = (Sys().ftruncate(fd, static_cast<off_t>(size)) == 0 ||
              Fail(error, Op::Write, path, errno)) &&
             (Sys().fsync(fd) == 0 || Fail(error, Op::Sync, path, errno));
    else if (ok && st.st_size < size)
        ok = Fail(error, Op::Check, path, EINVAL);
    if (Sys().close(fd) != 0 && ok) ok = Fail(error, Op::Close, path, errno);
    return ok;
}

bool AppendLine(const std::string& path, std::string_view bytes, IoError* error,
                const AppendMode& mode) {
    using Op = IoError::Op;
    const Target t = Resolve(path);
    if (t.kind != Target::Kind::Regular && t.kind != Target::Kind::Missing)
        return Fail(error, Op::Check, path, RefusalOf(t));
    const std::string& target = t.path;
    struct stat st {};
    const bool existed = t.kind == Target::Kind::Regular;
    if (existed && ::stat(target.c_str(), &st) != 0) return Fail(error, Op::Check, path, errno);
    if (existed && !MayReplace(target, st)) return Fail(error, Op::Check, path, RefusalOf(st));

    int fd = Sys().open(target.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return Fail(error, Op::Open, path, errno);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        Fail(error, Op::Check, path, errno);
        Sys().close(fd);
        return false;
    }
    if (!existed) TakeGroupAndMode(fd, mode.like);
    off_t oldSize = st.st_size;
    std::string line;
    if (oldSize > 0) {
        char last = 0;
        if (::pread(fd, &last, 1, oldSize - 1) != 1) {
            Fail(error, Op::Read, path, errno);
            Sys().close(fd);
            return false;
        }
        if (last != '\n' && mode.journal) {
            // A torn entry: cut back to the last whole line.
            const std::int64_t whole = WholeLinesSize(target);
            if (Sys().ftruncate(fd, static_cast<off_t>(whole)) != 0) {
                Fail(error, Op::Write, path, errno);
                Sys().close(fd);
                return false;
            }
            oldSize = static_cast<off_t>(whole);
        } else if (last != '\n') {
            line = "\r\n";
        }
    }
    line.append(bytes);
    bool ok = WriteAll(fd, line) || Fail(error, Op::Write, path, errno);
    ok = ok && (Sys().fsync(fd) == 0 || Fail(error, Op::Sync, path, errno));
    if (!ok) {
        // Never leave half a record behind.
        if (::ftruncate(fd, oldSize) == 0) ::fsync(fd);
    }
    if (Sys().close(fd) != 0 && ok) {
        // The record may be on disk, but a failure was reported: take it back off.
        ok = Fail(error, Op::Close, path, errno);
        if (existed) ::truncate(target.c_str(), oldSize);
    }
    if (!ok && !existed) ::unlink(target.c_str());
    if (ok && !existed) SyncFolder(target);
    return ok;
}

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return stamp;
    stamp.size = st.st_size;
    stamp.mtimeNs = st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec;
    stamp.ctimeNs = st.st_ctim.tv_sec * 1'000'000'000LL + st.st_ctim.tv_nsec;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    return stamp;
}

std::int64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
}

bool IsRegularNoFollow(const std::string& path, bool* missing) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (missing) *missing = errno == ENOENT;
        return false;
    }
    return S_ISREG(st.st_mode);
}

bool IsRealFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeRealFolder(const std::string& path, IoError* error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) || Fail(error, IoError::Op::Check, path, ENOTDIR);
    if (errno != ENOENT) return Fail(error, IoError::Op::Check, path, errno);
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return Fail(error, IoError::Op::Open, path, errno);
    return true;
}

bool RemoveFile(const std::string& path) {
    if (Sys().unlink(path.c_str()) != 0 && errno != ENOENT) return false;
    SyncFolder(path);
    return true;
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
}

FolderLock::Result FolderLock::TryAcquire(const std::string& folder) {
    error_ = 0;
    if (fd_ >= 0) return Result::Acquired;
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error_ = errno;
        return Result::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        // Only EWOULDBLOCK means another holder; anything else is a failure of our own.
        if (error == EWOULDBLOCK) return Result::Held;
        error_ = error;
        return Result::Failed;
    }
    fd_ = fd;
    return Result::Acquired;
}

int FolderLock::WriteError() const {
    if (fd_ < 0) return EBADF;
    // Asked of the folder held, so a rename of its path cannot make the answer stale.
    return ::faccessat(fd_, ".", W_OK, AT_EACCESS) == 0 ? 0 : errno;
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        Release();
        key_ = std::move(other.key_);
        other.key_.clear();
    }
    return *this;
}

void FileLock::SetWait(std::chrono::milliseconds wait) { gLockWaitMs = wait.count(); }

bool FileLock::Acquire(const std::string& path) {
    if (Held()) return true;
    auto& locks = Locks();
    const pid_t self = ::getpid();
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(gLockWaitMs.load());
    for (;;) {
        const Target target = Resolve(path);
        const std::string& key = target.path;
        if (auto it = locks.find(key); it != locks.end()) {
            if (it->second.pid == self) {
                ++it->second.count;
                key_ = key;
                return true;
            }
            locks.erase(it);  // a parent's, inherited over fork: not this process's lock
        }
        // Nothing there yet (the first append makes it), or nothing that can be opened:
        // there is nothing to lock, and nothing another program could rewrite either.
        int fd = target.kind == Target::Kind::Regular
                     ? ::open(key.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)
                     : -1;
        if (fd < 0) {
            locks[key] = {self, -1, 1};
            key_ = key;
            return true;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // A rewrite renames a new file over the old one: the lock counts only when it
            // is on the file that the name holds now.
            struct stat mine {
            }, now{};
            if (::fstat(fd, &mine) == 0 && ::stat(key.c_str(), &now) == 0 &&
                mine.st_ino == now.st_ino && mine.st_dev == now.st_dev) {
                locks[key] = {self, fd, 1};
                key_ = key;
                return true;
            }
            ::close(fd);
            continue;
        }
        const int error = errno;
        ::close(fd);
        if (error != EWOULDBLOCK) {
            locks[key] = {self, -1, 1};
            key_ = key;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void FileLock::Release() {
    if (key_.empty()) return;
    auto& locks = Locks();
    auto it = locks.find(key_);
    if (it != locks.end() && it->second.pid == ::getpid() && --it->second.count == 0) {
        if (it->second.fd >= 0) ::close(it->second.fd);
        locks.erase(it);
    }
    key_.clear();
}

void CleanLeftovers(const std::string& path, Leftovers& found) {
    CleanLeftovers(std::vector<std::string>{path}, found);
}

void CleanLeftovers(const std::vector<std::string>& paths, Leftovers& found) {
    // The files, by the folder their leftovers may be in: beside the file a link leads
    // to, and beside the name itself (where writes that replaced links used to leave them).
    struct Watched {
        std::string target;  // the file a leftover belongs to
        std::string base;
        bool real;  // target is the file itself (a copy may be finished into it)
    };
    std::map<std::string, std::vector<Watched>> folders;
    for (const std::string& path : paths) {
        if (path.empty()) continue;
        const Target t = Resolve(path);
        folders[FolderOf(t.path)].push_back({t.path, NameOf(t.path), true});
        if (t.path != path) folders[FolderOf(path)].push_back({path, NameOf(path), false});
    }
    // Each folder is listed once, and synced only when something in it went.
    for (const auto& [folder, watched] : folders) {
        DIR* dir = ::opendir(folder.c_str());
        if (dir == nullptr) continue;
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name = entry->d_name;
            if (name.find(".tmp-") != std::string_view::npos ||
                name.find(".new-") != std::string_view::npos)
                names.emplace_back(name);
        }
        ::closedir(dir);
        bool changed = false;
        for (const std::string& name : names) {
            for (const Watched& w : watched) {
                const std::string full = folder + "/" + name;
                if (pid_t pid = LeftoverPid(name, w.base + ".tmp-"); pid != 0 && ProcessGone(pid)) {
                    if (::unlink(full.c_str()) == 0) {
                        ++found.removed;
                        changed = true;
                    }
                    break;
                }
                if (pid_t pid2 = LeftoverPid(name, w.base + ".new-");
                    pid2 != 0 && ProcessGone(pid2) && w.real) {
                    std::string bytes;
                    const ReadStatus read = ReadFile(full, bytes);
                    if ((read == ReadStatus::Ok || read == ReadStatus::Empty) &&
                        OverwriteInPlace(w.target, bytes) && ::unlink(full.c_str()) == 0) {
                        found.finished.push_back(w.target);
                        changed = true;
                    }
                    break;
                }
            }
        }
        if (changed) SyncFolder(folder + "/.");
    }
}

}  // namespace qv::io

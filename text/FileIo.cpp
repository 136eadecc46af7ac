#include "text/FileIo.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace qv::io {
namespace {

int RealOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }

const SysCalls kReal{RealOpen, ::read, ::write, ::fsync, ::rename, ::close};
std::atomic<const SysCalls*> gCalls{&kReal};

bool WriteAll(int fd, std::string_view bytes) {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = Sys().write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
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

// Root may write to a file whose mode forbids it; the user's read-only mark still counts.
bool MayReplace(const std::string& path, const struct stat& st) {
    if (!S_ISREG(st.st_mode)) return false;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
    return ::access(path.c_str(), W_OK) == 0;
}

void SyncFolder(const std::string& path) {
    int dfd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return;
    ::fsync(dfd);
    ::close(dfd);
}

}  // namespace

const SysCalls& Sys() { return *gCalls.load(); }
const SysCalls& RealSysCalls() { return kReal; }
void SetSysCalls(const SysCalls* calls) { gCalls.store(calls ? calls : &kReal); }

ReadStatus ReadFile(const std::string& path, std::string& out, std::int64_t maxBytes) {
    // Non-blocking, so a FIFO in a data file's place is refused below instead of waiting
    // for a writer forever; for a regular file the flag changes nothing.
    int fd = Sys().open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd < 0) return errno == ENOENT ? ReadStatus::Missing : ReadStatus::Unreadable;
    struct stat st {};
    // A mode without any read bit means "do not read this", for root as well: root's
    // open succeeds regardless, so the bits themselves are what the user set.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        (st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) == 0) {
        Sys().close(fd);
        return ReadStatus::Unreadable;
    }
    if (st.st_size <= 0) {
        Sys().close(fd);
        return ReadStatus::Empty;
    }
    std::int64_t want = st.st_size < maxBytes ? st.st_size : maxBytes;
    std::string buf;
    try {
        buf.resize(static_cast<size_t>(want));
    } catch (const std::bad_alloc&) {
        Sys().close(fd);
        return ReadStatus::Unreadable;
    }
    size_t got = 0;
    while (got < buf.size()) {
        ssize_t n = Sys().read(fd, buf.data() + got, buf.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            Sys().close(fd);
            return ReadStatus::Unreadable;
        }
        if (n == 0) break;  // shrank while reading: keep what is there
        got += static_cast<size_t>(n);
    }
    if (Sys().close(fd) != 0) return ReadStatus::Unreadable;
    if (got == 0) return ReadStatus::Empty;
    buf.resize(got);
    out.swap(buf);
    return ReadStatus::Ok;
}

bool WriteFileAtomic(const std::string& path, std::string_view bytes) {
    if (path.empty()) return false;
    struct stat st {};
    bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && !MayReplace(path, st)) return false;
    if (!exists && errno != ENOENT) return false;

    static std::atomic<unsigned> serial{0};
    std::string temp = path + ".tmp-" + std::to_string(::getpid()) + "-" +
                       std::to_string(serial.fetch_add(1));
    mode_t mode = exists ? (st.st_mode & 07777) : 0666;
    int fd = Sys().open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return false;
    if (exists) ::fchmod(fd, mode);  // keep the user's permissions despite the umask

    bool ok = WriteAll(fd, bytes) && Sys().fsync(fd) == 0;
    ok = (Sys().close(fd) == 0) && ok;
    ok = ok && Sys().rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(path);
    return true;
}

bool AppendLine(const std::string& path, std::string_view bytes) {
    struct stat st {};
    const bool existed = ::stat(path.c_str(), &st) == 0;
    if (existed && !MayReplace(path, st)) return false;

    int fd = Sys().open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    if (::fstat(fd, &st) != 0) {
        Sys().close(fd);
        return false;
    }
    const off_t oldSize = st.st_size;
    std::string line;
    if (oldSize > 0) {
        char last = 0;
        if (::pread(fd, &last, 1, oldSize - 1) != 1) {
            Sys().close(fd);
            return false;
        }
        if (last != '\n') line = "\r\n";
    }
    line.append(bytes);
    bool ok = WriteAll(fd, line) && Sys().fsync(fd) == 0;
    if (!ok) {
        // Never leave half a record behind.
        if (::ftruncate(fd, oldSize) == 0) ::fsync(fd);
    }
    if (Sys().close(fd) != 0 && ok) {
        // The record may be on disk, but a failure was reported: take it back off.
        ok = false;
        if (existed) ::truncate(path.c_str(), oldSize);
    }
    if (!ok && !existed) ::unlink(path.c_str());
    return ok;
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
}

bool FolderLock::Acquire(const std::string& folder) {
    if (fd_ >= 0) return true;
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

}  // namespace qv::io

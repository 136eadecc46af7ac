#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "text/IoError.h"

namespace qv::io {

// Every file call of the core goes through this table, so tests can make any one of
// them fail (full disk, I/O error, permission) and check that nothing is lost.
struct SysCalls {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* buf, size_t n);
    ssize_t (*write)(int fd, const void* buf, size_t n);
    int (*fsync)(int fd);
    int (*rename)(const char* from, const char* to);
    int (*close)(int fd);
    // Calls that change a file without writing to it: the kill tests count them too.
    int (*unlink)(const char* path);
    int (*ftruncate)(int fd, off_t length);
};

const SysCalls& Sys();
const SysCalls& RealSysCalls();
// Installs a replacement table (nullptr restores the real calls).
void SetSysCalls(const SysCalls* calls);

// What a path names once its symbolic links are followed (never blocks, opens nothing).
struct Target {
    enum class Kind {
        Regular,
        Missing,   // nothing there, and no link leads here: a new file may be made
        Dangling,  // a symbolic link whose target is missing
        Directory,
        Fifo,
        OtherKind,   // a device, a socket
        Unresolved,  // too many links, or a part of the path cannot be looked at
    };
    Kind kind = Kind::Missing;
    std::string path;  // the file the links lead to (the path itself when it is no link)
    bool viaLink = false;
};
Target Resolve(const std::string& path);

enum class ReadStatus { Ok, Missing, Empty, Unreadable };

// Reads take the whole file unless told otherwise.
inline constexpr std::int64_t kWholeFile = std::numeric_limits<std::int64_t>::max();

// Reads the whole of a regular file into out (untouched on failure), at most maxBytes
// bytes. A folder, a FIFO or a device (looked at without blocking), a link whose target
// is missing, or a file whose mode grants no read bit to anyone is Unreadable, even for
// root. error, when given, learns why a read came back Unreadable.
ReadStatus ReadFile(const std::string& path, std::string& out, std::int64_t maxBytes = kWholeFile,
                    IoError* error = nullptr);

// A whole file's bytes held in memory. A large file goes into pages mapped for it alone
// (huge pages where the system gives them): the read neither zero-fills the memory first
// nor takes a fault per small page, which costs more than the read itself for a log of
// tens of megabytes. Bytes this program made itself can be handed over as a string.
class FileBuffer {
public:
    FileBuffer() = default;
    explicit FileBuffer(std::string bytes);
    ~FileBuffer() { Free(); }
    FileBuffer(FileBuffer&& other) noexcept { *this = std::move(other); }
    FileBuffer& operator=(FileBuffer&& other) noexcept;
    FileBuffer(const FileBuffer&) = delete;
    FileBuffer& operator=(const FileBuffer&) = delete;

    // Room for n bytes (size() becomes n); false, nothing held, when there is none.
    bool Allocate(size_t n);
    // Shortens the bytes held (a file that shrank while it was read).
    void Shrink(size_t n) { size_ = n < size_ ? n : size_; }
    // Room for n bytes in all, keeping the bytes held and their size: a mapping grows
    // where it lies or moves without a copy, so a large file is never held twice. False,
    // unchanged, when there is no room.
    bool Reserve(size_t n);
    // The size within the room reserved; bytes past the old size are as they lie.
    void Resize(size_t n) { size_ = n; }
    void Clear() { Free(); }

    char* data() { return map_ != nullptr ? map_ : string_.data(); }
    const char* data() const { return map_ != nullptr ? map_ : string_.data(); }
    size_t size() const { return size_; }
    std::string_view View() const { return {data(), size_}; }

private:
    void Free();
    char* map_ = nullptr;  // the mapping, when the bytes live in one
    size_t mapSize_ = 0;
    std::string string_;  // otherwise
    size_t size_ = 0;
};

// The same read into a FileBuffer. seen, when given, is called as the file comes in with
// the bytes read so far, so a caller can look the start over while it is still in the
// cache; when the read then fails, out is untouched and what seen was shown is void.
ReadStatus ReadFile(const std::string& path, FileBuffer& out, IoError* error,
                    const std::function<void(std::string_view readSoFar)>& seen = {});

// Replaces the file with bytes so that a crash leaves it old or new. Links are followed
// and stay links; the file keeps its owner, group, mode and ACL. Normally a temporary
// file beside the target, fsync, rename. A file with further hard links, or whose owner
// or group a new file could not take, is rewritten in place instead, from a complete
// synced copy beside it ("<name>.new-PID-N") that start-up recovery finishes if the
// program is killed meanwhile. A target that exists but is read-only, is not a regular
// file, or is a link to a missing file is refused. On any failure the old file is left
// as it was, no temporary file remains, and false returns (error, when given, learns why).
bool WriteFileAtomic(const std::string& path, std::string_view bytes, IoError* error = nullptr);
// The same with the new file given as pieces in order, so a rewrite that keeps most of
// a large file writes it from where its bytes already lie instead of a joined copy.
bool WriteFileAtomic(const std::string& path, std::span<const std::string_view> pieces,
                     IoError* error = nullptr);

// A watch on the replacements of one file: while it lives, WriteFileAtomic calls hook
// right before it replaces the file path leads to (the new bytes are complete and
// synced), with that file and whether it is rewritten in place (it has further hard
// links, so a link taken now would change with it). The hook is where the version being
// replaced can be kept: a hard link taken then costs nothing, because the rename leaves
// the old inode to the link alone. A hook that returns false stops the replacement (the
// file stays as it was; the write fails with EAGAIN). Watches are per process.
using ReplaceHook = std::function<bool(const std::string& target, bool inPlace)>;
class ReplaceWatch {
public:
    ReplaceWatch(const std::string& path, ReplaceHook hook);
    ~ReplaceWatch();
    ReplaceWatch(const ReplaceWatch&) = delete;
    ReplaceWatch& operator=(const ReplaceWatch&) = delete;

private:
    size_t id_;
};

// Appends bytes in append mode, creating the file when missing (never through a link
// whose target is missing). When the file does not end with "\n", "\r\n" goes first so
// an unterminated last line is never glued to the new one. A failed write is rolled back
// to the old length; false on any failure (error, when given, learns why).
bool AppendLine(const std::string& path, std::string_view bytes, IoError* error = nullptr);

// How an append treats the file. A journal (a file only this program appends whole
// lines to) holds no line without its line end but one torn by a kill: that tail is cut
// back before the append instead of being ended, which would make half an entry look
// whole. like: a file created now takes the group and mode of that file (the data
// files' own), not the umask's.
struct AppendMode {
    bool journal = false;
    std::string like;
};
bool AppendLine(const std::string& path, std::string_view bytes, IoError* error,
                const AppendMode& mode);

// Cuts a regular file back to size bytes (never longer) and syncs it; true when the file
// has that size now (or is missing and size is 0).
bool TruncateTo(const std::string& path, std::int64_t size, IoError* error = nullptr);

// The size of a journal's complete lines: the offset just past its last "\n" (0 for a
// missing or empty file, or one without any line end).
std::int64_t WholeLinesSize(const std::string& path);

// Gives a file just created (open descriptor fd) the group and the permission bits of
// the file like leads to, where that can be done; nothing when like is empty or missing.
void TakeGroupAndMode(int fd, const std::string& like);

// What a file looks like from outside: size, modification and change times, identity. A
// copy of a file kept in memory is trusted only while its stamp is unchanged.
struct FileStamp {
    std::int64_t size = -1;  // -1: unknown (no file, or it could not be looked at)
    std::int64_t mtimeNs = 0;
    std::int64_t ctimeNs = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool Known() const { return size >= 0; }
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::string& path);

// The size of the file the path leads to; 0 when there is none.
std::int64_t FileSize(const std::string& path);

// Removes a file and syncs its folder; true when it is gone.
bool RemoveFile(const std::string& path);

// The files the program alone keeps (journals, staging, conflict copies) are never
// reached through a link: these look at the name itself.
// Whether path is a regular file, not a link to one; missing, when given, learns whether
// nothing is there at all.
bool IsRegularNoFollow(const std::string& path, bool* missing = nullptr);
// Whether path is a folder, not a link to one.
bool IsRealFolder(const std::string& path);
// Makes the folder path when nothing is there; a name there that is no folder (a link to
// one included) is refused (Check, ENOTDIR).
bool MakeRealFolder(const std::string& path, IoError* error = nullptr);

// An exclusive lock on a folder, held until the object is destroyed (or the process
// ends). Locking the folder itself, not a file in it, creates nothing and survives the
// renames of the atomic writes.
class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    enum class Result { Acquired, Held, Failed };
    // Held: another holder has the folder. Failed: the folder cannot be opened (missing,
    // not a folder, no permission); Error() then tells why.
    Result TryAcquire(const std::string& folder);
    // True only when acquired: false for a held lock and for a failed open alike.
    bool Acquire(const std::string& folder) { return TryAcquire(folder) == Result::Acquired; }
    // The errno of the last failed TryAcquire, 0 otherwise.
    int Error() const { return error_; }
    // 0 when the held folder may be written (files created, renamed over), else the errno
    // that says why not (EACCES, EROFS): a folder that can only be read is usable for
    // looking, so callers warn instead of refusing.
    int WriteError() const;

private:
    int fd_ = -1;
    int error_ = 0;
};

// An exclusive lock on the file a path leads to, shared by every path and link that
// leads to it (flock on the resolved target; a lock taken on a file that a rename has
// since replaced is dropped and taken again on the new one). Held across a
// read-modify-write or an append so that two programs (two folders whose files link to
// one) never interleave. Locking a file this process holds already just counts. A file
// that is not there yet, or cannot be opened, has nothing to lock: the lock is then taken
// as held. Creates no file.
class FileLock {
public:
    FileLock() = default;
    ~FileLock() { Release(); }
    FileLock(FileLock&& other) noexcept : key_(std::move(other.key_)) { other.key_.clear(); }
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Waits up to the lock wait for another holder to finish; false when it does not.
    bool Acquire(const std::string& path);
    bool Held() const { return !key_.empty(); }
    void Release();

    // How long a second writer waits before it reports the file busy.
    static void SetWait(std::chrono::milliseconds wait);

private:
    std::string key_;  // the resolved target while held
};

// The program's own leftovers of writes that a kill interrupted, beside the file path
// leads to: "<name>.tmp-PID-N" files are removed, "<name>.new-PID-N" copies are finished
// (copied into the file, then removed), each only when process PID is gone.
struct Leftovers {
    size_t removed = 0;
    std::vector<std::string> finished;  // files completed from their copies
};
void CleanLeftovers(const std::string& path, Leftovers& found);
// The same for several files at once: each folder is listed once, and synced only when a
// leftover in it was removed or finished.
void CleanLeftovers(const std::vector<std::string>& paths, Leftovers& found);

}  // namespace qv::io

#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

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
};

const SysCalls& Sys();
const SysCalls& RealSysCalls();
// Installs a replacement table (nullptr restores the real calls).
void SetSysCalls(const SysCalls* calls);

enum class ReadStatus { Ok, Missing, Empty, Unreadable };

// Reads at most maxBytes bytes of a regular file into out (untouched on failure). A
// folder, or a file whose mode grants no read bit to anyone, is Unreadable, even for root.
// error, when given, learns why a read came back Unreadable.
ReadStatus ReadFile(const std::string& path, std::string& out, std::int64_t maxBytes,
                    IoError* error = nullptr);

// Replaces the file with bytes: a temporary file in the same folder, fsync, rename.
// A target that exists but is read-only, or is not a regular file, is refused. On any
// failure the old file is left as it was, no temporary file remains, and false returns
// (error, when given, learns why).
bool WriteFileAtomic(const std::string& path, std::string_view bytes, IoError* error = nullptr);

// Appends bytes in append mode, creating the file when missing. When the file does not
// end with "\n", "\r\n" goes first so an unterminated last line is never glued to the
// new one. A failed write is rolled back to the old length; false on any failure (error,
// when given, learns why).
bool AppendLine(const std::string& path, std::string_view bytes, IoError* error = nullptr);

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

}  // namespace qv::io

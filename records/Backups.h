#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "rulebook/Clock.h"
#include "text/FileIo.h"
#include "text/IoError.h"

// Earlier versions of the data files, kept in a folder beside them ("backup/"): before a
// file is replaced, the version being replaced gets a second name there,
// "<file name>.<YYYYMMDD-HHMMSS>.s<sequence>" in local time. The sequence counts up in
// the folder whatever the clock says, so versions are ordered by it; names without one
// ("<file>.<YYYYMMDD-HHMMSS>[-N]", from earlier versions of the program) are older than
// every name with one and are ordered by their time. A hard link is taken where
// possible: the atomic replacement leaves the old inode to the backup name alone, so
// even a large log costs nothing to keep. Where links are impossible the bytes are
// copied, with the group and mode of the file they keep.
//
// Only regular files with such a name, owned by this process's user or by the owner of
// the data file, are versions: links, folders, FIFOs and other people's files are never
// listed, restored or removed. A folder that is itself a symbolic link is not used.
//
// Rotation keeps the last 20 versions of each file and the newest of each day for the
// last 30 days, within a budget for the whole folder (by default the larger of 3 times
// the data files' size and 100 MB): beyond it, the oldest versions go first, but the
// newest 3 of each file always stay. When the disk runs out of space, the oldest
// versions go first in the same way.
class Backups {
public:
    static constexpr size_t kKeepLast = 20;
    static constexpr int kKeepDays = 30;
    static constexpr size_t kKeepAlways = 3;
    static constexpr std::int64_t kMinBudget = 100'000'000;
    static constexpr std::int64_t kBudgetTimes = 3;

    // The calls beyond the file-call seam, replaceable so tests can make them fail. The
    // names are relative to the open backup folder (dirfd), so a folder swapped for a
    // link meanwhile is never written through.
    struct Calls {
        int (*linkat)(int fromDir, const char* from, int toDir, const char* to, int flags);
        int (*unlinkat)(int dirfd, const char* name, int flags);
        int (*mkdir)(const char* path, mode_t mode);
    };
    static void SetCalls(const Calls* calls);  // nullptr: the real calls

    // folder empty: no backups are kept (Keep does nothing and reports Kept).
    Backups(std::string folder, qv::Clock clock = nullptr);
    const std::string& Folder() const { return folder_; }
    bool Enabled() const { return !folder_.empty(); }

    // The most the versions may take together, in bytes; 0 (the default) for the larger
    // of kBudgetTimes the data files' size and kMinBudget.
    void SetBudget(std::int64_t bytes) { budget_ = bytes; }

    enum class FolderState {
        Usable,     // a folder (or not there yet: it is made at the first backup)
        Link,       // a symbolic link: refused, nothing is kept, listed or removed there
        NotFolder,  // something else stands in its place
    };
    FolderState State() const;

    enum class Result {
        Kept,    // a version was kept (or there was nothing to keep)
        Failed,  // no backup could be made: the save goes on, the user is told
    };
    enum class Problem {
        None,
        FolderIsLink,  // the backup folder is a symbolic link
        NoSpace,       // the disk is full even after the oldest versions were removed
        Other,         // error tells
    };
    struct Keeping {
        Result result = Result::Kept;
        std::string name;     // the backup's file name, empty when nothing was kept
        bool linked = false;  // a hard link (else a copy)
        bool rotated = true;  // false: an old version that should go could not be removed
        Problem problem = Problem::None;
        qv::io::IoError error;  // the failed call, when problem is NoSpace or Other
    };
    // Keeps a copy of the file's present version now, then rotates that file's versions.
    // A missing file has nothing to keep. (A link is taken only by OnReplace: a link
    // taken now would make the next replacement rewrite the file in place, and the
    // backup with it.)
    Keeping Keep(const std::string& path) const;
    // Before a file is written where it stands (a mark set in place): a copy of its present
    // version, a reflink where the file system shares blocks, unless a version of that file
    // was kept today already. Never a hard link: it would change with the file.
    Keeping KeepBeforeInPlace(const std::string& path) const;

    // While it lives, the version of path that a replacement (qv::io::WriteFileAtomic)
    // is about to replace is kept: a hard link taken right before the rename, a copy
    // when the file is rewritten in place. Result tells how the last one went (Kept when
    // nothing was replaced). When the disk is too full for the replacement, the oldest
    // versions are removed first.
    class OnReplace;

    struct Version {
        std::string file;  // the data file's name, "test.log"
        std::string name;  // the backup's name, "test.log.20261210-044800.s12"
        qv::Seconds time = 0;
        std::int64_t size = 0;
        std::int64_t records = 0;   // lines with fields (the rule book's header not counted)
        std::int64_t sequence = 0;  // 0: a name from before sequences
    };
    // Every backup in the folder, newest first (none when the folder is a link).
    std::vector<Version> List() const;
    // Removes the versions of one file that rotation does not keep, then the oldest of
    // any file while the folder is over its budget; false when one of them could not be
    // removed (it stays, and the next rotation tries again) or the folder is a link.
    bool Rotate(const std::string& fileName) const;

    // A write beside the backups failed for want of space: removes the oldest versions
    // that may go (never the newest kKeepAlways of a file) until `needed` bytes are free
    // on the folder's disk. True when any was removed: the write may be tried once more.
    bool MakeRoom(std::int64_t needed) const;
    static bool IsNoSpace(int err);
    // Runs write (which fills its IoError on failure); when it fails for want of space
    // and room for `needed` bytes could be made, runs it once more.
    bool WithRoom(std::int64_t needed, const std::function<bool(qv::io::IoError*)>& write,
                  qv::io::IoError* error = nullptr) const;

    enum class RestoreResult {
        Restored,
        BackupUnreadable,  // nothing changed
        KeepFailed,        // the present version could not be kept first: nothing changed
        WriteFailed,       // the file is as it was
        FolderIsLink,      // the backup folder is a symbolic link: nothing changed
        NotAVersion,       // the name is no longer a version this program made: nothing changed
    };
    // Puts the version back over target (atomically), keeping the present version first.
    RestoreResult Restore(const Version& version, const std::string& target) const;
    // A version's bytes, read through the folder (never through a link); Restored when read.
    RestoreResult Read(const Version& version, std::string& bytes) const;

    // What putting a version of the log back over the log at logPath would change, by
    // sentence (a record's line, its mark left aside): `lost`, the present log's sentences
    // the version lacks, which disappear; `back`, the version's sentences the present log
    // lacks (deleted since), which return. known is false when either cannot be read.
    struct LogChange {
        bool known = false;
        std::int64_t lost = 0;
        std::int64_t back = 0;
    };
    LogChange CompareLog(const Version& version, const std::string& logPath) const;

    // How many records a file's bytes hold, as the list shows them.
    static std::int64_t CountRecords(const std::string& bytes);

    // A backup's name taken apart: "<file>.<YYYYMMDD-HHMMSS>" with "-N" (names from before
    // sequences) or ".s<sequence>" after it, and then ".<device>" where the folder keeps one
    // journal per computer. False for any other name (never touched).
    struct Name {
        std::string file;
        qv::Seconds time = 0;  // the stamp read as local time
        int serial = 1;
        std::int64_t sequence = 0;
        std::string device;  // the computer's tag without its "@"; empty in older names
    };
    static bool ParseName(std::string_view name, Name& out);
    // The name a version of file kept at time gets as the sequence-th of the folder; device
    // (a tag without its "@"), when given, keeps two computers' versions apart in a synced
    // folder, where each counts its own sequence.
    static std::string VersionName(const std::string& file, qv::Seconds time,
                                   std::int64_t sequence, std::string_view device = {});

private:
    static bool ParsePlainName(std::string_view name, Name& out);
    // Keeps the file real (the resolved data file) under a new name: a link, or a copy.
    Keeping KeepFile(const std::string& real, const std::string& file, bool copy) const;
    // Before a replacement of path: frees room for it when the disk is nearly full.
    void RoomBeforeReplacing(const std::string& path) const;

    std::string folder_;
    qv::Clock clock_;
    std::int64_t budget_ = 0;
};

class Backups::OnReplace {
public:
    // required: a version that cannot be kept stops the replacement.
    OnReplace(Backups backups, const std::string& path, bool required = false);
    // A link taken for a replacement that then failed names the live file itself: it goes,
    // so no version ever shares its inode with a file that may be written in place.
    ~OnReplace();
    OnReplace(const OnReplace&) = delete;
    OnReplace& operator=(const OnReplace&) = delete;
    const Keeping& Result() const { return keeping_; }
    bool Kept() const { return keeping_.result == Backups::Result::Kept; }

private:
    Backups backups_;
    std::string file_;
    Keeping keeping_;
    bool required_;
    std::string target_;  // the file the link was taken from
    qv::io::ReplaceWatch watch_;
};

#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "rulebook/Clock.h"
#include "text/FileIo.h"

// Earlier versions of the data files, kept in a folder beside them ("backup/"): before a
// file is replaced, the version being replaced gets a second name there,
// "<file name>.<YYYYMMDD-HHMMSS>" in local time ("-2", "-3" … when one second holds
// more). A hard link is taken where possible: the atomic replacement leaves the old
// inode to the backup name alone, so even a large log costs nothing to keep. Where links
// are impossible the bytes are copied. Rotation keeps the last 20 versions of each file
// and the newest of each day for the last 30 days; nothing else in the folder is touched.
class Backups {
public:
    static constexpr size_t kKeepLast = 20;
    static constexpr int kKeepDays = 30;

    // The calls beyond the file-call seam, replaceable so tests can make them fail.
    struct Calls {
        int (*link)(const char* from, const char* to);
        int (*unlink)(const char* path);
        int (*mkdir)(const char* path, mode_t mode);
    };
    static void SetCalls(const Calls* calls);  // nullptr: the real calls

    // folder empty: no backups are kept (Keep does nothing and reports Kept).
    Backups(std::string folder, qv::Clock clock = nullptr);
    const std::string& Folder() const { return folder_; }
    bool Enabled() const { return !folder_.empty(); }

    enum class Result {
        Kept,    // a version was kept (or there was nothing to keep)
        Failed,  // no backup could be made: the save goes on, the user is told
    };
    struct Keeping {
        Result result = Result::Kept;
        std::string name;     // the backup's file name, empty when nothing was kept
        bool linked = false;  // a hard link (else a copy)
        bool rotated = true;  // false: an old version that should go could not be removed
    };
    // Keeps a copy of the file's present version now, then rotates that file's versions.
    // A missing file has nothing to keep. (A link is taken only by OnReplace: a link
    // taken now would make the next replacement rewrite the file in place, and the
    // backup with it.)
    Keeping Keep(const std::string& path) const;

    // While it lives, the version of path that a replacement (qv::io::WriteFileAtomic)
    // is about to replace is kept: a hard link taken right before the rename, a copy
    // when the file is rewritten in place. Result tells how the last one went (Kept when
    // nothing was replaced).
    class OnReplace;

    struct Version {
        std::string file;  // the data file's name, "test.log"
        std::string name;  // the backup's name, "test.log.20261210-044800"
        qv::Seconds time = 0;
        std::int64_t size = 0;
        std::int64_t records = 0;  // lines with fields (the rule book's header not counted)
    };
    // Every backup in the folder, newest first.
    std::vector<Version> List() const;
    // Removes the versions of one file that rotation does not keep; false when one of
    // them could not be removed (it stays, and the next rotation tries again).
    bool Rotate(const std::string& fileName) const;

    enum class RestoreResult {
        Restored,
        BackupUnreadable,  // nothing changed
        KeepFailed,        // the present version could not be kept first: nothing changed
        WriteFailed,       // the file is as it was
    };
    // Puts the version back over target (atomically), keeping the present version first.
    RestoreResult Restore(const Version& version, const std::string& target) const;

    // How many records a file's bytes hold, as the list shows them.
    static std::int64_t CountRecords(const std::string& bytes);

private:
    // Keeps the file real (the resolved data file) under a new name: a link, or a copy.
    Keeping KeepFile(const std::string& real, const std::string& file, bool copy) const;

    std::string folder_;
    qv::Clock clock_;
};

class Backups::OnReplace {
public:
    // required: a version that cannot be kept stops the replacement.
    OnReplace(Backups backups, const std::string& path, bool required = false);
    const Keeping& Result() const { return keeping_; }
    bool Kept() const { return keeping_.result == Backups::Result::Kept; }

private:
    Backups backups_;
    std::string file_;
    Keeping keeping_;
    bool required_;
    qv::io::ReplaceWatch watch_;
};

#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qv::bench {

// A data folder as one in use for six years holds it: the sample rule book, a log of
// `records` decisions spread evenly over the six years, the verdict text of each in
// test.rsn, a ledger line for every balance change (credits, point reports now and
// then, a few deletes) ending at user.dat's balance, the trash of those deletes, and
// backup/ with versions of the log, the balance and the rule book as such use leaves
// them (a few of each; of the log no more than the backup budget holds). Every line is
// made by the program's own line writers from verdicts it composed, so the files read
// exactly as the program's own.
//
// The newest record is not executed and the one before it is, so a window's first two
// rows give an 執行 and an 未執行.
struct UsedFolder {
    std::string dir;
    std::int64_t records = 0;
    std::int64_t logBytes = 0;
    std::int64_t reasonsBytes = 0;
    std::int64_t ledgerBytes = 0;
    std::int64_t trashBytes = 0;
    std::int64_t backupBytes = 0;
    std::int64_t dataBytes = 0;  // test.dat + test.log + user.dat
    std::int64_t balance = 0;
};

// The folder of `records` records under root (root/<records>), made once: a finished
// folder carries a stamp and is reused as it is by later runs.
UsedFolder MakeUsedFolder(std::int64_t records, const std::string& root);
// The sizes of a made folder's files, read from the disk.
UsedFolder Measure(const std::string& dir, std::int64_t records);

// A copy of a folder that an action may change, put back as it was afterwards by copying
// again only what changed (a clone where the file system has them, else an in-kernel
// copy): an appended journal is cut back to its size, a replaced or rewritten file is
// copied anew, files the action added are removed.
class WorkCopy {
public:
    WorkCopy(std::string from, std::string to);
    WorkCopy(const WorkCopy&) = delete;
    WorkCopy& operator=(const WorkCopy&) = delete;
    const std::string& Dir() const { return to_; }
    std::string Path(const std::string& name) const { return to_ + "/" + name; }
    // Bytes copied to put the folder back.
    std::int64_t PutBack();
    // The files that differ from the folder copied (by name, size or bytes), or that one
    // of them lacks; empty when the copy is the folder again.
    std::vector<std::string> Differences() const;

private:
    struct Seen {
        ino_t ino = 0;
        off_t size = 0;
        std::int64_t mtimeNs = 0;
    };
    void CopyIn(const std::string& rel);
    std::string from_, to_;
    std::map<std::string, Seen> files_;  // by path relative to the folder
};

// Copies a file: a clone (FICLONE) where possible, else copy_file_range; the target is
// made anew. Returns the bytes copied (0 for a clone).
std::int64_t CopyFile(const std::string& from, const std::string& to);

// The sizes of the folder's files added up, each inode once (a hard link is one file).
std::int64_t FolderBytes(const std::string& dir);

}  // namespace qv::bench

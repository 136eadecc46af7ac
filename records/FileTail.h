#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "text/FileIo.h"
#include "text/LineWalk.h"

// Reading a file from where it is needed rather than whole: its lines from the last one
// backwards, and single lines at known offsets. The journals and the log are appended to
// in order, so what an action needs (the ledger's last figure, the newest decisions, the
// text of one sentence) sits at the end or can be searched for.
namespace qv::records {

// An open regular file, read with pread only.
class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // Missing, Empty, Ok, or Unreadable (error says why: a folder, a FIFO, no permission).
    qv::io::ReadStatus Open(const std::string& path, qv::io::IoError* error = nullptr);
    std::int64_t Size() const { return size_; }
    int Fd() const { return fd_; }
    // Bytes [offset, offset + n) clipped to the file; false on a read error.
    bool ReadAt(std::int64_t offset, size_t n, std::string& out) const;
    // The line that starts at offset, line end included (the rest of the file when no
    // line end follows within limit bytes); false on a read error.
    bool LineAt(std::int64_t offset, std::string& raw, size_t limit = 1 << 20) const;
    // The offset of the line that holds offset (just past the "\n" before it).
    bool LineStartBefore(std::int64_t offset, std::int64_t& start) const;

private:
    int fd_ = -1;
    std::int64_t size_ = 0;
};

// Calls visit(line, offset) for the lines of file from its last backwards (offset: where
// the line starts); the piece after the last line end comes first, not terminated.
// Stops when visit returns false. False on a read error.
bool ForEachLineBackward(const ReadOnlyFile& file,
                         const std::function<bool(const qv::Line&, std::int64_t)>& visit);

}  // namespace qv::records

#include "records/LineBlocks.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "records/FileTail.h"

namespace qv::records {

namespace {
// Large enough that a read costs little per line, small enough to stay in the cache.
constexpr size_t kBlock = 1 << 20;
}  // namespace

qv::io::ReadStatus ForEachLineInBlocks(const std::string& path,
                                       const std::function<void(const qv::Line&)>& visit,
                                       qv::io::IoError* error) {
    ReadOnlyFile file;
    const qv::io::ReadStatus status = file.Open(path, error);
    if (status != qv::io::ReadStatus::Ok) return status;
    size_t capacity = kBlock;
    // Not a std::string: its resize would clear every byte before each read.
    std::unique_ptr<char[]> buffer(new char[capacity]);
    size_t have = 0;        // bytes in buffer
    std::int64_t at = 0;    // file offset of buffer[have]
    for (;;) {
        if (have == capacity) {  // one line longer than the buffer: make room for it
            std::unique_ptr<char[]> wider(new char[capacity * 2]);
            std::memcpy(wider.get(), buffer.get(), have);
            buffer = std::move(wider);
            capacity *= 2;
        }
        const ssize_t got = ::pread(file.Fd(), buffer.get() + have, capacity - have, at);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            qv::io::Fail(error, qv::io::IoError::Op::Read, path, errno);
            return qv::io::ReadStatus::Unreadable;
        }
        if (got == 0) break;
        have += static_cast<size_t>(got);
        at += got;
        // The whole lines in the buffer; the piece after the last line end waits for more.
        const std::string_view data(buffer.get(), have);
        const size_t lastLf = data.rfind('\n');
        if (lastLf == std::string_view::npos) continue;
        qv::ForEachLine(data.substr(0, lastLf + 1), visit);
        have -= lastLf + 1;
        std::memmove(buffer.get(), buffer.get() + lastLf + 1, have);
    }
    if (have > 0) {
        const std::string_view rest(buffer.get(), have);
        visit(qv::Line{rest, rest, false});
    }
    return qv::io::ReadStatus::Ok;
}

}  // namespace qv::records

#include "records/FileTail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace qv::records {
namespace {
constexpr size_t kBlock = 64 * 1024;
}  // namespace

ReadOnlyFile::~ReadOnlyFile() {
    if (fd_ >= 0) ::close(fd_);
}

qv::io::ReadStatus ReadOnlyFile::Open(const std::string& path, qv::io::IoError* error) {
    using qv::io::ReadStatus;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            // A link to a missing file is no missing file.
            if (qv::io::Resolve(path).kind == qv::io::Target::Kind::Missing)
                return ReadStatus::Missing;
            qv::io::Fail(error, qv::io::IoError::Op::Open, path, ENOENT);
            return ReadStatus::Unreadable;
        }
        qv::io::Fail(error, qv::io::IoError::Op::Open, path, errno);
        return ReadStatus::Unreadable;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = S_ISREG(st.st_mode) ? errno : qv::io::IoError::kNotRegular;
        ::close(fd);
        qv::io::Fail(error, qv::io::IoError::Op::Open, path, err);
        return ReadStatus::Unreadable;
    }
    fd_ = fd;
    size_ = st.st_size;
    return size_ == 0 ? ReadStatus::Empty : ReadStatus::Ok;
}

bool ReadOnlyFile::ReadAt(std::int64_t offset, size_t n, std::string& out) const {
    out.clear();
    if (offset < 0 || offset >= size_) return true;
    if (static_cast<std::int64_t>(n) > size_ - offset) n = static_cast<size_t>(size_ - offset);
    out.resize(n);
    size_t got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd_, out.data() + got, n - got, offset + static_cast<off_t>(got));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) break;  // shorter than it was: what is there
        got += static_cast<size_t>(r);
    }
    out.resize(got);
    return true;
}

bool ReadOnlyFile::LineAt(std::int64_t offset, std::string& raw, size_t limit) const {
    raw.clear();
    std::string block;
    while (raw.size() < limit) {
        if (!ReadAt(offset + static_cast<std::int64_t>(raw.size()), 4096, block)) return false;
        if (block.empty()) return true;
        const size_t lf = block.find('\n');
        if (lf != std::string::npos) {
            raw.append(block, 0, lf + 1);
            return true;
        }
        raw += block;
    }
    return true;
}

bool ReadOnlyFile::LineStartBefore(std::int64_t offset, std::int64_t& start) const {
    std::string block;
    std::int64_t end = offset;
    while (end > 0) {
        const std::int64_t from = end > static_cast<std::int64_t>(kBlock / 16) ? end - kBlock / 16 : 0;
        if (!ReadAt(from, static_cast<size_t>(end - from), block)) return false;
        const size_t lf = block.rfind('\n');
        if (lf != std::string::npos) {
            start = from + static_cast<std::int64_t>(lf) + 1;
            return true;
        }
        end = from;
    }
    start = 0;
    return true;
}

bool ForEachLineBackward(const ReadOnlyFile& file,
                         const std::function<bool(const qv::Line&, std::int64_t)>& visit) {
    // The bytes [bufStart, end) read and not visited yet lie at held. A block read goes in
    // front of them in one buffer, left as read (no zero fill), and reused while it fits:
    // an action reads its stretch of the log or the ledger this way on every click. The
    // buffer stays with the thread for the next walk, whose pages then need no faulting
    // in again; a walk begun inside another's visit takes its own.
    thread_local std::unique_ptr<char[]> kept;
    thread_local size_t keptSize = 0;
    thread_local bool keptInUse = false;
    std::unique_ptr<char[]> room;
    size_t roomSize = 0;
    const bool borrowed = !keptInUse;
    if (borrowed) {
        room = std::move(kept);
        roomSize = keptSize;
        keptInUse = true;
    }
    struct GiveBack {
        std::unique_ptr<char[]>& room;
        size_t& roomSize;
        bool borrowed;
        ~GiveBack() {
            if (!borrowed) return;
            // A buffer grown for a very long line is not kept.
            if (roomSize <= 4 * kBlock) {
                kept = std::move(room);
                keptSize = roomSize;
            } else {
                kept.reset();
                keptSize = 0;
            }
            keptInUse = false;
        }
    } giveBack{room, roomSize, borrowed};
    const char* held = nullptr;
    std::int64_t bufStart = file.Size();
    std::int64_t end = file.Size();
    while (end > 0) {
        const std::string_view buf(held, static_cast<size_t>(end - bufStart));
        // The line that ends at end starts after the last "\n" before its own line end.
        const size_t own = buf.size();
        const size_t searchEnd = own > 0 && buf[own - 1] == '\n' ? own - 1 : own;
        const size_t lf = searchEnd == 0 ? std::string_view::npos : buf.rfind('\n', searchEnd - 1);
        if (lf != std::string_view::npos || bufStart == 0) {
            const size_t from = lf == std::string_view::npos ? 0 : lf + 1;
            const std::int64_t at = bufStart + static_cast<std::int64_t>(from);
            if (!visit(qv::LineOf(buf.substr(from)), at)) return true;
            end = at;
            continue;
        }
        const std::int64_t from =
            bufStart > static_cast<std::int64_t>(kBlock) ? bufStart - static_cast<std::int64_t>(kBlock) : 0;
        const size_t fresh = static_cast<size_t>(bufStart - from);
        if (fresh + own > roomSize) {
            // Room for the block, the line begun and the next line's start.
            const size_t size = fresh + own + kBlock / 16;
            auto bigger = std::make_unique_for_overwrite<char[]>(size);
            if (own > 0) std::memcpy(bigger.get() + fresh, held, own);
            room = std::move(bigger);
            roomSize = size;
        } else if (own > 0) {
            std::memmove(room.get() + fresh, held, own);
        }
        size_t got = 0;
        while (got < fresh) {
            const ssize_t r = ::pread(file.Fd(), room.get() + got, fresh - got,
                                      from + static_cast<off_t>(got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return false;  // a read error, or the file shrank
            got += static_cast<size_t>(r);
        }
        held = room.get();
        bufStart = from;
    }
    return true;
}

}  // namespace qv::records

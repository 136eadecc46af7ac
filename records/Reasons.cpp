#include "records/Reasons.h"

#include <algorithm>
#include <cerrno>
#include <optional>

#include "records/FileTail.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace {

// Calls visit(id, encoded) for every entry; encoded is the text with TABs for its CR LFs.
template <typename Visit>
qv::io::ReadStatus ForEachEntry(const std::string& path, qv::io::IoError* error, Visit&& visit) {
    std::string bytes;
    const qv::io::ReadStatus status = qv::io::ReadFile(path, bytes, qv::io::kWholeFile, error);
    if (status != qv::io::ReadStatus::Ok) return status;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        if (!line.terminated) return;
        const size_t tab = line.text.find('\t');
        if (tab == std::string_view::npos) return;
        visit(line.text.substr(0, tab), line.text.substr(tab + 1));
    });
    return status;
}

std::string Decode(std::string_view encoded) {
    std::string text;
    text.reserve(encoded.size() + 16);
    for (char c : encoded) {
        if (c == '\t')
            text += "\r\n";
        else
            text += c;
    }
    return text;
}

}  // namespace

SentenceReasons::Status SentenceReasons::Append(std::string_view id, std::string_view verdictText,
                                                qv::io::IoError* error) const {
    std::string line;
    if (!ToLine(id, verdictText, line)) return Status::Unkeepable;
    // Under the file's lock, as the log's own append.
    qv::io::FileLock lock;
    if (!lock.Acquire(path_)) {
        qv::io::Fail(error, qv::io::IoError::Op::Lock, path_, EWOULDBLOCK);
        return Status::WriteFailed;
    }
    return qv::io::AppendLine(path_, line, error) ? Status::Ok : Status::WriteFailed;
}

bool SentenceReasons::ToLine(std::string_view id, std::string_view verdictText, std::string& line) {
    if (id.find_first_of("\t\r\n") != std::string_view::npos) return false;
    line = std::string(id);
    line.reserve(id.size() + verdictText.size() + 4);
    line += '\t';
    for (size_t i = 0; i < verdictText.size(); ++i) {
        const char c = verdictText[i];
        if (c == '\t') return false;
        if (c == '\r' && i + 1 < verdictText.size() && verdictText[i + 1] == '\n') {
            line += '\t';
            ++i;
        } else if (c == '\n') {
            return false;
        } else {
            line += c;
        }
    }
    line += "\r\n";
    return true;
}

namespace {

// An entry's identifier read as the time it is: digits only (an optional "-"), at most 18.
std::optional<std::int64_t> TimeOf(std::string_view id) {
    const size_t digits = id.starts_with('-') ? 1 : 0;
    if (id.size() <= digits || id.size() - digits > 18 ||
        id.find_first_not_of("0123456789", digits) != std::string_view::npos)
        return std::nullopt;
    return qv::ReadInt64(id);
}

// How far around the place found the entries are read: disorder within it (a clock set
// back by a little) is still found.
constexpr std::int64_t kAround = 64 * 1024;

}  // namespace

qv::io::ReadStatus SentenceReasons::Find(std::string_view id, std::vector<std::string>& texts,
                                         qv::io::IoError* error) const {
    texts.clear();
    const std::optional<std::int64_t> target = TimeOf(id);
    if (target) {
        qv::records::ReadOnlyFile file;
        const qv::io::ReadStatus status = file.Open(path_, error);
        if (status != qv::io::ReadStatus::Ok) return status;
        const auto readFailed = [&] {
            qv::io::Fail(error, qv::io::IoError::Op::Read, path_, EIO);
            return qv::io::ReadStatus::Unreadable;
        };
        // The first line whose time is not below the target starts in [lo, hi]; lo is
        // always a line start.
        std::int64_t lo = 0, hi = file.Size();
        std::string raw;
        while (hi - lo > kAround) {
            const std::int64_t mid = lo + (hi - lo) / 2;
            std::int64_t start = 0;
            if (!file.LineStartBefore(mid, start)) return readFailed();
            if (start <= lo) {
                // mid is inside the line that starts at lo: look at the one after it.
                if (!file.LineAt(lo, raw)) return readFailed();
                start = lo + static_cast<std::int64_t>(raw.size());
                if (start >= hi) break;
            }
            // The first line from there that names a time (a line that is no entry, or an
            // edited one, says nothing about the order).
            std::optional<std::int64_t> time;
            std::int64_t next = start;
            for (int tries = 0; !time && tries < 64 && next < hi; ++tries) {
                if (!file.LineAt(next, raw)) return readFailed();
                if (raw.empty()) break;
                if (raw.ends_with('\n')) time = TimeOf(raw.substr(0, raw.find('\t')));
                next += static_cast<std::int64_t>(raw.size());
            }
            if (time && *time < *target)
                lo = next;
            else
                hi = start;
        }
        std::int64_t from = 0;
        if (!file.LineStartBefore(lo > kAround ? lo - kAround : 0, from)) return readFailed();
        // Read on until a stretch past the place found holds only later entries.
        std::int64_t at = from;
        std::int64_t until = hi + kAround;
        std::string block;
        while (at < file.Size() && at < until) {
            if (!file.ReadAt(at, static_cast<size_t>(kAround), block)) return readFailed();
            const size_t whole = block.rfind('\n');
            if (whole == std::string::npos) {
                // One line longer than the block: the rest of it at once.
                if (!file.LineAt(at, block, static_cast<size_t>(file.Size() - at))) return readFailed();
            } else {
                block.resize(whole + 1);
            }
            qv::ForEachLine(block, [&](const qv::Line& line) {
                if (!line.terminated) return;
                const size_t tab = line.text.find('\t');
                if (tab == std::string_view::npos) return;
                const std::string_view entryId = line.text.substr(0, tab);
                if (entryId == id) {
                    texts.push_back(Decode(line.text.substr(tab + 1)));
                    until = std::max(until, at + kAround);
                }
            });
            if (block.empty()) break;
            at += static_cast<std::int64_t>(block.size());
        }
        return status;
    }
    return ForEachEntry(path_, error, [&](std::string_view entryId, std::string_view encoded) {
        if (entryId == id) texts.push_back(Decode(encoded));
    });
}

qv::io::ReadStatus SentenceReasons::ReadAll(std::vector<Entry>& out, qv::io::IoError* error) const {
    out.clear();
    return ForEachEntry(path_, error, [&](std::string_view entryId, std::string_view encoded) {
        out.push_back({std::string(entryId), Decode(encoded)});
    });
}

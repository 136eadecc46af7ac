#include "records/SentenceLog.h"

#include <algorithm>

#include "text/Numbers.h"

namespace {

// Offsets of field f of line: [begin, end). begin == npos when the line has fewer fields.
std::pair<size_t, size_t> FieldBounds(std::string_view line, size_t f) {
    size_t begin = 0;
    for (size_t i = 0; i < f; ++i) {
        size_t tab = line.find('\t', begin);
        if (tab == std::string_view::npos) return {std::string_view::npos, 0};
        begin = tab + 1;
    }
    size_t end = line.find('\t', begin);
    return {begin, end == std::string_view::npos ? line.size() : end};
}

}  // namespace

std::string SentenceRecord::ToLine() const {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += '\t';
        line += fields[i];
    }
    line += "\r\n";
    return line;
}

std::string_view SentenceLog::Contents::FieldOf(std::string_view line, size_t f) {
    // A line without any TAB has no fields at all, as a split of it gives none.
    if (line.find('\t') == std::string_view::npos) return {};
    auto [begin, end] = FieldBounds(line, f);
    if (begin == std::string_view::npos) return {};
    return line.substr(begin, end - begin);
}

bool SentenceLog::IsRecord(const qv::Line& line) {
    return line.terminated && std::count(line.text.begin(), line.text.end(), '\t') >=
                                  static_cast<std::ptrdiff_t>(SentenceRecord::kFieldCount - 1);
}

qv::io::ReadStatus SentenceLog::Read(Contents& out) const {
    out.bytes_.clear();
    out.records_.clear();
    out.others_.clear();
    qv::io::ReadStatus status = qv::io::ReadFile(path_, out.bytes_);
    if (status != qv::io::ReadStatus::Ok) return status;
    const char* base = out.bytes_.data();
    out.records_.reserve(out.bytes_.size() / 64);
    qv::ForEachLine(out.bytes_, [&](const qv::Line& line) {
        if (IsRecord(line))
            out.records_.push_back(
                {static_cast<size_t>(line.text.data() - base), line.text.size()});
        else
            out.others_.push_back({static_cast<size_t>(line.raw.data() - base), line.raw.size()});
    });
    out.records_.shrink_to_fit();
    return status;
}

bool SentenceLog::Append(const SentenceRecord& record) const {
    qv::io::FileLock lock;
    return lock.Acquire(path_) && qv::io::AppendLine(path_, record.ToLine());
}

SentenceLog::Rewrite SentenceLog::RewriteBytes(std::string_view content, std::string_view id,
                                               Change change) {
    Rewrite r;
    r.read = qv::io::ReadStatus::Ok;
    // Room for a CR on every line that had a bare LF, so the output rarely moves.
    r.bytes.reserve(content.size() + content.size() / 32 + 16);
    const std::string_view flag = change == Change::MarkExecuted ? "1" : "0";
    qv::ForEachLine(content, [&](const qv::Line& line) {
        if (!IsRecord(line)) {
            r.bytes.append(line.raw);
            return;
        }
        std::string_view text = line.text;
        if (text.substr(0, text.find('\t')) != id) {
            r.bytes.append(text);
            r.bytes.append("\r\n");
            return;
        }
        ++r.matched;
        if (change == Change::Drop) {
            r.droppedPoints.push_back(
                qv::ReadInt64(Contents::FieldOf(text, SentenceRecord::kPoints)));
            return;
        }
        auto [begin, end] = FieldBounds(text, SentenceRecord::kExecuted);
        r.bytes.append(text.substr(0, begin));
        r.bytes.append(flag);
        r.bytes.append(text.substr(end));
        r.bytes.append("\r\n");
    });
    return r;
}

SentenceLog::Rewrite SentenceLog::Plan(std::string_view id, Change change) const {
    qv::io::FileLock lock;
    if (!lock.Acquire(path_)) {
        Rewrite r;
        r.read = qv::io::ReadStatus::Unreadable;
        r.busy = true;
        return r;
    }
    std::string bytes;
    const qv::io::ReadStatus status = qv::io::ReadFile(path_, bytes);
    if (status != qv::io::ReadStatus::Ok) {
        Rewrite r;
        r.read = status;
        r.lock = std::move(lock);
        return r;
    }
    Rewrite r = RewriteBytes(bytes, id, change);
    r.lock = std::move(lock);
    return r;
}

SentenceLog::Rewrite SentenceLog::PlanMark(std::string_view id, bool executed) const {
    return Plan(id, executed ? Change::MarkExecuted : Change::MarkNotExecuted);
}

SentenceLog::Rewrite SentenceLog::PlanDelete(std::string_view id) const {
    return Plan(id, Change::Drop);
}

bool SentenceLog::Write(const Rewrite& rewrite) const {
    if (rewrite.read != qv::io::ReadStatus::Ok) return false;
    qv::io::FileLock lock;  // already held when the rewrite was planned here
    return lock.Acquire(path_) && qv::io::WriteFileAtomic(path_, rewrite.bytes);
}

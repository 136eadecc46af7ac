#include "records/SentenceLog.h"

#include <algorithm>
#include <cerrno>

#include "text/Numbers.h"

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
    return qv::FieldAt(line, f).value_or(std::string_view());
}

bool SentenceLog::IsRecord(const qv::Line& line) {
    return line.terminated && std::count(line.text.begin(), line.text.end(), '\t') >=
                                  static_cast<std::ptrdiff_t>(SentenceRecord::kFieldCount - 1);
}

bool SentenceLog::Contents::StillMatches(const std::string& path) const {
    return stamp_.Known() && qv::io::StampOf(path) == stamp_;
}

void SentenceLog::Contents::Index() {
    records_.clear();
    others_.clear();
    // Room for records of 40 bytes and more, which is what the program writes; the pages
    // of room a log of longer lines leaves unused are never touched.
    records_.reserve(bytes_.size() / 40 + 1);
    const char* base = bytes_.data();
    qv::ForEachLine(bytes_, [&](const qv::Line& line) {
        if (IsRecord(line))
            records_.push_back({static_cast<size_t>(line.text.data() - base), line.text.size()});
        else
            others_.push_back({static_cast<size_t>(line.raw.data() - base), line.raw.size()});
    });
}

qv::io::ReadStatus SentenceLog::Read(Contents& out, qv::io::IoError* error) const {
    out.bytes_.clear();
    out.records_.clear();
    out.others_.clear();
    // The stamp before and after the read: when they differ the file changed while it
    // was read, and the copy is never trusted.
    const qv::io::FileStamp before = qv::io::StampOf(path_);
    qv::io::ReadStatus status = qv::io::ReadFile(path_, out.bytes_, qv::io::kWholeFile, error);
    if (status != qv::io::ReadStatus::Ok) {
        out.stamp_ = {};
        return status;
    }
    const qv::io::FileStamp after = qv::io::StampOf(path_);
    out.stamp_ = before == after && after.size == static_cast<std::int64_t>(out.bytes_.size())
                     ? after
                     : qv::io::FileStamp{};
    out.Index();
    return status;
}

bool SentenceLog::Append(const SentenceRecord& record, qv::io::IoError* error) const {
    qv::io::FileLock lock;
    if (!lock.Acquire(path_))
        return qv::io::Fail(error, qv::io::IoError::Op::Lock, path_, EWOULDBLOCK);
    return qv::io::AppendLine(path_, record.ToLine(), error);
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
        // A record has all 11 fields, so the mark is there to replace.
        const std::string_view mark = *qv::FieldAt(text, SentenceRecord::kExecuted);
        const size_t begin = static_cast<size_t>(mark.data() - text.data());
        r.bytes.append(text.substr(0, begin));
        r.bytes.append(flag);
        r.bytes.append(text.substr(begin + mark.size()));
        r.bytes.append("\r\n");
    });
    return r;
}

SentenceLog::Rewrite SentenceLog::Plan(std::string_view id, Change change,
                                       const Contents* copy) const {
    // Held from the read to the write, so no other program's rewrite falls in between.
    qv::io::FileLock lock;
    if (!lock.Acquire(path_)) {
        Rewrite r;
        r.read = qv::io::ReadStatus::Unreadable;
        r.busy = true;
        qv::io::Fail(&r.error, qv::io::IoError::Op::Lock, path_, EWOULDBLOCK);
        return r;
    }
    Rewrite r;
    if (copy != nullptr && copy->StillMatches(path_)) {
        r = RewriteBytes(copy->Bytes(), id, change);
    } else {
        std::string bytes;
        r.read = qv::io::ReadFile(path_, bytes, qv::io::kWholeFile, &r.error);
        if (r.read == qv::io::ReadStatus::Ok) r = RewriteBytes(bytes, id, change);
    }
    r.lock = std::move(lock);
    return r;
}

SentenceLog::Rewrite SentenceLog::PlanMark(std::string_view id, bool executed,
                                           const Contents* copy) const {
    return Plan(id, executed ? Change::MarkExecuted : Change::MarkNotExecuted, copy);
}

SentenceLog::Rewrite SentenceLog::PlanDelete(std::string_view id) const {
    return Plan(id, Change::Drop, nullptr);
}

bool SentenceLog::Write(const Rewrite& rewrite, qv::io::IoError* error) const {
    if (rewrite.read != qv::io::ReadStatus::Ok) {
        if (error != nullptr) *error = rewrite.error;
        return false;
    }
    qv::io::FileLock lock;  // already held when the rewrite was planned here
    if (!lock.Acquire(path_))
        return qv::io::Fail(error, qv::io::IoError::Op::Lock, path_, EWOULDBLOCK);
    return qv::io::WriteFileAtomic(path_, rewrite.bytes, error);
}

bool SentenceLog::WriteKeeping(Rewrite&& rewrite, Contents& kept, qv::io::IoError* error) const {
    if (!Write(rewrite, error)) return false;
    kept.bytes_ = std::move(rewrite.bytes);
    kept.stamp_ = qv::io::StampOf(path_);
    if (kept.stamp_.size != static_cast<std::int64_t>(kept.bytes_.size())) kept.stamp_ = {};
    kept.Index();
    return true;
}

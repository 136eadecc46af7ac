#include "records/SentenceLog.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>

#include "records/FileTail.h"
#include "records/LogScan.h"
#include "text/FilePieces.h"
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

std::uint32_t SentenceLog::Contents::IdKey(std::string_view id) {
    // The first and the last 8 bytes and the length: identifiers are decision times, which
    // differ in their last digits.
    std::uint64_t head = 0, tail = 0;
    const size_t n = id.size() < 8 ? id.size() : 8;
    std::memcpy(&head, id.data(), n);
    std::memcpy(&tail, id.data() + id.size() - n, n);
    std::uint64_t h = (head * 0x9E3779B97F4A7C15ull) ^ (tail + id.size()) * 0xC2B2AE3D27D4EB4Full;
    return static_cast<std::uint32_t>(h >> 32) ^ static_cast<std::uint32_t>(h);
}

std::vector<size_t> SentenceLog::Contents::RecordsCarrying(std::string_view id) const {
    std::vector<size_t> found;
    if (id.find('\t') != std::string_view::npos) return found;
    const std::uint32_t key = IdKey(id);
    for (size_t i = 0; i < idKeys_.size(); ++i) {
        if (idKeys_[i] != key) continue;
        const std::string_view text = Record(i);
        // A record has a TAB after its identifier, so this is "field 0 is id".
        if (text.size() > id.size() && text[id.size()] == '\t' &&
            std::memcmp(text.data(), id.data(), id.size()) == 0)
            found.push_back(i);
    }
    return found;
}

std::string_view SentenceLog::Contents::ViewIn(std::string_view all, Span s, bool record) {
    if (s.size != kLong) return all.substr(s.begin, s.size);
    // A line of 4 GiB or more: its end is looked for. A record's text stops before its
    // line end; any other line keeps it.
    const size_t lf = all.find('\n', s.begin);
    if (lf == std::string_view::npos) return all.substr(s.begin);
    if (!record) return all.substr(s.begin, lf + 1 - s.begin);
    const size_t end = lf > s.begin && all[lf - 1] == '\r' ? lf - 1 : lf;
    return all.substr(s.begin, end - s.begin);
}

void SentenceLog::Contents::Clear() {
    bytes_.Clear();
    records_.clear();
    idKeys_.clear();
    others_.clear();
    damage_ = {};
    unmarked_ = {true, 0, 0};
    bareLfRecords_ = 0;
    stamp_ = {};
}

void SentenceLog::Contents::Index() {
    records_.clear();
    idKeys_.clear();
    others_.clear();
    damage_ = {};
    unmarked_ = {true, 0, 0};
    bareLfRecords_ = 0;
    // Room for records of 40 bytes and more, which is what the program writes; the pages
    // of room a log of longer lines leaves unused are never touched.
    records_.reserve(bytes_.size() / 40 + 1);
    idKeys_.reserve(bytes_.size() / 40 + 1);
    LogScan(*this).Finish(bytes_.View());
}

qv::io::ReadStatus SentenceLog::Read(Contents& out, qv::io::IoError* error) const {
    out.Clear();
    // The stamp before and after the read: when they differ the file changed while it
    // was read, and the copy is never trusted.
    const qv::io::FileStamp before = qv::io::StampOf(path_);
    if (before.size > 0) {
        out.records_.reserve(static_cast<size_t>(before.size) / 40 + 1);
        out.idKeys_.reserve(static_cast<size_t>(before.size) / 40 + 1);
    }
    // The lines are sorted as the file comes in, while each piece is still in the cache.
    LogScan scan(out);
    qv::io::FileBuffer bytes;
    qv::io::ReadStatus status = qv::io::ReadFile(
        path_, bytes, error, [&](std::string_view readSoFar) { scan.Feed(readSoFar); });
    if (status != qv::io::ReadStatus::Ok) {
        out.Clear();
        return status;
    }
    if (bytes.size() >= Contents::kMaxBytes) {
        out.Clear();
        qv::io::Fail(error, qv::io::IoError::Op::Read, path_, EFBIG);
        return qv::io::ReadStatus::Unreadable;
    }
    out.bytes_ = std::move(bytes);
    scan.Finish(out.bytes_.View());
    const qv::io::FileStamp after = qv::io::StampOf(path_);
    out.stamp_ = before == after && after.size == static_cast<std::int64_t>(out.bytes_.size())
                     ? after
                     : qv::io::FileStamp{};
    return status;
}

qv::io::ReadStatus SentenceLog::ForEachRecordInPieces(
    const std::function<void(std::string_view, std::uint32_t)>& visit, Contents::Damage& damage,
    qv::io::FileStamp& stamp, qv::io::IoError* error) const {
    damage = {};
    stamp = {};
    const qv::io::FileStamp before = qv::io::StampOf(path_);
    // Small enough to stay in the cache while its lines are sorted and visited.
    constexpr size_t kPiece = size_t{256} << 10;
    Contents piece;        // the lines of one piece, sorted as Read sorts the whole file
    std::uint64_t total = 0;
    const auto sort = [&](std::string_view lines) {
        piece.Clear();
        LogScan(piece).Finish(lines);
        for (const Contents::Span& s : piece.records_)
            visit(Contents::ViewIn(lines, s, true), s.article);
        damage.unreadLines += piece.damage_.unreadLines;
        damage.crOnlyLines += piece.damage_.crOnlyLines;
        damage.badTimes += piece.damage_.badTimes;
        damage.gluedLines += piece.damage_.gluedLines;
    };
    const qv::io::ReadStatus status = qv::io::ReadLinesInPieces(
        path_, kPiece,
        [&](std::string_view lines) {
            total += lines.size();
            sort(lines);
        },
        error);
    if (status != qv::io::ReadStatus::Ok) {
        damage = {};
        return status;
    }
    if (total >= Contents::kMaxBytes) {
        damage = {};
        qv::io::Fail(error, qv::io::IoError::Op::Read, path_, EFBIG);
        return qv::io::ReadStatus::Unreadable;
    }
    const qv::io::FileStamp after = qv::io::StampOf(path_);
    if (before == after && after.size == static_cast<std::int64_t>(total)) stamp = after;
    return status;
}

namespace {
// A decision time written as the program writes it (digits, an optional "-").
std::optional<std::int64_t> PlainTime(std::string_view text) {
    const size_t digits = text.starts_with('-') ? 1 : 0;
    if (text.size() <= digits || text.size() - digits > 18 ||
        text.find_first_not_of("0123456789", digits) != std::string_view::npos)
        return std::nullopt;
    return qv::ReadInt64(text);
}
}  // namespace

qv::io::ReadStatus SentenceLog::FreeSecond(std::int64_t& t, std::int64_t& size,
                                           qv::io::IoError* error) const {
    size = 0;
    qv::records::ReadOnlyFile file;
    const qv::io::ReadStatus status = file.Open(path_, error);
    if (status != qv::io::ReadStatus::Ok) return status;
    size = file.Size();
    // The identifiers of the newest records, back past the first one decided before t and
    // at least a stretch of the file: out of order within it (a clock set back among the
    // newest records) onto t or later, every record is looked at.
    constexpr std::int64_t kStretch = 64 * 1024;
    std::vector<std::string> taken;
    bool everyRecord = false, newest = true;
    std::int64_t earliestAfter = std::numeric_limits<std::int64_t>::max();
    const bool read = qv::records::ForEachLineBackward(file, [&](const qv::Line& line, std::int64_t at) {
        if (!IsRecord(line)) return true;
        const std::string_view id = line.text.substr(0, line.text.find('\t'));
        const std::optional<std::int64_t> time = PlainTime(id);
        if (!time) {
            taken.emplace_back(id);
            return true;
        }
        if ((newest && *time > t) || (*time > earliestAfter && *time >= t)) {
            everyRecord = true;
            return false;
        }
        newest = false;
        earliestAfter = std::min(earliestAfter, *time);
        if (*time >= t) taken.emplace_back(id);
        return !(*time < t && size - at >= kStretch);
    });
    if (!read) {
        qv::io::Fail(error, qv::io::IoError::Op::Read, path_, EIO);
        return qv::io::ReadStatus::Unreadable;
    }
    if (everyRecord) {
        std::string bytes;
        const qv::io::ReadStatus all = qv::io::ReadFile(path_, bytes, qv::io::kWholeFile, error);
        if (all == qv::io::ReadStatus::Unreadable) return all;
        size = static_cast<std::int64_t>(bytes.size());
        while (qv::records::HasRecord(bytes, qv::Decimal(t)) &&
               t < std::numeric_limits<std::int64_t>::max())
            ++t;
        return all;
    }
    const auto carried = [&](std::int64_t s) {
        return std::find(taken.begin(), taken.end(), qv::Decimal(s)) != taken.end();
    };
    while (carried(t) && t < std::numeric_limits<std::int64_t>::max()) ++t;
    return status;
}

bool SentenceLog::Append(const SentenceRecord& record, qv::io::IoError* error) const {
    qv::io::FileLock lock;
    if (!lock.Acquire(path_))
        return qv::io::Fail(error, qv::io::IoError::Op::Lock, path_, EWOULDBLOCK);
    return qv::io::AppendLine(path_, record.ToLine(), error);
}

SentenceLog::Rewrite SentenceLog::RewriteBytes(std::string_view content, std::string_view id,
                                               Change change, size_t which) {
    size_t carrying = 0;
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
        if (text.substr(0, text.find('\t')) != id ||
            (which != qv::records::kEveryRecord && carrying++ != which)) {
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
    if (change == Change::Drop && r.matched > 0) r.cuts = qv::records::CutsOf(content, id, which);
    return r;
}

SentenceLog::Rewrite SentenceLog::Plan(std::string_view id, Change change, const Contents* copy,
                                       size_t which) const {
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
        if (!(change == Change::Drop ? PlanDropIn(*copy, id, which, r)
                                     : PlanInPlace(*copy, id, change, which, r)))
            r = RewriteBytes(copy->Bytes(), id, change, which);
    } else {
        std::string bytes;
        r.read = qv::io::ReadFile(path_, bytes, qv::io::kWholeFile, &r.error);
        if (r.read == qv::io::ReadStatus::Ok) r = RewriteBytes(bytes, id, change, which);
    }
    r.lock = std::move(lock);
    return r;
}

bool SentenceLog::PlanInPlace(const Contents& copy, std::string_view id, Change change,
                              size_t which, Rewrite& r) {
    // Every byte but the marks stays only when no record gains a CR and no mark changes
    // its length; an identifier with a TAB matches no record.
    if (change == Change::Drop || copy.bareLfRecords_ > 0 ||
        id.find('\t') != std::string_view::npos)
        return false;
    std::vector<size_t> marks;
    size_t carrying = 0;
    for (const size_t i : copy.RecordsCarrying(id)) {
        const std::string_view text = copy.Record(i);
        if (which != qv::records::kEveryRecord && carrying++ != which) continue;
        const std::string_view mark = *qv::FieldAt(text, SentenceRecord::kExecuted);
        if (mark.size() != 1) return false;
        marks.push_back(static_cast<size_t>(mark.data() - copy.Bytes().data()));
    }
    r = Rewrite{};
    r.read = qv::io::ReadStatus::Ok;
    r.matched = marks.size();
    r.source = &copy;
    r.marks = std::move(marks);
    r.flag = change == Change::MarkExecuted ? '1' : '0';
    return true;
}

bool SentenceLog::PlanDropIn(const Contents& copy, std::string_view id, size_t which,
                             Rewrite& r) {
    // Every other line is written back as it stands only when each record already ends
    // with CR LF; an identifier with a TAB matches no record.
    if (copy.bareLfRecords_ > 0 || id.find('\t') != std::string_view::npos) return false;
    std::vector<size_t> dropped = copy.RecordsCarrying(id);
    if (which != qv::records::kEveryRecord) {
        if (which < dropped.size())
            dropped = {dropped[which]};
        else
            dropped.clear();
    }
    r = Rewrite{};
    r.read = qv::io::ReadStatus::Ok;
    r.matched = dropped.size();
    for (const size_t i : dropped)
        r.droppedPoints.push_back(qv::ReadInt64(copy.Field(i, SentenceRecord::kPoints)));
    r.cuts = CutsIn(copy, dropped);
    r.source = &copy;
    r.dropped = std::move(dropped);
    return true;
}

namespace {

std::string_view FirstFieldOf(std::string_view text) { return text.substr(0, text.find('\t')); }

}  // namespace

std::vector<size_t> SentenceLog::Contents::LinesCarrying(std::string_view first) const {
    std::vector<size_t> at;
    for (const size_t i : RecordsCarrying(first)) at.push_back(RecordBegin(i));
    for (size_t j = 0; j < others_.size(); ++j)
        if (FirstFieldOf(qv::LineOf(OtherLine(j)).text) == first) at.push_back(others_[j].begin);
    std::sort(at.begin(), at.end());
    return at;
}

std::vector<qv::records::CutRecord> SentenceLog::CutsIn(const Contents& copy,
                                                        std::span<const size_t> dropped) {
    std::vector<qv::records::CutRecord> cuts;
    const std::string_view all = copy.Bytes();
    const auto othersBefore = [&](size_t offset) {
        return static_cast<size_t>(
            std::partition_point(copy.others_.begin(), copy.others_.end(),
                                 [&](const Contents::Span& o) { return o.begin < offset; }) -
            copy.others_.begin());
    };
    std::vector<size_t> droppedAt;  // where the dropped lines start, in file order
    for (const size_t i : dropped) droppedAt.push_back(copy.RecordBegin(i));
    for (size_t k = 0; k < dropped.size();) {
        // A run of records with no line left between them waits for the same line.
        size_t last = k;
        size_t after = 0;  // just past the run's last line
        for (;;) {
            const size_t i = dropped[last];
            after = copy.RecordEnd(i);
            if (last + 1 < dropped.size() && dropped[last + 1] == i + 1 &&
                copy.RecordBegin(i + 1) == after) {
                ++last;
                continue;
            }
            break;
        }
        const bool followed = after < all.size();
        std::string anchor;
        std::int64_t nth = 0;
        if (followed) {
            const size_t o = othersBefore(after);
            const std::string_view text = o < copy.others_.size() && copy.others_[o].begin == after
                                              ? qv::LineOf(copy.OtherLine(o)).text
                                              : copy.Record(copy.RecordsBefore(after));
            anchor = std::string(FirstFieldOf(text));
            // The lines that stay, up to and including that one, carrying the same field.
            for (const size_t at : copy.LinesCarrying(anchor))
                if (at <= after && !std::binary_search(droppedAt.begin(), droppedAt.end(), at))
                    ++nth;
        }
        for (size_t m = k; m <= last; ++m) {
            const size_t i = dropped[m];
            qv::records::CutRecord cut;
            cut.line = std::string(copy.Record(i));
            cut.points = qv::ReadInt64(copy.Field(i, SentenceRecord::kPoints));
            cut.anchor = anchor;
            // Not followed: the line number it stood at.
            cut.nth = followed ? nth
                               : static_cast<std::int64_t>(i + othersBefore(copy.RecordBegin(i)));
            cuts.push_back(std::move(cut));
        }
        k = last + 1;
    }
    return cuts;
}

bool SentenceLog::InsertionsIn(const Contents& copy,
                               std::span<const qv::records::CutRecord> records,
                               std::vector<Contents::Insertion>& out) {
    out.clear();
    if (copy.bareLfRecords_ > 0) return false;
    const std::string_view all = copy.Bytes();
    for (const qv::records::CutRecord& r : records) {
        // Each goes back as one record line; and no anchor is counted among lines put back.
        if (r.line.find('\n') != std::string::npos ||
            static_cast<size_t>(std::count(r.line.begin(), r.line.end(), '\t')) <
                SentenceRecord::kFieldCount - 1)
            return false;
        for (const qv::records::CutRecord& q : records)
            if (!r.anchor.empty() && FirstFieldOf(q.line) == r.anchor) return false;
    }
    const std::int64_t lines = static_cast<std::int64_t>(copy.RecordCount() + copy.OtherLineCount());
    std::int64_t inserted = 0;
    for (const qv::records::CutRecord& r : records) {
        std::string line = r.line + "\r\n";
        if (r.anchor.empty()) {
            // At its line number when that is still there; at the end only here.
            if (r.nth >= 0 && r.nth < lines + inserted) return false;
            if (!all.empty() && all.back() != '\n') return false;  // the last line gets its end
            out.push_back({all.size(), std::move(line)});
        } else {
            const std::vector<size_t> at = copy.LinesCarrying(r.anchor);
            // An anchor gone puts the record back by its time, which takes a walk.
            if (r.nth <= 0 || static_cast<std::uint64_t>(r.nth) > at.size()) return false;
            out.push_back({at[static_cast<size_t>(r.nth - 1)], std::move(line)});
        }
        ++inserted;
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const Contents::Insertion& a, const Contents::Insertion& b) { return a.at < b.at; });
    return true;
}

std::vector<std::string_view> SentenceLog::Pieces(const Contents& copy,
                                                  std::span<const Contents::Insertion> insertions) {
    std::vector<std::string_view> pieces;
    const std::string_view all = copy.Bytes();
    size_t from = 0;
    for (const Contents::Insertion& in : insertions) {
        if (in.at > from) pieces.push_back(all.substr(from, in.at - from));
        from = std::max(from, in.at);
        pieces.push_back(in.bytes);
    }
    pieces.push_back(all.substr(from));
    return pieces;
}

std::vector<std::string_view> SentenceLog::Pieces(const Rewrite& r) {
    std::vector<std::string_view> pieces;
    const std::string_view all = r.source->Bytes();
    size_t from = 0;
    for (const size_t i : r.dropped) {
        const size_t begin = r.source->RecordBegin(i);
        pieces.push_back(all.substr(from, begin - from));
        from = r.source->RecordEnd(i);
    }
    pieces.push_back(all.substr(from));
    return pieces;
}

std::string SentenceLog::Materialize(const Rewrite& r) {
    if (!r.dropped.empty()) {
        std::string bytes;
        for (std::string_view piece : Pieces(r)) bytes.append(piece);
        return bytes;
    }
    std::string bytes(r.source->Bytes());
    for (size_t at : r.marks) bytes[at] = r.flag;
    return bytes;
}

bool SentenceLog::MarkBytes(const Contents& copy, std::string_view id, bool executed, size_t which,
                            std::vector<IntentEntry::Byte>& bytes, size_t& matched) {
    bytes.clear();
    matched = 0;
    Rewrite r;
    const Change change = executed ? Change::MarkExecuted : Change::MarkNotExecuted;
    if (!PlanInPlace(copy, id, change, which, r)) {
        // Counted all the same, so the caller knows whether there is anything to mark.
        matched = RewriteBytes(copy.Bytes(), id, change, which).matched;
        return false;
    }
    matched = r.matched;
    for (size_t at : r.marks) {
        const auto before = static_cast<unsigned char>(copy.Bytes()[at]);
        if (before != static_cast<unsigned char>(r.flag))
            bytes.push_back({static_cast<std::int64_t>(at), before, static_cast<unsigned char>(r.flag)});
    }
    return true;
}

std::vector<std::string> SentenceLog::MarksIn(const Contents& copy, std::string_view id) {
    std::vector<std::string> flags;
    for (const size_t i : copy.RecordsCarrying(id))
        flags.emplace_back(Contents::FieldOf(copy.Record(i), SentenceRecord::kExecuted));
    return flags;
}

qv::io::ReadStatus SentenceLog::ReadMarks(std::string_view id,
                                          const std::vector<IntentEntry::Byte>& bytes,
                                          std::vector<int>& now, std::int64_t& size,
                                          qv::io::IoError* error) const {
    now.assign(bytes.size(), -1);
    size = 0;
    qv::records::ReadOnlyFile file;
    const qv::io::ReadStatus status = file.Open(path_, error);
    if (status != qv::io::ReadStatus::Ok) return status;
    size = file.Size();
    std::string raw;
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::int64_t start = 0;
        if (!file.LineStartBefore(bytes[i].offset, start) || !file.LineAt(start, raw)) {
            qv::io::Fail(error, qv::io::IoError::Op::Read, path_, EIO);
            return qv::io::ReadStatus::Unreadable;
        }
        const qv::Line line = [&] {
            std::string_view text = raw;
            const bool terminated = text.ends_with('\n');
            if (terminated) text.remove_suffix(1);
            if (terminated && text.ends_with('\r')) text.remove_suffix(1);
            return qv::Line{text, raw, terminated};
        }();
        if (!IsRecord(line) || line.text.substr(0, line.text.find('\t')) != id) continue;
        const std::string_view mark = *qv::FieldAt(line.text, SentenceRecord::kExecuted);
        if (mark.size() != 1 ||
            start + (mark.data() - line.text.data()) != bytes[i].offset)
            continue;
        now[i] = static_cast<unsigned char>(mark[0]);
    }
    return status;
}

void SentenceLog::SetInCopy(Contents& copy, const std::vector<IntentEntry::Byte>& bytes,
                            bool undone) const {
    char* data = copy.bytes_.data();
    copy.unmarked_.known = false;
    for (const IntentEntry::Byte& b : bytes)
        if (b.offset >= 0 && static_cast<size_t>(b.offset) < copy.bytes_.size())
            data[b.offset] = static_cast<char>(undone ? b.before : b.after);
    copy.stamp_ = qv::io::StampOf(path_);
    if (copy.stamp_.size != static_cast<std::int64_t>(copy.bytes_.size())) copy.stamp_ = {};
}

SentenceLog::Rewrite SentenceLog::PlanMark(std::string_view id, bool executed,
                                           const Contents* copy, size_t which) const {
    return Plan(id, executed ? Change::MarkExecuted : Change::MarkNotExecuted, copy, which);
}

SentenceLog::Rewrite SentenceLog::PlanDelete(std::string_view id, size_t which,
                                             const Contents* copy) const {
    return Plan(id, Change::Drop, copy, which);
}

bool SentenceLog::Write(const Rewrite& rewrite, qv::io::IoError* error) const {
    if (!rewrite.dropped.empty()) return WriteLocked(rewrite, Pieces(rewrite), error);
    if (rewrite.source != nullptr) return WriteLocked(rewrite, Materialize(rewrite), error);
    return WriteLocked(rewrite, rewrite.bytes, error);
}

bool SentenceLog::WriteLocked(const Rewrite& rewrite, std::span<const std::string_view> bytes,
                              qv::io::IoError* error) const {
    if (rewrite.read != qv::io::ReadStatus::Ok) {
        if (error != nullptr) *error = rewrite.error;
        return false;
    }
    qv::io::FileLock lock;  // already held when the rewrite was planned here
    if (!lock.Acquire(path_))
        return qv::io::Fail(error, qv::io::IoError::Op::Lock, path_, EWOULDBLOCK);
    return qv::io::WriteFileAtomic(path_, bytes, error);
}

bool SentenceLog::WriteKeeping(Rewrite&& rewrite, Contents& kept, qv::io::IoError* error) const {
    if (rewrite.source == &kept && rewrite.dropped.empty()) {
        // The marks are set in the copy itself, written from there, and set back when the
        // write fails; every line stays where it was, so the index does too.
        char* bytes = kept.bytes_.data();
        kept.unmarked_.known = false;
        std::string old;
        old.reserve(rewrite.marks.size());
        for (size_t at : rewrite.marks) {
            old += bytes[at];
            bytes[at] = rewrite.flag;
        }
        if (!WriteLocked(rewrite, kept.Bytes(), error)) {
            for (size_t i = 0; i < rewrite.marks.size(); ++i) bytes[rewrite.marks[i]] = old[i];
            return false;
        }
    } else {
        std::string bytes =
            rewrite.source != nullptr ? Materialize(rewrite) : std::move(rewrite.bytes);
        if (!WriteLocked(rewrite, bytes, error)) return false;
        kept.Clear();
        kept.bytes_ = qv::io::FileBuffer(std::move(bytes));
        kept.Index();
    }
    kept.stamp_ = qv::io::StampOf(path_);
    if (kept.stamp_.size != static_cast<std::int64_t>(kept.bytes_.size())) kept.stamp_ = {};
    return true;
}

#include "records/Trash.h"

#include <algorithm>
#include <cerrno>

#include "text/KxString.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace {

constexpr size_t kHeadFields = 6;  // the fields before the payload

bool WholeNumber(std::string_view text, std::int64_t& out) {
    size_t i = (!text.empty() && text[0] == '-') ? 1 : 0;
    if (i == text.size() || text.size() - i > 18) return false;
    for (size_t k = i; k < text.size(); ++k)
        if (text[k] < '0' || text[k] > '9') return false;
    out = qv::ReadInt64(text);
    return true;
}

}  // namespace

std::string Trash::ToLine(const Entry& e) {
    std::string line = qv::Decimal(e.serial);
    line += e.kind == Kind::LogRecord ? "\tlog\t" : "\trule\t";
    line += qv::Decimal(e.deletedAt) + '\t' + qv::Decimal(e.points) + '\t' + e.anchor + '\t' +
            qv::Decimal(e.nth) + '\t';
    line += e.payload;
    line += "\r\n";
    return line;
}

bool Trash::FromLine(std::string_view line, Entry& out) {
    std::string_view head[kHeadFields];
    size_t start = 0;
    for (size_t f = 0; f < kHeadFields; ++f) {
        const size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) return false;
        head[f] = line.substr(start, tab - start);
        start = tab + 1;
    }
    Entry e;
    if (!WholeNumber(head[0], e.serial) || !WholeNumber(head[2], e.deletedAt) ||
        !WholeNumber(head[3], e.points) || !WholeNumber(head[5], e.nth))
        return false;
    if (head[1] == "log")
        e.kind = Kind::LogRecord;
    else if (head[1] == "rule")
        e.kind = Kind::Article;
    else
        return false;
    e.anchor = std::string(head[4]);
    e.payload = std::string(line.substr(start));
    out = std::move(e);
    return true;
}

Trash::Contents Trash::Parse(std::string_view bytes) {
    Contents c;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        Entry e;
        if (line.terminated && FromLine(line.text, e))
            c.entries.push_back(std::move(e));
        else if (!line.text.empty() || !line.terminated)
            c.unreadLines.emplace_back(line.raw);
    });
    return c;
}

qv::io::ReadStatus Trash::Read(Contents& out, qv::io::IoError* error) const {
    out = {};
    std::string bytes;
    const auto status = qv::io::ReadFile(path_, bytes, qv::io::kWholeFile, error);
    if (status == qv::io::ReadStatus::Ok) out = Parse(bytes);
    return status;
}

std::set<std::int64_t> Trash::LogSecondsFrom(std::int64_t t) const {
    std::set<std::int64_t> seconds;
    Contents contents;
    if (!Enabled() || Read(contents) != qv::io::ReadStatus::Ok) return seconds;
    for (const Entry& e : contents.entries) {
        std::int64_t id = 0;
        if (e.kind == Kind::LogRecord && qv::ReadPlainDigits(e.payload.substr(0, e.payload.find('\t')), id) &&
            id >= t)
            seconds.insert(id);
    }
    return seconds;
}

std::int64_t Trash::NextSerial(qv::io::IoError* error) const {
    Contents contents;
    if (Read(contents, error) == qv::io::ReadStatus::Unreadable) return 0;
    std::int64_t next = 1;
    for (const Entry& e : contents.entries) next = std::max(next, e.serial + 1);
    return next;
}

bool Trash::Append(std::vector<Entry>& entries, qv::io::IoError* error) const {
    if (!Enabled() || entries.empty()) return true;
    qv::io::FileLock lock;  // from the choice of serials to the append
    if (!lock.Acquire(path_))
        return qv::io::Fail(error, qv::io::IoError::Op::Lock, path_, EWOULDBLOCK);
    std::int64_t next = 0;
    std::string bytes;
    for (Entry& e : entries) {
        if (e.serial == 0) {
            if (next == 0 && (next = NextSerial(error)) == 0) return false;
            e.serial = next++;
        }
        bytes += ToLine(e);
    }
    return qv::io::AppendLine(path_, bytes, error);
}

bool Trash::Remove(std::span<const std::int64_t> serials, qv::io::IoError* error) const {
    if (!Enabled() || serials.empty()) return true;
    qv::io::FileLock lock;
    if (!lock.Acquire(path_))
        return qv::io::Fail(error, qv::io::IoError::Op::Lock, path_, EWOULDBLOCK);
    std::string bytes;
    const auto status = qv::io::ReadFile(path_, bytes, qv::io::kWholeFile, error);
    if (status == qv::io::ReadStatus::Unreadable) return false;
    if (status != qv::io::ReadStatus::Ok) return true;  // nothing there to take out
    const std::string out = Without(bytes, serials);
    if (out.size() == bytes.size()) return true;
    return qv::io::WriteFileAtomic(path_, out, error);
}

std::string Trash::Without(std::string_view bytes, std::span<const std::int64_t> serials) {
    std::string out;
    out.reserve(bytes.size());
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        Entry e;
        if (line.terminated && FromLine(line.text, e) &&
            std::find(serials.begin(), serials.end(), e.serial) != serials.end())
            return;
        out.append(line.raw);
    });
    return out;
}

#include "records/Intent.h"

#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace {
constexpr std::string_view kDecide = "decide";
constexpr std::string_view kDelete = "delete";

bool IsNumber(std::string_view text) {
    size_t i = text.starts_with('-') ? 1 : 0;
    return i < text.size() && text.find_first_not_of("0123456789", i) == std::string_view::npos;
}
}  // namespace

std::string IntentEntry::ToLine() const {
    std::string line(kind == Kind::Decide ? kDecide : kDelete);
    line += '\t' + id + '\t' + qv::Decimal(points) + '\t';
    if (kind == Kind::Decide)
        line += qv::Decimal(logSize) + '\t' + balanceBefore;
    else
        line += balanceBefore + '\t' + qv::Decimal(balanceAfter);
    line += "\r\n";
    return line;
}

std::optional<IntentEntry> IntentEntry::FromLine(std::string_view line) {
    std::vector<std::string_view> f;
    qv::SplitFields(line, f);
    if (f.size() != 5 || !IsNumber(f[2])) return std::nullopt;
    IntentEntry e;
    e.id = f[1];
    e.points = qv::ReadInt64(f[2]);
    if (f[0] == kDecide && IsNumber(f[3])) {
        e.kind = Kind::Decide;
        e.logSize = qv::ReadInt64(f[3]);
        e.balanceBefore = f[4];
        return e;
    }
    if (f[0] == kDelete && IsNumber(f[4])) {
        e.kind = Kind::Delete;
        e.balanceBefore = f[3];
        e.balanceAfter = qv::ReadInt64(f[4]);
        return e;
    }
    return std::nullopt;
}

IntentRecord IntentRecord::Beside(const std::string& logPath) {
    const auto slash = logPath.rfind('/');
    return IntentRecord(slash == std::string::npos ? "intent.dat"
                                                   : logPath.substr(0, slash + 1) + "intent.dat");
}

qv::io::ReadStatus IntentRecord::Read(std::vector<IntentEntry>& entries) const {
    entries.clear();
    std::string bytes;
    const qv::io::ReadStatus status = qv::io::ReadFile(path_, bytes);
    if (status != qv::io::ReadStatus::Ok) return status;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        if (!line.terminated) return;
        if (auto e = IntentEntry::FromLine(line.text)) entries.push_back(std::move(*e));
    });
    return status;
}

bool IntentRecord::Open(const IntentEntry& entry, Opened& opened) const {
    opened.line = entry.ToLine();
    opened.alone = qv::io::Resolve(path_).kind == qv::io::Target::Kind::Missing;
    return qv::io::AppendLine(path_, opened.line);
}

bool IntentRecord::Close(const Opened& opened,
                         const std::function<bool(const IntentEntry&)>& alsoDrop) const {
    if (opened.alone && !alsoDrop) return qv::io::RemoveFile(path_);
    std::string bytes;
    const qv::io::ReadStatus status = qv::io::ReadFile(path_, bytes);
    if (status == qv::io::ReadStatus::Missing) return true;
    if (status != qv::io::ReadStatus::Ok) return false;
    std::string kept;
    bool dropped = false;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        if (!dropped && line.raw == opened.line) {
            dropped = true;
            return;
        }
        if (alsoDrop && line.terminated) {
            if (auto e = IntentEntry::FromLine(line.text); e && alsoDrop(*e)) return;
        }
        kept.append(line.raw);
    });
    if (kept.empty()) return qv::io::RemoveFile(path_);
    return kept == bytes || qv::io::WriteFileAtomic(path_, kept);
}

bool IntentRecord::Keep(const std::function<bool(const IntentEntry&)>& keep) const {
    return Close(Opened{}, [&](const IntentEntry& e) { return !keep(e); });
}

bool IntentRecord::UncreditedPoints(std::string_view id, std::int64_t& points) const {
    points = 0;
    std::vector<IntentEntry> entries;
    if (Read(entries) == qv::io::ReadStatus::Unreadable) return false;
    for (const IntentEntry& e : entries)
        if (e.kind == IntentEntry::Kind::Decide && e.id == id && e.points > 0)
            points = qv::SaturatingAdd(points, e.points);
    return true;
}

#include "records/Intent.h"

#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace {
constexpr std::string_view kDecide = "decide";
constexpr std::string_view kDelete = "delete";

// A whole decimal number of at most 18 digits, as the other journals read them: a longer
// one would be read as the largest number, a figure nobody wrote.
bool IsNumber(std::string_view text) {
    size_t i = text.starts_with('-') ? 1 : 0;
    return i < text.size() && text.size() - i <= 18 &&
           text.find_first_not_of("0123456789", i) == std::string_view::npos;
}
}  // namespace

namespace {
constexpr std::string_view kBalance = "balance";
constexpr std::string_view kRestore = "restore";
constexpr std::string_view kMark = "mark";

std::string JoinBytes(const std::vector<IntentEntry::Byte>& bytes) {
    std::string text;
    for (const IntentEntry::Byte& b : bytes) {
        if (!text.empty()) text += ',';
        text += qv::Decimal(b.offset) + ':' + qv::Decimal(b.before) + ':' + qv::Decimal(b.after);
    }
    return text;
}

bool SplitBytes(std::string_view text, std::vector<IntentEntry::Byte>& bytes) {
    bytes.clear();
    while (!text.empty()) {
        const size_t comma = text.find(',');
        std::string_view piece = text.substr(0, comma);
        std::int64_t n[3];
        for (int k = 0; k < 3; ++k) {
            const size_t colon = piece.find(':');
            if ((k < 2) == (colon == std::string_view::npos)) return false;
            const std::string_view number = piece.substr(0, colon);
            if (!IsNumber(number) || number.starts_with('-')) return false;
            n[k] = qv::ReadInt64(number);
            if (k > 0 && n[k] > 255) return false;
            if (k < 2) piece.remove_prefix(colon + 1);
        }
        bytes.push_back({n[0], static_cast<unsigned char>(n[1]), static_cast<unsigned char>(n[2])});
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
        if (text.empty()) return false;  // a comma with nothing after it
    }
    return !bytes.empty();
}
constexpr std::string_view kMerge = "merge";

std::string JoinSerials(const std::vector<std::int64_t>& serials) {
    std::string text;
    for (std::int64_t s : serials) {
        if (!text.empty()) text += ',';
        text += qv::Decimal(s);
    }
    return text;
}

bool SplitSerials(std::string_view text, std::vector<std::int64_t>& serials) {
    serials.clear();
    while (!text.empty()) {
        const size_t comma = text.find(',');
        const std::string_view piece = text.substr(0, comma);
        if (!IsNumber(piece)) return false;
        serials.push_back(qv::ReadInt64(piece));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return true;
}
}  // namespace

std::string IntentEntry::ToLine() const {
    std::string line;
    switch (kind) {
        case Kind::Decide:
            line = std::string(kDecide) + '\t' + id + '\t' + qv::Decimal(points) + '\t' +
                   qv::Decimal(logSize) + '\t' + balanceBefore;
            break;
        case Kind::Delete:
            line = std::string(kDelete) + '\t' + id + '\t' + qv::Decimal(points) + '\t' +
                   balanceBefore + '\t' + qv::Decimal(balanceAfter);
            if (!serials.empty()) line += '\t' + JoinSerials(serials);
            break;
        case Kind::Balance:
            line = std::string(kBalance) + '\t' + id + '\t' + qv::Decimal(points) + '\t' +
                   balanceBefore + '\t' + qv::Decimal(balanceAfter) + '\t' + ledgerKind + '\t' +
                   units;
            break;
        case Kind::Restore:
            line = std::string(kRestore) + '\t' + id + '\t' + qv::Decimal(points) + '\t' +
                   balanceBefore + '\t' + qv::Decimal(balanceAfter) + '\t' + JoinSerials(serials);
            break;
        case Kind::Mark:
            line = std::string(kMark) + '\t' + id + '\t' + qv::Decimal(logSize) + '\t' +
                   JoinBytes(bytes);
            break;
        case Kind::Merge:
            line = std::string(kMerge) + '\t' + id + "\t0\t-\t0";
            break;
    }
    if (!sizes.empty()) {
        line += "\t@";
        for (size_t i = 0; i < sizes.size(); ++i) {
            if (i > 0) line += ',';
            line += sizes[i].first + '=' + qv::Decimal(sizes[i].second);
        }
        if (kind == Kind::Decide && !record.empty()) line += '\t' + record;
    }
    line += "\r\n";
    return line;
}

std::optional<std::int64_t> IntentEntry::SizeOf(std::string_view shortName) const {
    for (const auto& [name, size] : sizes)
        if (name == shortName) return size;
    return std::nullopt;
}

namespace {
// "log=12,ldg=0" into sizes; false for anything else.
bool SplitSizes(std::string_view text, std::vector<std::pair<std::string, std::int64_t>>& sizes) {
    sizes.clear();
    while (!text.empty()) {
        const size_t comma = text.find(',');
        const std::string_view piece = text.substr(0, comma);
        const size_t eq = piece.find('=');
        if (eq == std::string_view::npos || eq == 0 || !IsNumber(piece.substr(eq + 1)) ||
            piece[eq + 1] == '-')
            return false;
        sizes.emplace_back(std::string(piece.substr(0, eq)), qv::ReadInt64(piece.substr(eq + 1)));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return true;
}
}  // namespace

std::optional<IntentEntry> IntentEntry::FromLine(std::string_view line) {
    std::vector<std::string_view> f;
    qv::SplitFields(line, f);
    IntentEntry e;
    // The sizes and the record follow the kind's own fields, behind "@".
    std::string_view record;
    for (size_t k = 1; k < f.size(); ++k) {
        if (!f[k].starts_with('@')) continue;
        if (!SplitSizes(f[k].substr(1), e.sizes)) return std::nullopt;
        if (k + 1 < f.size()) {
            const size_t from = static_cast<size_t>(f[k + 1].data() - line.data());
            record = line.substr(from);
        }
        f.resize(k);
        break;
    }
    if (f.size() == 4 && f[0] == kMark) {
        if (!IsNumber(f[2]) || f[2].starts_with('-') || !SplitBytes(f[3], e.bytes))
            return std::nullopt;
        e.kind = Kind::Mark;
        e.id = f[1];
        e.logSize = qv::ReadInt64(f[2]);
        return e;
    }
    if (f.size() < 5 || !IsNumber(f[2])) return std::nullopt;
    e.id = f[1];
    e.points = qv::ReadInt64(f[2]);
    if (f[0] == kDecide && f.size() == 5 && IsNumber(f[3])) {
        e.kind = Kind::Decide;
        e.logSize = qv::ReadInt64(f[3]);
        e.balanceBefore = f[4];
        // Only a decide with its sizes carries the record line; elsewhere it is noise
        // that a rewrite would not keep.
        if (!e.sizes.empty()) e.record = std::string(record);
        return e;
    }
    if (!IsNumber(f[4])) return std::nullopt;
    e.balanceBefore = f[3];
    e.balanceAfter = qv::ReadInt64(f[4]);
    if (f[0] == kDelete && (f.size() == 5 || (f.size() == 6 && SplitSerials(f[5], e.serials)))) {
        e.kind = Kind::Delete;
        return e;
    }
    if (f[0] == kBalance && f.size() == 7) {
        e.kind = Kind::Balance;
        e.ledgerKind = f[5];
        e.units = f[6];
        return e;
    }
    if (f[0] == kMerge && f.size() == 5) {
        // A merge carries nothing in these fields: they read as written, so the entry
        // reads back the same after a rewrite whatever a damaged line held there.
        e.kind = Kind::Merge;
        e.points = 0;
        e.balanceBefore = "-";
        e.balanceAfter = 0;
        return e;
    }
    if (f[0] == kRestore && f.size() == 6 && SplitSerials(f[5], e.serials)) {
        e.kind = Kind::Restore;
        return e;
    }
    return std::nullopt;
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

bool IntentRecord::Open(const IntentEntry& entry, Opened& opened, qv::io::IoError* error,
                        const std::string& like) const {
    opened.line = entry.ToLine();
    opened.alone = qv::io::Resolve(path_).kind == qv::io::Target::Kind::Missing;
    return qv::io::AppendLine(path_, opened.line, error, qv::io::AppendMode{true, like});
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

bool IntentRecord::DropUnfinished() const {
    std::string bytes;
    switch (qv::io::ReadFile(path_, bytes)) {
        case qv::io::ReadStatus::Missing:
            return true;
        case qv::io::ReadStatus::Empty:
            return qv::io::RemoveFile(path_);
        case qv::io::ReadStatus::Unreadable:
            return false;
        case qv::io::ReadStatus::Ok:
            break;
    }
    const size_t lastEnd = bytes.rfind('\n');
    const size_t whole = lastEnd == std::string::npos ? 0 : lastEnd + 1;
    if (whole == bytes.size()) return true;
    if (whole == 0) return qv::io::RemoveFile(path_);
    return qv::io::WriteFileAtomic(path_, std::string_view(bytes).substr(0, whole));
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

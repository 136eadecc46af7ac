#include "records/Ledger.h"

#include <cerrno>

#include "records/FileTail.h"
#include "records/LedgerLine.h"
#include "records/DeviceTag.h"
#include "text/KxString.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace {

constexpr std::string_view kTokens[] = {"open",   "credit", "report", "delete",
                                        "undo",   "adjust", "merge"};

// The entry as this computer writes it: with its device tag.
Ledger::Entry Tagged(Ledger::Entry e) {
    if (e.device.empty()) e.device = qv::records::ThisDevice();
    return e;
}

// A whole decimal number (an optional "-" and digits only): a torn or edited field is
// not read as a smaller number.
// Inlined at each call: each field then has its own branch history (a time always has
// ten digits, a change a few).
[[gnu::always_inline]] inline std::optional<std::int64_t> WholeNumber(std::string_view text) {
    const bool negative = !text.empty() && text[0] == '-';
    std::int64_t value = 0;
    if (!qv::ReadPlainDigits(text.substr(negative ? 1 : 0), value)) return std::nullopt;
    return negative ? -value : value;
}

}  // namespace


std::optional<std::int64_t> Ledger::Contents::Last() const {
    if (entries.empty()) return std::nullopt;
    return entries.back().after;
}

std::string_view Ledger::KindToken(Kind kind) { return kTokens[static_cast<size_t>(kind)]; }

std::string Ledger::ToLine(const Entry& e) {
    std::string line = qv::Decimal(e.time);
    line += '\t';
    line += KindToken(e.kind);
    line += '\t';
    line += e.id;
    line += '\t';
    if (e.units) {
        for (size_t k = 0; k < e.units->size(); ++k) {
            if (k > 0) line += '/';
            line += qv::Decimal((*e.units)[k]);
        }
    }
    for (std::int64_t n : {e.asked, e.before, e.after}) {
        line += '\t';
        line += qv::Decimal(n);
    }
    if (!e.device.empty() || e.merged) {
        line += '\t';
        line += e.device.empty() ? std::string("@unknown") : e.device;
        if (e.merged) line += "\tmerged";
    }
    line += "\r\n";
    return line;
}

bool qv::records::ReadLedgerLine(std::string_view line, LedgerLine& e) {
    // Member by member: a whole-struct reset is a string store that costs more than the
    // rest of a short line's reading.
    e.time = 0;
    e.kind = Ledger::Kind::Adjust;
    e.id = {};
    e.hasUnits = false;
    e.units = {};
    e.asked = e.before = e.after = 0;
    e.device = {};
    e.merged = false;
    // At most 9 fields, found as the places of their TABs (as FieldWalk cuts: n TABs
    // make n + 1 fields): a ledger of a million lines is read line by line, and neither a
    // vector nor a cleared array per line is made.
    constexpr size_t kMaxTabs = 8;
    struct Fields {
        std::string_view line;
        size_t tabs[kMaxTabs + 1];
        size_t n = 0;  // TABs found
        size_t size() const { return n + 1; }
        std::string_view operator[](size_t k) const {
            const size_t start = k == 0 ? 0 : tabs[k - 1] + 1;
            return line.substr(start, (k < n ? tabs[k] : line.size()) - start);
        }
    } f;
    f.line = line;
    f.n = qv::FindTabs(line, f.tabs, kMaxTabs + 1);
    if (f.n > kMaxTabs) return false;  // more than 9 fields
    if (f.size() < 7) return false;
    if (f.size() >= 8) {
        if (!qv::records::IsDeviceTag(f[7])) return false;
        e.device = f[7];
        if (f.size() == 9 && f[8] != "merged") return false;
        e.merged = f.size() == 9;
    }
    const auto time = WholeNumber(f[0]);
    if (!time) return false;
    e.time = *time;
    bool known = false;
    for (size_t k = 0; k < std::size(kTokens); ++k) {
        if (f[1] == kTokens[k]) {
            e.kind = static_cast<Ledger::Kind>(k);
            known = true;
            break;
        }
    }
    if (!known) return false;
    e.id = f[2];
    if (!f[3].empty()) {
        std::array<std::int64_t, 4> units{};
        std::string_view rest = f[3];
        for (size_t k = 0; k < units.size(); ++k) {
            const size_t slash = rest.find('/');
            const bool last = k + 1 == units.size();
            if (last != (slash == std::string_view::npos)) return false;
            const auto u = WholeNumber(rest.substr(0, slash));
            if (!u) return false;
            units[k] = *u;
            if (!last) rest = rest.substr(slash + 1);
        }
        e.units = units;
        e.hasUnits = true;
    }
    const auto asked = WholeNumber(f[4]), before = WholeNumber(f[5]), after = WholeNumber(f[6]);
    if (!asked || !before || !after) return false;
    e.asked = *asked;
    e.before = *before;
    e.after = *after;
    return true;
}

std::optional<Ledger::Entry> Ledger::FromLine(std::string_view line) {
    qv::records::LedgerLine v;
    if (!qv::records::ReadLedgerLine(line, v)) return std::nullopt;
    Entry e;
    e.time = v.time;
    e.kind = v.kind;
    e.id = std::string(v.id);
    if (v.hasUnits) e.units = v.units;
    e.asked = v.asked;
    e.before = v.before;
    e.after = v.after;
    e.device = std::string(v.device);
    e.merged = v.merged;
    return e;
}

Ledger::Contents Ledger::Parse(std::string_view bytes) {
    Contents c;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        std::optional<Entry> e;
        if (line.terminated) e = FromLine(line.text);
        if (e && e->merged)
            c.merged.push_back(std::move(*e));
        else if (e)
            c.entries.push_back(std::move(*e));
        else if (!line.text.empty() || !line.terminated)
            c.unreadLines.emplace_back(line.raw);
    });
    return c;
}

qv::io::ReadStatus Ledger::Read(Contents& out, qv::io::IoError* error) const {
    out = {};
    std::string bytes;
    const auto status = qv::io::ReadFile(path_, bytes, qv::io::kWholeFile, error);
    if (status == qv::io::ReadStatus::Ok) out = Parse(bytes);
    return status;
}

qv::io::ReadStatus Ledger::LastEntry(std::optional<Entry>& last, qv::io::IoError* error,
                                     bool* fullRead, size_t* unreadLines) const {
    last.reset();
    if (fullRead) *fullRead = false;
    if (unreadLines) *unreadLines = 0;
    qv::records::ReadOnlyFile file;
    const qv::io::ReadStatus status = file.Open(path_, error);
    if (status != qv::io::ReadStatus::Ok) return status;
    bool whole = false;
    const bool read = qv::records::ForEachLineBackward(file, [&](const qv::Line& line, std::int64_t) {
        if (line.terminated) last = FromLine(line.text);
        whole = last.has_value();
        return false;  // the last line alone
    });
    if (read && whole) return status;
    // A torn or damaged tail: the last entry is further up.
    if (fullRead) *fullRead = true;
    Contents contents;
    const qv::io::ReadStatus full = Read(contents, error);
    if (!contents.entries.empty()) last = std::move(contents.entries.back());
    if (unreadLines) *unreadLines = contents.unreadLines.size();
    return full;
}

qv::io::ReadStatus Ledger::LastBalance(std::optional<std::int64_t>& last,
                                       qv::io::IoError* error) const {
    std::optional<Entry> entry;
    const qv::io::ReadStatus status = LastEntry(entry, error);
    last.reset();
    if (entry) last = entry->after;
    return status;
}

bool Ledger::Append(const Entry& entry, qv::io::IoError* error) const {
    return Append(std::vector<Entry>{entry}, error);
}

bool Ledger::Append(const std::vector<Entry>& entries, qv::io::IoError* error) const {
    if (!Enabled()) return true;
    std::string bytes;
    for (const Entry& e : entries) bytes += ToLine(Tagged(e));
    qv::io::FileLock lock;
    if (!lock.Acquire(path_))
        return qv::io::Fail(error, qv::io::IoError::Op::Lock, path_, EWOULDBLOCK);
    return qv::io::AppendLine(path_, bytes, error);
}

std::string Ledger::LinesFor(const Entry& given, std::optional<std::int64_t> last,
                            std::optional<Figures>* adjusted) {
    const Entry entry = Tagged(given);
    std::string lines;
    if (!last) {
        // A ledger started by this change: it opens with the figure found.
        lines += ToLine({entry.time, Kind::Open, {}, {}, entry.before, 0, entry.before, entry.device});
    } else if (*last != entry.before) {
        if (adjusted) *adjusted = Figures{*last, entry.before};
        lines += ToLine({entry.time, Kind::Adjust, {}, {}, qv::SaturatingAdd(entry.before, -*last),
                         *last, entry.before, entry.device});
    }
    lines += ToLine(entry);
    return lines;
}

bool Ledger::Book(const Entry& entry, std::optional<Figures>* adjusted,
                  qv::io::IoError* error) const {
    if (!Enabled()) return true;
    qv::io::FileLock lock;  // from the read of the last balance to the append
    if (!lock.Acquire(path_))
        return qv::io::Fail(error, qv::io::IoError::Op::Lock, path_, EWOULDBLOCK);
    std::optional<std::int64_t> last;
    if (LastBalance(last, error) == qv::io::ReadStatus::Unreadable) return false;
    return qv::io::AppendLine(path_, LinesFor(entry, last, adjusted), error);
}

bool Ledger::BookOnce(const Entry& entry) const {
    if (!Enabled()) return true;
    std::optional<Entry> found;
    if (LastEntry(found) == qv::io::ReadStatus::Unreadable) return false;
    if (found) {
        const Entry& last = *found;
        if (last.kind == entry.kind && last.id == entry.id && last.before == entry.before &&
            last.after == entry.after)
            return true;
    }
    return Book(entry);
}

Ledger::Check Ledger::CheckAgainst(const PointBalance& balance, qv::Seconds now) const {
    Check check;
    if (!Enabled()) return check;
    std::vector<std::string> fields;
    if (balance.Read(fields) != PointBalance::Status::Ok) {
        check.result = Check::Result::NoBalance;
        return check;
    }
    check.fileBalance = qv::ReadInt64(fields[PointBalance::kBalanceField]);
    std::optional<Entry> lastEntry;
    const auto status = LastEntry(lastEntry, nullptr, nullptr, &check.unreadLines);
    if (status == qv::io::ReadStatus::Unreadable) {
        check.result = Check::Result::LedgerUnusable;
        return check;
    }
    std::optional<std::int64_t> last;
    if (lastEntry) last = lastEntry->after;
    if (!last) {
        // A folder from before the ledger (or a ledger whose every line is damaged, which
        // stays as it is): begin with the figure found, without asking.
        check.ledgerBalance = check.fileBalance;
        const Entry open{now, Kind::Open, {}, {}, check.fileBalance, 0, check.fileBalance};
        check.result = Append(open) ? Check::Result::Started : Check::Result::LedgerUnusable;
        return check;
    }
    check.ledgerBalance = *last;
    check.result = *last == check.fileBalance ? Check::Result::Agrees : Check::Result::Differs;
    return check;
}

bool Ledger::RecordAdjustment(std::int64_t ledgerBalance, std::int64_t fileBalance,
                              qv::Seconds now) const {
    const Entry adjust{
        now,           Kind::Adjust, {}, {}, qv::SaturatingAdd(fileBalance, -ledgerBalance),
        ledgerBalance, fileBalance};
    return Append(adjust);
}

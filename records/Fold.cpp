#include "records/Fold.h"

#include <algorithm>
#include <array>
#include <deque>
#include <map>
#include <queue>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "records/Ledger.h"
#include "records/Trash.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace qv::records {
namespace {

using Kind = JournalLine::Kind;

constexpr std::int64_t kLargestBalance = std::int64_t{1} << 53;

std::uint64_t Fnv(std::string_view bytes, std::uint64_t h = 1469598103934665603ULL) {
    for (char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    return h;
}

// A line as stored, line end included, without it.
std::string_view WithoutEnd(std::string_view raw) { return qv::LineOf(raw).text; }

std::string_view FieldOf(std::string_view line, size_t f) {
    return qv::FieldAt(line, f).value_or(std::string_view{});
}

std::string FirstOf(std::string_view line) {
    line = WithoutEnd(line);
    return std::string(line.substr(0, line.find('\t')));
}

size_t FieldCount(std::string_view line) {
    return static_cast<size_t>(std::count(line.begin(), line.end(), '\t')) + 1;
}

// An article's line as the rule list reads it: 14 fields, no CR, a number 1 to 9999.
bool IsArticleLine(std::string_view line) {
    const std::int64_t number = qv::ReadInt64(line);
    return line.find('\r') == std::string_view::npos && FieldCount(line) == 14 && number >= 1 &&
           number <= 9999;
}

struct Sentence {
    std::uint64_t key = 0;  // the line that made it (see Folding::KeyOf)
    std::string id;
    // Views into the journal or base bytes the sentence came from, kept for the fold.
    std::string_view before;  // the record's fields 1 to 4, TAB-joined, with a TAB on each side
    std::string_view after;   // fields 6 to 10 (and any further ones), TAB-joined, a TAB first
    std::string_view flag = "0";  // in the journal or base bytes, or a literal
    std::string_view raw;     // a base record's line as stored, line end included, until marked
    std::int64_t points = 0;
    std::int64_t taken = 0;  // what its delete took off the balance
    bool live = true;
    bool purged = false;  // out of the trash for good
    std::int64_t trashSerial = 0;
    qv::Seconds deletedAt = 0;
    size_t pos = 0;          // its place in the log as laid out
    std::string anchor;      // the line that followed it when it was deleted (see Trash)
    std::int64_t nth = 0;

    std::string Line() const {
        if (!raw.empty()) return std::string(raw);
        std::string line;
        line.reserve(id.size() + before.size() + flag.size() + after.size() + 2);
        line.append(id).append(before).append(flag).append(after).append("\r\n");
        return line;
    }
};

// The log as the fold lays it out: base lines kept where they stood (sentences and lines
// that are no records), then the sentences decided in the journals.
struct LogItem {
    size_t sentence = SIZE_MAX;  // SIZE_MAX: a line that is no record
    std::string_view other;      // that line, in a base's bytes
    bool ended = false;          // a last line without its end, ended by an append after it
};

// One journal line as the fold reads it: where it stands in its journal's bytes.
struct Entry {
    Entry(const JournalRead& journal, const JournalRead::Line& line)
        : j(&journal), l(&line), time(line.time), kind(line.kind), seq(line.seq) {}
    const JournalRead* j;
    const JournalRead::Line* l;
    qv::Seconds time;
    Kind kind;
    std::int64_t seq;
    const std::string& Device() const { return j->device; }
    std::string_view Field(size_t f) const { return j->Field(*l, f); }
    size_t FieldCount() const { return l->fieldCount; }
    std::string_view Fields(size_t from, size_t to) const { return j->Fields(*l, from, to); }
    LineRef Ref() const { return {j->device, std::to_string(seq)}; }
    LineRef Target() const { return {std::string(Field(0)), std::string(Field(1))}; }
};

struct Report {
    std::array<std::int64_t, 4> units{};
    std::int64_t taken = 0;
    bool undone = false;
};

struct ArticleTrash {
    std::int64_t serial = 0;
    qv::Seconds at = 0;
    std::string line;
};

class Folding {
public:
    Folding(const BaseLookup& base, FoldNotes& notes) : lookup_(base), notes_(notes) {}

    void TakeBases(const std::vector<Entry>& bases);
    void TakeOrigins(const std::vector<JournalRead>& journals) {
        for (const JournalRead& j : journals) Origin(j.device);
    }
    void Reserve(size_t lines) {
        sentences_.reserve(lines);
        log_.reserve(lines);
        byKey_.reserve(lines);
        usedIds_.reserve(lines);
    }
    void Apply(const Entry& line);
    ViewBytes Views() const;
    std::vector<FoldedSentence> Sentences() const;
    size_t Waiting() const {
        size_t n = 0;
        for (const auto& [ref, lines] : waiting_) n += lines.size();
        return n;
    }

private:
    bool ApplyTargeted(const Entry& line);
    void Decide(const Entry& line);
    void Found(const Entry& line);
    void Mark(const Entry& line, Sentence& s);
    void Delete(const Entry& line, Sentence& s);
    void Restore(const Entry& line, Sentence& s);
    void Unreport(const Entry& line, Report& r);
    void ReportPoints(const Entry& line);
    void Rule(const Entry& line);
    void Unrule(const Entry& line);
    // Who changed the balance, and when.
    struct At {
        qv::Seconds time;
        const std::string& device;
        At(const Entry& line) : time(line.time), device(line.Device()) {}  // NOLINT: every line is one
        At(qv::Seconds t, const std::string& d) : time(t), device(d) {}
    };
    void Book(At at, Ledger::Kind kind, const std::string& id, std::int64_t asked,
              bool floor, bool lineEnd, std::int64_t* taken = nullptr,
              std::optional<std::array<std::int64_t, 4>> units = std::nullopt);
    std::string FreeId(qv::Seconds time);
    // The serial a new trash entry takes: one past the highest in the trash, as the trash
    // file gives it.
    std::int64_t NewSerial() {
        const std::int64_t serial = serials_.empty() ? 1 : *serials_.rbegin() + 1;
        serials_.insert(serial);
        return serial;
    }
    void Purge(const Entry& line, Sentence& s);
    // A sentence from before the journals leaves their trash with its own line.
    void DropBaseTrashLine(const Sentence& s) {
        if (!FromTrash(s.key)) return;
        std::erase_if(trashKept_, [&](const std::string& kept) {
            Trash::Entry e;
            return Trash::FromLine(WithoutEnd(kept), e) && e.serial == NumberOf(s.key);
        });
    }
    void PurgeRule(const Entry& line);
    void TakeBase(const std::string& hash, const ViewBytes& base, bool primary);
    void TakeBaseLog(const std::string& hash, std::string_view log, bool primary);
    void TakeBaseBook(std::string_view book, bool primary);
    void TakeBaseTrash(const std::string& hash, std::string_view trash);
    // The number a line names a sentence or report by: its origin's number, whether it is
    // a base's trash entry, and its sequence or place. Nothing for an origin not seen.
    std::optional<std::uint64_t> KeyOf(std::string_view origin, std::string_view n) const {
        const auto found = origins_.find(origin);
        const bool trash = !n.empty() && n[0] == 't';
        std::int64_t number = 0;
        if (found == origins_.end() || !qv::ReadPlainDigits(n.substr(trash ? 1 : 0), number) ||
            number >= (std::int64_t{1} << 44))
            return std::nullopt;
        return (found->second << 45) | (std::uint64_t{trash} << 44) | static_cast<std::uint64_t>(number);
    }
    static bool FromTrash(std::uint64_t key) { return (key >> 44) & 1; }
    static std::int64_t NumberOf(std::uint64_t key) { return static_cast<std::int64_t>(key & ((std::uint64_t{1} << 44) - 1)); }
    LineRef RefOf(std::uint64_t key) const {
        const std::uint64_t origin = key >> 45;
        for (const auto& [name, number] : origins_)
            if (number == origin)
                return {name, (FromTrash(key) ? "t" : "") + std::to_string(NumberOf(key))};
        return {};
    }
    std::uint64_t Origin(const std::string& name) {
        return origins_.try_emplace(name, origins_.size() + 1).first->second;
    }
    void WakeWaiting(const Entry& made);
    void AddToLog(Sentence s);
    // A record's mark, points and the fields around its mark, from its text (which stays).
    static void SplitRecord(std::string_view text, Sentence& s);
    void AddOther(std::string_view line);
    // A line's first field: a sentence's identifier, or an other line's own.
    std::string FirstAt(const LogItem& item) const {
        return item.sentence == SIZE_MAX ? FirstOf(item.other) : sentences_[item.sentence].id;
    }
    // Notes that first may be carried by more than one line (see AnchorOf).
    void Seen(const std::string& first, bool isNew) {
        if (!isNew) repeated_.insert(first);
    }
    // Where a sentence about to leave the log goes back: see Trash.
    void AnchorOf(Sentence& s);
    // Moves a sentence coming back from the trash to where the restore puts it (see
    // InsertRecords): before the nth live line carrying its anchor, or, that line gone,
    // before the first record decided later than itself, or at the end; without an anchor,
    // at the line number it had.
    void PutBack(Sentence& s);

    const BaseLookup& lookup_;
    FoldNotes& notes_;
    std::vector<Sentence> sentences_;
    // A sentence or report by the line that made it, as a number (see KeyOf): a million of
    // them are looked up without hashing their names.
    std::unordered_map<std::uint64_t, std::uint32_t> byKey_;
    std::map<std::string, std::uint64_t, std::less<>> origins_;  // "@device" or "#hash" -> 1, 2, …
    std::vector<LogItem> log_;
    std::unordered_set<std::string> repeated_;  // first fields more than one line may carry
    std::int64_t written_ = 0;  // lines the log holds
    std::unordered_set<std::int64_t> usedIds_;
    std::set<std::string> usedOtherIds_;
    std::unordered_map<std::uint64_t, Report> reports_;
    std::map<LineRef, std::vector<Entry>> waiting_;
    std::deque<ViewBytes> bases_;    // the bases taken: sentences point into them
    std::deque<std::string> owned_;  // the few texts a sentence points into that are made here

    bool hasBalance_ = false;
    std::vector<std::string> balanceFields_;
    std::string balanceRaw_;  // as the base held it, until the balance changes
    std::string ledger_;
    std::optional<std::int64_t> ledgerLast_;

    std::vector<std::string> trashKept_;  // base trash lines that stay (entries and others)
    std::set<std::int64_t> serials_;  // the trash's entries, as the trash numbers them
    std::map<std::int64_t, ArticleTrash> articleTrash_;  // by serial
    std::string reasons_;
    std::string marks_;

    std::string header_;  // test.dat's first line as stored, until something changes it
    std::vector<std::string> headerFields_;
    std::map<std::int64_t, std::string> rules_;  // number -> rule line without line end
    std::string bookTail_;
    bool bookChanged_ = false;
    qv::Seconds bookTime_ = 0;
};

std::int64_t Balance(const std::vector<std::string>& fields) {
    return fields.size() > 3 ? qv::ReadInt64(fields[3]) : 0;
}

void Folding::TakeBases(const std::vector<Entry>& bases) {
    std::vector<std::pair<std::string, ViewBytes>> data, samples;
    std::set<std::string> seen;
    for (const Entry& b : bases) {
        const std::string hash(b.Field(0));
        if (!seen.insert(hash).second) continue;
        std::optional<ViewBytes> bytes = lookup_ ? lookup_(hash) : std::nullopt;
        if (!bytes) {
            notes_.missingBases.push_back(hash);
            continue;
        }
        (b.Field(1) == "data" ? data : samples).emplace_back(hash, std::move(*bytes));
    }
    notes_.dataBases = data.size();
    notes_.sampleIgnored = !data.empty() && !samples.empty();
    // Sample files never stand beside a real history: joining brings no state of its own.
    auto& taken = data.empty() ? samples : data;
    notes_.baseTaken = !taken.empty();
    for (size_t i = 0; i < taken.size() && (i == 0 || !data.empty()); ++i) {
        bases_.push_back(std::move(taken[i].second));
        TakeBase(taken[i].first, bases_.back(), i == 0);
    }
}

void Folding::TakeBase(const std::string& hash, const ViewBytes& base, bool primary) {
    Origin("#" + hash);
    TakeBaseLog(hash, base.log, primary);
    TakeBaseBook(base.book, primary);
    TakeBaseTrash(hash, base.trash);
    if (primary) {
        reasons_ = base.reasons;
        marks_ = base.marks;
        ledger_ = base.ledger;
        ledgerLast_ = Ledger::Parse(base.ledger).Last();
        if (!base.balance.empty()) {
            std::vector<std::string_view> f;
            qv::SplitFields(base.balance, f);
            balanceFields_.assign(f.begin(), f.end());
            balanceRaw_ = base.balance;
            hasBalance_ = balanceFields_.size() >= 4;
        }
        return;
    }
    // A second history: its reasons and marks go on after ours, its balance is added.
    reasons_ += base.reasons;
    marks_ += base.marks;
    std::vector<std::string_view> f;
    qv::SplitFields(base.balance, f);
    const std::int64_t theirs = f.size() > 3 ? qv::ReadInt64(f[3]) : 0;
    if (theirs != 0) {
        static const std::string kBase = "@base";
        Book(At(0, kBase), Ledger::Kind::Adjust, {}, theirs, false, false);
    }
}

void Folding::TakeBaseLog(const std::string& hash, std::string_view log, bool primary) {
    size_t n = 0;
    qv::ForEachLine(log, [&](const qv::Line& line) {
        const std::string_view text = line.text;
        if (!line.terminated || FieldCount(text) < 11) {
            AddOther(line.raw);
            return;
        }
        Sentence s;
        s.key = *KeyOf("#" + hash, std::to_string(++n));
        const size_t tab = text.find('\t');
        std::string id(text.substr(0, tab));
        std::int64_t numeric = 0;
        const bool isNumber = qv::ReadPlainDigits(id, numeric);
        // Two histories met: a second one's sentence under a taken second moves on.
        if (!primary && isNumber && usedIds_.count(numeric)) id = FreeId(numeric);
        else if (isNumber) Seen(id, usedIds_.insert(numeric).second);
        else Seen(id, usedOtherIds_.insert(id).second);
        s.id = id;
        SplitRecord(text, s);
        // A second history's sentence is written anew: its identifier may have moved.
        if (primary) s.raw = line.raw;
        AddToLog(std::move(s));
    });
}

void Folding::TakeBaseBook(std::string_view book, bool primary) {
    bool header = true;
    qv::ForEachLine(book, [&](const qv::Line& line) {
        const std::string_view text = line.text;
        if (!line.terminated) {
            if (primary) bookTail_ = std::string(line.raw);
        } else if (std::exchange(header, false)) {
            if (!primary) return;
            header_ = std::string(line.raw);
            std::vector<std::string_view> f;
            qv::SplitFields(text, f);
            headerFields_.assign(f.begin(), f.end());
        } else {
            const std::int64_t number = qv::ReadInt64(text);
            if (FieldCount(text) != 14 || number < 1 || number > 9999) return;
            if (primary || !rules_.count(number)) rules_[number] = std::string(text);
        }
    });
}

void Folding::TakeBaseTrash(const std::string& hash, std::string_view trash) {
    qv::ForEachLine(trash, [&](const qv::Line& line) {
        Trash::Entry e;
        if (!line.terminated || !Trash::FromLine(line.text, e)) {
            trashKept_.push_back(std::string(line.raw));
            return;
        }
        serials_.insert(e.serial);
        if (e.kind == Trash::Kind::Article) {
            articleTrash_[e.serial] = {e.serial, e.deletedAt, e.payload};
            return;
        }
        // A sentence deleted before the journals: a restore names it by its serial.
        Sentence s;
        s.key = *KeyOf("#" + hash, "t" + std::to_string(e.serial));
        owned_.push_back(e.payload + "\r\n");
        s.raw = owned_.back();
        s.id = e.payload.substr(0, e.payload.find('\t'));
        SplitRecord(WithoutEnd(owned_.back()), s);
        s.live = false;
        s.taken = e.points;
        s.trashSerial = e.serial;
        s.deletedAt = e.deletedAt;
        s.anchor = e.anchor;
        s.nth = e.nth;
        std::int64_t numeric = 0;
        if (qv::ReadPlainDigits(s.id, numeric)) usedIds_.insert(numeric);
        trashKept_.push_back(std::string(line.raw));
        AddToLog(std::move(s));
    });
}

void Folding::SplitRecord(std::string_view text, Sentence& s) {
    size_t flagAt = text.find('\t');  // then the TAB before field 5
    const size_t tab = flagAt;
    for (int i = 0; i < 4 && flagAt != std::string_view::npos; ++i) flagAt = text.find('\t', flagAt + 1);
    if (tab == std::string_view::npos || flagAt == std::string_view::npos) return;
    const size_t flagEnd = std::min(text.find('\t', flagAt + 1), text.size());
    s.before = text.substr(tab, flagAt + 1 - tab);
    s.flag = text.substr(flagAt + 1, flagEnd - flagAt - 1);
    s.after = text.substr(flagEnd);
    s.points = std::max<std::int64_t>(0, qv::ReadInt64(FieldOf(text, 10)));
}

void Folding::AddToLog(Sentence s) {
    // A last line left without its end is ended by the first append after it, for good.
    if (!log_.empty() && log_.back().sentence == SIZE_MAX && !log_.back().other.empty() &&
        log_.back().other.back() != '\n')
        log_.back().ended = true;
    s.pos = log_.size();
    if (s.live) ++written_;
    byKey_[s.key] = static_cast<std::uint32_t>(sentences_.size());
    log_.push_back({sentences_.size(), {}});
    sentences_.push_back(std::move(s));
}

void Folding::AddOther(std::string_view line) {
    ++written_;
    // Lines that are no records are few; any of them may share a first field.
    repeated_.insert(FirstOf(line));
    log_.push_back({SIZE_MAX, std::move(line)});
}

void Folding::AnchorOf(Sentence& s) {
    for (size_t i = s.pos + 1; i < log_.size(); ++i) {
        const LogItem& item = log_[i];
        if (item.sentence != SIZE_MAX && !sentences_[item.sentence].live) continue;
        s.anchor = FirstAt(item);
        s.nth = 1;
        if (repeated_.count(s.anchor)) {  // which of the lines carrying it: counted
            s.nth = 0;
            for (size_t j = 0; j <= i; ++j) {
                const LogItem& other = log_[j];
                const bool live = other.sentence == SIZE_MAX || sentences_[other.sentence].live;
                if (live && FirstAt(other) == s.anchor) ++s.nth;
            }
        }
        return;
    }
    s.anchor.clear();
    s.nth = written_ - 1;  // the last line: its line number
}

void Folding::PutBack(Sentence& s) {
    const auto live = [&](const LogItem& item) {
        return item.sentence == SIZE_MAX || sentences_[item.sentence].live;
    };
    // Mostly the line that followed it follows it still: it goes back where it stood.
    if (!s.anchor.empty() && !repeated_.count(s.anchor) && s.nth == 1) {
        for (size_t i = s.pos + 1; i < log_.size(); ++i) {
            if (!live(log_[i])) continue;
            if (FirstAt(log_[i]) == s.anchor) return;
            break;
        }
    }
    size_t at = SIZE_MAX, byTime = SIZE_MAX;
    std::int64_t seen = 0, index = 0;
    const std::int64_t time = qv::ReadInt64(s.id);
    for (size_t i = 0; i < log_.size() && at == SIZE_MAX; ++i) {
        const LogItem& item = log_[i];
        if (!live(item)) continue;
        if (s.anchor.empty() && index++ == s.nth) at = i;
        const std::string first = FirstAt(item);
        if (!s.anchor.empty() && first == s.anchor && ++seen == s.nth) at = i;
        // Only sentences are records: the other lines are short or unended.
        if (byTime == SIZE_MAX && item.sentence != SIZE_MAX && qv::ReadInt64(first) > time)
            byTime = i;
    }
    if (at == SIZE_MAX && !s.anchor.empty()) at = byTime;
    if (at == SIZE_MAX) at = log_.size();
    const size_t from = s.pos;
    if (at == from || at == from + 1) return;
    const auto it = [this](size_t i) { return log_.begin() + static_cast<std::ptrdiff_t>(i); };
    if (at > from)
        std::rotate(it(from), it(from + 1), it(at));
    else
        std::rotate(it(at), it(from), it(from + 1));
    for (size_t i = std::min(from, at); i < std::max(from + 1, at); ++i)
        if (log_[i].sentence != SIZE_MAX) sentences_[log_[i].sentence].pos = i;
}

std::string Folding::FreeId(qv::Seconds time) {
    std::int64_t id = time;
    while (usedIds_.count(id)) ++id;
    usedIds_.insert(id);
    return std::to_string(id);
}

void Folding::Book(At at, Ledger::Kind kind, const std::string& id,
                   std::int64_t asked, bool floor, bool lineEnd, std::int64_t* taken,
                   std::optional<std::array<std::int64_t, 4>> units) {
    if (!hasBalance_) {
        // Nothing to keep: a fresh balance record rather than a lost credit.
        balanceFields_ = {"quorvel", "1", "user", "0", "0", "0\r\n"};
        hasBalance_ = true;
    }
    const std::int64_t before = Balance(balanceFields_);
    std::int64_t after = qv::SaturatingAdd(before, asked);
    if (floor && after < 0) after = 0;
    balanceFields_[3] = qv::Decimal(after);
    if (lineEnd) balanceFields_.back() += "\r\n";
    balanceRaw_.clear();
    if (taken) *taken = before - after;
    Ledger::Entry e{at.time, kind, id, units, asked, before, after, at.device};
    ledger_ += Ledger::LinesFor(e, ledgerLast_);
    ledgerLast_ = after;
}

void Folding::Apply(const Entry& line) {
    ++notes_.lines;
    switch (line.kind) {
        case Kind::Base:
        case Kind::Void:
            return;
        case Kind::Decide:
            return Decide(line);
        case Kind::Found:
            return Found(line);
        case Kind::Report:
            return ReportPoints(line);
        case Kind::Rule:
            return Rule(line);
        case Kind::Unrule:
            return Unrule(line);
        case Kind::Implements:
            headerFields_.resize(std::max<size_t>(headerFields_.size(), 12));
            for (size_t f = 0; f < 8; ++f) headerFields_[4 + f] = std::string(line.Field(f));
            bookChanged_ = true;
            bookTime_ = line.time;
            return;
        case Kind::Adjust: {
            const std::int64_t now = hasBalance_ ? Balance(balanceFields_) : 0;
            const std::int64_t to = qv::ReadInt64(line.Field(0));
            if (hasBalance_ && now == to) ++notes_.noEffect;
            else Book(line, Ledger::Kind::Adjust, {}, to - now, false, false);
            return;
        }
        case Kind::PurgeRule:
            return PurgeRule(line);
        case Kind::Mark:
        case Kind::Delete:
        case Kind::Restore:
        case Kind::Unreport:
        case Kind::Purge:
            if (!ApplyTargeted(line)) {
                --notes_.lines;
                waiting_[line.Target()].push_back(line);
            }
            return;
    }
}

bool Folding::ApplyTargeted(const Entry& line) {
    const std::optional<std::uint64_t> key = KeyOf(line.Field(0), line.Field(1));
    if (!key) return false;
    if (line.kind == Kind::Unreport) {
        auto r = reports_.find(*key);
        if (r == reports_.end()) return false;
        Unreport(line, r->second);
        return true;
    }
    auto found = byKey_.find(*key);
    if (found == byKey_.end()) return false;
    Sentence& s = sentences_[found->second];
    if (line.kind == Kind::Mark) Mark(line, s);
    else if (line.kind == Kind::Delete) Delete(line, s);
    else if (line.kind == Kind::Purge) Purge(line, s);
    else Restore(line, s);
    return true;
}

void Folding::WakeWaiting(const Entry& made) {
    if (waiting_.empty()) return;
    auto w = waiting_.find(made.Ref());
    if (w == waiting_.end()) return;
    std::vector<Entry> lines = std::move(w->second);
    waiting_.erase(w);
    for (const Entry& line : lines) {
        ++notes_.lines;
        ApplyTargeted(line);
    }
}

void Folding::Decide(const Entry& line) {
    const std::int64_t points = qv::ReadInt64(line.Field(8));
    if (points > 0 && hasBalance_ && Balance(balanceFields_) > kLargestBalance - points) {
        ++notes_.refusedCredits;
        return;
    }
    Sentence s;
    s.key = *KeyOf(line.Device(), std::to_string(line.seq));
    s.id = FreeId(line.time);
    // The record's fields stand in the decide line as in the log, but for the mark: the
    // sentence points at them there, with the TABs around them.
    const std::string_view head = line.Fields(0, 4), tail = line.Fields(4, 9);
    s.before = std::string_view(head.data() - 1, head.size() + 2);
    s.after = std::string_view(tail.data() - 1, tail.size() + 1);
    s.points = points;
    if (points > 0) {
        // The credit is booked at the sentence's second, as the decision books it.
        Book(At(qv::ReadInt64(s.id), line.Device()), Ledger::Kind::Credit, s.id, points, false, false);
    }
    if (line.FieldCount() > 9) {  // a decision without a verdict text keeps none
        reasons_ += s.id;
        reasons_ += '\t';
        reasons_ += line.Fields(9, line.FieldCount());
        reasons_ += "\r\n";
    }
    AddToLog(std::move(s));
    WakeWaiting(line);
}

void Folding::Found(const Entry& line) {
    Sentence s;
    s.key = *KeyOf(line.Device(), std::to_string(line.seq));
    s.id = FreeId(qv::ReadInt64(line.Field(0)));
    const std::string_view head = line.Fields(2, 6), tail = line.Fields(6, 11);
    s.before = std::string_view(head.data() - 1, head.size() + 2);
    s.after = std::string_view(tail.data() - 1, tail.size() + 1);
    s.flag = line.Field(1);
    s.points = qv::ReadInt64(line.Field(10));
    // No credit: whatever wrote the record settled the balance its own way.
    AddToLog(std::move(s));
    WakeWaiting(line);
}

void Folding::Mark(const Entry& line, Sentence& s) {
    const std::string_view flag = line.Field(2);
    // A mark that changes nothing is no event, as the report window writes none.
    if (s.flag == flag) return;
    marks_.append(std::to_string(line.time)).append("\t").append(s.id).append("\t").append(flag);
    marks_.append("\t").append(line.Device()).append("\r\n");
    s.flag = flag;
    s.raw = {};  // a marked line is written whole, CR LF and all
}

void Folding::Delete(const Entry& line, Sentence& s) {
    if (!s.live) {
        ++notes_.noEffect;
        return;
    }
    AnchorOf(s);
    --written_;
    s.live = false;
    s.taken = 0;
    if (s.points > 0)
        Book(line, Ledger::Kind::Delete, s.id, -s.points, true, true, &s.taken);
    s.trashSerial = NewSerial();
    s.deletedAt = line.time;
}

void Folding::Restore(const Entry& line, Sentence& s) {
    if (s.live || s.purged) {
        ++notes_.noEffect;
        return;
    }
    PutBack(s);
    s.live = true;
    ++written_;
    if (s.taken > 0) Book(line, Ledger::Kind::Undo, s.id, s.taken, false, false);
    s.taken = 0;
    serials_.erase(s.trashSerial);
    s.trashSerial = 0;
    DropBaseTrashLine(s);
}

void Folding::Purge(const Entry&, Sentence& s) {
    if (s.live || s.purged) {
        ++notes_.noEffect;
        return;
    }
    s.purged = true;
    serials_.erase(s.trashSerial);
    // Gone for good, from the log and the trash alike: its second is free again.
    std::int64_t numeric = 0;
    if (qv::ReadPlainDigits(s.id, numeric)) usedIds_.erase(numeric);
    DropBaseTrashLine(s);
}

void Folding::PurgeRule(const Entry& line) {
    const std::int64_t number = qv::ReadInt64(line.Field(0)), at = qv::ReadInt64(line.Field(1));
    const size_t before = articleTrash_.size();
    std::erase_if(articleTrash_, [&](const auto& kept) {
        const bool gone = qv::ReadInt64(kept.second.line) == number && kept.second.at == at;
        if (gone) serials_.erase(kept.first);
        return gone;
    });
    if (articleTrash_.size() == before) ++notes_.noEffect;
}

void Folding::ReportPoints(const Entry& line) {
    std::array<std::int64_t, 4> units{};
    std::string_view text = line.Field(0);
    for (size_t i = 0, at = 0; i < 4; ++i) {
        const size_t slash = text.find('/', at);
        units[i] = qv::ReadInt64(text.substr(at, slash - at));
        at = slash + 1;
    }
    Report r;
    r.units = units;
    Book(line, Ledger::Kind::Report, {}, -qv::ReadInt64(line.Field(1)), true, false, &r.taken, units);
    reports_[*KeyOf(line.Device(), std::to_string(line.seq))] = r;
    WakeWaiting(line);
}

void Folding::Unreport(const Entry& line, Report& r) {
    if (r.undone) {
        ++notes_.noEffect;
        return;
    }
    r.undone = true;
    if (r.taken > 0) Book(line, Ledger::Kind::Undo, {}, r.taken, false, false, nullptr, r.units);
}

void Folding::Rule(const Entry& line) {
    std::string text(line.Fields(0, 14));
    const std::int64_t number = qv::ReadInt64(line.Field(0));
    // An article put back from the trash (under its free number, with its own created
    // time) leaves the trash.
    if (!rules_.count(number))
        std::erase_if(articleTrash_, [&](const auto& kept) {
            const bool back = qv::ReadInt64(kept.second.line) == number &&
                              FieldOf(kept.second.line, 1) == line.Field(1);
            if (back) serials_.erase(kept.first);
            return back;
        });
    // Another article under the same number (made apart on another computer, or replaced
    // on purpose) goes to the trash rather than vanishing.
    auto held = rules_.find(number);
    if (held != rules_.end() && held->second == text && line.Field(14) == "new") {
        ++notes_.noEffect;  // the same article added on two computers (or taken in twice)
        return;
    }
    if (held != rules_.end() && line.Field(14) == "new") {
        const std::int64_t serial = NewSerial();
        articleTrash_[serial] = {serial, line.time, held->second};
        ++notes_.articlesReplaced;
    }
    rules_[number] = std::move(text);
    bookChanged_ = true;
    bookTime_ = line.time;
}

void Folding::Unrule(const Entry& line) {
    auto found = rules_.find(qv::ReadInt64(line.Field(0)));
    if (found == rules_.end()) {
        ++notes_.noEffect;
        return;
    }
    const std::int64_t serial = NewSerial();
    articleTrash_[serial] = {serial, line.time, found->second};
    rules_.erase(found);
    bookChanged_ = true;
    bookTime_ = line.time;
}

ViewBytes Folding::Views() const {
    ViewBytes v;
    // The rule book as the rule list saves it: header, then the articles by number.
    if (!bookChanged_) {
        v.book = header_;
    } else {
        std::vector<std::string> h = headerFields_;
        h.resize(std::max<size_t>(h.size(), 12));
        h[0] = "qvrule", h[1] = "1", h[2] = "id1", h[3] = std::to_string(bookTime_);
        for (size_t i = 0; i < 12; ++i) v.book += (i ? "\t" : "") + h[i];
        v.book += "\r\n";
    }
    for (const auto& [number, line] : rules_) v.book += line + "\r\n";
    // A last line without line end: the rule list reads one that is an article as such (its
    // save comes as a rule line), and keeps any other, ended, after the articles.
    if (!bookChanged_) v.book += bookTail_;
    else if (!bookTail_.empty() && !IsArticleLine(bookTail_))
        v.book += bookTail_ + "\r\n";

    for (const LogItem& item : log_) {
        if (item.sentence == SIZE_MAX) v.log.append(item.other).append(item.ended ? "\r\n" : "");
        else if (sentences_[item.sentence].live) v.log += sentences_[item.sentence].Line();
    }
    if (hasBalance_ && !balanceRaw_.empty()) {
        v.balance = balanceRaw_;
    } else if (hasBalance_) {
        for (size_t i = 0; i < balanceFields_.size(); ++i) v.balance += (i ? "\t" : "") + balanceFields_[i];
    }
    v.ledger = ledger_;
    v.reasons = reasons_;
    v.marks = marks_;

    // The trash: what stays of the base's, then what the journals deleted, by serial.
    for (const std::string& kept : trashKept_) v.trash += kept;
    std::map<std::int64_t, std::string> entries;
    for (const Sentence& s : sentences_) {
        if (s.live || s.purged || FromTrash(s.key)) continue;
        Trash::Entry e{s.trashSerial, Trash::Kind::LogRecord, s.deletedAt, s.taken, s.anchor, s.nth,
                       std::string(WithoutEnd(s.Line()))};
        entries[s.trashSerial] = Trash::ToLine(e);
    }
    for (const auto& [serial, a] : articleTrash_)
        entries[serial] = Trash::ToLine({serial, Trash::Kind::Article, a.at, 0, {}, 0, a.line});
    for (const auto& [serial, line] : entries) v.trash += line;
    return v;
}

std::vector<FoldedSentence> Folding::Sentences() const {
    std::vector<FoldedSentence> out;
    out.reserve(sentences_.size());
    for (const Sentence& s : sentences_) out.push_back({RefOf(s.key), s.id, s.live});
    return out;
}

// Every journal's actions in fold order: by order (a line's time, or later than every line
// its writer had seen), each journal's own in their order, equal orders by device. Bases
// are no actions: taken first, they hold no journal back.
std::vector<Entry> InFoldOrder(const std::vector<JournalRead>& journals, std::vector<Entry>& bases) {
    using Next = std::pair<std::pair<qv::Seconds, std::string_view>, size_t>;
    std::priority_queue<Next, std::vector<Next>, std::greater<Next>> heads;
    std::vector<size_t> at(journals.size(), 0);
    const auto push = [&](size_t j) {
        const auto& lines = journals[j].lines;
        for (; at[j] < lines.size() && lines[at[j]].kind == Kind::Base; ++at[j])
            bases.emplace_back(journals[j], lines[at[j]]);
        if (at[j] < lines.size()) heads.push({{lines[at[j]].order, journals[j].device}, j});
    };
    size_t total = 0;
    for (size_t j = 0; j < journals.size(); ++j) {
        total += journals[j].lines.size();
        push(j);
    }
    std::vector<Entry> out;
    out.reserve(total);
    while (!heads.empty()) {
        const size_t j = heads.top().second;
        heads.pop();
        out.emplace_back(journals[j], journals[j].lines[at[j]]);
        ++at[j];
        push(j);
    }
    // The first base is the folder's: by time, then device, the same on every computer.
    std::stable_sort(bases.begin(), bases.end(), [](const Entry& x, const Entry& y) {
        return std::pair(x.time, std::string_view(x.Device())) < std::pair(y.time, std::string_view(y.Device()));
    });
    return out;
}

}  // namespace

const std::array<FolderFile, 7>& FolderFiles() {
    static const std::array<FolderFile, 7> files{{
        {"test.dat", &DataFolder::BookPath, &ViewBytes::book},
        {"test.log", &DataFolder::LogPath, &ViewBytes::log},
        {"user.dat", &DataFolder::BalancePath, &ViewBytes::balance},
        {"user.ldg", &DataFolder::LedgerPath, &ViewBytes::ledger},
        {"test.trs", &DataFolder::TrashPath, &ViewBytes::trash},
        {"test.rsn", &DataFolder::ReasonsPath, &ViewBytes::reasons},
        {"test.mrk", &DataFolder::MarksPath, &ViewBytes::marks},
    }};
    return files;
}

std::string BaseHash(const ViewBytes& base) {
    std::uint64_t h = 1469598103934665603ULL;
    for (const FolderFile& file : FolderFiles()) {
        const std::string& bytes = base.*file.bytes;
        h = Fnv(bytes, Fnv(std::to_string(bytes.size()) + "\n", h));
    }
    static const char kHex[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i, h >>= 4) out[i] = kHex[h & 0xF];
    return out;
}

std::string BaseToText(const ViewBytes& base) {
    std::string out;
    for (const FolderFile& file : FolderFiles()) {
        const std::string& bytes = base.*file.bytes;
        out += std::string(file.name) + "\t" + std::to_string(bytes.size()) + "\r\n" + bytes + "\r\n";
    }
    return out;
}

std::optional<ViewBytes> BaseFromText(std::string_view text) {
    ViewBytes out;
    for (const FolderFile& file : FolderFiles()) {
        const size_t end = text.find("\r\n");
        if (end == std::string_view::npos) return std::nullopt;
        const std::string_view head = text.substr(0, end);
        const size_t tab = head.find('\t');
        std::int64_t size = 0;
        if (tab == std::string_view::npos || head.substr(0, tab) != file.name ||
            !qv::ReadPlainDigits(head.substr(tab + 1), size) ||
            text.size() - end - 2 < static_cast<size_t>(size) + 2)
            return std::nullopt;
        text.remove_prefix(end + 2);
        out.*file.bytes = std::string(text.substr(0, static_cast<size_t>(size)));
        if (text.substr(static_cast<size_t>(size), 2) != "\r\n") return std::nullopt;
        text.remove_prefix(static_cast<size_t>(size) + 2);
    }
    if (!text.empty()) return std::nullopt;
    return out;
}

// How far before a found record's second the decide that made it may lie.
constexpr qv::Seconds kFoundWithin = 3600;

ViewBytes Fold(const std::vector<JournalRead>& journals, const BaseLookup& base, FoldNotes* notes,
               std::vector<FoldedSentence>* sentences) {
    FoldNotes local;
    FoldNotes& n = notes ? *notes : local;
    n = {};
    Folding folding(base, n);
    std::vector<Entry> bases;
    const std::vector<Entry> order = InFoldOrder(journals, bases);
    folding.Reserve(order.size());
    folding.TakeOrigins(journals);
    folding.TakeBases(bases);
    // A computer voids only its own lines: what it undid before the files had it.
    std::set<std::pair<std::string_view, std::int64_t>> voided;
    for (const Entry& line : order)
        if (line.kind == Kind::Void && line.Field(0) == line.Device())
            voided.emplace(line.Device(), qv::ReadInt64(line.Field(1)));
    // A record found in a log that a decide of the same fields made up to an hour before
    // its second is that decide's, written by a computer before the line arrived here (the
    // fold there may have moved it to a later second): the decide holds. Several computers
    // may find the same record: it counts once.
    std::map<std::string_view, std::set<qv::Seconds>> decided;
    std::set<std::pair<std::string_view, std::string_view>> found;
    if (std::any_of(order.begin(), order.end(), [](const Entry& e) { return e.kind == Kind::Found; }))
        for (const Entry& line : order)
            if (line.kind == Kind::Decide) decided[line.Fields(0, 9)].insert(line.time);
    for (const Entry& line : order) {
        if (!voided.empty() && voided.count({line.Device(), line.seq})) continue;
        if (line.kind == Kind::Found) {
            if (!found.emplace(line.Field(0), line.Fields(2, 11)).second) continue;
            auto same = decided.find(line.Fields(2, 11));
            if (same != decided.end()) {
                const qv::Seconds at = qv::ReadInt64(line.Field(0));
                auto d = same->second.upper_bound(at);
                if (d != same->second.begin() && *std::prev(d) >= at - kFoundWithin) continue;
            }
        }
        folding.Apply(line);
    }
    n.waiting = folding.Waiting();
    ViewBytes views = folding.Views();
    if (sentences) *sentences = folding.Sentences();
    return views;
}

}  // namespace qv::records

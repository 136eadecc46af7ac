#include "records/Merge.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <optional>
#include <set>

#include "records/Backups.h"
#include "records/Change.h"
#include "records/Intent.h"
#include "records/Journal.h"
#include "records/Ledger.h"
#include "records/Marks.h"
#include "records/SentenceLog.h"
#include "records/Trash.h"
#include "rulebook/Rule.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace qv::records {
namespace {

std::string FirstField(std::string_view text) {
    return std::string(text.substr(0, text.find('\t')));
}

void EndLine(std::string& bytes) {
    if (!bytes.empty() && bytes.back() != '\n') bytes += "\r\n";
}

using Renames = std::map<std::string, std::string>;  // their identifier -> the one it takes

// ---- the log ----

struct LogMerge {
    std::string bytes;
    Renames renamed;
};

LogMerge MergeLog(std::string_view ours, std::string_view theirs,
                  const std::vector<Trash::Entry>& ourTrash,
                  const std::vector<Trash::Entry>& theirTrash,
                  const std::vector<MarkJournal::Event>& events, MergeCounts& counts) {
    std::set<std::string> ourDeleted, theirDeleted;
    for (const Trash::Entry& t : ourTrash)
        if (t.kind == Trash::Kind::LogRecord) ourDeleted.insert(RecordKey(t.payload));
    for (const Trash::Entry& t : theirTrash)
        if (t.kind == Trash::Kind::LogRecord) theirDeleted.insert(RecordKey(t.payload));

    std::map<std::string, size_t> ourCount;
    std::set<std::string> ourIds;
    std::map<std::string, std::vector<std::string>> ourMoved;  // key without id -> ids
    qv::ForEachLine(ours, [&](const qv::Line& line) {
        if (!SentenceLog::IsRecord(line)) return;
        ++ourCount[RecordKey(line.text)];
        ourIds.insert(FirstField(line.text));
        ourMoved[RecordKey(WithField(line.text, 0, ""))].push_back(FirstField(line.text));
    });
    // Their records: the ones ours has too (with their marks), and the ones it has not.
    std::map<std::string, std::vector<std::string>> theirFlags;
    struct Extra {
        std::string line;
        std::int64_t time;
        size_t order;
    };
    std::vector<Extra> extras;
    {
        std::map<std::string, size_t> left = ourCount;
        qv::ForEachLine(theirs, [&](const qv::Line& line) {
            if (!SentenceLog::IsRecord(line)) return;
            const std::string key = RecordKey(line.text);
            if (auto it = left.find(key); it != left.end() && it->second > 0) {
                --it->second;
                theirFlags[key].emplace_back(
                    SentenceLog::Contents::FieldOf(line.text, SentenceRecord::kExecuted));
                return;
            }
            if (ourDeleted.count(key) != 0) return;  // deleted here: stays deleted
            // A binary or hand-made copy brings no record this program would not write.
            if (!IsSoundRecord(line.text)) {
                ++counts.refused;
                return;
            }
            // Taken in before under the next free second: the same sentence.
            const std::string id = FirstField(line.text);
            if (ourIds.count(id) != 0) {
                const auto moved = ourMoved.find(RecordKey(WithField(line.text, 0, "")));
                if (moved != ourMoved.end())
                    for (const std::string& other : moved->second)
                        if (qv::ReadInt64(other) > qv::ReadInt64(id)) return;
            }
            extras.push_back({std::string(line.text), qv::ReadInt64(FirstField(line.text)),
                              extras.size()});
        });
    }
    // A different sentence under an identifier ours uses takes the next free second, one
    // no sentence waiting in either trash holds either.
    std::set<std::string> used = ourIds;
    for (const Extra& e : extras) used.insert(FirstField(e.line));
    for (const auto* trash : {&ourTrash, &theirTrash})
        for (const Trash::Entry& t : *trash)
            if (t.kind == Trash::Kind::LogRecord) used.insert(FirstField(t.payload));
    LogMerge out;
    for (Extra& e : extras) {
        const std::string id = FirstField(e.line);
        if (ourIds.count(id) == 0) continue;
        std::int64_t t = e.time;
        std::string free;
        do free = qv::Decimal(++t);
        while (used.count(free) != 0);
        used.insert(free);
        out.renamed[id] = free;
        e.line = WithField(e.line, SentenceRecord::kDecisionTime, free);
        e.time = t;
        ++counts.renumbered;
    }
    std::stable_sort(extras.begin(), extras.end(),
                     [](const Extra& a, const Extra& b) { return a.time < b.time; });
    counts.records += extras.size();

    // The later mark event of a sentence; executed when none tells.
    auto markOf = [&](const std::string& id) {
        const MarkJournal::Event* last = nullptr;
        for (const MarkJournal::Event& ev : events)
            if (ev.id == id && (last == nullptr || ev.time >= last->time)) last = &ev;
        return last == nullptr || last->executed ? std::string("1") : std::string("0");
    };

    size_t next = 0;
    auto emitUpTo = [&](std::optional<std::int64_t> before) {
        while (next < extras.size() && (!before || extras[next].time < *before)) {
            EndLine(out.bytes);
            out.bytes += extras[next++].line;
            out.bytes += "\r\n";
        }
    };
    std::map<std::string, size_t> theirLeft;
    for (const auto& [key, flags] : theirFlags) theirLeft[key] = flags.size();
    std::map<std::string, size_t> theirSeen;
    qv::ForEachLine(ours, [&](const qv::Line& line) {
        if (!SentenceLog::IsRecord(line)) {
            out.bytes += line.raw;
            return;
        }
        const std::string key = RecordKey(line.text);
        auto left = theirLeft.find(key);
        if (left == theirLeft.end() || left->second == 0) {
            if (theirDeleted.count(key) != 0) {  // deleted there while we kept it
                ++counts.deletes;
                return;
            }
            emitUpTo(qv::ReadInt64(FirstField(line.text)));
            out.bytes += line.raw;
            return;
        }
        --left->second;
        const std::string& theirFlag = theirFlags[key][theirSeen[key]++];
        const std::string_view ourFlag =
            SentenceLog::Contents::FieldOf(line.text, SentenceRecord::kExecuted);
        emitUpTo(qv::ReadInt64(FirstField(line.text)));
        if (theirFlag == ourFlag) {
            out.bytes += line.raw;
            return;
        }
        const std::string flag = markOf(FirstField(line.text));
        if (flag == ourFlag) {
            out.bytes += line.raw;
            return;
        }
        ++counts.marks;
        out.bytes += WithField(line.text, SentenceRecord::kExecuted, flag);
        out.bytes += line.raw.substr(line.text.size());  // its own line end
    });
    emitUpTo(std::nullopt);
    return out;
}

// ---- journals ----

// ours with every whole line of theirs that it lacks, in their order; rename may change a
// line of theirs before it is compared.
std::string UnionLines(std::string_view ours, std::string_view theirs,
                       const std::function<std::string(std::string_view)>& rename) {
    std::set<std::string_view> have;
    qv::ForEachLine(ours, [&](const qv::Line& line) {
        if (line.terminated) have.insert(line.text);
    });
    std::string out(ours);
    std::vector<std::string> added;
    qv::ForEachLine(theirs, [&](const qv::Line& line) {
        if (!line.terminated || line.text.empty()) return;
        std::string text = rename ? rename(line.text) : std::string(line.text);
        if (have.count(text) != 0) return;
        if (std::find(added.begin(), added.end(), text) != added.end()) return;
        added.push_back(std::move(text));
    });
    if (added.empty()) return out;
    EndLine(out);
    for (const std::string& line : added) out += line + "\r\n";
    return out;
}

std::string RenameField(std::string_view line, size_t f, const Renames& renamed) {
    const auto field = qv::FieldAt(line, f);
    if (!field) return std::string(line);
    const auto it = renamed.find(std::string(*field));
    return it == renamed.end() ? std::string(line) : WithField(line, f, it->second);
}

std::string MergeTrash(std::string_view ours, std::string_view theirs) {
    const Trash::Contents a = Trash::Parse(ours), b = Trash::Parse(theirs);
    auto key = [](Trash::Entry e) {
        e.serial = 0;
        return Trash::ToLine(e);
    };
    std::set<std::string> have;
    std::set<std::int64_t> serials;
    std::int64_t next = 1;
    for (const Trash::Entry& e : a.entries) {
        have.insert(key(e));
        serials.insert(e.serial);
        next = std::max(next, e.serial + 1);
    }
    for (const Trash::Entry& e : b.entries) next = std::max(next, e.serial + 1);
    std::string out(ours);
    bool ended = false;
    for (Trash::Entry e : b.entries) {
        if (!have.insert(key(e)).second) continue;
        if (serials.count(e.serial) != 0) e.serial = next++;  // the serial is taken here
        serials.insert(e.serial);
        if (!ended) EndLine(out);
        ended = true;
        out += Trash::ToLine(e);
    }
    return out;
}

// ---- balance and ledger ----

std::string Identity(Ledger::Entry e) {
    e.merged = false;
    return Ledger::ToLine(e);
}

// The balance file with field 3 set to figure; nothing when it has not six fields.
std::optional<std::string> WithBalance(std::string_view bytes, std::int64_t figure) {
    if (std::count(bytes.begin(), bytes.end(), '\t') < 5) return std::nullopt;
    return WithField(bytes, 3, qv::Decimal(figure));
}

// The points of each sentence a side holds, in its log or its trash, by identifier.
std::map<std::string, std::int64_t> PointsById(const FolderBytes& side) {
    std::map<std::string, std::int64_t> points;
    const auto note = [&](std::string_view record) {
        const std::string_view id = record.substr(0, record.find('\t'));
        points[std::string(id)] = std::max<std::int64_t>(
            0, qv::ReadInt64(SentenceLog::Contents::FieldOf(record, SentenceRecord::kPoints)));
    };
    qv::ForEachLine(side.log, [&](const qv::Line& line) {
        if (SentenceLog::IsRecord(line)) note(line.text);
    });
    for (const Trash::Entry& t : Trash::Parse(side.trash).entries)
        if (t.kind == Trash::Kind::LogRecord) note(t.payload);
    return points;
}

// Whether a booking of the other side follows from a sentence it holds: a credit is the
// sentence's points, a give-back no more than them. Others (reports, adjusts) are taken
// as booked.
bool Backed(const Ledger::Entry& e, const std::map<std::string, std::int64_t>& points) {
    if (e.kind != Ledger::Kind::Credit && !(e.kind == Ledger::Kind::Undo && !e.id.empty())) return true;
    const auto found = points.find(e.id);
    if (found == points.end()) return false;
    return e.kind == Ledger::Kind::Credit ? e.asked == found->second : e.asked <= found->second;
}

struct LedgerMerge {
    std::string ledger;
    std::string balance;
};

LedgerMerge MergeLedger(const FolderBytes& ours, const FolderBytes& theirs,
                        const Renames& renamed, qv::Seconds now, MergeCounts& counts) {
    LedgerMerge out{ours.ledger, ours.balance};
    const Ledger::Contents a = Ledger::Parse(ours.ledger), b = Ledger::Parse(theirs.ledger);
    std::set<std::string> ourLines;
    for (const auto* list : {&a.entries, &a.merged})
        for (const Ledger::Entry& e : *list) ourLines.insert(Identity(e));
    std::vector<Ledger::Entry> fresh;  // their lines ours lacks, in their order
    {
        std::set<std::string> seen;
        for (const auto* list : {&b.entries, &b.merged})
            for (const Ledger::Entry& e : *list)
                if (ourLines.count(Identity(e)) == 0 && seen.insert(Identity(e)).second)
                    fresh.push_back(e);
        std::stable_sort(fresh.begin(), fresh.end(),
                         [](const Ledger::Entry& x, const Ledger::Entry& y) { return x.time < y.time; });
    }
    if (fresh.empty()) return out;
    // Only the other side's bookings of merges we have made too: kept, nothing to book.
    const bool acted = std::any_of(fresh.begin(), fresh.end(), [](const Ledger::Entry& e) {
        return e.kind != Ledger::Kind::Merge && e.kind != Ledger::Kind::Open;
    });

    // Both sides' actions since their ledgers parted, replayed in time order from the
    // figure they last shared.
    size_t common = 0;
    while (common < a.entries.size() && common < b.entries.size() &&
           Identity(a.entries[common]) == Identity(b.entries[common]))
        ++common;
    std::int64_t balance = 0;
    if (common > 0) {
        balance = a.entries[common - 1].after;
    } else if (!a.entries.empty() && a.entries.front().kind == Ledger::Kind::Open) {
        balance = a.entries.front().after;
    }
    std::set<std::string> shared;
    for (size_t i = 0; i < common; ++i) shared.insert(Identity(a.entries[i]));
    std::vector<Ledger::Entry> actions;
    std::set<std::string> taken;
    const std::map<std::string, std::int64_t> theirPoints = PointsById(theirs);
    for (const Ledger::Contents* c : {&a, &b})
        for (const auto* list : {&c->entries, &c->merged})
            for (const Ledger::Entry& e : *list) {
                if (e.kind == Ledger::Kind::Open || e.kind == Ledger::Kind::Merge) continue;
                const std::string id = Identity(e);
                if (shared.count(id) != 0 || !taken.insert(id).second) continue;
                if (c == &b && ourLines.count(id) == 0 && !Backed(e, theirPoints)) {
                    ++counts.refusedBookings;
                    continue;
                }
                actions.push_back(e);
            }
    std::stable_sort(actions.begin(), actions.end(),
                     [](const Ledger::Entry& x, const Ledger::Entry& y) { return x.time < y.time; });
    for (const Ledger::Entry& e : actions) {
        balance = qv::SaturatingAdd(balance, e.asked);
        if ((e.kind == Ledger::Kind::Report || e.kind == Ledger::Kind::Delete) && balance < 0)
            balance = 0;
    }

    std::vector<std::string_view> fields;
    std::int64_t ourFigure = 0;
    const bool haveBalance = std::count(ours.balance.begin(), ours.balance.end(), '\t') >= 5;
    if (haveBalance)
        ourFigure = qv::ReadInt64(*qv::FieldAt(ours.balance, PointBalance::kBalanceField));
    else
        counts.balanceKept = true;
    const std::int64_t merged = haveBalance ? balance : ourFigure;
    std::string lines;
    for (Ledger::Entry e : fresh) {
        if (auto it = renamed.find(e.id); it != renamed.end()) e.id = it->second;
        e.merged = true;
        lines += Ledger::ToLine(e);
    }
    if (haveBalance && acted) {
        lines += Ledger::LinesFor({now, Ledger::Kind::Merge, {}, std::nullopt,
                                   qv::SaturatingAdd(merged, -ourFigure), ourFigure, merged},
                                  a.Last());
        counts.points = qv::SaturatingAdd(merged, -ourFigure);
        if (merged != ourFigure) out.balance = *WithBalance(ours.balance, merged);
    }
    EndLine(out.ledger);
    out.ledger += lines;
    return out;
}

// ---- the rule book ----

struct Book {
    std::string header;  // line 0 without its line end
    std::string headerEnd;
    std::map<int, std::string> rules;  // number -> line without its line end
    std::map<int, qv::Seconds> updated;
    std::vector<std::string> others;   // lines that are no rule, as stored
};

Book ParseBook(std::string_view bytes) {
    Book book;
    bool first = true;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        if (first) {
            book.header = std::string(line.text);
            book.headerEnd = std::string(line.raw.substr(line.text.size()));
            first = false;
            return;
        }
        CRule rule;
        if (line.terminated && rule.FromLine(line.text) && rule.GetNumber() >= 1 &&
            rule.GetNumber() <= 9999) {
            book.rules[rule.GetNumber()] = std::string(line.text);  // a later line wins
            book.updated[rule.GetNumber()] = rule.GetUpdated();
        } else if (!line.text.empty() || !line.terminated) {
            book.others.emplace_back(line.raw);
        }
    });
    return book;
}

Implements ImplementsOf(std::string_view header) {
    Implements imp;
    std::vector<std::string_view> f;
    qv::SplitFields(header, f);
    for (size_t i = 0; i < 4; ++i) {
        if (4 + 2 * i < f.size()) imp.names[i] = std::string(f[4 + 2 * i]);
        if (5 + 2 * i < f.size()) imp.weights[i] = std::string(f[5 + 2 * i]);
    }
    return imp;
}

// Deleted articles by number: the latest time each was put in the trash.
std::map<int, qv::Seconds> DeletedArticles(std::string_view trash) {
    std::map<int, qv::Seconds> out;
    for (const Trash::Entry& t : Trash::Parse(trash).entries) {
        CRule rule;
        if (t.kind != Trash::Kind::Article || !rule.FromLine(t.payload)) continue;
        auto& at = out[rule.GetNumber()];
        at = std::max(at, t.deletedAt);
    }
    return out;
}

std::string MergeBook(const FolderBytes& ours, const FolderBytes& theirs,
                      const ChooseImplements& choose, MergeCounts& counts) {
    if (ours.book == theirs.book || theirs.book.empty() || ours.book.empty()) return ours.book;
    Book a = ParseBook(ours.book);
    const Book b = ParseBook(theirs.book);
    const auto deletedHere = DeletedArticles(ours.trash), deletedThere = DeletedArticles(theirs.trash);
    bool changed = false;
    for (const auto& [number, line] : b.rules) {
        const auto mine = a.rules.find(number);
        if (mine == a.rules.end()) {
            const auto gone = deletedHere.find(number);
            if (gone != deletedHere.end() && gone->second >= b.updated.at(number)) continue;
            a.rules[number] = line;  // new there
            ++counts.articles;
            changed = true;
        } else if (mine->second != line && b.updated.at(number) > a.updated.at(number)) {
            mine->second = line;
            ++counts.articles;
            changed = true;
        }
    }
    for (auto it = a.rules.begin(); it != a.rules.end();) {
        const auto gone = deletedThere.find(it->first);
        if (b.rules.count(it->first) == 0 && gone != deletedThere.end() &&
            gone->second >= a.updated.at(it->first)) {
            it = a.rules.erase(it);  // deleted there after our last change
            ++counts.articles;
            changed = true;
        } else {
            ++it;
        }
    }
    const Implements mine = ImplementsOf(a.header), other = ImplementsOf(b.header);
    if (mine != other) {
        counts.implementsDiffered = true;
        counts.keptOwnImplements = !(choose && choose(mine, other));
        if (!counts.keptOwnImplements) {
            for (size_t i = 0; i < 4; ++i) {
                a.header = WithField(a.header, 4 + 2 * i, other.names[i]);
                a.header = WithField(a.header, 5 + 2 * i, other.weights[i]);
            }
            changed = true;
        }
    }
    if (!changed) return ours.book;
    std::string out = a.header + (a.headerEnd.empty() ? std::string("\r\n") : a.headerEnd);
    for (const auto& [number, line] : a.rules) out += line + "\r\n";
    for (const std::string& other : a.others) {
        EndLine(out);
        out += other;
    }
    return out;
}

}  // namespace

FolderBytes MergeBytes(const FolderBytes& ours, const FolderBytes& theirs, qv::Seconds now,
                       const ChooseImplements& choose, MergeCounts& counts) {
    FolderBytes out = ours;
    const Trash::Contents ourTrash = Trash::Parse(ours.trash), theirTrash = Trash::Parse(theirs.trash);
    std::vector<MarkJournal::Event> events = MarkJournal::Parse(ours.marks);
    for (MarkJournal::Event& e : MarkJournal::Parse(theirs.marks)) events.push_back(std::move(e));
    LogMerge log = ours.log == theirs.log
                       ? LogMerge{ours.log, {}}
                       : MergeLog(ours.log, theirs.log, ourTrash.entries, theirTrash.entries,
                                  events, counts);
    out.log = std::move(log.bytes);
    const Renames& renamed = log.renamed;
    out.book = MergeBook(ours, theirs, choose, counts);
    if (ours.trash != theirs.trash) out.trash = MergeTrash(ours.trash, theirs.trash);
    if (ours.reasons != theirs.reasons)
        out.reasons = UnionLines(ours.reasons, theirs.reasons, [&](std::string_view line) {
            return RenameField(line, 0, renamed);
        });
    if (ours.marks != theirs.marks)
        out.marks = UnionLines(ours.marks, theirs.marks, [&](std::string_view line) {
            return RenameField(line, 1, renamed);
        });
    if (ours.ledger != theirs.ledger) {
        LedgerMerge l = MergeLedger(ours, theirs, renamed, now, counts);
        out.ledger = std::move(l.ledger);
        out.balance = std::move(l.balance);
    }
    return out;
}

// ---- the change ----

namespace {

// The staging folder's files, by the folder's files.
struct Slot {
    const char* key;
    const std::string& (DataFolder::*path)() const;
    std::string FolderBytes::*bytes;
};
constexpr Slot kSlots[] = {
    {"dat", &DataFolder::BookPath, &FolderBytes::book},
    {"log", &DataFolder::LogPath, &FolderBytes::log},
    {"bal", &DataFolder::BalancePath, &FolderBytes::balance},
    {"ldg", &DataFolder::LedgerPath, &FolderBytes::ledger},
    {"trs", &DataFolder::TrashPath, &FolderBytes::trash},
    {"rsn", &DataFolder::ReasonsPath, &FolderBytes::reasons},
    {"mrk", &DataFolder::MarksPath, &FolderBytes::marks},
};

std::string StagingOf(const DataFolder& folder) { return folder.ConflictFolder() + "/.merging"; }

bool MakeFolder(const std::string& path, qv::io::IoError* error) {
    if (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) {
        // A link, even to a folder, would carry the merge's files out of the data folder.
        if (qv::io::IsRealFolder(path)) return true;
        return qv::io::Fail(error, qv::io::IoError::Op::Write, path, ENOTDIR);
    }
    return qv::io::Fail(error, qv::io::IoError::Op::Write, path, errno);
}

void DropStaging(const std::string& staging) {
    // Only a real folder inside a real conflicts/ is ours to empty: a link there leads
    // elsewhere, and what it leads to is not ours.
    const std::string parent = staging.substr(0, staging.rfind('/'));
    if (!qv::io::IsRealFolder(parent) || !qv::io::IsRealFolder(staging)) return;
    std::vector<std::string> names;
    if (DIR* d = ::opendir(staging.c_str()); d != nullptr) {
        while (const dirent* e = ::readdir(d))
            if (std::string_view(e->d_name) != "." && std::string_view(e->d_name) != "..")
                names.emplace_back(e->d_name);
        ::closedir(d);
    }
    // The plan first: without it the rest is no merge.
    std::sort(names.begin(), names.end(), [](const std::string& x, const std::string& y) {
        return (x == "plan") > (y == "plan") || ((x == "plan") == (y == "plan") && x < y);
    });
    // A link is removed itself, never what it leads to; a folder stays.
    for (const std::string& name : names)
        if (!qv::io::IsRealFolder(staging + '/' + name)) qv::io::RemoveFile(staging + '/' + name);
    ::rmdir(staging.c_str());
}

// A copy's name as the plan holds it: one line, whatever bytes the name has.
std::string EscapeName(std::string_view name) {
    std::string out;
    for (char c : name) {
        if (c == '%' || c == '\r' || c == '\n' || c == '\t') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string UnescapeName(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const int hi = i + 2 < text.size() && text[i] == '%' ? HexDigit(text[i + 1]) : -1;
        const int lo = hi >= 0 ? HexDigit(text[i + 2]) : -1;
        if (lo >= 0) {
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// A plan names copies in the data folder itself: a name that climbs out or into a
// sub-folder is no copy of ours.
bool IsPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

// Where a copy goes in conflicts/: its own name, or with a number when that is taken.
std::string ParkingPlace(const std::string& folder, const std::string& name) {
    std::string target = folder + '/' + name;
    for (int n = 2; qv::io::Resolve(target).kind != qv::io::Target::Kind::Missing; ++n)
        target = folder + '/' + std::to_string(n) + '-' + name;
    return target;
}

// The merge the plan in staging describes, carried out: every staged file replaces its
// file, then every copy moves into conflicts/, then staging goes. Each step is made again
// safely after a kill.
bool Finish(const DataFolder& folder, qv::Clock clock, qv::io::IoError* error) {
    const std::string staging = StagingOf(folder);
    std::string plan;
    switch (qv::io::ReadFile(staging + "/plan", plan, qv::io::kWholeFile, error)) {
        case qv::io::ReadStatus::Ok:
            break;
        case qv::io::ReadStatus::Unreadable:
            return false;  // tried again at the next start
        default:
            DropStaging(staging);  // done before (the plan goes once all is made)
            return true;
    }
    const Backups backups(folder.BackupFolder(), clock);
    bool ok = true;
    qv::ForEachLine(plan, [&](const qv::Line& line) {
        if (!ok || !line.terminated) return;
        const size_t tab = line.text.find('\t');
        if (tab == std::string_view::npos) return;
        const std::string_view what = line.text.substr(0, tab);
        const std::string arg(line.text.substr(tab + 1));
        if (what == "write") {
            for (const Slot& slot : kSlots) {
                if (arg != slot.key) continue;
                const std::string& target = (folder.*slot.path)();
                const std::string staged = staging + '/' + slot.key;
                if (!qv::io::IsRegularNoFollow(staged)) return;  // written already, or not ours to read
                std::string bytes;
                const auto read = qv::io::ReadFile(staged, bytes, qv::io::kWholeFile, error);
                if (read == qv::io::ReadStatus::Missing) return;  // written already
                if (read == qv::io::ReadStatus::Unreadable) {
                    ok = false;
                    return;
                }
                if (target != folder.TrashPath()) {
                    const Backups::OnReplace keep(backups, target);
                    ok = qv::io::WriteFileAtomic(target, bytes, error);
                } else {
                    ok = qv::io::WriteFileAtomic(target, bytes, error);
                }
                ok = ok && qv::io::RemoveFile(staged);
            }
        } else if (what == "move") {
            if (!IsPlainName(UnescapeName(arg))) return;
            const std::string name = UnescapeName(arg);
            const std::string from =
                folder.Dir().empty() || folder.Dir() == "." ? name : folder.Dir() + '/' + name;
            struct stat st {};
            if (::lstat(from.c_str(), &st) != 0) return;  // moved already
            if (!qv::io::IsRealFolder(folder.ConflictFolder())) {
                ok = qv::io::Fail(error, qv::io::IoError::Op::Rename, from, ENOTDIR);
                return;
            }
            const std::string to = ParkingPlace(folder.ConflictFolder(), name);
            if (qv::io::Sys().rename(from.c_str(), to.c_str()) != 0)
                ok = qv::io::Fail(error, qv::io::IoError::Op::Rename, from, errno);
        }
    });
    if (!ok) return false;
    DropStaging(staging);
    return true;
}

bool ReadSide(const std::string& path, std::string& out, qv::io::IoError* error) {
    out.clear();
    if (path.empty()) return true;
    return qv::io::ReadFile(path, out, qv::io::kWholeFile, error) != qv::io::ReadStatus::Unreadable;
}

}  // namespace

bool SettleMerge(const DataFolder& folder, bool intended) {
    if (folder.ConflictFolder().empty()) return true;
    if (!intended) {
        DropStaging(StagingOf(folder));
        return true;
    }
    return Finish(folder, nullptr, nullptr);
}

MergeOutcome MergeConflicts(const DataFolder& folder, const ChooseImplements& choose,
                            qv::Clock clock, bool withBook) {
    MergeOutcome o;
    if (folder.ConflictFolder().empty()) return o;
    std::vector<ConflictCopy> copies = FindConflictCopies(folder);
    if (!withBook)
        std::erase_if(copies, [&](const ConflictCopy& c) { return c.of == folder.BookPath(); });
    if (copies.empty()) return o;

    Change change(folder, clock);
    for (const Slot& slot : kSlots)
        if (!change.Lock((folder.*slot.path)())) {
            o.result = MergeOutcome::Result::Busy;
            o.error = change.error;
            return o;
        }
    FolderBytes ours;
    for (const Slot& slot : kSlots)
        if (!ReadSide((folder.*slot.path)(), ours.*slot.bytes, &o.error)) {
            o.result = MergeOutcome::Result::Failed;
            return o;
        }
    const FolderBytes before = ours;

    // One copy of each file per round; a second copy of a file waits for the next round.
    std::vector<ConflictCopy> done;
    while (!copies.empty()) {
        FolderBytes theirs = ours;
        std::vector<ConflictCopy> rest;
        std::set<std::string> taken;
        for (ConflictCopy& copy : copies) {
            if (!taken.insert(copy.of).second) {
                rest.push_back(std::move(copy));
                continue;
            }
            std::string bytes;
            if (qv::io::ReadFile(copy.path, bytes) == qv::io::ReadStatus::Unreadable) {
                o.unreadable.push_back(copy.name);
                continue;
            }
            for (const Slot& slot : kSlots)
                if ((folder.*slot.path)() == copy.of) theirs.*slot.bytes = std::move(bytes);
            done.push_back(std::move(copy));
        }
        ours = MergeBytes(ours, theirs, change.Now(), choose, o.counts);
        copies = std::move(rest);
    }
    if (done.empty()) {
        o.result = MergeOutcome::Result::Failed;
        return o;
    }

    // Staged whole and planned before the intent: until the intent exists the merge is
    // not made, and start-up drops what a kill left of it.
    const std::string staging = StagingOf(folder);
    DropStaging(staging);
    if (!MakeFolder(folder.ConflictFolder(), &o.error) || !MakeFolder(staging, &o.error)) {
        o.result = MergeOutcome::Result::Failed;
        return o;
    }
    std::string plan;
    for (const Slot& slot : kSlots) {
        if (ours.*slot.bytes == before.*slot.bytes || (folder.*slot.path)().empty()) continue;
        if (!qv::io::WriteFileAtomic(staging + '/' + slot.key, ours.*slot.bytes, &o.error)) {
            DropStaging(staging);
            o.result = MergeOutcome::Result::Failed;
            return o;
        }
        plan += std::string("write\t") + slot.key + "\r\n";
    }
    for (const ConflictCopy& copy : done) plan += "move\t" + EscapeName(copy.name) + "\r\n";
    IntentEntry entry;
    entry.kind = IntentEntry::Kind::Merge;
    entry.id = "merge";
    entry.balanceBefore = "-";
    if (!qv::io::WriteFileAtomic(staging + "/plan", plan, &o.error) || !change.Begin(entry)) {
        if (o.error.op == qv::io::IoError::Op::None) o.error = change.error;
        DropStaging(staging);
        o.result = MergeOutcome::Result::Failed;
        return o;
    }
    if (!Finish(folder, clock, &o.error)) {
        change.Leave();  // decided: start-up ends it
        o.result = MergeOutcome::Result::Failed;
        o.leftForStart = true;
        return o;
    }
    change.Commit();
    for (const ConflictCopy& copy : done) o.merged.push_back(copy.name);
    o.result = MergeOutcome::Result::Merged;
    return o;
}

}  // namespace qv::records

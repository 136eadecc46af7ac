#include "records/Repair.h"

#include <algorithm>

#include "records/Change.h"
#include "records/FileTail.h"
#include "records/Ledger.h"
#include "records/LogSplice.h"
#include "records/Marks.h"
#include "records/Merge.h"
#include "records/SentenceLog.h"
#include "records/Trash.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace {

bool IsNumber(std::string_view text) {
    size_t i = text.starts_with('-') ? 1 : 0;
    return i < text.size() && text.find_first_not_of("0123456789", i) == std::string_view::npos;
}

// Whether a record carrying id starts at or after offset.
bool HasRecordFrom(std::string_view log, std::string_view id, std::int64_t offset) {
    if (offset < 0) offset = 0;
    if (static_cast<size_t>(offset) >= log.size()) return false;
    bool found = false;
    qv::ForEachLine(log.substr(static_cast<size_t>(offset)), [&](const qv::Line& line) {
        if (!found && SentenceLog::IsRecord(line) &&
            SentenceLog::Contents::FieldOf(line.text, SentenceRecord::kDecisionTime) == id)
            found = true;
    });
    return found;
}

using Item = StartRepair::Item;

// Where the record of a decide entry stands in the log.
struct DecideFound {
    enum class Where { Absent, Torn, Whole } where = Where::Absent;
    std::int64_t points = 0;  // the whole record's points share (field 10, 0 when below)
};
// tail: the log from the size the entry noted on; shorter: the log is shorter than that.
DecideFound FindDecided(std::string_view tail, bool shorter, const IntentEntry& e) {
    DecideFound found;
    if (e.logSize < 0 || shorter) {
        // The log is shorter than before the append: whatever it was, it is not there.
        return found;
    }
    if (!e.record.empty()) {
        // The entry names the bytes it appended: they are there whole, in part, or not.
        std::string_view rest = tail;
        if (rest.starts_with("\r\n") && !std::string_view(e.record).starts_with("\r\n"))
            rest.remove_prefix(2);
        const std::string whole = e.record + "\r\n";
        if (rest.starts_with(whole)) {
            found.where = DecideFound::Where::Whole;
        } else if (!tail.empty() && (std::string_view(whole).starts_with(rest) ||
                                     std::string_view("\r\n" + whole).starts_with(tail))) {
            found.where = DecideFound::Where::Torn;
            return found;
        } else {
            return found;
        }
        found.points = std::max<std::int64_t>(
            0, qv::ReadInt64(SentenceLog::Contents::FieldOf(e.record, SentenceRecord::kPoints)));
        return found;
    }
    // An entry of an older version: the first record carrying id after the size.
    bool seen = false;
    qv::ForEachLine(tail, [&](const qv::Line& line) {
        if (seen || !SentenceLog::IsRecord(line) ||
            SentenceLog::Contents::FieldOf(line.text, SentenceRecord::kDecisionTime) != e.id)
            return;
        seen = true;
        found.where = DecideFound::Where::Whole;
        found.points = std::max<std::int64_t>(
            0, qv::ReadInt64(SentenceLog::Contents::FieldOf(line.text, SentenceRecord::kPoints)));
    });
    if (!seen && !tail.empty() && tail.find('\n') == std::string_view::npos)
        found.where = DecideFound::Where::Torn;
    return found;
}

}  // namespace

// The marks journal says when a sentence was last marked: a mark a kill left without its
// event gets it now, so a merge does not take another computer's older mark over it.
void NoteMark(const DataFolder& folder, const IntentEntry& e, const qv::Clock& clock) {
    if (folder.MarksPath().empty() || e.bytes.empty()) return;
    const bool executed = e.bytes.front().after == '1';
    std::string bytes;
    if (qv::io::ReadFile(folder.MarksPath(), bytes) == qv::io::ReadStatus::Unreadable) return;
    std::optional<bool> last;
    for (const MarkJournal::Event& ev : MarkJournal::Parse(bytes))
        if (ev.id == e.id) last = ev.executed;
    if (last != executed)
        MarkJournal(folder.MarksPath()).Append({clock ? clock() : qv::SystemNow(), e.id, executed, {}});
}

std::string BalanceMark(const PointBalance& balance) {
    std::vector<std::string> fields;
    switch (balance.Read(fields)) {
        case PointBalance::Status::Ok:
            if (fields.size() >= PointBalance::kFieldCount)
                return qv::Decimal(qv::ReadInt64(fields[PointBalance::kBalanceField]));
            return "?";
        case PointBalance::Status::Missing:
            return "-";
        default:
            return "?";
    }
}

StartRepair RepairAtStart(const DataFolder& folder, qv::Clock clock) {
    StartRepair report;
    const std::string& logPath = folder.LogPath();
    const std::string& balancePath = folder.BalancePath();
    const IntentRecord intent(folder.IntentPath());
    const Ledger ledger(folder.LedgerPath());
    const Trash trash(folder.TrashPath());
    qv::io::Leftovers leftovers;
    qv::io::CleanLeftovers(folder.Files(), leftovers);
    report.leftoversRemoved = leftovers.removed;
    report.copiesFinished = leftovers.finished;

    // Before anything is appended: a journal line a kill cut short is no entry, and the
    // next append would otherwise end it and make half an entry look whole.
    intent.DropUnfinished();
    for (const std::string& journal : folder.Journals()) CutTornTail(journal);
    std::vector<IntentEntry> entries;
    const qv::io::ReadStatus intentRead = intent.Read(entries);
    // A merge is carried out once its intent is there, and its staging dropped otherwise.
    const bool merging = std::any_of(entries.begin(), entries.end(), [](const IntentEntry& e) {
        return e.kind == IntentEntry::Kind::Merge;
    });
    if (intentRead != qv::io::ReadStatus::Unreadable &&
        qv::records::SettleMerge(folder, merging) && merging) {
        report.mergeFinished = true;
        intent.Keep([](const IntentEntry& e) { return e.kind != IntentEntry::Kind::Merge; });
        if (intent.Read(entries) != qv::io::ReadStatus::Ok) entries.clear();
    }
    if (intentRead != qv::io::ReadStatus::Ok || entries.empty()) return report;
    qv::io::FileLock logLock, balanceLock;
    if (!logLock.Acquire(logPath) || !balanceLock.Acquire(balancePath)) {
        report.busy = true;
        return report;
    }
    if (intent.Read(entries) != qv::io::ReadStatus::Ok) return report;

    const SentenceLog log(logPath);
    const PointBalance balance(balancePath);
    // The log is read whole only for an entry that needs every record (a delete, a
    // restore); a decide looks at what follows the size it noted, a mark at its bytes.
    qv::records::ReadOnlyFile logFile;
    if (logFile.Open(logPath) == qv::io::ReadStatus::Unreadable) return report;  // nothing can be told apart
    std::string logBytes;
    bool logRead = false;
    const auto wholeLog = [&]() -> bool {
        if (!logRead) logRead = qv::io::ReadFile(logPath, logBytes) != qv::io::ReadStatus::Unreadable;
        return logRead;
    };

    const qv::Seconds now = clock ? clock() : qv::SystemNow();
    // The ledger line of a change that reached the balance: it stands at after now.
    auto bookIfMade = [&](Ledger::Kind kind, const std::string& id,
                          std::optional<std::array<std::int64_t, 4>> units, std::int64_t asked,
                          std::int64_t before, std::int64_t after) {
        const std::string mark = BalanceMark(balance);
        if (!IsNumber(mark) || qv::ReadInt64(mark) != after) return;
        ledger.BookOnce({now, kind, id, units, asked, before, after});
    };
    auto numberOr0 = [](const std::string& mark) {
        return IsNumber(mark) ? qv::ReadInt64(mark) : std::int64_t{0};
    };
    // The trash entries with these serials, in that order.
    auto trashed = [&](const std::vector<std::int64_t>& serials, bool& readable) {
        std::vector<Trash::Entry> found;
        Trash::Contents contents;
        readable = trash.Read(contents) != qv::io::ReadStatus::Unreadable;
        for (std::int64_t serial : serials)
            for (const Trash::Entry& t : contents.entries)
                if (t.serial == serial) found.push_back(t);
        return found;
    };

    std::vector<std::string> settled;  // lines of the entries that are done with
    std::vector<std::string> deletedIds;
    for (const IntentEntry& e : entries) {
        if (e.kind == IntentEntry::Kind::Merge) continue;  // settled above, or next time
        if (e.kind == IntentEntry::Kind::Mark) {
            // Finished where every byte is still the mark it was found as, or already set;
            // a log of another size or shape is another log, and nothing is written to it.
            std::vector<int> now;
            std::int64_t size = 0;
            const qv::io::ReadStatus read = log.ReadMarks(e.id, e.bytes, now, size);
            if (read == qv::io::ReadStatus::Unreadable) continue;  // tried again next time
            bool agrees = read == qv::io::ReadStatus::Ok && size == e.logSize;
            std::vector<IntentEntry::Byte> rest;
            for (size_t i = 0; agrees && i < e.bytes.size(); ++i) {
                if (now[i] == e.bytes[i].after) continue;
                if (now[i] != e.bytes[i].before) agrees = false;
                rest.push_back(e.bytes[i]);
            }
            if (!agrees) {
                report.items.push_back({Item::What::Refused, e.id, 0});
                settled.push_back(e.ToLine());
                continue;
            }
            if (!rest.empty()) {
                Change marks(folder.WithoutBackups(), clock);
                if (!marks.SetBytes(logPath, rest)) continue;  // set back; tried again next time
                marks.Leave();
                if (logRead) {
                    for (const IntentEntry::Byte& b : rest)
                        if (static_cast<size_t>(b.offset) < logBytes.size())
                            logBytes[static_cast<size_t>(b.offset)] = static_cast<char>(b.after);
                }
                report.items.push_back({Item::What::MarkFinished, e.id, 0});
            }
            NoteMark(folder, e, clock);
            settled.push_back(e.ToLine());
            continue;
        }
        if (e.kind == IntentEntry::Kind::Decide) {
            // What follows the size noted before the append.
            std::string tail;
            const std::int64_t logSize =
                logRead ? static_cast<std::int64_t>(logBytes.size()) : qv::io::FileSize(logPath);
            const bool shorter = e.logSize > logSize;
            if (!shorter && e.logSize >= 0) {
                if (logRead) {
                    tail = logBytes.substr(static_cast<size_t>(e.logSize));
                } else {
                    qv::records::ReadOnlyFile file;
                    if (file.Open(logPath) == qv::io::ReadStatus::Unreadable ||
                        !file.ReadAt(e.logSize, static_cast<size_t>(logSize - e.logSize), tail))
                        continue;  // tried again next time
                }
            }
            const DecideFound found = FindDecided(tail, shorter, e);
            if (found.where == DecideFound::Where::Absent || found.where == DecideFound::Where::Torn) {
                // Never recorded: what the action appended before its kill goes again.
                if (found.where == DecideFound::Where::Torn &&
                    qv::io::TruncateTo(logPath, e.logSize) && logRead)
                    logBytes.resize(static_cast<size_t>(e.logSize));
                for (const char* name : {"rsn", "ldg"})
                    if (const auto size = e.SizeOf(name); size && !folder.ByShortName(name).empty())
                        qv::io::TruncateTo(folder.ByShortName(name), *size);
                report.items.push_back({Item::What::DecideNotRecorded, e.id, e.points});
                settled.push_back(e.ToLine());
                continue;
            }
            // The record's own points, never the entry's figure.
            if (e.points != found.points) {
                report.items.push_back({Item::What::Refused, e.id, e.points});
                settled.push_back(e.ToLine());
                continue;
            }
            const std::string mark = BalanceMark(balance);
            const bool credited =
                e.points <= 0 ||
                (IsNumber(e.balanceBefore) && IsNumber(mark) &&
                 qv::ReadInt64(mark) ==
                     qv::SaturatingAdd(qv::ReadInt64(e.balanceBefore), e.points)) ||
                (e.balanceBefore == "-" && mark != "-");
            if (credited) {
                settled.push_back(e.ToLine());
                if (e.points > 0 && e.balanceBefore != "?") {
                    const std::int64_t before = numberOr0(e.balanceBefore);
                    bookIfMade(Ledger::Kind::Credit, e.id, std::nullopt, e.points, before,
                               qv::SaturatingAdd(before, e.points));
                }
            } else if (balance.Credit(e.points) == PointBalance::Status::Ok) {
                report.items.push_back({Item::What::DecideCredited, e.id, e.points});
                settled.push_back(e.ToLine());
                const std::int64_t before = numberOr0(mark);
                bookIfMade(Ledger::Kind::Credit, e.id, std::nullopt, e.points, before,
                           qv::SaturatingAdd(before, e.points));
            }
            continue;
        }
        if (e.kind == IntentEntry::Kind::Balance) {
            const std::string mark = BalanceMark(balance);
            const bool made = IsNumber(mark) && qv::ReadInt64(mark) == e.balanceAfter &&
                              (e.balanceBefore == "-" || IsNumber(e.balanceBefore));
            const std::optional<Ledger::Entry> line = Ledger::FromLine(
                "0\t" + e.ledgerKind + '\t' + e.id + '\t' + e.units + '\t' + qv::Decimal(e.points) +
                '\t' + qv::Decimal(numberOr0(e.balanceBefore)) + '\t' +
                qv::Decimal(e.balanceAfter));
            if (made && line)
                bookIfMade(line->kind, e.id, line->units, e.points, line->before, line->after);
            report.items.push_back(
                {made ? Item::What::BalanceFinished : Item::What::BalanceNotMade, e.id, e.points});
            settled.push_back(e.ToLine());
            continue;
        }
        if ((e.kind == IntentEntry::Kind::Restore || e.kind == IntentEntry::Kind::Delete) &&
            !wholeLog()) {
            report.items.push_back({e.kind == IntentEntry::Kind::Restore ? Item::What::RestoreUnfinished
                                                                          : Item::What::DeleteUnfinished,
                                    e.id, e.points});
            continue;
        }
        if (e.kind == IntentEntry::Kind::Restore) {
            // Always finished: the records are in the trash until the last step.
            bool readable = true;
            const std::vector<Trash::Entry> found = trashed(e.serials, readable);
            if (!readable) {
                report.items.push_back({Item::What::RestoreUnfinished, e.id, e.points});
                continue;
            }
            if (!qv::records::HasRecord(logBytes, e.id) && found.empty()) {
                // No trash kept the records, so they cannot come back: the points given
                // back for them are taken back too.
                const std::string mark = BalanceMark(balance);
                if (e.points != 0 && IsNumber(mark) && qv::ReadInt64(mark) == e.balanceAfter &&
                    mark != e.balanceBefore &&
                    balance.GiveBack(-e.points) != PointBalance::Status::Ok) {
                    report.items.push_back({Item::What::RestoreUnfinished, e.id, e.points});
                    continue;
                }
                report.items.push_back({Item::What::BalanceNotMade, e.id, e.points});
                settled.push_back(e.ToLine());
                continue;
            }
            if (!qv::records::HasRecord(logBytes, e.id)) {
                std::vector<qv::records::CutRecord> cuts;
                for (const Trash::Entry& t : found)
                    if (t.kind == Trash::Kind::LogRecord)
                        cuts.push_back({t.payload, t.anchor, t.nth, 0});
                const std::string restored = qv::records::InsertRecords(logBytes, cuts);
                if (!qv::io::WriteFileAtomic(logPath, restored)) {
                    report.items.push_back({Item::What::RestoreUnfinished, e.id, e.points});
                    continue;
                }
                logBytes = restored;
            }
            const std::string mark = BalanceMark(balance);
            if (e.points != 0 && IsNumber(e.balanceBefore) && mark == e.balanceBefore &&
                balance.GiveBack(e.points) != PointBalance::Status::Ok) {
                report.items.push_back({Item::What::RestoreUnfinished, e.id, e.points});
                continue;
            }
            if (e.points != 0 && IsNumber(e.balanceBefore))
                bookIfMade(Ledger::Kind::Undo, e.id, std::nullopt, e.points,
                           qv::ReadInt64(e.balanceBefore), e.balanceAfter);
            if (!trash.Remove(e.serials)) {
                report.items.push_back({Item::What::RestoreUnfinished, e.id, e.points});
                continue;
            }
            report.items.push_back({Item::What::RestoreFinished, e.id, e.points});
            settled.push_back(e.ToLine());
            continue;
        }
        // A delete: the log still holding the record says whether the rewrite happened.
        auto bookDelete = [&] {
            if (e.points > 0 && IsNumber(e.balanceBefore))
                bookIfMade(Ledger::Kind::Delete, e.id, std::nullopt, -e.points,
                           qv::ReadInt64(e.balanceBefore), e.balanceAfter);
        };
        if (!HasRecordFrom(logBytes, e.id, 0)) {
            settled.push_back(e.ToLine());
            deletedIds.push_back(e.id);
            bookDelete();
            continue;
        }
        if (e.serials.empty() && trash.Enabled()) {
            // A folder with a trash deletes nothing that has no copy there.
            report.items.push_back({Item::What::Refused, e.id, e.points});
            settled.push_back(e.ToLine());
            continue;
        }
        if (!e.serials.empty()) {
            // The trash is written first: without its entries nothing else was.
            bool readable = true;
            const size_t found = trashed(e.serials, readable).size();
            if (readable && found < e.serials.size()) {
                trash.Remove(e.serials);
                report.items.push_back({Item::What::DeleteNotMade, e.id, e.points});
                settled.push_back(e.ToLine());
                continue;
            }
        }
        const std::string mark = BalanceMark(balance);
        if (mark == "?" && e.points > 0) {
            report.items.push_back({Item::What::DeleteUnfinished, e.id, e.points});
            continue;
        }
        const bool debited = !(IsNumber(e.balanceBefore) && mark == e.balanceBefore &&
                               qv::ReadInt64(e.balanceBefore) != e.balanceAfter);
        if (!debited) {
            if (!trash.Remove(e.serials)) {
                report.items.push_back({Item::What::DeleteUnfinished, e.id, e.points});
                continue;
            }
            report.items.push_back({Item::What::DeleteNotMade, e.id, e.points});
            settled.push_back(e.ToLine());
            continue;
        }
        const SentenceLog::Rewrite rewrite = log.PlanDelete(e.id);
        if (log.Write(rewrite)) {
            report.items.push_back({Item::What::DeleteFinished, e.id, e.points});
            settled.push_back(e.ToLine());
            deletedIds.push_back(e.id);
            bookDelete();
            (void)qv::io::ReadFile(logPath, logBytes);
        } else {
            report.items.push_back({Item::What::DeleteUnfinished, e.id, e.points});
        }
    }
    intent.Keep([&](const IntentEntry& e) {
        const std::string line = e.ToLine();
        for (const std::string& s : settled)
            if (s == line) return false;
        // A deleted record takes its note of points not credited with it.
        if (e.kind == IntentEntry::Kind::Decide)
            for (const std::string& id : deletedIds)
                if (id == e.id) return false;
        return true;
    });
    return report;
}

PointBalance::Status CreditPending(const DataFolder& folder, std::string_view id) {
    qv::io::FileLock logLock, balanceLock;
    if (!logLock.Acquire(folder.LogPath()) || !balanceLock.Acquire(folder.BalancePath()))
        return PointBalance::Status::Busy;
    const IntentRecord intent(folder.IntentPath());
    std::int64_t points = 0;
    if (!intent.UncreditedPoints(id, points)) return PointBalance::Status::Unreadable;
    if (points <= 0) return PointBalance::Status::Ok;
    const PointBalance::Status status = PointBalance(folder.BalancePath()).Credit(points);
    if (status != PointBalance::Status::Ok) return status;
    intent.Keep(
        [&](const IntentEntry& e) { return !(e.kind == IntentEntry::Kind::Decide && e.id == id); });
    return status;
}

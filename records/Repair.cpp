#include "records/Repair.h"

#include "records/SentenceLog.h"
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

}  // namespace

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

StartRepair RepairAtStart(const std::string& bookPath, const std::string& logPath,
                          const std::string& balancePath) {
    StartRepair report;
    const IntentRecord intent = IntentRecord::Beside(logPath);
    qv::io::Leftovers leftovers;
    for (const std::string& path : {bookPath, logPath, balancePath, intent.Path()})
        qv::io::CleanLeftovers(path, leftovers);
    report.leftoversRemoved = leftovers.removed;
    report.copiesFinished = leftovers.finished;

    std::vector<IntentEntry> entries;
    if (intent.Read(entries) != qv::io::ReadStatus::Ok || entries.empty()) return report;
    qv::io::FileLock logLock, balanceLock;
    if (!logLock.Acquire(logPath) || !balanceLock.Acquire(balancePath)) {
        report.busy = true;
        return report;
    }
    if (intent.Read(entries) != qv::io::ReadStatus::Ok) return report;

    const SentenceLog log(logPath);
    const PointBalance balance(balancePath);
    std::string logBytes;
    const qv::io::ReadStatus logRead = qv::io::ReadFile(logPath, logBytes);
    if (logRead == qv::io::ReadStatus::Unreadable) return report;  // nothing can be told apart

    std::vector<std::string> settled;  // lines of the entries that are done with
    std::vector<std::string> deletedIds;
    for (const IntentEntry& e : entries) {
        if (e.kind == IntentEntry::Kind::Decide) {
            if (!HasRecordFrom(logBytes, e.id, e.logSize)) {
                report.items.push_back({Item::What::DecideNotRecorded, e.id, e.points});
                settled.push_back(e.ToLine());
                continue;
            }
            const std::string now = BalanceMark(balance);
            const bool credited =
                e.points <= 0 ||
                (IsNumber(e.balanceBefore) && IsNumber(now) &&
                 qv::ReadInt64(now) ==
                     qv::SaturatingAdd(qv::ReadInt64(e.balanceBefore), e.points)) ||
                (e.balanceBefore == "-" && now != "-");
            if (credited) {
                settled.push_back(e.ToLine());
            } else if (balance.Credit(e.points) == PointBalance::Status::Ok) {
                report.items.push_back({Item::What::DecideCredited, e.id, e.points});
                settled.push_back(e.ToLine());
            }
            continue;
        }
        // A delete: the log still holding the record says whether the rewrite happened.
        if (!HasRecordFrom(logBytes, e.id, 0)) {
            settled.push_back(e.ToLine());
            deletedIds.push_back(e.id);
            continue;
        }
        const std::string now = BalanceMark(balance);
        if (now == "?") {
            report.items.push_back({Item::What::DeleteUnfinished, e.id, e.points});
            continue;
        }
        const bool debited = !(IsNumber(e.balanceBefore) && now == e.balanceBefore &&
                               qv::ReadInt64(e.balanceBefore) != e.balanceAfter);
        if (!debited) {
            report.items.push_back({Item::What::DeleteNotMade, e.id, e.points});
            settled.push_back(e.ToLine());
            continue;
        }
        const SentenceLog::Rewrite rewrite = log.PlanDelete(e.id);
        if (log.Write(rewrite)) {
            report.items.push_back({Item::What::DeleteFinished, e.id, e.points});
            settled.push_back(e.ToLine());
            deletedIds.push_back(e.id);
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

PointBalance::Status CreditPending(const std::string& logPath, const std::string& balancePath,
                                   std::string_view id) {
    qv::io::FileLock logLock, balanceLock;
    if (!logLock.Acquire(logPath) || !balanceLock.Acquire(balancePath))
        return PointBalance::Status::Busy;
    const IntentRecord intent = IntentRecord::Beside(logPath);
    std::int64_t points = 0;
    if (!intent.UncreditedPoints(id, points)) return PointBalance::Status::Unreadable;
    if (points <= 0) return PointBalance::Status::Ok;
    const PointBalance::Status status = PointBalance(balancePath).Credit(points);
    if (status != PointBalance::Status::Ok) return status;
    intent.Keep(
        [&](const IntentEntry& e) { return !(e.kind == IntentEntry::Kind::Decide && e.id == id); });
    return status;
}

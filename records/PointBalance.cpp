#include "records/PointBalance.h"

#include <limits>

#include "text/FileIo.h"
#include "text/KxString1.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace {
using Status = PointBalance::Status;

// The file cut at TABs into its fields, or why it could not be.
Status Load(const std::string& path, std::vector<std::string>& fields, size_t needed,
            qv::io::IoError* error, std::string* raw = nullptr) {
    std::string bytes;
    switch (qv::io::ReadFile(path, bytes, qv::io::kWholeFile, error)) {
        case qv::io::ReadStatus::Ok:
            break;
        case qv::io::ReadStatus::Missing:
            return Status::Missing;
        case qv::io::ReadStatus::Empty:
            return Status::Short;
        case qv::io::ReadStatus::Unreadable:
            return Status::Unreadable;
    }
    // The whole file is the one record: field 5 runs to its end, line end included.
    std::vector<std::string_view> views;
    qv::SplitFields(bytes, views);
    fields.assign(views.begin(), views.end());
    if (raw) raw->swap(bytes);
    return fields.size() >= needed ? Status::Ok : Status::Short;
}

std::string Join(const std::vector<std::string>& fields) {
    std::string out;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) out += '\t';
        out += fields[i];
    }
    return out;
}
}  // namespace

Status PointBalance::Read(std::vector<std::string>& fields, qv::io::IoError* error) const {
    return Load(path_, fields, kBalanceField + 1, error);
}

Status PointBalance::Compute(std::span<const Change> changes, std::string& bytes,
                             std::string* before, std::string* mark, qv::io::IoError* error) const {
    std::vector<std::string> fields;
    std::string old;
    Status status = Load(path_, fields, kFieldCount, error, &old);
    if (status == Status::Missing && !changes.empty() && changes.front().delta > 0) {
        // Nothing to keep: a fresh balance record rather than a lost credit.
        fields = {"quorvel", "1", "user", "0", "0", "0\r\n"};
        if (mark) mark->assign(1, '-');
    } else if (status != Status::Ok) {
        return status;
    } else if (mark) {
        *mark = qv::Decimal(qv::ReadInt64(fields[kBalanceField]));
    }
    for (const Change& change : changes) {
        if (change.delta > 0 && qv::ReadInt64(fields[kBalanceField]) >
                                    std::numeric_limits<std::int64_t>::max() - change.delta)
            return Status::Overflow;
        std::int64_t balance =
            qv::SaturatingAdd(qv::ReadInt64(fields[kBalanceField]), change.delta);
        if (change.floorAtZero && balance < 0) balance = 0;
        fields[kBalanceField] = qv::Decimal(balance);
        // Further fields of a hand-edited file are kept; the line end goes at the very end.
        if (change.addLineEnd) fields.back() += "\r\n";
    }
    bytes = Join(fields);
    if (before) before->swap(old);
    return Status::Ok;
}

Status PointBalance::Rewrite(std::span<const Change> changes, std::string* before,
                             qv::io::IoError* error) const {
    // Held from the read to the write, so no other program's rewrite falls in between.
    qv::io::FileLock lock;
    if (!lock.Acquire(path_)) return Status::Busy;
    std::string bytes, old;
    const Status status = Compute(changes, bytes, &old, nullptr, error);
    if (status != Status::Ok) return status;
    if (!qv::io::WriteFileAtomic(path_, bytes, error)) return Status::WriteFailed;
    if (before) before->swap(old);
    return Status::Ok;
}

Status PointBalance::PlanCredit(std::int64_t points, std::string& balanceBefore, std::string& bytes,
                                qv::io::IoError* error) const {
    const Change change{points, false, false};
    return Compute({&change, 1}, bytes, nullptr, &balanceBefore, error);
}

Status PointBalance::WritePlanned(std::string_view bytes, qv::io::IoError* error) const {
    qv::io::FileLock lock;
    if (!lock.Acquire(path_)) return Status::Busy;
    return qv::io::WriteFileAtomic(path_, bytes, error) ? Status::Ok : Status::WriteFailed;
}

Status PointBalance::PlanDebitDeleteEach(std::span<const std::int64_t> points, std::string& old,
                                         std::string& bytes, qv::io::IoError* error) const {
    std::vector<Change> changes;
    changes.reserve(points.size());
    for (std::int64_t p : points) changes.push_back({-p, true, true});
    return Compute(changes, bytes, &old, nullptr, error);
}

Status PointBalance::PlanReport(std::int64_t points, std::string& old, std::string& bytes,
                                qv::io::IoError* error) const {
    const Change change{-points, true, false};
    return Compute({&change, 1}, bytes, &old, nullptr, error);
}

Status PointBalance::PlanGiveBack(std::int64_t amount, std::string& old, std::string& bytes,
                                  qv::io::IoError* error) const {
    const Change change{amount, false, false};
    return Compute({&change, 1}, bytes, &old, nullptr, error);
}

Status PointBalance::Credit(std::int64_t points, qv::io::IoError* error) const {
    const Change change{points, false, false};
    return Rewrite({&change, 1}, nullptr, error);
}

Status PointBalance::DebitReport(std::int64_t points, qv::io::IoError* error) const {
    const Change change{-points, true, false};
    return Rewrite({&change, 1}, nullptr, error);
}

Status PointBalance::DebitDelete(std::int64_t points, qv::io::IoError* error) const {
    return DebitDeleteEach({&points, 1}, nullptr, error);
}

Status PointBalance::DebitDeleteEach(std::span<const std::int64_t> points, std::string* before,
                                     qv::io::IoError* error) const {
    std::vector<Change> changes;
    changes.reserve(points.size());
    for (std::int64_t p : points) changes.push_back({-p, true, true});
    return Rewrite(changes, before, error);
}

Status PointBalance::GiveBack(std::int64_t amount, std::string* before,
                              qv::io::IoError* error) const {
    const Change change{amount, false, false};
    return Rewrite({&change, 1}, before, error);
}

bool PointBalance::PutBack(std::string_view before, qv::io::IoError* error) const {
    qv::io::FileLock lock;
    return lock.Acquire(path_) && qv::io::WriteFileAtomic(path_, before, error);
}

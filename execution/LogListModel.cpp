#include "execution/LogListModel.h"

#include <cstdio>
#include <ctime>
#include <limits>
#include <algorithm>
#include <utility>

#include "records/LogIssues.h"
#include "text/Numbers.h"
#include "ui/Texts.h"

namespace {
constexpr int kColumns = 5;
}  // namespace

void LogListModel::Reset(SentenceLog::Contents contents) {
    beginResetModel();
    contents_ = std::move(contents);
    endResetModel();
}

void LogListModel::Refresh() {
    beginResetModel();
    endResetModel();
}

void LogListModel::RowsChanged(int first, int last) {
    if (first > last) return;
    emit dataChanged(index(first, 0), index(last, kColumns - 1), {Qt::DisplayRole});
}

void LogListModel::RemoveRecords(std::span<const size_t> indices, const qv::io::FileStamp& stamp) {
    if (indices.empty()) return;
    const size_t count = contents_.RecordCount();
    // Records of one identifier stand together: their rows go as one block; else the view
    // starts over.
    const bool together = indices.back() - indices.front() + 1 == indices.size();
    if (together)
        beginRemoveRows({}, static_cast<int>(count - 1 - indices.back()),
                        static_cast<int>(count - 1 - indices.front()));
    else
        beginResetModel();
    contents_.RemoveRecords(indices, stamp);
    if (together)
        endRemoveRows();
    else
        endResetModel();
}

std::vector<size_t> LogListModel::InsertLines(
    std::span<const SentenceLog::Contents::Insertion> insertions, const qv::io::FileStamp& stamp) {
    std::vector<size_t> records;
    if (insertions.empty()) return records;
    if (!contents_.RoomFor(insertions)) return records;
    // Each line put in is a record of its own (see SentenceLog::InsertionsIn), behind the
    // records before its offset and the lines put in ahead of it.
    for (size_t k = 0; k < insertions.size(); ++k)
        records.push_back(contents_.RecordsBefore(insertions[k].at) + k);
    // Lines put in where no record stands between them come in as one block of rows.
    const size_t before = records.front();
    const bool together = records.back() - before + 1 == records.size();
    const size_t count = contents_.RecordCount();
    if (together)
        beginInsertRows({}, static_cast<int>(count - before),
                        static_cast<int>(count - before + insertions.size() - 1));
    else
        beginResetModel();
    contents_.InsertLines(insertions, stamp);
    if (together)
        endInsertRows();
    else
        endResetModel();
    return records;
}

std::pair<int, int> LogListModel::RowsOfIdAround(int row) const {
    const std::string_view id = Field(row, SentenceRecord::kDecisionTime);
    int first = row, last = row;
    while (first > 0 && Field(first - 1, SentenceRecord::kDecisionTime) == id) --first;
    while (last + 1 < rowCount() && Field(last + 1, SentenceRecord::kDecisionTime) == id) ++last;
    return {first, last};
}

std::pair<int, int> LogListModel::RowsOfOffsets(const std::vector<std::int64_t>& offsets) const {
    const char* base = contents_.Bytes().data();
    const size_t records = contents_.RecordCount();
    int first = std::numeric_limits<int>::max(), last = -1;
    for (const std::int64_t offset : offsets) {
        if (offset < 0 || records == 0) return {0, -1};
        // Records stand in file order: the last one starting at or before the offset.
        size_t lo = 0, hi = records;
        while (hi - lo > 1) {
            const size_t mid = lo + (hi - lo) / 2;
            if (contents_.Record(mid).data() - base <= offset) lo = mid; else hi = mid;
        }
        const std::string_view record = contents_.Record(lo);
        const std::int64_t begin = record.data() - base;
        if (offset < begin || offset >= begin + static_cast<std::int64_t>(record.size()))
            return {0, -1};
        const int row = static_cast<int>(records - 1 - lo);
        first = std::min(first, row);
        last = std::max(last, row);
    }
    return last < 0 ? std::pair{0, -1} : std::pair{first, last};
}

std::string_view LogListModel::Field(int row, size_t f) const {
    return contents_.Field(contents_.RecordCount() - 1 - static_cast<size_t>(row), f);
}

bool LogListModel::HasGluedRecord(std::string_view id) const {
    for (const size_t i : contents_.RecordsCarrying(id))
        if (IsGluedRecord(contents_.Record(i))) return true;
    return false;
}

int LogListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(contents_.RecordCount());
}

int LogListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant LogListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    const int row = index.row();
    switch (index.column()) {
        case 0:
            return qv::ui::ShownText(Field(row, SentenceRecord::kDecisionTime));
        case 1:
            return DateText(Field(row, SentenceRecord::kDecisionTime));
        case 2:
            return qv::ui::ShownText(Field(row, SentenceRecord::kArticleNumber)) +
                   QStringLiteral("条:") +
                   qv::ui::ShownText(Field(row, SentenceRecord::kArticleName));
        case 3:
            return qv::ui::ShownText(Field(row, SentenceRecord::kDistribution));
        case 4:
            return MarkText(Field(row, SentenceRecord::kExecuted));
        default:
            return {};
    }
}

QVariant LogListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const QString kHeaders[] = {QStringLiteral("識別子"), QStringLiteral("判決日"),
                                       QStringLiteral("適用条文"), QStringLiteral("判決内容"),
                                       QStringLiteral("執行")};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= kColumns)
        return QAbstractTableModel::headerData(section, orientation, role);
    return kHeaders[section];
}

QString LogListModel::MarkText(std::string_view executed) {
    return executed == "0" ? QStringLiteral("未") : QStringLiteral("済");
}

QString LogListModel::DateText(std::string_view decisionTime) {
    const std::time_t seconds = static_cast<std::time_t>(qv::ReadInt64(decisionTime));
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr) return {};
    if (local.tm_year > std::numeric_limits<int>::max() - 1900) return {};  // no such year
    char text[48];
    std::snprintf(text, sizeof text, "%04d/%2d/%2d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    return QString::fromLatin1(text);
}

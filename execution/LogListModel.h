#pragma once

#include <QAbstractTableModel>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "records/SentenceLog.h"

// The records of the log as the grid's rows, newest first. Holds the file's bytes once
// and a list of offsets into them; a cell's text (and a row's date) is made only when the
// view asks for it, which it does for the rows it paints.
class LogListModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    void Reset(SentenceLog::Contents contents);
    // The log as the rows show it (for a rewrite that starts from it).
    const SentenceLog::Contents& Contents() const { return contents_; }
    // The same, for a rewrite that keeps what it wrote in the rows' own copy; Refresh
    // after it.
    SentenceLog::Contents& RowsToRewrite() { return contents_; }
    // Tells the view that the rows' copy changed in place.
    void Refresh();
    // Tells the view that rows first to last changed in place (their marks), and nothing
    // else: the view keeps its current row and selection and draws those rows again.
    void RowsChanged(int first, int last);

    // The records at indices (ascending) taken out of the rows' copy as the log was just
    // written without them: their rows go, every other row stays (see
    // Contents::RemoveRecords).
    void RemoveRecords(std::span<const size_t> indices, const qv::io::FileStamp& stamp);
    // Lines put into the rows' copy as the log was just written with them: their rows come
    // in. The records they became (file order), or nothing, the copy unchanged, when there
    // is no room for it.
    std::vector<size_t> InsertLines(std::span<const SentenceLog::Contents::Insertion> insertions,
                                    const qv::io::FileStamp& stamp);

    // The record number (file order) of a row.
    size_t RecordOf(int row) const { return contents_.RecordCount() - 1 - static_cast<size_t>(row); }
    // The rows around row that carry its identifier, first to last: records of one
    // identifier stand together in a log written in time order.
    std::pair<int, int> RowsOfIdAround(int row) const;
    // The rows whose records hold the given byte offsets of the log, first to last;
    // {0, -1} when an offset lies in no record.
    std::pair<int, int> RowsOfOffsets(const std::vector<std::int64_t>& offsets) const;

    // Field f of the record shown on row (0 = the newest), as stored.
    std::string_view Field(int row, size_t f) const;
    // Whether a record carrying the identifier has other sentences glued into its line.
    bool HasGluedRecord(std::string_view id) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    static QString MarkText(std::string_view executed);
    // The decision time's local calendar date, "2003/ 1/ 5".
    static QString DateText(std::string_view decisionTime);

private:
    SentenceLog::Contents contents_;
};

#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "history/BalanceHistory.h"
#include "history/HistoryIndex.h"
#include "history/HistoryQuery.h"
#include "rulebook/Clock.h"
#include "rulebook/Info.h"
#include "ui_HistoryForm.h"

class HistoryModel;
class QChartView;

// History and statistics (履歴・統計): the logged sentences filtered by date, article,
// execution and name; their table and totals, four charts, PNG and CSV export. The log is
// read once as the window opens; filters then work on the index in memory.
class THistory : public QDialog, private Ui::THistory {
    Q_OBJECT

public:
    explicit THistory(QWidget* parent = nullptr);
    ~THistory() override;

    // The clock behind the date presets; set before Init (tests use a fixed one).
    void SetClock(qv::Clock clock) { clock_ = std::move(clock); }
    // Where files are saved: asked of the user by default, answered directly in tests.
    // Gets the caption, a suggested name and the file filter; an empty answer cancels.
    using SavePathAsker = std::function<QString(const QString&, const QString&, const QString&)>;
    void SetSavePathAsker(SavePathAsker asker) { askSavePath_ = std::move(asker); }

    void Init(CInfo* info);

    // What the window shows now, for its tests and the export.
    const qv::history::Filter& CurrentFilter() const { return filter_; }
    const qv::history::Rows& ShownRows() const;
    const qv::history::Totals& CurrentTotals() const { return totals_; }
    const qv::history::HistoryIndex& Index() const { return index_; }

    // The shown rows as CSV into path; false (and the user told) on failure.
    bool ExportCsvTo(const QString& path);
    // The chart of the current tab as PNG into path; false (and the user told) on failure.
    bool SaveChartTo(const QString& path);
    // The selected rows (all when none is selected) with a header, TAB-separated.
    QString TableText() const;


    // The table shows at least this many rows whenever the charts can give up the height.
    static constexpr int kTableRows = 8;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Load();
    void PresetChanged();
    void DateEdited();
    void Refilter();
    void RefreshCharts();
    // Brings chart i to the latest figures where it shows others.
    void DrawChart(size_t i);
    void btSavePngClick();
    void btExportCsvClick();
    // True (and the user told) when file would overwrite one of the data folder's own.
    bool RefusedOverFolderFile(const std::string& file);
    void CopyTable();
    QString TotalsText() const;
    void GiveTableItsRows();

    CInfo* info_ = nullptr;
    qv::Clock clock_;
    SavePathAsker askSavePath_;
    qv::history::HistoryIndex index_;
    // Shared with the balance chart, which thins its line from it again on a resize.
    std::shared_ptr<const qv::history::BalanceHistory> balance_ =
        std::make_shared<const qv::history::BalanceHistory>();
    qv::history::Filter filter_;
    qv::history::Totals totals_;
    HistoryModel* model_ = nullptr;
    std::array<QString, qv::history::kImplementCount> implementNames_;
    std::array<QChartView*, 4> views_{};
    // What each chart was made from: a filter remakes only the charts whose figures it
    // changed (a balance line of a million points costs far more than the table's rows).
    struct ChartData {
        qv::history::Bucket bucket = qv::history::Bucket::Day;
        std::vector<qv::history::Period> periods;
        std::vector<qv::history::ArticleCount> articles;
        std::array<std::int64_t, qv::history::kImplementCount> sentenced{};
        std::optional<std::array<std::int64_t, qv::history::kImplementCount>> reported;
        QString unitsNote;
        qv::history::Range balanceRange;
        QString balanceNote;
        QString balanceSaid;  // what a screen reader hears of the balance chart
    };
    std::optional<ChartData> charted_;
    // What each chart shows now. A filter redraws the chart shown; the others take the
    // figures when they are shown next (a screen reader's descriptions follow at once).
    std::array<std::optional<ChartData>, 4> drawn_;
    bool settingDates_ = false;
    bool bodySizedByUser_ = false;
};

#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <optional>

#include "execution/PointReport.h"
#include "rulebook/Info.h"
#include "ui_DonePointForm.h"

namespace qv::execution {
class ReportSession;
}  // namespace qv::execution

// The point execution report: units executed per implement, totalled and taken off the
// point balance. Beside the rows: the balance, the total as it is typed, the balance it
// leaves, and plans that pay the balance off.
class TDonePoint : public QDialog, private Ui::TDonePoint {
    Q_OBJECT

public:
    explicit TDonePoint(QWidget* parent = nullptr);

    void Init(CInfo* info);
    // The execution report's session: the report then goes through it, with its ledger
    // line, and can be undone there.
    void SetSession(qv::execution::ReportSession* session) { session_ = session; }

private:
    // One row per implement: its name and the units typed for it.
    struct Row {
        QLabel* name;
        QLineEdit* units;
    };
    std::array<Row, 4> Rows() const;
    void btOKClick();
    void btCancelClick();
    // Fills the rows with a plan's units.
    void btPlanClick(const qv::execution::PayDownPlan& plan);

    // The report the rows hold now, counted as the report counts it.
    qv::execution::PointReportTotal TypedTotal() const;
    // Refreshes the total and the balance after it from the rows.
    void ShowTotal();
    void ShowPlans();
    // The balance in the file now; none when there is no usable file.
    std::optional<std::int64_t> ReadBalance() const;

    CInfo* info_ = nullptr;
    qv::execution::ReportSession* session_ = nullptr;
    std::array<int, 4> weights_{};
    std::optional<std::int64_t> balance_;  // as read when the window opened
    qv::execution::PayDownPlans plans_;
    QLabel* pnPlanMix = nullptr;           // the mixed plan's caption, wrapped
    std::array<QLabel*, 4> notNumber_{};  // the marks beside fields not read as typed
};

#pragma once

#include <QDialog>
#include <array>

#include "rulebook/Info.h"
#include "ui_DonePointForm.h"

namespace qv::undo {
class ReportSession;
}  // namespace qv::undo

// The point execution report: units executed per implement, totalled and taken off the
// point balance.
class TDonePoint : public QDialog, private Ui::TDonePoint {
    Q_OBJECT

public:
    explicit TDonePoint(QWidget* parent = nullptr);

    void Init(CInfo* info);
    // The execution report's session: the report then goes through it, with its ledger
    // line, and can be undone there.
    void SetSession(qv::undo::ReportSession* session) { session_ = session; }

private:
    // One row per implement: its name and the units typed for it.
    struct Row {
        QLabel* name;
        QLineEdit* units;
    };
    std::array<Row, 4> Rows() const;
    void btOKClick();
    void btCancelClick();

    CInfo* info_ = nullptr;
    qv::undo::ReportSession* session_ = nullptr;
};

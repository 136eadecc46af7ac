#pragma once

#include <QDialog>
#include <memory>

#include "rulebook/Info.h"
#include "ui_LogListForm.h"

class LogListModel;
class QPushButton;
namespace qv::undo {
class ReportSession;
struct Outcome;
}  // namespace qv::undo

// The execution report: the logged sentences newest first, their execution marks and the
// point balance; execute / un-execute, delete, and the point execution report.
class TLogList : public QDialog, private Ui::TLogList {
    Q_OBJECT

public:
    explicit TLogList(QWidget* parent = nullptr);
    ~TLogList() override;

    void Init(CInfo* info);
    // Refills the balance label and the list from the files as they stand now.
    void LoadList();

private:
    void btDoneClick();
    void btDeleteClick();
    void btnPointClick();
    void btExitClick();
    // 元に戻す (Ctrl+Z): undoes the newest action of this window still done.
    void btUndoClick();
    // 台帳: the ledger's lines for the selected sentence, or the whole ledger.
    void btLedgerClick();

    // The balance file against the ledger; a difference is shown once per window.
    void CheckLedger();
    // Tells what an action left undone beside its main change (ledger, trash, backup).
    void TellSideEffects(const qv::undo::Outcome& outcome);

    // The record the current row shows (0 = the newest), or -1 on the header or no row.
    int SelectedRecordRow() const;
    QString LogName() const;
    QString BalanceName() const;

    CInfo* info_ = nullptr;
    LogListModel* model_ = nullptr;
    unsigned toldProblems_ = 0;  // kinds of damage the user has been told of
    std::unique_ptr<qv::undo::ReportSession> session_;
    QPushButton* btUndo = nullptr;
    QPushButton* btLedger = nullptr;
    bool toldLedger_ = false;
};

#pragma once

#include <QDialog>
#include <memory>
#include <optional>
#include <vector>

#include "records/Reasons.h"
#include "records/SentenceLog.h"
#include "rulebook/Info.h"
#include "ui_LogListForm.h"

class LogListModel;
namespace qv::execution {
class ReportSession;
struct Outcome;
}  // namespace qv::execution

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
    void btHistoryClick();
    // 元に戻す (Ctrl+Z): undoes the newest action of this window still done.
    void btUndoClick();
    // The list's context menu: the ledger of the selected sentence (or all of it), the
    // trash, the backups.
    void ShowLedger();
    void ShowTrash();
    void ShowBackups();

    // The balance file against the ledger; a difference is shown once per window.
    void CheckLedger();
    // Tells what an action left undone beside its main change (ledger, trash, backup).
    void TellSideEffects(const qv::execution::Outcome& outcome);
    // The verdict text kept for the selected record, or why there is none.
    void ShowReasons();

    // The record the current row shows (0 = the newest), or -1 on the header or no row.
    int SelectedRecordRow() const;

    CInfo* info_ = nullptr;
    LogListModel* model_ = nullptr;
    unsigned toldProblems_ = 0;  // kinds of damage the user has been told of
    std::unique_ptr<qv::execution::ReportSession> session_;
    bool toldLedger_ = false;
    std::vector<SentenceReasons::Entry> reasons_;  // as read by the last LoadList
    qv::io::ReadStatus reasonsRead_ = qv::io::ReadStatus::Missing;
    // The rows' copy is what this window just wrote to the log, for the refill that
    // follows.
    bool rowsWritten_ = false;
    // What each 執行 / 未執行 / 削除 of this window still undoable did, newest last, so
    // that 元に戻す can say what it undid.
    std::vector<QString> undoTexts_;
};

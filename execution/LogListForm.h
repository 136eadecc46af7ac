#pragma once

#include <QDialog>

#include "records/SentenceLog.h"
#include "rulebook/Info.h"
#include "ui_LogListForm.h"

class LogListModel;

// The execution report: the logged sentences newest first, their execution marks and the
// point balance; execute / un-execute, delete, and the point execution report.
class TLogList : public QDialog, private Ui::TLogList {
    Q_OBJECT

public:
    explicit TLogList(QWidget* parent = nullptr);

    void Init(CInfo* info);
    // Refills the balance label and the list from the files as they stand now.
    void LoadList();

private:
    void btDoneClick();
    void btDeleteClick();
    void btnPointClick();
    void btExitClick();
    void btHistoryClick();

    // The record the current row shows (0 = the newest), or -1 on the header or no row.
    int SelectedRecordRow() const;

    CInfo* info_ = nullptr;
    LogListModel* model_ = nullptr;
    unsigned toldProblems_ = 0;  // kinds of damage the user has been told of
    // The rows' copy is what this window just wrote to the log, for the refill that
    // follows.
    bool rowsWritten_ = false;
};

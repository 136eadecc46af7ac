#pragma once

#include <QDialog>
#include <memory>
#include <optional>
#include <vector>

#include "execution/LogSummary.h"
#include "records/SentenceLog.h"
#include "text/FileIo.h"
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
    // Refills the balance label and the status line's balance from the balance file alone:
    // what a point report (or its undo) changes.
    void LoadBalance();

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

    // The balance file against the ledger, once as the window opens; a difference is
    // shown once per window.
    void CheckLedger();
    // Kinds of damage found by a refill, so that each is told once.
    enum Damage : unsigned {
        kBalanceUnreadable = 1,
        kBalanceShort = 2,
        kLogUnreadable = 4,
        kLogUnread = 8,
        kLogBadTimes = 16,
        kLogGlued = 32,
        kReasonsUnreadable = 64
    };
    // Reads the balance into the label; found and problems learn what was wrong with it.
    void ReadBalance(unsigned& found, QStringList& problems);
    // The status line from the figures and the balance as last read; said, what was just
    // done, in front of them.
    void ShowStatus();
    void ShowStatus(const QString& said);
    QString StatusText() const;
    // 執行's name for what it will do to the selected sentence (mark or take back).
    void NameDoneAction();
    // Tells in one box what could not be read, when a kind of it was not told yet.
    void TellProblems(unsigned found, const QStringList& problems);
    // After an 執行 / 未執行 made in the rows' own copy of the log: the rows of the marked
    // records (first to last, the same identifier) are drawn again and the figures moved
    // by what their marks did. False when the change was not that, and a refill is due.
    bool MarkedInPlace(int first, int last, const LogSummary& before, const char* bytesBefore,
                       size_t recordsBefore, size_t marked);
    // After a 削除 or its undo planned in the rows' own copy of the log: the records' rows
    // go or come back, the figures move by theirs, the balance is read again. False when
    // the change was not made there, and a refill is due.
    bool RemovedInPlace(const std::vector<size_t>& dropped, const qv::io::FileStamp& stamp);
    bool InsertedInPlace(const std::vector<SentenceLog::Contents::Insertion>& inserted,
                         const qv::io::FileStamp& stamp);
    // The figures moved from what some records counted (before) to what they count now
    // (after); added up again over the rows when a sum is held at its end.
    void MoveFigures(const LogSummary& before, const LogSummary& after);
    // The figures of some records of the rows' copy (their numbers in file order).
    LogSummary SummaryOf(const std::vector<size_t>& records) const;
    // After rows moved in place: the balance read again, the status line, the current row
    // kept at its place (as a refill keeps it) and its verdict text.
    void ShowAfterRowsMoved(int previous);

    // Tells what an action left undone beside its main change (ledger, trash, backup).
    void TellSideEffects(const qv::execution::Outcome& outcome);
    // The verdict text kept for the selected record, or why there is none.
    void ShowReasons();

    // The record the current row shows (0 = the newest), or -1 on the header or no row.
    int SelectedRecordRow() const;

    CInfo* info_ = nullptr;
    LogListModel* model_ = nullptr;
    QAction* acDone_ = nullptr;
    unsigned toldProblems_ = 0;  // kinds of damage the user has been told of
    std::unique_ptr<qv::execution::ReportSession> session_;
    bool toldLedger_ = false;
    LogSummary summary_;       // the rows' figures, for the status line
    QString balanceShown_;     // field 3 as stored; empty with no usable balance
    bool balanceKnown_ = false;
    // The verdict texts shown for a row, kept while the file of them is unchanged, so a
    // refill that leaves the current row where it was does not look them up again.
    std::string reasonsId_;
    qv::io::FileStamp reasonsStamp_;
    QString reasonsShown_;
    // The rows' copy is what this window just wrote to the log, for the refill that
    // follows.
    bool rowsWritten_ = false;
    // What each 執行 / 未執行 / 削除 of this window still undoable did, newest last, so
    // that 元に戻す can say what it undid.
    std::vector<QString> undoTexts_;
};

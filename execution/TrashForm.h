#pragma once

#include <QDialog>
#include <vector>

#include "records/Trash.h"
#include "rulebook/Info.h"

class QPushButton;
class QTableWidget;
namespace qv::execution {
class ReportSession;
}  // namespace qv::execution

// The trash window (ごみ箱): what was deleted, sentences and articles, with the time of
// the deletion; an entry is restored (a sentence back into the log where it stood with
// the points it took, an article back into the rule book, which is then saved) or
// removed for good.
class TTrash : public QDialog {
    Q_OBJECT

public:
    explicit TTrash(QWidget* parent = nullptr);

    // session: the execution report's, so a restored sentence leaves its undo stack;
    // nullptr: one of the window's own.
    void Init(CInfo* info, qv::execution::ReportSession* session = nullptr);
    // Refills the list from the trash as it stands.
    void LoadList();

signals:
    // A sentence went back into the log and its points onto the balance: a window behind
    // showing either should read them again.
    void Restored();

private:
    void btRestoreClick();
    void btPurgeClick();
    // The entry on the current row, or nullptr.
    const Trash::Entry* Selected() const;
    bool RestoreArticle(const Trash::Entry& entry);

    CInfo* info_ = nullptr;
    qv::execution::ReportSession* session_ = nullptr;
    std::vector<Trash::Entry> entries_;  // newest first, as the rows show them
    bool toldUnread_ = false;
    QTableWidget* sgTrash = nullptr;
    QPushButton* btRestore = nullptr;
    QPushButton* btPurge = nullptr;
    QPushButton* btExit = nullptr;
};

// Opens the trash window modally over parent.
void OpenTrash(QWidget* parent, CInfo* info, qv::execution::ReportSession* session = nullptr);

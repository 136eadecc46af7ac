#pragma once

#include <vector>

#include "records/Trash.h"

#include <QDialog>
#include <cstdint>
#include <optional>
#include <vector>

#include "rulebook/Info.h"
#include "rulebook/Rule.h"
#include "ui_RuleEditForm.h"

class CRuleBook;

// The rule list: every article of the rule book, with add, change, delete, the
// implement editor and save. Changes go straight into the shared rule book in memory;
// only "保存" writes "test.dat".
class TRuleEdit : public QDialog, private Ui::TRuleEdit {
    Q_OBJECT

public:
    explicit TRuleEdit(QWidget* parent = nullptr);

    // Remembers the context and lists its rule book.
    void Init(CInfo* info);
    // Rebuilds the grid from the rule book, one row per article in number order.
    void LoadList();

    // Writes the book to its file, asking first when another program changed or removed
    // the file since it was loaded; a failure is told. True when the book was saved.
    // With a context, the version being replaced goes to its backup folder first.
    // trashed: articles deleted since the last save, put into the trash with it (their
    // serials written back).
    static bool SaveBook(CRuleBook* book, QWidget* parent, const CInfo* info = nullptr,
                         std::vector<Trash::Entry>* trashed = nullptr);

private:
    void btAddClick();
    void btEditClick();
    void Button1Click();
    void btnImpClick();
    void btSaveClick();
    void btExitClick();
    // Ctrl+Z: puts the last deleted article back, until the window closes.
    void UndoDelete();

    // The number in column 0 of the current row; nothing, after the conversion
    // message, when that cell holds no integer (an empty list).
    std::optional<int> SelectedNumber();
    // Opens the rule editor on a working copy and stores it when registered.
    void EditAndStore(CRule rule);

    CInfo* info_ = nullptr;
    CRuleBook* ruleBook_ = nullptr;
    // Articles deleted while the window is open, newest last; once the book is saved
    // they are in the trash under their serial.
    struct Deleted {
        CRule rule;
        std::int64_t trashSerial = 0;  // 0: not in the trash yet
    };
    std::vector<Deleted> deleted_;
};

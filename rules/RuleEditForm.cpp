#include "rules/RuleEditForm.h"

#include <QAction>
#include <QHeaderView>
#include <algorithm>

#include "records/Backups.h"
#include "records/Trash.h"
#include "rulebook/RuleBook.h"
#include "rules/ImpEditForm.h"
#include "rules/RuleItemForm.h"
#include "ui/Accessibility.h"
#include "ui/FileTexts.h"
#include "ui/MessageBox.h"
#include "ui/Placement.h"
#include "ui/Texts.h"
#include "records/BookSave.h"
#include "records/DataFolder.h"
#include "records/TrashPurge.h"

namespace {
constexpr int kColumnWidths[] = {53, 109, 376, 52};
}  // namespace

TRuleEdit::TRuleEdit(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    qv::ui::SetFormFont(this, 12);
    qv::ui::MakeResizable(this, QStringLiteral("TRuleEdit"), minimumSizeHint());
    for (int column = 0; column < 4; ++column)
        sgRules->setColumnWidth(column, kColumnWidths[column]);
    sgRules->verticalHeader()->setDefaultSectionSize(22);
    sgRules->setAccessibleName(windowTitle());
    // The headers stay blank on the screen; a screen reader still hears what each holds.
    const QString headers[] = {QStringLiteral("条"), QStringLiteral("条文名"),
                               QStringLiteral("条文"), QStringLiteral("ポイント")};
    for (int column = 0; column < 4; ++column) {
        auto* header = new QTableWidgetItem(QString());
        header->setData(Qt::AccessibleTextRole, headers[column]);
        sgRules->setHorizontalHeaderItem(column, header);
    }
    qv::ui::NameControls(this);

    connect(btAdd, &QPushButton::clicked, this, &TRuleEdit::btAddClick);
    connect(btEdit, &QPushButton::clicked, this, &TRuleEdit::btEditClick);
    connect(Button1, &QPushButton::clicked, this, &TRuleEdit::Button1Click);
    connect(btnImp, &QPushButton::clicked, this, &TRuleEdit::btnImpClick);
    connect(btSave, &QPushButton::clicked, this, &TRuleEdit::btSaveClick);
    connect(btExit, &QPushButton::clicked, this, &TRuleEdit::btExitClick);
    // A double click on an article opens it, as desktop lists do.
    connect(sgRules, &QTableWidget::cellDoubleClicked, this, &TRuleEdit::btEditClick);
    // Undoing a delete needs no button of its own: Ctrl+Z, or the list's context menu.
    auto* undo = new QAction(QStringLiteral("元に戻す"), this);
    undo->setObjectName(QStringLiteral("acUndo"));
    undo->setShortcut(QKeySequence::Undo);
    undo->setShortcutContext(Qt::WindowShortcut);
    addAction(undo);
    sgRules->addAction(undo);
    sgRules->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(undo, &QAction::triggered, this, &TRuleEdit::UndoDelete);
}

void TRuleEdit::Init(CInfo* info) {
    if (info == nullptr || info->GetRuleBook() == nullptr) return;
    info_ = info;
    ruleBook_ = info->GetRuleBook();
    LoadList();
}

void TRuleEdit::LoadList() {
    if (ruleBook_ == nullptr) return;
    const int current = sgRules->currentRow();
    sgRules->setRowCount(ruleBook_->RuleCount());
    int row = 0;
    for (const auto& [number, rule] : *ruleBook_) {
        const QString cells[] = {QString::number(number), qv::ui::ShownText(rule.GetName()),
                                 qv::ui::ShownText(rule.GetText()),
                                 QString::number(rule.GetBase())};
        for (int column = 0; column < 4; ++column)
            sgRules->setItem(row, column, new QTableWidgetItem(cells[column]));
        ++row;
    }
    // The cursor stays on the same row, as far as the list still reaches.
    if (row > 0) sgRules->setCurrentCell(std::clamp(current, 0, row - 1), 0);
}

std::optional<int> TRuleEdit::SelectedNumber() {
    const QTableWidgetItem* cell = sgRules->item(sgRules->currentRow(), 0);
    return qv::ui::ToInt(cell ? cell->text() : QString(), this);
}

void TRuleEdit::btAddClick() {
    if (ruleBook_ == nullptr) return;
    CRule rule;
    rule.SetNumber(ruleBook_->NextNumber());
    EditAndStore(rule);
}

void TRuleEdit::btEditClick() {
    if (ruleBook_ == nullptr) return;
    const auto number = SelectedNumber();
    if (!number) return;
    CRule rule;
    if (!rule.CopyFrom(ruleBook_->FindRule(*number))) return;
    EditAndStore(rule);
}

void TRuleEdit::EditAndStore(CRule rule) {
    TRuleItem item(this);
    item.SetRule(&rule);
    item.Init(info_);
    // Stored under the number it carries now: a changed number makes a new article
    // and leaves the old one as it was.
    if (item.exec() == QDialog::Accepted) ruleBook_->AddRule(rule);
    LoadList();
}

void TRuleEdit::Button1Click() {
    if (ruleBook_ == nullptr) return;
    const auto number = SelectedNumber();
    if (!number) return;
    CRule rule;
    if (!rule.CopyFrom(ruleBook_->FindRule(*number))) return;
    const QString question =
        QStringLiteral("%1 - %2を削除します。")
            .arg(QString::number(rule.GetNumber()), qv::ui::ShownText(rule.GetName()));
    if (!qv::ui::MessageBox::Confirm(question)) return;
    ruleBook_->RemoveRule(*number);
    deleted_.push_back({rule, 0});
    LoadList();
}

void TRuleEdit::UndoDelete() {
    if (ruleBook_ == nullptr || deleted_.empty()) return;
    const Deleted& last = deleted_.back();
    if (ruleBook_->FindRule(last.rule.GetNumber()) != nullptr) {
        qv::ui::MessageBox::Show(
            QStringLiteral("%1条は別の条文が使っているため、削除した条文を元に戻せません。")
                .arg(last.rule.GetNumber()),
            this);
        return;
    }
    if (last.trashSerial != 0) {
        // Saved since: it went to the trash, and comes out of it again (the next save
        // brings it back into the book on disk).
        const std::int64_t serial[] = {last.trashSerial};
        PurgeFromTrash(FolderOf(*info_), serial);
    }
    ruleBook_->AddRule(last.rule);
    deleted_.pop_back();
    LoadList();
}

void TRuleEdit::btnImpClick() {
    TImpEdit imp(this);
    imp.Init(info_);
    imp.exec();
}

void TRuleEdit::btSaveClick() {
    if (ruleBook_ == nullptr) return;
    // The articles deleted since the last save go to the trash with the save.
    std::vector<Trash::Entry> entries;
    std::vector<Deleted*> waiting;
    for (Deleted& d : deleted_) {
        if (d.trashSerial != 0) continue;
        entries.push_back({0, Trash::Kind::Article, qv::SystemNow(), 0, {}, 0, d.rule.ToLine()});
        waiting.push_back(&d);
    }
    if (!SaveBook(ruleBook_, this, info_, &entries)) return;
    for (size_t i = 0; i < waiting.size(); ++i) waiting[i]->trashSerial = entries[i].serial;
}

bool TRuleEdit::SaveBook(CRuleBook* ruleBook, QWidget* parent, const CInfo* info,
                         std::vector<Trash::Entry>* trashed) {
    // An editor or a sync client may have rewritten the file meanwhile: overwrite that
    // only when the user says so, and never without having looked.
    const auto change = ruleBook->ChangeOnDisk();
    const QString changed = qv::ui::RuleBookChangedText(change, ruleBook->GetFileName());
    if (change == CRuleBook::DiskChange::Unreadable) {
        qv::ui::MessageBox::Show(changed, parent);
        return false;
    }
    if (change != CRuleBook::DiskChange::None && !qv::ui::MessageBox::Confirm(changed))
        return false;
    // One change of the folder: the trash, the book with its old version kept first.
    const DataFolder folder = info != nullptr
                                  ? FolderOf(*info)
                                  : DataFolder::DataOnly({}, {}).WithoutBackups();
    std::vector<Trash::Entry> none;
    const BookSave save = SaveRuleBook(folder, *ruleBook, trashed != nullptr ? *trashed : none);
    if (!save.saved) {
        // The rule book stays in memory; only the file could not be replaced, and the old
        // one is still there as it was.
        qv::ui::MessageBox::Show(qv::ui::RuleBookSaveFailureText(ruleBook->GetFileName()),
                                 parent);
        return false;
    }
    QStringList told;
    if (!save.effects.backedUp) told << qv::ui::BackupFailedText(folder.BackupFolder());
    if (!save.effects.trashed) told << qv::ui::ArticlesNotTrashedText(folder.TrashPath());
    if (!told.isEmpty()) qv::ui::MessageBox::Show(told.join(QStringLiteral("\n")), parent);
    return true;
}

void TRuleEdit::btExitClick() { reject(); }

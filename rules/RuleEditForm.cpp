#include "rules/RuleEditForm.h"

#include <QHeaderView>
#include <algorithm>

#include "rulebook/RuleBook.h"
#include "rules/ImpEditForm.h"
#include "rules/RuleItemForm.h"
#include "ui/Accessibility.h"
#include "ui/FileTexts.h"
#include "ui/MessageBox.h"
#include "ui/Placement.h"
#include "ui/Texts.h"

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
    qv::ui::NameControls(this);

    connect(btAdd, &QPushButton::clicked, this, &TRuleEdit::btAddClick);
    connect(btEdit, &QPushButton::clicked, this, &TRuleEdit::btEditClick);
    connect(Button1, &QPushButton::clicked, this, &TRuleEdit::Button1Click);
    connect(btnImp, &QPushButton::clicked, this, &TRuleEdit::btnImpClick);
    connect(btSave, &QPushButton::clicked, this, &TRuleEdit::btSaveClick);
    connect(btExit, &QPushButton::clicked, this, &TRuleEdit::btExitClick);
    // A double click on an article opens it, as desktop lists do.
    connect(sgRules, &QTableWidget::cellDoubleClicked, this, &TRuleEdit::btEditClick);
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
    const QString question = QStringLiteral("%1 - %2を削除します。")
                                 .arg(rule.GetNumber())
                                 .arg(qv::ui::ShownText(rule.GetName()));
    if (!qv::ui::MessageBox::Confirm(question)) return;
    ruleBook_->RemoveRule(*number);
    LoadList();
}

void TRuleEdit::btnImpClick() {
    TImpEdit imp(this);
    imp.Init(info_);
    imp.exec();
}

void TRuleEdit::btSaveClick() {
    if (ruleBook_ == nullptr) return;
    if (ruleBook_->SaveFile()) return;
    // The rule book stays in memory; only the file could not be replaced, and the old
    // one is still there as it was.
    qv::ui::MessageBox::Show(qv::ui::RuleBookSaveFailureText(ruleBook_->GetFileName()), this);
}

void TRuleEdit::btExitClick() { reject(); }

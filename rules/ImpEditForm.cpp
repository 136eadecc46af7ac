#include "rules/ImpEditForm.h"

#include <optional>
#include <string>

#include "rulebook/RuleBook.h"
#include "ui/Accessibility.h"
#include "ui/Placement.h"
#include "ui/Texts.h"

TImpEdit::TImpEdit(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    setFixedSize(size());
    qv::ui::SetFormFont(this, 12);
    qv::ui::Place(this);
    QLineEdit* fields[] = {tfImp1, tfImp2, tfImp3, tfImp4};
    QSlider* sliders[] = {tbImp1, tbImp2, tbImp3, tbImp4};
    for (int i = 0; i < CRuleBook::kImplementCount; ++i) {
        fields[i]->setAccessibleName(QStringLiteral("道具%1の名前").arg(i + 1));
        sliders[i]->setAccessibleName(QStringLiteral("道具%1の重さ").arg(i + 1));
    }
    qv::ui::NameControls(this);
    // Weight labels are read out with the text they show at the time.
    for (QLabel* weight : {pnImp1, pnImp2, pnImp3, pnImp4}) weight->setAccessibleName(QString());

    connect(tbImp1, &QSlider::valueChanged, this, &TImpEdit::tbImp1Change);
    connect(tbImp2, &QSlider::valueChanged, this, &TImpEdit::tbImp2Change);
    connect(tbImp3, &QSlider::valueChanged, this, &TImpEdit::tbImp3Change);
    connect(tbImp4, &QSlider::valueChanged, this, &TImpEdit::tbImp4Change);
    connect(btnReg, &QPushButton::clicked, this, &TImpEdit::btnRegClick);
    connect(btnCansel, &QPushButton::clicked, this, &TImpEdit::btnCanselClick);
}

void TImpEdit::Init(CInfo* info) {
    if (info == nullptr || info->GetRuleBook() == nullptr) return;
    info_ = info;
    ruleBook_ = info->GetRuleBook();
    QLineEdit* fields[] = {tfImp1, tfImp2, tfImp3, tfImp4};
    QSlider* sliders[] = {tbImp1, tbImp2, tbImp3, tbImp4};
    for (int i = 0; i < CRuleBook::kImplementCount; ++i) {
        names_[static_cast<size_t>(i)].Fill(fields[i], ruleBook_->GetImpName(i));
        // A weight outside 0..20 lands at the nearer end.
        sliders[i]->setValue(ruleBook_->GetImpWeight(i));
    }
    // A slider that does not move reports no change.
    tbImp1Change();
    tbImp2Change();
    tbImp3Change();
    tbImp4Change();
}

void TImpEdit::tbImp1Change() { pnImp1->setText(qv::ui::TenthsText(tbImp1->value())); }
void TImpEdit::tbImp2Change() { pnImp2->setText(qv::ui::TenthsText(tbImp2->value())); }
void TImpEdit::tbImp3Change() { pnImp3->setText(qv::ui::TenthsText(tbImp3->value())); }
void TImpEdit::tbImp4Change() { pnImp4->setText(qv::ui::TenthsText(tbImp4->value())); }

void TImpEdit::btnRegClick() {
    if (ruleBook_ == nullptr) return accept();
    QLineEdit* fields[] = {tfImp1, tfImp2, tfImp3, tfImp4};
    QSlider* sliders[] = {tbImp1, tbImp2, tbImp3, tbImp4};
    // All four names are checked first, so a refused one leaves the whole table as it was.
    std::string names[CRuleBook::kImplementCount];
    for (int i = 0; i < CRuleBook::kImplementCount; ++i) {
        auto name = names_[static_cast<size_t>(i)].Read(
            fields[i], QStringLiteral("道具%1の名前").arg(i + 1), this);
        if (!name) {
            fields[i]->setFocus();
            fields[i]->selectAll();
            return;
        }
        names[i] = std::move(*name);
    }
    for (int i = 0; i < CRuleBook::kImplementCount; ++i) ruleBook_->SetImpName(i, names[i]);
    for (int i = 0; i < CRuleBook::kImplementCount; ++i)
        ruleBook_->SetImpWeight(i, static_cast<double>(sliders[i]->value()));
    accept();
}

void TImpEdit::btnCanselClick() { reject(); }

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
    const auto rows = Rows();
    for (size_t i = 0; i < rows.size(); ++i) {
        qv::ui::MarkTenths(rows[i].weight);  // before anything asks how it is read
        rows[i].name->setAccessibleName(QStringLiteral("道具%1の名前").arg(i + 1));
        rows[i].weight->setAccessibleName(QStringLiteral("道具%1の重さ").arg(i + 1));
        // The rows carry no caption of their own: what each field holds is told on hover
        // and to screen readers.
        qv::ui::SetPlainTip(rows[i].name, QStringLiteral("道具%1の名前（判決の配分に出ます）").arg(i + 1));
        qv::ui::SetPlainTip(rows[i].weight,
                            QStringLiteral("道具%1の重さ: 1回（1分）あたりのポイント、0.0〜2.0").arg(i + 1));
        qv::ui::SetPlainTip(rows[i].shown, QStringLiteral("道具%1の重さ").arg(i + 1));
    }
    qv::ui::NameControls(this);
    for (const Row& row : rows) {
        // Weight labels are read out with the text they show at the time.
        row.shown->setAccessibleName(QString());
        connect(row.weight, &QSlider::valueChanged, this,
                [row](int value) { row.shown->setText(qv::ui::TenthsText(value)); });
    }
    connect(btnReg, &QPushButton::clicked, this, &TImpEdit::btnRegClick);
    connect(btnCansel, &QPushButton::clicked, this, &TImpEdit::btnCanselClick);
}

void TImpEdit::Init(CInfo* info) {
    if (info == nullptr || info->GetRuleBook() == nullptr) return;
    info_ = info;
    ruleBook_ = info->GetRuleBook();
    const auto rows = Rows();
    for (int i = 0; i < CRuleBook::kImplementCount; ++i) {
        const Row& row = rows[static_cast<size_t>(i)];
        names_[static_cast<size_t>(i)].Fill(row.name, ruleBook_->GetImpName(i));
        // A weight outside 0..20 lands at the nearer end.
        row.weight->setValue(ruleBook_->GetImpWeight(i));
        // A slider that does not move reports no change.
        row.shown->setText(qv::ui::TenthsText(row.weight->value()));
    }
}

std::array<TImpEdit::Row, 4> TImpEdit::Rows() const {
    return {{{tfImp1, tbImp1, pnImp1},
             {tfImp2, tbImp2, pnImp2},
             {tfImp3, tbImp3, pnImp3},
             {tfImp4, tbImp4, pnImp4}}};
}

void TImpEdit::btnRegClick() {
    if (ruleBook_ == nullptr) return accept();
    const auto rows = Rows();
    // All four names are checked first, so a refused one leaves the whole table as it was.
    std::string names[CRuleBook::kImplementCount];
    for (int i = 0; i < CRuleBook::kImplementCount; ++i) {
        QLineEdit* field = rows[static_cast<size_t>(i)].name;
        auto name = names_[static_cast<size_t>(i)].Read(
            field, QStringLiteral("道具%1の名前").arg(i + 1), this);
        if (!name) {
            field->setFocus();
            field->selectAll();
            return;
        }
        names[i] = std::move(*name);
    }
    for (int i = 0; i < CRuleBook::kImplementCount; ++i) ruleBook_->SetImpName(i, names[i]);
    for (int i = 0; i < CRuleBook::kImplementCount; ++i)
        ruleBook_->SetImpWeight(i,
                                static_cast<double>(rows[static_cast<size_t>(i)].weight->value()));
    accept();
}

void TImpEdit::btnCanselClick() { reject(); }

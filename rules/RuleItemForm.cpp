#include "rules/RuleItemForm.h"

#include "rulebook/RuleBook.h"
#include "ui/Accessibility.h"
#include "ui/MessageBox.h"
#include "ui/Placement.h"
#include "ui/Texts.h"
#include "ui/Words.h"

namespace {
// Puts the caret on the field the user has to correct.
void FocusField(QLineEdit* field) {
    field->setFocus();
    field->selectAll();
}
}  // namespace

TRuleItem::TRuleItem(QWidget* parent) : QDialog(parent), clock_(qv::SystemNow) {
    setupUi(this);
    qv::ui::SetFormFont(this, 12);
    qv::ui::MakeResizable(this, QStringLiteral("TRuleItem"), minimumSizeHint());
    // Before anything asks how they are read.
    qv::ui::MarkTenths(tbRuiseki);
    qv::ui::MarkTenths(tbJoujou);
    tfNo->setAccessibleName(QStringLiteral("条の番号"));
    tbPt->setAccessibleName(QStringLiteral("ポイントの配分"));
    qv::ui::NameControls(this);
    // Value labels are read out with the text they show at the time.
    for (QLabel* value : {pnRuiseki, pnJoujou, pnImp1P, pnImp2P, pnImp3P, pnImp4P, pnPtP})
        value->setAccessibleName(QString());

    for (const SliderRow& row : SliderRows()) {
        connect(row.slider, &QSlider::valueChanged, this, [row](int value) {
            row.value->setText(row.tenths ? qv::ui::TenthsText(value) : QString::number(value));
        });
    }
    connect(btReg, &QPushButton::clicked, this, &TRuleItem::btRegClick);
    connect(btCancel, &QPushButton::clicked, this, &TRuleItem::btCancelClick);
}

void TRuleItem::SetClock(qv::Clock clock) { clock_ = clock ? std::move(clock) : qv::SystemNow; }

void TRuleItem::SetRule(CRule* rule) {
    if (rule == nullptr) return;
    rule_ = rule;
    tfNo->setText(QString::number(rule->GetNumber()));
    name_.Fill(tfName, rule->GetName());
    text_.Fill(tfState, rule->GetText());
    remark_.Fill(tfComment, rule->GetRemark());
    tfPoint->setText(QString::number(rule->GetBase()));

    // Out-of-range values land at the nearer end of a slider. The labels are refreshed
    // by hand: a slider that does not move reports no change.
    tbRuiseki->setValue(rule->GetCumulative());
    tbJoujou->setValue(rule->GetExtenuation());
    const auto shares = ShareSliders();
    for (int i = 0; i < CRule::kShareCount; ++i)
        shares[static_cast<size_t>(i)]->setValue(rule->GetShare(i));
    ShowSliderValues();
}

std::array<TRuleItem::SliderRow, 7> TRuleItem::SliderRows() const {
    return {{{tbImp1, pnImp1P, false},
             {tbImp2, pnImp2P, false},
             {tbImp3, pnImp3P, false},
             {tbImp4, pnImp4P, false},
             {tbPt, pnPtP, false},
             {tbRuiseki, pnRuiseki, true},
             {tbJoujou, pnJoujou, true}}};
}

std::array<QSlider*, CRule::kShareCount> TRuleItem::ShareSliders() const {
    return {tbImp1, tbImp2, tbImp3, tbImp4, tbPt};
}

void TRuleItem::ShowSliderValues() {
    for (const SliderRow& row : SliderRows()) {
        const int value = row.slider->value();
        row.value->setText(row.tenths ? qv::ui::TenthsText(value) : QString::number(value));
    }
}

void TRuleItem::Init(CInfo* info) {
    if (info == nullptr) return;
    info_ = info;
    ruleBook_ = info->GetRuleBook();
    if (ruleBook_ == nullptr) return;
    QLabel* names[] = {pnImp1, pnImp2, pnImp3, pnImp4};
    const auto shares = ShareSliders();
    for (int i = 0; i < CRuleBook::kImplementCount; ++i) {
        const QString name = qv::ui::FromCp932(ruleBook_->GetImpName(i));
        names[i]->setText(name);
        names[i]->setAccessibleName(QString());
        shares[static_cast<size_t>(i)]->setAccessibleName(
            QStringLiteral("%1の配分")
                .arg(name.isEmpty() ? QStringLiteral("道具%1").arg(i + 1) : name));
    }
}

void TRuleItem::btRegClick() {
    // Every field is checked before the working copy is touched: a refusal leaves the
    // window open with nothing written.
    CRule r;
    const qv::Seconds now = clock_();

    const auto number = qv::ui::ToInt(tfNo->text(), this);
    if (!number) return FocusField(tfNo);
    // The rule book keeps only 1..9999; anything else would vanish without a word once
    // this window had closed, with everything typed in it.
    if (*number < CRuleBook::kMinNumber || *number > CRuleBook::kMaxNumber) {
        qv::ui::MessageBox::Warn(QStringLiteral("条の番号には%1から%2までの整数を入れてください。")
                                     .arg(CRuleBook::kMinNumber)
                                     .arg(CRuleBook::kMaxNumber),
                                 this);
        return FocusField(tfNo);
    }
    r.SetNumber(*number);
    r.SetCreated(rule_ ? rule_->GetCreated() : 0);
    r.SetUpdated(now);

    const auto name = name_.Read(tfName, QStringLiteral("条文名"), this);
    if (!name) return FocusField(tfName);
    const auto text = text_.Read(tfState, QStringLiteral("条文"), this);
    if (!text) return FocusField(tfState);
    const auto remark = remark_.Read(tfComment, QStringLiteral("備考"), this);
    if (!remark) return FocusField(tfComment);
    r.SetName(*name);
    r.SetText(*text);
    r.SetRemark(*remark);

    const auto base = qv::ui::ToInt(tfPoint->text(), this);
    if (!base) return FocusField(tfPoint);
    r.SetBase(*base);

    r.SetCumulative(tbRuiseki->value());
    r.SetExtenuation(tbJoujou->value());
    const auto shares = ShareSliders();
    for (int i = 0; i < CRule::kShareCount; ++i)
        r.SetShare(i, shares[static_cast<size_t>(i)]->value());

    // Another article's number would replace that article: ask first, and unless the user
    // chooses to replace it stay here with everything typed, the caret on the number.
    const CRule* other = ruleBook_ ? ruleBook_->FindRule(*number) : nullptr;
    if (other != nullptr && rule_ != nullptr && *number != rule_->GetNumber() &&
        !qv::ui::MessageBox::Choose(
            QStringLiteral("「%1」がすでにあります。登録すると、この条文は置き換えられます。")
                .arg(qv::ui::ArticleText(*number, other->GetName())),
            QStringLiteral("置き換える"), QStringLiteral("番号を直す"), this))
        return FocusField(tfNo);

    if (rule_) rule_->CopyFrom(&r);
    accept();
}

void TRuleItem::btCancelClick() { reject(); }

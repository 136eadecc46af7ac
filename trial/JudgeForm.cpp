#include "trial/JudgeForm.h"

#include "text/Numbers.h"
#include "trial/StateForm.h"
#include "ui/Accessibility.h"
#include "ui/Placement.h"
#include "ui/Texts.h"

TJudge::TJudge(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    setFixedSize(size());
    qv::ui::SetFormFont(this, 12);
    qv::ui::Place(this);
    connect(cbRule, &QComboBox::currentIndexChanged, this, &TJudge::cbRuleChange);
    connect(tbJoujou, &QSlider::valueChanged, this, &TJudge::tbJoujouChange);
    connect(btSubmit, &QPushButton::clicked, this, &TJudge::btSubmitClick);
    connect(btCancel, &QPushButton::clicked, this, &TJudge::btCancelClick);
    qv::ui::NameControls(this);
}

void TJudge::Init(CInfo* info) {
    info_ = info;
    ruleBook_ = info->GetRuleBook();
    {
        const QSignalBlocker quiet(cbRule);
        cbRule->clear();
        if (ruleBook_ != nullptr) {
            for (const auto& [number, rule] : *ruleBook_) {
                // Joined, not formatted: a name like "罰金%1" stays as typed.
                cbRule->addItem(QString::number(number) + QLatin1Char(':') +
                                qv::ui::ShownText(rule.GetName()) + QLatin1Char(':') +
                                QString::number(rule.GetBase()));
            }
        }
        cbRule->setCurrentIndex(cbRule->count() > 0 ? 0 : -1);
    }
    cbRuleChange();
    tbJoujouChange();
}

std::optional<int> TJudge::SelectedNumber() const {
    const QString item = cbRule->currentText();
    const qsizetype colon = item.indexOf(QLatin1Char(':'));
    if (colon < 0) return std::nullopt;
    return qv::ReadInt32(item.left(colon).toStdString());
}

void TJudge::cbRuleChange() {
    const std::optional<int> number = SelectedNumber();
    if (!number || *number == 0 || ruleBook_ == nullptr) return;
    const CRule* rule = ruleBook_->FindRule(*number);
    if (rule == nullptr) return;
    pnState->setText(QStringLiteral("条文:") + qv::ui::ShownText(rule->GetText()));
    pnComment->setText(QStringLiteral("備考:") + qv::ui::ShownText(rule->GetRemark()));
    pnState->setToolTip(qv::ui::PlainTip(pnState->text()));
    pnComment->setToolTip(qv::ui::PlainTip(pnComment->text()));
}

void TJudge::tbJoujouChange() { pnJoujou->setText(QString::number(tbJoujou->value())); }

void TJudge::btSubmitClick() {
    const std::optional<int> number = SelectedNumber();
    if (!number) return;
    TState state(this);
    // A refused composition has told the user why; the trial stays open.
    if (!state.Init(*number, tbJoujou->value(), info_)) return;
    state.exec();
    accept();
}

void TJudge::btCancelClick() { reject(); }

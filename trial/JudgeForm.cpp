#include "trial/JudgeForm.h"

#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "rulebook/RuleBook.h"
#include "text/Numbers.h"
#include "trial/Preview.h"
#include "trial/StateForm.h"
#include "ui/Accessibility.h"
#include "trial/TrialTexts.h"
#include "ui/FileTexts.h"
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
    connect(cbRule, &QComboBox::currentIndexChanged, this, &TJudge::ShowPreview);
    connect(tbJoujou, &QSlider::valueChanged, this, &TJudge::ShowPreview);
    previewTimer_ = new QTimer(this);
    previewTimer_->setObjectName(QStringLiteral("previewTimer"));
    previewTimer_->setSingleShot(true);
    previewTimer_->setTimerType(Qt::PreciseTimer);  // a coarse one may fire minutes early
    connect(previewTimer_, &QTimer::timeout, this, &TJudge::ShowPreview);
    qv::ui::NameControls(this);
}

namespace {

// "29ポイント（腕立て:12回 腹筋:18回 ポイント:9）" in pieces that a wrap never parts: each
// figure with its name, lead (the words before the total) with the total.
QStringList Outcome(const QString& lead, const CVerdict& v, const CRuleBook* book) {
    QStringList parts;
    for (int k = 0; k < 4; ++k) {
        if (v.counts[static_cast<size_t>(k)] <= 0) continue;
        const QString name = book ? qv::ui::ShownText(book->GetImpName(k)) : QString();
        parts << qv::ui::CountText(name, v.counts[static_cast<size_t>(k)]);
    }
    if (v.points > 0) parts << QStringLiteral("ポイント:") + QString::number(v.points);
    if (parts.isEmpty()) parts << QStringLiteral("配分なし");
    QStringList pieces{lead + QString::number(v.total) + QStringLiteral("ポイント")};
    for (qsizetype i = 0; i < parts.size(); ++i)
        pieces << (i == 0 ? QStringLiteral("（") : QStringLiteral(" ")) + parts[i] +
                      (i + 1 == parts.size() ? QStringLiteral("）") : QString());
    return pieces;
}

// Shows a text in pieces; a label with nothing to say is hidden: empty, a screen reader
// would give it its group's title, the same name as the other empty one.
void ShowOrHide(QLabel* label, const QStringList& pieces) {
    qv::ui::ShowPieces(label, pieces);
    label->setVisible(!pieces.isEmpty());
}

// Local date and time, "2026/12/21 09:00".
QString LocalTimeText(qv::Seconds t) {
    const std::time_t seconds = static_cast<std::time_t>(t);
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr) return QStringLiteral("?");
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min);
    return QString::fromLatin1(text);
}

}  // namespace

void TJudge::ShowPreview() {
    if (info_ == nullptr) return;
    const qv::Seconds now = clock_();
    for (QLabel* label : {pnPreviewNow, pnPreviewHistory, pnPreviewAfter})
        ShowOrHide(label, {});
    const std::optional<int> number = SelectedNumber();
    if (number) {
        // Only a clock set back to an earlier day finds records missing that may count.
        if (!log_.Covers(now)) log_ = TrialLog::Read(info_->GetLogPath(), now);
        const TrialPreview p = PreviewTrial(*number, tbJoujou->value(), *info_, now, log_);
        if (!p.now.verdict) {
            // The reason 提出 would give, word for word.
            ShowOrHide(pnPreviewNow, {qv::ui::CompositionRefusalText(
                                                 p.now, *number, info_->GetLogPath())});
        } else {
            const CRuleBook* book = info_->GetRuleBook();
            ShowOrHide(pnPreviewNow,
                               Outcome(QStringLiteral("今提出すると:"), *p.now.verdict, book));
            ShowOrHide(
                pnPreviewHistory,
                p.history.count > 0
                    ? QStringList{QStringLiteral("過去10日間の同条文の適用:%1回、")
                                      .arg(p.history.count),
                                  QStringLiteral("合計%1ポイント").arg(p.history.sum)}
                    : QStringList{QStringLiteral("過去10日間の同条文の適用:なし")});
            if (p.oldestStops && p.afterwards && p.afterwards->verdict) {
                ShowOrHide(
                    pnPreviewAfter,
                    QStringList{LocalTimeText(*p.oldestStops),
                                QStringLiteral("に最も古い適用が数えられなくなり、"),
                                QStringLiteral("それ以後に")} +
                        Outcome(QStringLiteral("提出すると:"), *p.afterwards->verdict, book));
            }
        }
    }
    // Stays right across midnight and the moment a repeat drops out: both are a 00:00 UTC.
    const qv::Seconds wait = NextPreviewChange(now) - now;
    previewTimer_->start(static_cast<int>(std::clamp<qv::Seconds>(wait, 0, 86400) * 1000));
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
    // The log is read once, here; the preview never reads it again, and 提出 takes this
    // pass while the file stays as it was.
    log_ = TrialLog::Read(info->GetLogPath(), clock_());
    ShowPreview();
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
    qv::ui::SetPlainTip(pnState, pnState->text());
    qv::ui::SetPlainTip(pnComment, pnComment->text());
}

void TJudge::tbJoujouChange() { pnJoujou->setText(QString::number(tbJoujou->value())); }

void TJudge::btSubmitClick() {
    const std::optional<int> number = SelectedNumber();
    if (!number) return;
    TState state(this);
    // A refused composition has told the user why; the trial stays open.
    if (!state.Init(*number, tbJoujou->value(), info_, &log_)) return;
    // Only 決定 accepts the verdict window, and only once the record is in the log.
    if (state.exec() == QDialog::Accepted) decided_ = state.Verdict();
    accept();
}

void TJudge::btCancelClick() { reject(); }

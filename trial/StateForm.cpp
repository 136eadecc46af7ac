#include "trial/StateForm.h"

#include "records/Reasons.h"
#include "text/Numbers.h"
#include "ui/Accessibility.h"
#include "ui/FileTexts.h"
#include "ui/MessageBox.h"
#include "ui/Texts.h"

namespace {
QString CreditFailure(PointBalance::Status status) {
    switch (status) {
        case PointBalance::Status::Short:
            return QStringLiteral("ファイルの項目が6つに満たないため");
        case PointBalance::Status::Unreadable:
            return QStringLiteral("ファイルを読み込めないため");
        default:
            return QStringLiteral("ファイルに書き込めないため");
    }
}
}  // namespace

TState::TState(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    setFixedSize(size());
    qv::ui::SetFormFont(this, 12);
    connect(btOK, &QPushButton::clicked, this, &TState::btOKClick);
    connect(btCansel, &QPushButton::clicked, this, &TState::btCanselClick);
    qv::ui::NameControls(this);
}

bool TState::Init(int articleNumber, int level, CInfo* info) {
    info_ = info;
    Composition composition = ComposeVerdict(articleNumber, level, *info, qv::SystemNow());
    if (!composition.verdict) {
        qv::ui::MessageBox::Show(qv::ui::FromCp932(composition.refusal), parentWidget());
        return false;
    }
    verdict_ = std::move(*composition.verdict);
    TellUnreadLog();
    pnName->setText(qv::ui::ShownText(verdict_.heading));
    pnState->setText(qv::ui::ShownText(verdict_.articleText));
    // Long article texts wrap; the whole text stays reachable as a tip.
    pnState->setToolTip(pnState->text());
    QString text = qv::ui::FromCp932(verdict_.verdictText);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    mmJudge->setPlainText(text);
    return true;
}

void TState::TellUnreadLog() {
    // The history counts whole records only; say what it may have missed.
    SentenceLog::Contents contents;
    if (SentenceLog(info_->GetLogPath()).Read(contents) != qv::io::ReadStatus::Ok) return;
    const LogReadIssues issues = FindLogIssues(contents);
    if (!issues.Any()) return;
    qv::ui::MessageBox::Show(
        qv::ui::LogIssuesText(issues, info_->GetLogPath()) +
            QStringLiteral("\nそのため、過去10日間の適用に数えていない判決があるかもしれません。"
                           "読めない部分はそのまま残ります。"),
        parentWidget());
}

void TState::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TState::FormShow() { btOK->setFocus(); }

void TState::btOKClick() {
    const qv::Seconds decidedAt = qv::SystemNow();
    const Decision decision = DecideVerdict(verdict_, *info_, decidedAt);
    const QString logName = qv::ui::FromCp932(info_->GetLogPath());
    switch (decision.status) {
        case Decision::Status::NotRecorded:
            // Nothing was written: the window stays so the user can try again or cancel.
            qv::ui::MessageBox::Show(
                QStringLiteral("判決を記録できませんでした（「%1」に書き込めません）。"
                               "判決は確定しておらず、ポイントも加算していません。")
                    .arg(logName),
                this);
            return;
        case Decision::Status::NotCredited:
            qv::ui::MessageBox::Show(
                QStringLiteral("判決は「%1」に記録しましたが、%2ポイントを「%3」の残高に"
                               "加算できませんでした（%4）。")
                    .arg(logName)
                    .arg(verdict_.points)
                    .arg(qv::ui::FromCp932(info_->GetBalancePath()),
                         CreditFailure(decision.balance)),
                this);
            break;
        case Decision::Status::Ok:
            break;
    }
    // The record is in the log: its reasons go beside it, keyed by its identifier.
    const SentenceReasons reasons(SentenceReasons::PathFor(info_->GetLogPath()));
    const SentenceReasons::Status kept =
        reasons.Append(qv::Decimal(decidedAt), verdict_.verdictText);
    if (kept != SentenceReasons::Status::Ok)
        qv::ui::MessageBox::Show(qv::ui::ReasonsNotKeptText(kept, reasons.Path()), this);
    accept();
}

void TState::btCanselClick() { reject(); }

#include "trial/StateForm.h"

#include "records/Reasons.h"
#include "records/Repair.h"
#include "ui/Accessibility.h"
#include "trial/TrialTexts.h"
#include "ui/FileTexts.h"
#include "ui/MessageBox.h"
#include "ui/Placement.h"
#include "ui/Texts.h"
#include "records/DataFolder.h"

TState::TState(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    qv::ui::SetFormFont(this, 12);
    // The verdict text takes what the window gains or loses; the buttons stay centred under it.
    using qv::ui::Follow;
    qv::ui::MakeResizable(this, QStringLiteral("TState"), QSize(400, 320),
                          {{GroupBox1, Follow::Grow, Follow::Stay},
                           {pnName, Follow::Grow, Follow::Stay},
                           {pnState, Follow::Grow, Follow::Stay},
                           {mmJudge, Follow::Grow, Follow::Grow},
                           {btOK, Follow::Centre, Follow::Move},
                           {btCansel, Follow::Centre, Follow::Move}});
    connect(btOK, &QPushButton::clicked, this, &TState::btOKClick);
    connect(btCansel, &QPushButton::clicked, this, &TState::btCanselClick);
    // The verdict is read with the keyboard and a screen reader like any text: it takes
    // the focus (Tab), read-only.
    mmJudge->setFocusPolicy(Qt::StrongFocus);
    qv::ui::NameControls(this);
}

bool TState::Init(int articleNumber, int level, CInfo* info, const TrialLog* read) {
    info_ = info;
    // One pass over the log serves both the history and the look for damaged lines; an
    // article that is refused anyway needs neither.
    Composition composition;
    const CRule* rule = nullptr;
    composition.status = FindArticle(*info, articleNumber, rule);
    TrialLog fresh;
    const TrialLog* log = &fresh;
    if (composition.status == Composition::Status::Ok) {
        const qv::Seconds now = qv::SystemNow();
        // The trial window's pass, unless the log changed since or the clock went back.
        if (read != nullptr && read->Covers(now) && read->StillMatches(info->GetLogPath()))
            log = read;
        else
            fresh = TrialLog::Read(info->GetLogPath(), now);
        composition = ComposeVerdict(articleNumber, level, *info, now, *log);
    }
    if (!composition.verdict) {
        qv::ui::MessageBox::Show(
            qv::ui::CompositionRefusalText(composition, articleNumber, info->GetLogPath()),
            parentWidget());
        return false;
    }
    verdict_ = std::move(*composition.verdict);
    TellUnreadLog(log->damage);
    pnName->setText(qv::ui::ShownText(verdict_.heading));
    pnState->setText(qv::ui::ShownText(verdict_.articleText));
    // Long article texts wrap; the whole text stays reachable as a tip.
    qv::ui::SetPlainTip(pnState, pnState->text());
    QString text = qv::ui::FromCp932(verdict_.verdictText);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    mmJudge->setPlainText(text);
    return true;
}

void TState::TellUnreadLog(const SentenceLog::Contents::Damage& damage) {
    // The history counts whole records only; say what it may have missed.
    LogReadIssues issues;
    issues.unreadLines = damage.unreadLines;
    issues.crOnlyLines = damage.crOnlyLines;
    issues.badTimes = damage.badTimes;
    issues.gluedLines = damage.gluedLines;
    if (!issues.Any()) return;
    qv::ui::MessageBox::Show(qv::ui::VerdictLogIssuesText(issues, info_->GetLogPath()),
                             parentWidget());
}

void TState::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TState::FormShow() { btOK->setFocus(); }

void TState::btOKClick() {
    const Decision decision = DecideVerdict(verdict_, *info_, qv::SystemNow());
    if (decision.busy) {
        qv::ui::MessageBox::Show(qv::ui::BusyText(info_->GetLogPath()), this);
        return;
    }
    const QString failure = qv::ui::DecisionFailureText(
        decision, verdict_.points, info_->GetLogPath(), info_->GetBalancePath());
    if (decision.status == Decision::Status::NotCredited)
        RetryCredit(decision.id, failure);
    else if (decision.status != Decision::Status::Ok)
        qv::ui::MessageBox::Show(failure, this);
    // Nothing was written when it was not recorded: the window stays so the user can try
    // again or cancel.
    if (decision.status == Decision::Status::NotRecorded) return;
    // What the change could not keep beside the record (the ledger line, the verdict
    // text, a backup) is told now, never left for later.
    const QString side = qv::ui::SideEffectsText(decision.effects, *info_);
    if (!side.isEmpty()) qv::ui::MessageBox::Show(side, this);
    accept();
}

void TState::RetryCredit(const std::string& id, QString why) {
    // The points are noted as not credited: one box says why and offers to credit them
    // again once the file is mended.
    const std::string balance = info_->GetBalancePath();
    const QString retry = qv::ui::CreditRetryText(verdict_.points, balance);
    while (qv::ui::MessageBox::Confirm(why + QStringLiteral("\n\n") + retry)) {
        const PointBalance::Status status = CreditPending(FolderOf(*info_), id);
        if (status == PointBalance::Status::Ok) {
            qv::ui::MessageBox::Show(qv::ui::CreditRetriedText(verdict_.points, balance), this);
            return;
        }
        why = qv::ui::BalanceProblemText(status, balance);
    }
}

void TState::btCanselClick() { reject(); }

#include "execution/LogListForm.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>
#include <algorithm>
#include <ctime>
#include <limits>
#include <utility>

#include "execution/DeleteSentence.h"
#include "execution/DonePointForm.h"
#include "execution/LogListModel.h"
#include "records/PointBalance.h"
#include "records/SentenceLog.h"
#include "ui/Accessibility.h"
#include "ui/FileTexts.h"
#include "ui/MessageBox.h"
#include "ui/Placement.h"
#include "ui/Texts.h"
#include "ui/WindowHooks.h"

namespace {
const int kColumnWidths[] = {73, 65, 223, 217, 43};
}  // namespace

TLogList::TLogList(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    qv::ui::SetFormFont(this, 12);
    // The list takes what the window gains or loses; the buttons stay under it.
    using qv::ui::Follow;
    qv::ui::MakeResizable(this, QStringLiteral("TLogList"), QSize(445, 200),
                          {{pnPoint, Follow::Grow, Follow::Stay},
                           {sgList, Follow::Grow, Follow::Grow},
                           {btDone, Follow::Stay, Follow::Move},
                           {btDelete, Follow::Stay, Follow::Move},
                           {btnPoint, Follow::Stay, Follow::Move},
                           {btExit, Follow::Stay, Follow::Move}});

    model_ = new LogListModel(this);
    sgList->setModel(model_);
    for (int c = 0; c < 5; ++c) sgList->setColumnWidth(c, kColumnWidths[c]);
    // The identifier and the date are widened where the face at hand needs it, so they
    // show whole instead of elided.
    const QFontMetrics metrics(sgList->font());
    const int padding =
        2 * (sgList->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, sgList) + 1) + 2;
    sgList->setColumnWidth(
        0, std::max(kColumnWidths[0],
                    metrics.horizontalAdvance(QStringLiteral("0000000000")) + padding));
    sgList->setColumnWidth(
        1, std::max(kColumnWidths[1],
                    metrics.horizontalAdvance(QStringLiteral("0000/00/00")) + padding));
    // Fixed row heights: the view never measures rows, so a long log costs nothing extra.
    sgList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    sgList->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    sgList->horizontalHeader()->setStretchLastSection(false);
    sgList->setAccessibleName(QStringLiteral("判決の一覧"));
    qv::ui::NameControls(this);

    connect(btDone, &QPushButton::clicked, this, &TLogList::btDoneClick);
    connect(btDelete, &QPushButton::clicked, this, &TLogList::btDeleteClick);
    connect(btnPoint, &QPushButton::clicked, this, &TLogList::btnPointClick);
    connect(btExit, &QPushButton::clicked, this, &TLogList::btExitClick);
    connect(btHistory, &QPushButton::clicked, this, &TLogList::btHistoryClick);
}

void TLogList::Init(CInfo* info) {
    info_ = info;
    LoadList();
}

void TLogList::LoadList() {
    if (info_ == nullptr) return;
    // The balance exactly as stored; without a usable file, the label alone.
    // Kinds of damage found, so that each is told once.
    enum : unsigned {
        kBalanceUnreadable = 1,
        kBalanceShort = 2,
        kLogUnreadable = 4,
        kLogUnread = 8,
        kLogBadTimes = 16,
        kLogGlued = 32
    };
    unsigned found = 0;
    QStringList problems;
    QString balance = QStringLiteral("ポイント残高:");
    std::vector<std::string> fields;
    qv::io::IoError balanceError;
    const PointBalance::Status read =
        PointBalance(info_->GetBalancePath()).Read(fields, &balanceError);
    if (read == PointBalance::Status::Ok)
        balance += qv::ui::ShownText(fields[PointBalance::kBalanceField]);
    pnPoint->setText(balance);
    // A missing balance is no damage: the first decision with points creates it.
    if (read == PointBalance::Status::Unreadable) {
        found |= kBalanceUnreadable;
        problems << qv::ui::BalanceNotShownText(read, info_->GetBalancePath(), balanceError);
    } else if (read == PointBalance::Status::Short ||
               (read == PointBalance::Status::Ok && fields.size() < PointBalance::kFieldCount)) {
        found |= kBalanceShort;
        problems << qv::ui::BalanceNotChangeableText(info_->GetBalancePath());
    }

    const int previous = SelectedRecordRow();
    ::tzset();  // dates follow the zone as it is now
    // The log as this window last wrote it into the rows, while the file is still that;
    // else read.
    const bool kept = rowsWritten_ && model_->Contents().StillMatches(info_->GetLogPath());
    rowsWritten_ = false;
    SentenceLog::Contents contents;
    qv::io::ReadStatus status = qv::io::ReadStatus::Ok;
    qv::io::IoError logError;
    if (!kept) status = SentenceLog(info_->GetLogPath()).Read(contents, &logError);
    if (status == qv::io::ReadStatus::Unreadable) {
        found |= kLogUnreadable;
        problems.prepend(qv::ui::LogNotListedText(info_->GetLogPath(), logError));
    } else if (const LogReadIssues issues = FindLogIssues(kept ? model_->Contents() : contents);
               issues.Any()) {
        if (issues.unreadLines > 0) found |= kLogUnread;
        if (issues.badTimes > 0) found |= kLogBadTimes;
        if (issues.gluedLines > 0) found |= kLogGlued;
        problems.prepend(qv::ui::LogListIssuesText(issues, info_->GetLogPath()));
    }
    if (kept)
        model_->Refresh();
    else
        model_->Reset(std::move(contents));
    // What could not be read is told in one box as the window opens, and again only when a
    // refill after an action finds a kind of damage not told yet.
    if ((found & ~toldProblems_) != 0)
        qv::ui::MessageBox::Show(problems.join(QStringLiteral("\n\n")), this);
    toldProblems_ |= found;

    // The current row stays where it was (the newest record on opening), within the rows.
    const int rows = model_->rowCount();
    if (rows > 0) sgList->selectRow(std::clamp(previous, 0, rows - 1));
}

int TLogList::SelectedRecordRow() const {
    const QModelIndex current = sgList->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void TLogList::btDoneClick() {
    const int row = SelectedRecordRow();
    if (row < 0) return;
    const std::string id(model_->Field(row, SentenceRecord::kDecisionTime));
    const bool execute = model_->Field(row, SentenceRecord::kExecuted) == "0";
    const QString content = qv::ui::ShownText(model_->Field(row, SentenceRecord::kDistribution));
    if (!qv::ui::MessageBox::Confirm(content + (execute ? QStringLiteral("を執行済みにします")
                                                        : QStringLiteral("を未執行にします"))))
        return;

    // The rows' copy of the log is rewritten when the file is still that copy, and what
    // is written becomes the copy (a mark is set in it where it stands): the list is
    // refilled without reading the log again.
    const SentenceLog log(info_->GetLogPath());
    SentenceLog::Rewrite rewrite = log.PlanMark(id, execute, &model_->Contents());
    if (rewrite.busy) {
        qv::ui::MessageBox::Show(qv::ui::BusyText(info_->GetLogPath()), this);
    } else if (rewrite.read == qv::io::ReadStatus::Unreadable) {
        qv::ui::MessageBox::Show(qv::ui::MarkFailureText(true, info_->GetLogPath(), rewrite.error),
                                 this);
    } else if (rewrite.matched > 0) {
        qv::io::IoError error;
        if (log.WriteKeeping(std::move(rewrite), model_->RowsToRewrite(), &error)) {
            rowsWritten_ = true;
        } else {
            qv::ui::MessageBox::Show(qv::ui::MarkFailureText(false, info_->GetLogPath(), error),
                                     this);
        }
    }
    LoadList();
}

void TLogList::btDeleteClick() {
    const int row = SelectedRecordRow();
    if (row < 0) return;
    const std::string id(model_->Field(row, SentenceRecord::kDecisionTime));
    if (model_->HasGluedRecord(id)) {
        // Its line holds other sentences behind lone CRs: deleting it would take them too.
        qv::ui::MessageBox::Show(qv::ui::GluedDeleteRefusalText(info_->GetLogPath()), this);
        return;
    }
    if (!qv::ui::MessageBox::Confirm(QStringLiteral("選択された判決を削除します"))) return;

    const DeleteOutcome outcome =
        DeleteSentence(SentenceLog(info_->GetLogPath()), PointBalance(info_->GetBalancePath()), id);
    const QString failure =
        qv::ui::DeleteFailureText(outcome, info_->GetLogPath(), info_->GetBalancePath());
    if (!failure.isEmpty()) qv::ui::MessageBox::Show(failure, this);
    LoadList();
}

void TLogList::btnPointClick() {
    {
        TDonePoint report(this);
        report.Init(info_);
        report.exec();
    }
    LoadList();
}

void TLogList::btExitClick() { reject(); }

void TLogList::btHistoryClick() { qv::ui::OpenHistory(this, info_); }

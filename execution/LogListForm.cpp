#include "execution/LogListForm.h"

#include <QAction>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMenu>
#include <QStyle>
#include <algorithm>
#include <ctime>
#include <limits>
#include <utility>

#include "execution/BackupsForm.h"
#include "execution/DeleteSentence.h"
#include "execution/DonePointForm.h"
#include "execution/LedgerForm.h"
#include "execution/LogListModel.h"
#include "execution/LogSummary.h"
#include "execution/ReasonLookup.h"
#include "execution/TrashForm.h"
#include "execution/Undo.h"
#include "records/Ledger.h"
#include "records/LogIssues.h"
#include "records/PointBalance.h"
#include "records/SentenceLog.h"
#include "text/Numbers.h"
#include "ui/Accessibility.h"
#include "execution/ExecutionTexts.h"
#include "ui/FileTexts.h"
#include "ui/MessageBox.h"
#include "ui/Placement.h"
#include "ui/Texts.h"
#include "ui/WindowHooks.h"
#include "records/DataFolder.h"

namespace {
const int kColumnWidths[] = {73, 65, 223, 217, 43};
}  // namespace

TLogList::TLogList(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    qv::ui::SetFormFont(this, 12);
    // The list takes what the window gains or loses; the buttons stay under it.
    using qv::ui::Follow;
    // The status line and the reasons panel stay under the buttons.
    // At its narrowest 履歴・統計 still stands whole beside 元に戻す.
    const QSize smallest(std::max(445, qv::ui::WidthKeepingRightOf(btHistory, btUndo)), 330);
    qv::ui::MakeResizable(this, QStringLiteral("TLogList"), smallest,
                          {{pnPoint, Follow::Grow, Follow::Stay},
                           {sgList, Follow::Grow, Follow::Grow},
                           {btDone, Follow::Stay, Follow::Move},
                           {btDelete, Follow::Stay, Follow::Move},
                           {btnPoint, Follow::Stay, Follow::Move},
                           {btExit, Follow::Stay, Follow::Move},
                           {btUndo, Follow::Stay, Follow::Move},
                           {btHistory, Follow::Move, Follow::Move, btUndo},
                           {pnStatus, Follow::Grow, Follow::Move},
                           {pnReasons, Follow::Grow, Follow::Move},
                           {btRecords, Follow::Move, Follow::Move},
                           {mmReasons, Follow::Grow, Follow::Move}});

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
    connect(btUndo, &QPushButton::clicked, this, &TLogList::btUndoClick);
    // Ctrl+Z wherever the focus is in the window, the list included.
    auto* undo = new QAction(QStringLiteral("元に戻す"), this);
    undo->setObjectName(QStringLiteral("acUndo"));
    undo->setShortcut(QKeySequence::Undo);
    undo->setShortcutContext(Qt::WindowShortcut);
    addAction(undo);
    connect(undo, &QAction::triggered, this, &TLogList::btUndoClick);
    // The ledger, the trash and the backups: from the button over the reasons, from the
    // list's context menu (right click, or the menu key), and by their keys anywhere in
    // the window.
    auto* ledger = new QAction(QStringLiteral("ポイント台帳…"), this);
    ledger->setObjectName(QStringLiteral("acLedger"));
    ledger->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(ledger, &QAction::triggered, this, &TLogList::ShowLedger);
    auto* trash = new QAction(QStringLiteral("ごみ箱…"), this);
    trash->setObjectName(QStringLiteral("acTrash"));
    trash->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(trash, &QAction::triggered, this, &TLogList::ShowTrash);
    auto* backups = new QAction(QStringLiteral("バックアップ…"), this);
    backups->setObjectName(QStringLiteral("acBackups"));
    backups->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    connect(backups, &QAction::triggered, this, &TLogList::ShowBackups);
    for (QAction* action : {undo, ledger, trash, backups}) {
        action->setShortcutContext(Qt::WindowShortcut);
        action->setShortcutVisibleInContextMenu(true);
    }
    addActions({ledger, trash, backups});
    // The row's own actions first, as the buttons under the list do them.
    acDone_ = new QAction(QStringLiteral("執行"), this);
    acDone_->setObjectName(QStringLiteral("acDone"));
    connect(acDone_, &QAction::triggered, this, &TLogList::btDoneClick);
    auto* remove = new QAction(QStringLiteral("削除…"), this);
    remove->setObjectName(QStringLiteral("acDelete"));
    connect(remove, &QAction::triggered, this, &TLogList::btDeleteClick);
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    sgList->addActions({acDone_, remove, separator});
    sgList->addActions({undo, ledger, trash, backups});
    sgList->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* records = new QMenu(btRecords);
    records->addActions({ledger, trash, backups});
    btRecords->setMenu(records);
    connect(sgList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &TLogList::ShowReasons);
    connect(sgList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &TLogList::NameDoneAction);
}

void TLogList::NameDoneAction() {
    // 執行 keeps its caption; what it will do to the selected sentence is said to a screen
    // reader and in the context menu.
    const int row = SelectedRecordRow();
    const bool undoes = row >= 0 && model_->Field(row, SentenceRecord::kExecuted) != "0";
    const QString name = undoes ? QStringLiteral("未執行に戻す") : QStringLiteral("執行済みにする");
    btDone->setAccessibleName(row < 0 ? QStringLiteral("執行") : name);
    acDone_->setText(row < 0 ? QStringLiteral("執行") : name);
    acDone_->setEnabled(row >= 0);
}

TLogList::~TLogList() = default;

void TLogList::Init(CInfo* info) {
    info_ = info;
    session_ = std::make_unique<qv::execution::ReportSession>(*info);
    // The copy of the log its first mark needs is taken while the list fills.
    session_->KeepLogAhead();
    // Once per opening: a refill after an action finds what the action's own ledger line
    // says, and a difference the action left is told with its outcome.
    CheckLedger();
    LoadList();
}

void TLogList::ReadBalance(unsigned& found, QStringList& problems) {
    // The balance exactly as stored; without a usable file, the label alone.
    std::vector<std::string> fields;
    qv::io::IoError balanceError;
    const PointBalance::Status read =
        PointBalance(info_->GetBalancePath()).Read(fields, &balanceError);
    balanceKnown_ = read == PointBalance::Status::Ok;
    balanceShown_ =
        balanceKnown_ ? qv::ui::ShownText(fields[PointBalance::kBalanceField]) : QString();
    pnPoint->setText(QStringLiteral("ポイント残高:") + balanceShown_);
    // A missing balance is no damage: the first decision with points creates it.
    if (read == PointBalance::Status::Unreadable) {
        found |= kBalanceUnreadable;
        problems << qv::ui::BalanceNotShownText(read, info_->GetBalancePath(), balanceError);
    } else if (read == PointBalance::Status::Short ||
               (read == PointBalance::Status::Ok && fields.size() < PointBalance::kFieldCount)) {
        found |= kBalanceShort;
        problems << qv::ui::BalanceNotChangeableText(info_->GetBalancePath());
    }
}

QString TLogList::StatusText() const {
    return QStringLiteral("記録%1件　未執行%2件（量刑計%3ポイント）　ポイント残高:")
               .arg(summary_.records)
               .arg(summary_.notExecuted)
               .arg(summary_.notExecutedPoints) +
           (balanceKnown_ ? balanceShown_ : QStringLiteral("不明"));
}

void TLogList::ShowStatus() {
    ShowStatus(QString());
}

void TLogList::ShowStatus(const QString& said) {
    const QString figures = StatusText();
    // The whole line, also where it shows shortened; read out as plain text, not markup.
    qv::ui::SetPlainTip(pnStatus, said.isEmpty() ? QString() : said + QStringLiteral("　") + figures);
    // What was just done goes first; where the line is too short for both, it gives way
    // (shortened in the middle) so that the figures always show whole.
    QString lead;
    if (!said.isEmpty()) {
        const QFontMetrics metrics(pnStatus->font());
        const int room = pnStatus->width() - metrics.horizontalAdvance(QStringLiteral("　") + figures);
        lead = metrics.elidedText(said, Qt::ElideMiddle, std::max(0, room)) + QStringLiteral("　");
        if (lead.trimmed().isEmpty()) lead.clear();
    }
    qv::ui::Announce(pnStatus, lead + figures);
    if (!said.isEmpty()) pnStatus->setAccessibleName(said + QStringLiteral("　") + figures);
    NameDoneAction();
}

void TLogList::TellProblems(unsigned found, const QStringList& problems) {
    // What could not be read is told in one box as the window opens, and again only when a
    // refill after an action finds a kind of damage not told yet.
    if ((found & ~toldProblems_) != 0)
        qv::ui::MessageBox::Show(problems.join(QStringLiteral("\n\n")), this);
    toldProblems_ |= found;
}

void TLogList::LoadList() {
    if (info_ == nullptr) return;
    unsigned found = 0;
    QStringList problems;
    ReadBalance(found, problems);

    const int previous = SelectedRecordRow();
    ::tzset();  // dates follow the zone as it is now
    // The log as this window last wrote it into the rows, while the file is still that;
    // else read.
    const bool kept = rowsWritten_ && model_->Contents().StillMatches(info_->GetLogPath());
    rowsWritten_ = false;
    SentenceLog::Contents contents;
    qv::io::ReadStatus status = qv::io::ReadStatus::Ok;
    qv::io::IoError logError;
    if (!kept) {
        // The rows' old copy goes before the new one comes in: the log is held once.
        model_->Reset(SentenceLog::Contents());
        status = SentenceLog(info_->GetLogPath()).Read(contents, &logError);
    }
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
    // The kept verdict texts are looked up row by row as a row is shown; here only whether
    // they can be read at all, so that it is told as the window opens.
    const DataFolder folder = FolderOf(*info_);
    if (qv::execution::ProbeKeptReasons(folder) == qv::io::ReadStatus::Unreadable) {
        found |= kReasonsUnreadable;
        problems << qv::ui::ReasonsUnreadableText(folder.ReasonsPath()) +
                        QStringLiteral("判決理由は表示できません。");
    }
    summary_ = SummarizeLog(kept ? model_->Contents() : contents);
    if (kept)
        model_->Refresh();
    else
        model_->Reset(std::move(contents));
    ShowStatus();
    TellProblems(found, problems);

    // The current row stays where it was (the newest record on opening), within the rows.
    const int rows = model_->rowCount();
    if (rows > 0) sgList->selectRow(std::clamp(previous, 0, rows - 1));
    ShowReasons();
}

void TLogList::LoadBalance() {
    if (info_ == nullptr) return;
    unsigned found = 0;
    QStringList problems;
    ReadBalance(found, problems);
    ShowStatus();
    TellProblems(found, problems);
}

void TLogList::ShowReasons() {
    const int row = SelectedRecordRow();
    if (row < 0) {
        mmReasons->setPlainText(QStringLiteral("判決が選ばれていません。"));
        return;
    }
    const DataFolder folder = FolderOf(*info_);
    const std::string id(model_->Field(row, SentenceRecord::kDecisionTime));
    // The same row over the same file shows what it showed.
    const qv::io::FileStamp stamp = qv::io::StampOf(folder.ReasonsPath());
    if (!reasonsShown_.isNull() && id == reasonsId_ && stamp.Known() && stamp == reasonsStamp_) {
        mmReasons->setPlainText(reasonsShown_);
        return;
    }
    reasonsShown_ = QString();
    std::vector<std::string> texts;
    if (qv::execution::KeptReasonsOf(folder, id, texts) == qv::io::ReadStatus::Unreadable) {
        mmReasons->setPlainText(qv::ui::ReasonsUnreadableText(folder.ReasonsPath()));
        // Told in a box too, once, as when the window opens on such a file.
        TellProblems(kReasonsUnreadable,
                     {qv::ui::ReasonsUnreadableText(folder.ReasonsPath()) +
                      QStringLiteral("判決理由は表示できません。")});
        return;
    }
    QString all;
    if (texts.empty()) {
        all = QStringLiteral(
            "この判決の判決理由は残っていません（判決理由を残すようになる前の判決か、"
            "残せなかった判決です）。");
    } else {
        QStringList shown;
        for (const std::string& text : texts) shown << qv::ui::FromCp932(text);
        all = shown.join(QStringLiteral("\r\n\r\n――――――――\r\n\r\n"));
        if (texts.size() > 1)
            all.prepend(
                QStringLiteral("同じ識別子の判決が%1件あるため、そのすべての判決理由です。\r\n\r\n")
                    .arg(texts.size()));
        all.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    }
    mmReasons->setPlainText(all);
    // Kept only when the file did not change under the lookup.
    if (stamp == qv::io::StampOf(folder.ReasonsPath())) {
        reasonsId_ = id;
        reasonsStamp_ = stamp;
        reasonsShown_ = all;
    }
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
    // refilled without reading the log again, and only the marked rows change.
    const auto [first, last] = model_->RowsOfIdAround(row);
    const LogSummary before =
        SummarizeRecords(model_->Contents(), model_->RecordOf(last), model_->RecordOf(first) + 1);
    const char* bytesBefore = model_->Contents().Bytes().data();
    const size_t recordsBefore = model_->Contents().RecordCount();
    using Result = qv::execution::Outcome::Result;
    const qv::execution::Outcome outcome = session_->Mark(id, execute, &model_->Contents(), &model_->RowsToRewrite());
    if (outcome.result == Result::LogUnreadable) {
        qv::ui::MessageBox::Warn(
            outcome.error.op == qv::io::IoError::Op::Lock
                ? qv::ui::BusyText(info_->GetLogPath())
                : qv::ui::MarkFailureText(true, info_->GetLogPath(), outcome.error),
            this);
    } else if (outcome.result == Result::LogWriteFailed) {
        qv::ui::MessageBox::Warn(qv::ui::MarkFailureText(false, info_->GetLogPath(), outcome.error),
                                 this);
    } else if (outcome.Ok()) {
        rowsWritten_ = true;
        undoTexts_.push_back((execute ? QStringLiteral("執行済みにした判決（")
                                      : QStringLiteral("未執行にした判決（")) +
                             content.trimmed() + QStringLiteral("）"));
        TellSideEffects(outcome);
        if (MarkedInPlace(first, last, before, bytesBefore, recordsBefore, outcome.records)) {
            rowsWritten_ = false;
            return;
        }
    }
    LoadList();
}

bool TLogList::MarkedInPlace(int first, int last, const LogSummary& before,
                             const char* bytesBefore, size_t recordsBefore, size_t marked) {
    const SentenceLog::Contents& rows = model_->Contents();
    // The same bytes, the same records, and every record marked among the rows at hand:
    // the marks were set where they stood and nothing else moved.
    if (rows.Bytes().data() != bytesBefore || rows.RecordCount() != recordsBefore ||
        marked != static_cast<size_t>(last - first + 1) ||
        !rows.StillMatches(info_->GetLogPath()))
        return false;
    MoveFigures(before, SummarizeRecords(rows, model_->RecordOf(last), model_->RecordOf(first) + 1));
    model_->RowsChanged(first, last);
    ShowStatus();
    return true;
}

void TLogList::MoveFigures(const LogSummary& before, const LogSummary& after) {
    // A sum held at the end of its range is added up again instead of moved.
    const auto held = [](std::int64_t sum) {
        return sum == std::numeric_limits<std::int64_t>::max() ||
               sum == std::numeric_limits<std::int64_t>::min();
    };
    const std::int64_t moved = held(before.notExecutedPoints)
                                   ? 0
                                   : qv::SaturatingAdd(qv::SaturatingAdd(summary_.notExecutedPoints,
                                                                         -before.notExecutedPoints),
                                                       after.notExecutedPoints);
    if (held(summary_.notExecutedPoints) || held(before.notExecutedPoints) ||
        held(after.notExecutedPoints) || held(moved)) {
        summary_ = SummarizeLog(model_->Contents());
    } else {
        summary_.records = model_->Contents().RecordCount();
        summary_.notExecuted = summary_.notExecuted - before.notExecuted + after.notExecuted;
        summary_.notExecutedPoints = moved;
    }
}

bool TLogList::RemovedInPlace(const std::vector<size_t>& dropped, const qv::io::FileStamp& stamp) {
    if (dropped.empty() || !stamp.Known()) return false;
    const int previous = SelectedRecordRow();
    const LogSummary gone = SummaryOf(dropped);
    model_->RemoveRecords(dropped, stamp);
    MoveFigures(gone, {});
    ShowAfterRowsMoved(previous);
    return true;
}

bool TLogList::InsertedInPlace(const std::vector<SentenceLog::Contents::Insertion>& inserted,
                               const qv::io::FileStamp& stamp) {
    if (inserted.empty() || !stamp.Known()) return false;
    const int previous = SelectedRecordRow();
    const std::vector<size_t> records = model_->InsertLines(inserted, stamp);
    if (records.empty()) return false;
    MoveFigures({}, SummaryOf(records));
    ShowAfterRowsMoved(previous);
    return true;
}

LogSummary TLogList::SummaryOf(const std::vector<size_t>& records) const {
    LogSummary sum;
    for (const size_t i : records) {
        const LogSummary one = SummarizeRecords(model_->Contents(), i, i + 1);
        sum.notExecuted += one.notExecuted;
        sum.notExecutedPoints = qv::SaturatingAdd(sum.notExecutedPoints, one.notExecutedPoints);
    }
    return sum;
}

void TLogList::ShowAfterRowsMoved(int previous) {
    unsigned found = 0;
    QStringList problems;
    ReadBalance(found, problems);
    ShowStatus();
    TellProblems(found, problems);
    const int rows = model_->rowCount();
    if (rows > 0) sgList->selectRow(std::clamp(previous, 0, rows - 1));
    ShowReasons();
}

void TLogList::btDeleteClick() {
    const int row = SelectedRecordRow();
    if (row < 0) return;
    const std::string id(model_->Field(row, SentenceRecord::kDecisionTime));
    if (model_->HasGluedRecord(id)) {
        // Its line holds other sentences behind lone CRs: deleting it would take them too.
        qv::ui::MessageBox::Warn(qv::ui::GluedDeleteRefusalText(info_->GetLogPath()), this);
        return;
    }
    // The seed's question, then which sentence, the points it takes back, and where it goes.
    const QString which = LogListModel::DateText(model_->Field(row, SentenceRecord::kDecisionTime)) +
                          QStringLiteral(" ") +
                          qv::ui::ShownText(model_->Field(row, SentenceRecord::kArticleName)) +
                          QStringLiteral("（") +
                          qv::ui::ShownText(model_->Field(row, SentenceRecord::kDistribution)).trimmed() +
                          QStringLiteral("）");
    // Every record of the identifier goes, each taking back its points.
    std::int64_t points = 0;
    const SentenceLog::Contents& rows = model_->Contents();
    for (const size_t i : rows.RecordsCarrying(id))
        points = qv::SaturatingAdd(
            points, std::max<std::int64_t>(0, qv::ReadInt64(rows.Field(i, SentenceRecord::kPoints))));
    QString question = QStringLiteral("選択された判決を削除します\n\n判決: ") + which;
    if (points > 0)
        question += QStringLiteral("\nこの判決の") + QString::number(points) +
                    QStringLiteral("ポイントをポイント残高から差し引きます。");
    question += QStringLiteral(
        "\n削除した判決はごみ箱に移ります（元に戻す・Ctrl+Z、またはごみ箱から戻せます）。");
    if (!qv::ui::MessageBox::Confirm(question)) return;

    // The one delete path (DeleteSentence), through the session so it can be undone; planned
    // in the rows' copy while the file is still that, so only the deleted rows go.
    const qv::execution::Outcome outcome =
        session_->Delete(id, qv::records::kEveryRecord, &model_->Contents());
    const QString failure = outcome.deletion
                                ? qv::ui::DeleteFailureText(*outcome.deletion, info_->GetLogPath(),
                                                            info_->GetBalancePath())
                                : QString();
    if (!failure.isEmpty()) {
        qv::ui::MessageBox::Warn(failure, this);
    } else if (outcome.Ok()) {
        undoTexts_.push_back(QStringLiteral("削除した判決（") + which + QStringLiteral("）"));
        TellSideEffects(outcome);
        if (RemovedInPlace(outcome.deletion->dropped, outcome.deletion->logStamp)) return;
    }
    LoadList();
}

void TLogList::btnPointClick() {
    {
        TDonePoint report(this);
        report.Init(info_);
        report.SetSession(session_.get());
        report.exec();
    }
    // A report changes the balance alone: the rows stay as they are.
    LoadBalance();
}

void TLogList::btExitClick() { reject(); }

void TLogList::btHistoryClick() { qv::ui::OpenHistory(this, info_); }

void TLogList::btUndoClick() {
    if (!session_ || !session_->CanUndo()) return;
    const auto kind = session_->NextUndo();
    const bool canUndoBefore = session_->CanUndo();
    // A mark's undo sets the bytes back in the rows' copy too, so the refill reads no log.
    const bool mark = kind == qv::execution::ReportSession::Kind::Mark;
    // The rows the marks being set back stand on, with their figures, so that only they
    // are drawn again when the undo sets the bytes back in the rows' copy.
    const auto [first, last] = mark && model_->Contents().StillMatches(info_->GetLogPath())
                                   ? model_->RowsOfOffsets(session_->NextUndoMarkOffsets())
                                   : std::pair{0, -1};
    const LogSummary before =
        first <= last ? SummarizeRecords(model_->Contents(), model_->RecordOf(last),
                                         model_->RecordOf(first) + 1)
                      : LogSummary{};
    const char* bytesBefore = model_->Contents().Bytes().data();
    const size_t recordsBefore = model_->Contents().RecordCount();
    const bool deletion = kind == qv::execution::ReportSession::Kind::Delete;
    const qv::execution::Outcome outcome =
        mark || deletion ? session_->Undo(&model_->RowsToRewrite()) : session_->Undo();
    // What was undone, for the status line: the window's own actions by what they did;
    // a point report (made in its own window) by its kind.
    QString undone;
    const bool popped = outcome.Ok() || outcome.result == qv::execution::Outcome::Result::NotFound;
    if (popped && canUndoBefore) {
        if (kind == qv::execution::ReportSession::Kind::Report) {
            undone = QStringLiteral("ポイント執行報告");
        } else if (!undoTexts_.empty()) {
            undone = undoTexts_.back();
            undoTexts_.pop_back();
        }
    }
    const QString failure =
        qv::ui::UndoFailureText(outcome, info_->GetLogPath(), info_->GetBalancePath());
    if (!failure.isEmpty())
        qv::ui::MessageBox::Warn(failure, this);
    else if (outcome.Ok())
        TellSideEffects(outcome);
    // Undoing a report gives back points alone; anything else changed the log.
    if (kind == qv::execution::ReportSession::Kind::Report) {
        LoadBalance();
    } else if (deletion && outcome.Ok() && InsertedInPlace(outcome.inserted, outcome.logStamp)) {
        // the rows put back came in where they stand
    } else if (!(mark && outcome.Ok() && first <= last &&
                 MarkedInPlace(first, last, before, bytesBefore, recordsBefore,
                               static_cast<size_t>(last - first + 1)))) {
        rowsWritten_ = mark && outcome.Ok();
        LoadList();
    }
    if (outcome.Ok() && !undone.isEmpty())
        ShowStatus(QStringLiteral("元に戻しました: ") + undone);
}

void TLogList::CheckLedger() {
    if (toldLedger_ || FolderOf(*info_).LedgerPath().empty()) return;
    const Ledger ledger(FolderOf(*info_).LedgerPath());
    const Ledger::Check check =
        ledger.CheckAgainst(PointBalance(info_->GetBalancePath()), qv::SystemNow());
    if (check.unreadLines > 0) {
        toldLedger_ = true;
        qv::ui::MessageBox::Show(
            qv::ui::LedgerUnreadLinesText(FolderOf(*info_).LedgerPath(), check.unreadLines), this);
    }
    if (check.result != Ledger::Check::Result::Differs) return;
    toldLedger_ = true;
    // A hand edit, the old program, or a write cut short between the two files.
    if (!qv::ui::MessageBox::Confirm(qv::ui::LedgerDiffersText(
            check.fileBalance, check.ledgerBalance, info_->GetBalancePath())))
        return;
    if (!ledger.RecordAdjustment(check.ledgerBalance, check.fileBalance, qv::SystemNow()))
        qv::ui::MessageBox::Warn(qv::ui::LedgerWriteFailedText(FolderOf(*info_).LedgerPath()), this);
}

void TLogList::TellSideEffects(const qv::execution::Outcome& outcome) {
    // The difference a missing ledger line leaves is told here, not again.
    if (!outcome.effects.ledgered) toldLedger_ = true;
    const QString told =
        qv::ui::SideEffectsText(outcome.effects, *info_);
    if (!told.isEmpty()) qv::ui::MessageBox::Show(told, this);
}

void TLogList::ShowLedger() {
    const int row = SelectedRecordRow();
    const std::string id =
        row < 0 ? std::string() : std::string(model_->Field(row, SentenceRecord::kDecisionTime));
    OpenLedger(this, info_, id);
}

void TLogList::ShowTrash() {
    session_->Settle();
    {
        // The list and the balance follow each restore while the trash is still open.
        TTrash window(this);
        window.Init(info_, session_.get());
        connect(&window, &TTrash::Restored, this, &TLogList::LoadList);
        window.exec();
    }
    LoadList();
}

void TLogList::ShowBackups() {
    session_->Settle();
    OpenBackups(this, info_);
    LoadList();
}

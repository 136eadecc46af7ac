#include "execution/LogListForm.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QCheckBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <utility>

#include "execution/DonePointForm.h"
#include "execution/Undo.h"
#include "records/Ledger.h"
#include "records/PointBalance.h"
#include "records/SentenceLog.h"
#include "text/Numbers.h"
#include "ui/Accessibility.h"
#include "ui/FileTexts.h"
#include "ui/MessageBox.h"
#include "ui/Texts.h"

// The records of the log as the grid's rows, newest first. Holds the file's bytes once;
// a cell's text is made only when the view asks for it, so a log of any length opens at
// the cost of reading it.
class LogListModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    void Reset(SentenceLog::Contents contents) {
        beginResetModel();
        contents_ = std::move(contents);
        endResetModel();
    }

    // Field f of the record shown on row (0 = the newest), as stored.
    std::string_view Field(int row, size_t f) const {
        return contents_.Field(contents_.RecordCount() - 1 - static_cast<size_t>(row), f);
    }

    // Whether a record carrying the identifier has other sentences glued into its line.
    bool HasGluedRecord(std::string_view id) const {
        for (size_t i = 0; i < contents_.RecordCount(); ++i) {
            if (contents_.Field(i, SentenceRecord::kDecisionTime) == id &&
                IsGluedRecord(contents_.Record(i)))
                return true;
        }
        return false;
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(contents_.RecordCount());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : 5;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid()) return {};
        const int row = index.row();
        switch (index.column()) {
            case 0:
                return qv::ui::ShownText(Field(row, SentenceRecord::kDecisionTime));
            case 1:
                return DateText(Field(row, SentenceRecord::kDecisionTime));
            case 2:
                return qv::ui::ShownText(Field(row, SentenceRecord::kArticleNumber)) +
                       QStringLiteral("条:") +
                       qv::ui::ShownText(Field(row, SentenceRecord::kArticleName));
            case 3:
                return qv::ui::ShownText(Field(row, SentenceRecord::kDistribution));
            case 4:
                return MarkText(Field(row, SentenceRecord::kExecuted));
            default:
                return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        static const QString kHeaders[] = {QStringLiteral("識別子"), QStringLiteral("判決日"),
                                           QStringLiteral("適用条文"), QStringLiteral("判決内容"),
                                           QStringLiteral("執行")};
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= 5)
            return QAbstractTableModel::headerData(section, orientation, role);
        return kHeaders[section];
    }

    static QString MarkText(std::string_view executed) {
        return executed == "0" ? QStringLiteral("未") : QStringLiteral("済");
    }

    // The decision time's local calendar date, "2003/ 1/ 5".
    static QString DateText(std::string_view decisionTime) {
        const std::time_t seconds = static_cast<std::time_t>(qv::ReadInt64(decisionTime));
        std::tm local{};
        if (::localtime_r(&seconds, &local) == nullptr) return {};
        char text[48];
        std::snprintf(text, sizeof text, "%04d/%2d/%2d", local.tm_year + 1900, local.tm_mon + 1,
                      local.tm_mday);
        return QString::fromLatin1(text);
    }

private:
    SentenceLog::Contents contents_;
};

namespace {
const int kColumnWidths[] = {73, 65, 223, 217, 43};

QString LocalTimeText(qv::Seconds t) {
    const std::time_t seconds = static_cast<std::time_t>(t);
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr) return QString::number(t);
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return QString::fromLatin1(text);
}
}  // namespace

TLogList::TLogList(QWidget* parent) : QDialog(parent) {
    setupUi(this);
    move(196, 212);  // uic only sizes a top-level window
    qv::ui::SetFormFont(this, 12);

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

    // Beside the four buttons, where they move nothing.
    btUndo = new QPushButton(QStringLiteral("元に戻す"), this);
    btUndo->setObjectName(QStringLiteral("btUndo"));
    btUndo->setGeometry(448, 408, 75, 25);
    btUndo->setAutoDefault(true);
    btLedger = new QPushButton(QStringLiteral("台帳"), this);
    btLedger->setObjectName(QStringLiteral("btLedger"));
    btLedger->setGeometry(531, 408, 75, 25);
    btLedger->setAutoDefault(true);
    setTabOrder(btExit, btUndo);
    setTabOrder(btUndo, btLedger);
    connect(btUndo, &QPushButton::clicked, this, &TLogList::btUndoClick);
    // Ctrl+Z wherever the focus is in the window, the list included.
    auto* undo = new QAction(this);
    undo->setShortcut(QKeySequence::Undo);
    undo->setShortcutContext(Qt::WindowShortcut);
    addAction(undo);
    connect(undo, &QAction::triggered, this, &TLogList::btUndoClick);
    connect(btLedger, &QPushButton::clicked, this, &TLogList::btLedgerClick);
    qv::ui::NameControls(this);
}

TLogList::~TLogList() = default;

void TLogList::Init(CInfo* info) {
    info_ = info;
    session_ = std::make_unique<qv::undo::ReportSession>(*info);
    LoadList();
}

QString TLogList::LogName() const { return qv::ui::PathText(info_->GetLogPath()); }
QString TLogList::BalanceName() const { return qv::ui::PathText(info_->GetBalancePath()); }

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
    const PointBalance::Status read = PointBalance(info_->GetBalancePath()).Read(fields);
    if (read == PointBalance::Status::Ok)
        balance += qv::ui::ShownText(fields[PointBalance::kBalanceField]);
    pnPoint->setText(balance);
    CheckLedger();
    // A missing balance is no damage: the first decision with points creates it.
    if (read == PointBalance::Status::Unreadable) {
        found |= kBalanceUnreadable;
        problems << qv::ui::BalanceProblemText(read, info_->GetBalancePath()) +
                        QStringLiteral("ポイント残高は表示できません。");
    } else if (read == PointBalance::Status::Short ||
               (read == PointBalance::Status::Ok && fields.size() < PointBalance::kFieldCount)) {
        found |= kBalanceShort;
        problems << qv::ui::BalanceProblemText(PointBalance::Status::Short,
                                               info_->GetBalancePath()) +
                        QStringLiteral("ポイントの加算や差し引きはできません。");
    }

    const int previous = SelectedRecordRow();
    ::tzset();  // dates follow the zone as it is now
    SentenceLog::Contents contents;
    if (SentenceLog(info_->GetLogPath()).Read(contents) == qv::io::ReadStatus::Unreadable) {
        found |= kLogUnreadable;
        problems.prepend(qv::ui::LogUnreadableText(info_->GetLogPath()) +
                         QStringLiteral("判決の一覧は表示できません。"));
    } else if (const LogReadIssues issues = FindLogIssues(contents); issues.Any()) {
        if (issues.unreadLines > 0) found |= kLogUnread;
        if (issues.badTimes > 0) found |= kLogBadTimes;
        if (issues.gluedLines > 0) found |= kLogGlued;
        QString text = qv::ui::LogIssuesText(issues, info_->GetLogPath()) +
                       QStringLiteral(
                           "\n読めない行は一覧に表示していません。読めない部分は、"
                           "執行や削除でファイルを書き換えても消えずにそのまま残ります。");
        if (issues.gluedLines > 0)
            text += QStringLiteral(
                "CRだけの改行がある判決は、つながったほかの判決を巻き込まないよう削除できません。");
        problems.prepend(text);
    }
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

void TLogList::CheckLedger() {
    if (toldLedger_ || info_->GetLedgerPath().empty()) return;
    const Ledger ledger(info_->GetLedgerPath());
    const Ledger::Check check =
        ledger.CheckAgainst(PointBalance(info_->GetBalancePath()), qv::SystemNow());
    if (check.unreadLines > 0) {
        toldLedger_ = true;
        qv::ui::MessageBox::Show(
            QStringLiteral("ポイント台帳のファイル「%1」に読めない行が%2行あります。"
                           "読めない行はそのまま残し、読める行だけで残高を確かめます。")
                .arg(qv::ui::PathText(info_->GetLedgerPath()))
                .arg(check.unreadLines),
            this);
    }
    if (check.result != Ledger::Check::Result::Differs) return;
    toldLedger_ = true;
    // A hand edit, the old program, or a write cut short between the two files.
    const QString question =
        QStringLiteral(
            "ポイント残高のファイル「%1」の残高 %2 が、ポイント台帳の残高 %3 と"
            "合いません。\nファイルの残高 %2 を正しいものとして台帳に記録しますか？")
            .arg(BalanceName())
            .arg(check.fileBalance)
            .arg(check.ledgerBalance);
    if (!qv::ui::MessageBox::Confirm(question)) return;
    if (!ledger.RecordAdjustment(check.ledgerBalance, check.fileBalance, qv::SystemNow()))
        qv::ui::MessageBox::Show(
            QStringLiteral("ポイント台帳のファイル「%1」に書き込めませんでした。")
                .arg(qv::ui::PathText(info_->GetLedgerPath())),
            this);
}

void TLogList::TellSideEffects(const qv::undo::Outcome& outcome) {
    QStringList told;
    if (!outcome.ledgered) {
        toldLedger_ = true;  // the difference this leaves is told here, not again
        told << QStringLiteral(
                    "ポイント台帳のファイル「%1」に書き込めませんでした。"
                    "残高は変わっています。次に開いたとき台帳との違いを確かめます。")
                    .arg(qv::ui::PathText(info_->GetLedgerPath()));
    }
    if (!outcome.trashed)
        told << QStringLiteral(
                    "ゴミ箱のファイル「%1」に書き込めませんでした。"
                    "この画面を閉じるまでは「元に戻す」で戻せます。")
                    .arg(qv::ui::PathText(info_->GetTrashPath()));
    if (!outcome.backedUp)
        told << QStringLiteral(
                    "書き換える前のファイルをバックアップのフォルダー「%1」に"
                    "残せませんでした。書き換えはそのまま行いました。")
                    .arg(qv::ui::PathText(info_->GetBackupFolder()));
    if (!told.isEmpty()) qv::ui::MessageBox::Show(told.join(QStringLiteral("\n")), this);
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

    using Result = qv::undo::Outcome::Result;
    const qv::undo::Outcome outcome = session_->Mark(id, execute);
    if (outcome.result == Result::LogUnreadable) {
        qv::ui::MessageBox::Show(qv::ui::LogUnreadableText(info_->GetLogPath()), this);
    } else if (outcome.result == Result::LogWriteFailed) {
        qv::ui::MessageBox::Show(
            QStringLiteral(
                "判決記録のファイル「%1」に書き込めませんでした。執行の記録は変わっていません。")
                .arg(LogName()),
            this);
    } else {
        TellSideEffects(outcome);
    }
    LoadList();
}

void TLogList::btDeleteClick() {
    const int row = SelectedRecordRow();
    if (row < 0) return;
    const std::string id(model_->Field(row, SentenceRecord::kDecisionTime));
    if (model_->HasGluedRecord(id)) {
        // Its line holds other sentences behind lone CRs: deleting it would take them too.
        qv::ui::MessageBox::Show(QStringLiteral("この判決の行にはCRだけの改行があり、ほかの判決がつ"
                                                "ながっているおそれがあるため削除できません。"
                                                "「%1」の改行を直してから削除してください。")
                                     .arg(LogName()),
                                 this);
        return;
    }
    if (!qv::ui::MessageBox::Confirm(QStringLiteral("選択された判決を削除します"))) return;

    const qv::undo::Outcome outcome = session_->Delete(id);
    using Result = qv::undo::Outcome::Result;
    switch (outcome.result) {
        case Result::Done:
            TellSideEffects(outcome);
            break;
        case Result::NotFound:
        case Result::NothingToUndo:
            break;
        case Result::LogUnreadable:
            qv::ui::MessageBox::Show(qv::ui::LogUnreadableText(info_->GetLogPath()), this);
            break;
        case Result::BalanceFailed:
            qv::ui::MessageBox::Show(
                qv::ui::BalanceProblemText(outcome.balance, info_->GetBalancePath()) +
                    QStringLiteral("\nポイントを差し引けないため、判決は削除しませんでした。"),
                this);
            break;
        case Result::LogWriteFailed:
            qv::ui::MessageBox::Show(
                outcome.restored
                    ? QStringLiteral("判決記録のファイル「%1」に書き込めませんでした。"
                                     "判決は削除されず、ポイント残高も元のままです。")
                          .arg(LogName())
                    : QStringLiteral(
                          "判決記録のファイル「%"
                          "1」に書き込めませんでした。判決は削除されていませんが、"
                          "ポイント残高のファイル「%2」からはポイントが差し引かれたままです。")
                          .arg(LogName(), BalanceName()),
                this);
            break;
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
    LoadList();
}

void TLogList::btUndoClick() {
    if (!session_ || !session_->CanUndo()) return;
    using Result = qv::undo::Outcome::Result;
    const qv::undo::Outcome outcome = session_->Undo();
    switch (outcome.result) {
        case Result::Done:
            TellSideEffects(outcome);
            break;
        case Result::NotFound:
        case Result::NothingToUndo:
            break;
        case Result::LogUnreadable:
            qv::ui::MessageBox::Show(qv::ui::LogUnreadableText(info_->GetLogPath()), this);
            break;
        case Result::BalanceFailed:
            qv::ui::MessageBox::Show(
                qv::ui::BalanceProblemText(outcome.balance, info_->GetBalancePath()) +
                    QStringLiteral("\nポイントを戻せないため、元に戻しませんでした。"),
                this);
            break;
        case Result::LogWriteFailed:
            qv::ui::MessageBox::Show(
                outcome.restored
                    ? QStringLiteral("判決記録のファイル「%1」に書き込めませんでした。"
                                     "元に戻しておらず、ポイント残高もそのままです。")
                          .arg(LogName())
                    : QStringLiteral("判決記録のファイル「%1」に書き込めませんでした。"
                                     "判決は戻っていませんが、ポイント残高のファイル「%2」には"
                                     "ポイントが戻されたままです。")
                          .arg(LogName(), BalanceName()),
                this);
            break;
    }
    LoadList();
}

void TLogList::btLedgerClick() {
    Ledger::Contents contents;
    Ledger(info_->GetLedgerPath()).Read(contents);
    const int row = SelectedRecordRow();
    const std::string id =
        row < 0 ? std::string() : std::string(model_->Field(row, SentenceRecord::kDecisionTime));

    QDialog view(this);
    view.setWindowTitle(QStringLiteral("ポイント台帳"));
    view.resize(560, 360);
    auto* layout = new QVBoxLayout(&view);
    auto* all = new QCheckBox(QStringLiteral("台帳全体を表示"), &view);
    all->setObjectName(QStringLiteral("cbAll"));
    auto* text = new QPlainTextEdit(&view);
    text->setObjectName(QStringLiteral("mmLedger"));
    text->setReadOnly(true);
    layout->addWidget(all);
    layout->addWidget(text);
    static const QString kKinds[] = {QStringLiteral("開始"),     QStringLiteral("加算(判決)"),
                                     QStringLiteral("報告"),     QStringLiteral("差引(削除)"),
                                     QStringLiteral("元に戻す"), QStringLiteral("調整")};
    auto fill = [&] {
        QStringList lines;
        for (const Ledger::Entry& e : contents.entries) {
            if (!all->isChecked() && e.id != id) continue;
            QString line =
                LocalTimeText(e.time) + QStringLiteral("  ") + kKinds[static_cast<int>(e.kind)];
            if (!e.id.empty()) line += QStringLiteral("  ") + qv::ui::ShownText(e.id);
            if (e.units) {
                line += QStringLiteral("  回数");
                for (std::int64_t u : *e.units) line += QStringLiteral(" ") + QString::number(u);
            }
            line += QStringLiteral("  ") + QString::number(e.asked) + QStringLiteral("  (") +
                    QString::number(e.before) + QStringLiteral(" → ") + QString::number(e.after) +
                    QStringLiteral(")");
            lines << line;
        }
        if (lines.isEmpty())
            lines << (all->isChecked()
                          ? QStringLiteral("台帳にはまだ何もありません。")
                          : QStringLiteral("選択された判決のポイントの出入りはありません。"));
        text->setPlainText(lines.join(QStringLiteral("\n")));
    };
    all->setChecked(id.empty());
    connect(all, &QCheckBox::toggled, &view, fill);
    fill();
    view.exec();
}

void TLogList::btExitClick() { reject(); }

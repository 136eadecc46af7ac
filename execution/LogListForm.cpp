#include "execution/LogListForm.h"

#include <QAbstractTableModel>
#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <utility>

#include "execution/DeleteSentence.h"
#include "execution/DonePointForm.h"
#include "execution/LogSummary.h"
#include "records/PointBalance.h"
#include "records/Reasons.h"
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
    connect(sgList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &TLogList::ShowReasons);
}

void TLogList::Init(CInfo* info) {
    info_ = info;
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
        kLogGlued = 32,
        kReasonsUnreadable = 64
    };
    unsigned found = 0;
    QStringList problems;
    QString balance = QStringLiteral("ポイント残高:");
    std::vector<std::string> fields;
    const PointBalance::Status read = PointBalance(info_->GetBalancePath()).Read(fields);
    if (read == PointBalance::Status::Ok)
        balance += qv::ui::ShownText(fields[PointBalance::kBalanceField]);
    pnPoint->setText(balance);
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
    // The kept reasons are read with the log, so choosing a row reads nothing.
    const SentenceReasons reasons(SentenceReasons::PathFor(info_->GetLogPath()));
    reasonsRead_ = reasons.ReadAll(reasons_);
    if (reasonsRead_ == qv::io::ReadStatus::Unreadable) {
        found |= kReasonsUnreadable;
        problems << qv::ui::ReasonsUnreadableText(reasons.Path()) +
                        QStringLiteral("判決理由は表示できません。");
    }
    const LogSummary summary = SummarizeLog(contents);
    model_->Reset(std::move(contents));
    pnStatus->setText(QStringLiteral("記録%1件　未執行%2件（量刑計%3ポイント）　ポイント残高:")
                          .arg(summary.records)
                          .arg(summary.notExecuted)
                          .arg(summary.notExecutedPoints) +
                      (read == PointBalance::Status::Ok
                           ? qv::ui::ShownText(fields[PointBalance::kBalanceField])
                           : QStringLiteral("不明")));
    // What could not be read is told in one box as the window opens, and again only when a
    // refill after an action finds a kind of damage not told yet.
    if ((found & ~toldProblems_) != 0)
        qv::ui::MessageBox::Show(problems.join(QStringLiteral("\n\n")), this);
    toldProblems_ |= found;

    // The current row stays where it was (the newest record on opening), within the rows.
    const int rows = model_->rowCount();
    if (rows > 0) sgList->selectRow(std::clamp(previous, 0, rows - 1));
    ShowReasons();
}

void TLogList::ShowReasons() {
    const int row = SelectedRecordRow();
    if (row < 0) {
        mmReasons->setPlainText(QStringLiteral("判決が選ばれていません。"));
        return;
    }
    if (reasonsRead_ == qv::io::ReadStatus::Unreadable) {
        mmReasons->setPlainText(
            qv::ui::ReasonsUnreadableText(SentenceReasons::PathFor(info_->GetLogPath())));
        return;
    }
    const std::string_view id = model_->Field(row, SentenceRecord::kDecisionTime);
    std::vector<std::string_view> texts;
    for (const SentenceReasons::Entry& entry : reasons_)
        if (entry.id == id) texts.push_back(entry.text);
    if (texts.empty()) {
        mmReasons->setPlainText(QStringLiteral(
            "この判決の判決理由は残っていません（判決理由を残すようになる前の判決か、"
            "残せなかった判決です）。"));
        return;
    }
    QStringList shown;
    for (std::string_view text : texts) shown << qv::ui::FromCp932(text);
    QString all = shown.join(QStringLiteral("\r\n\r\n――――――――\r\n\r\n"));
    if (texts.size() > 1)
        all.prepend(
            QStringLiteral("同じ識別子の判決が%1件あるため、そのすべての判決理由です。\r\n\r\n")
                .arg(texts.size()));
    all.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    mmReasons->setPlainText(all);
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

    const SentenceLog log(info_->GetLogPath());
    const SentenceLog::Rewrite rewrite = log.PlanMark(id, execute);
    if (rewrite.read == qv::io::ReadStatus::Unreadable) {
        qv::ui::MessageBox::Show(qv::ui::LogUnreadableText(info_->GetLogPath()), this);
    } else if (rewrite.matched > 0 && !log.Write(rewrite)) {
        qv::ui::MessageBox::Show(
            QStringLiteral(
                "判決記録のファイル「%1」に書き込めませんでした。執行の記録は変わっていません。")
                .arg(LogName()),
            this);
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

    const DeleteOutcome outcome =
        DeleteSentence(SentenceLog(info_->GetLogPath()), PointBalance(info_->GetBalancePath()), id);
    using Result = DeleteOutcome::Result;
    switch (outcome.result) {
        case Result::Deleted:
        case Result::NotFound:
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
        report.exec();
    }
    LoadList();
}

void TLogList::btExitClick() { reject(); }

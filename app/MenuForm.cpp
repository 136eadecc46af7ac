#include "app/MenuForm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QMenu>
#include <QTimer>
#include <QUrl>
#include <cstdio>

#include "execution/BackupsForm.h"
#include "execution/LedgerForm.h"
#include "execution/LogListForm.h"
#include "execution/TrashForm.h"
#include "history/HistoryForm.h"
#include "reminder/ReminderForm.h"
#include "records/Journaling.h"
#include "records/Merge.h"
#include "records/Repair.h"
#include "rules/RuleEditForm.h"
#include "trial/JudgeForm.h"
#include "trial/TrialTexts.h"
#include "ui/Accessibility.h"
#include "ui/FileTexts.h"
#include "ui/MessageBox.h"
#include "ui/Placement.h"
#include "ui/Texts.h"
#include "ui/WindowHooks.h"
#include "records/DataFolder.h"

namespace {
// The first of: installed beside the program (bin/../share/quorvel), the checkout.
QString Installed(const QString& inShare, const QString& inCheckout) {
    const QString installed = QDir(QCoreApplication::applicationDirPath())
                                  .filePath(QStringLiteral("../share/quorvel/") + inShare);
    if (QFileInfo::exists(installed)) return QDir::cleanPath(installed);
    const QString checkout = QStringLiteral(QUORVEL_SOURCE_DIR "/") + inCheckout;
    if (QFileInfo::exists(checkout)) return checkout;
    return {};
}
}  // namespace

QString TForm1::GuidePath() {
    return Installed(QStringLiteral("guide/index.html"), QStringLiteral("docs/guide/index.html"));
}

QString TForm1::ExamplesFolder() {
    const QString found = Installed(QStringLiteral("examples"), QStringLiteral("examples"));
    return found.isEmpty() ? QStringLiteral(QUORVEL_EXAMPLES_DIR) : found;
}

namespace {
// "name: value" on a line of its own, so a wrapping box never parts the short name; a
// non-breaking space keeps it with the start of its value (a long path may still wrap).
QString NameAndValue(const QString& name, const QString& value) {
    return name + QLatin1Char(':') + QChar(0x00A0) + value;
}
}  // namespace

QString TForm1::AboutText() {
    const QString guide = GuidePath();
    return qv::ui::kAppTitle + QStringLiteral("（quorvel " QUORVEL_VERSION "）") +
           QStringLiteral("\n\n") +
           NameAndValue(QStringLiteral("ライセンス"),
                        QStringLiteral("GNU 一般公衆利用許諾書 第3版、またはそれ以降の版"
                                       "（GPL-3.0-or-later）。")) +
           QStringLiteral("\nこのプログラムはフリーソフトウェアです。"
                          "許諾書の条件のもとで再配布や改変ができます。無保証です。\n\n") +
           NameAndValue(QStringLiteral("データフォルダ"),
                        QDir::toNativeSeparators(QDir::currentPath())) +
           QStringLiteral("\n（test.dat, test.log, user.dat はここに置かれます）\n\n") +
           NameAndValue(QStringLiteral("利用の手引き"),
                        guide.isEmpty() ? QStringLiteral("見つかりません")
                                        : QDir::toNativeSeparators(guide));
}

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    setupUi(this);
    setFixedSize(size());
    qv::ui::Place(this);  // uic only sizes a top-level window
    qv::ui::SetFormFont(this, 12);
    for (QPushButton* b : {btnRule, btnJudge, Button1, btGoHP, btExit, btHistory})
        qv::ui::SetFormFont(b, 16);
    qv::ui::SetFormFont(btMore, 12);
    pnStatus->hide();

    qv::ui::NameControls(this);
    qv::ui::MarkAsWindow(this);

    connect(btnRule, &QPushButton::clicked, this, &TForm1::btnRuleClick);
    connect(btnJudge, &QPushButton::clicked, this, &TForm1::btnJudgeClick);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(btGoHP, &QPushButton::clicked, this, &TForm1::btGoHPClick);
    connect(btExit, &QPushButton::clicked, this, &TForm1::btExitClick);
    connect(btHistory, &QPushButton::clicked, this, &TForm1::btHistoryClick);
    // The execution report opens the history too, through this hook.
    qv::ui::SetHistoryOpener([](QWidget* parent, CInfo* info) {
        THistory window(parent);
        window.Init(info);
        window.exec();
    });

    // Under the seed's buttons (その他), by a right click or the menu key, and by their
    // keys; F1 as usual.
    auto* guide = new QAction(QStringLiteral("利用の手引き"), this);
    guide->setShortcut(QKeySequence::HelpContents);
    connect(guide, &QAction::triggered, this, &TForm1::OpenGuide);
    auto* about = new QAction(QStringLiteral("Quorvel裁判所について"), this);
    connect(about, &QAction::triggered, this, &TForm1::ShowAbout);
    // The ledger, the trash and the backups, also when the execution report is not open.
    auto* ledger = new QAction(QStringLiteral("ポイント台帳…"), this);
    ledger->setObjectName(QStringLiteral("acLedger"));
    ledger->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(ledger, &QAction::triggered, this, [this] { OpenLedger(this, &info_, {}); });
    auto* trash = new QAction(QStringLiteral("ごみ箱…"), this);
    trash->setObjectName(QStringLiteral("acTrash"));
    trash->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(trash, &QAction::triggered, this, [this] { OpenTrash(this, &info_); });
    auto* backups = new QAction(QStringLiteral("バックアップ…"), this);
    backups->setObjectName(QStringLiteral("acBackups"));
    backups->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    connect(backups, &QAction::triggered, this, [this] { OpenBackups(this, &info_); });
    // The daily reminder, which works while the program is closed.
    auto* reminder = new QAction(QStringLiteral("リマインダー…"), this);
    reminder->setObjectName(QStringLiteral("acReminder"));
    reminder->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(reminder, &QAction::triggered, this, &TForm1::OpenReminder);
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    const QList<QAction*> actions{ledger, trash, backups, reminder, separator, guide, about};
    for (QAction* action : actions) action->setShortcutVisibleInContextMenu(true);
    addActions(actions);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* more = new QMenu(btMore);
    more->addActions(actions);
    btMore->setMenu(more);

    ruleBook_.SetFileName("test.dat");
    loaded_ = ruleBook_.LoadFile();
    if (!loaded_) {
        loadFailure_ = qv::ui::RuleBookLoadFailureText(
            ruleBook_.GetLoadStatus(), QDir::toNativeSeparators(QDir::currentPath()),
            QDir::toNativeSeparators(ExamplesFolder()));
        // Said on the terminal too, before the box waits for OK.
        std::fprintf(stderr, "quorvel: %s\n", loadFailure_.toLocal8Bit().constData());
        std::fflush(stderr);
        qv::ui::MessageBox::Show(loadFailure_);
    } else if (const auto unread = ruleBook_.UnreadLines().size(); unread > 0) {
        qv::ui::MessageBox::Show(qv::ui::RuleBookUnreadLinesText(unread));
    }
    info_.SetRuleBook(&ruleBook_);
    // The working folder, with the ledger, the trash and the backups beside the three files.
    AttachFolder(info_, DataFolder());
    if (loaded_) {
        // A run that ended midway (a kill, a power cut) is settled before any window opens.
        const QString repaired = qv::ui::StartRepairText(
            RepairAtStart(FolderOf(info_)),
            info_.GetLogPath(), info_.GetBalancePath());
        // Where the journals hold the folder, what the interrupted action did is what they
        // say: the files are brought up to them next, whatever the repair found.
        const std::string journals = FolderOf(info_).JournalsPath();
        if (!repaired.isEmpty() && (journals.empty() || !qv::io::IsRealFolder(journals)))
            qv::ui::MessageBox::Show(repaired);
        MergeCopies();
        // A sync can bring copies while the program runs.
        connect(qApp, &QGuiApplication::applicationStateChanged, this,
                [this](Qt::ApplicationState state) {
                    if (state == Qt::ApplicationActive &&
                        QApplication::activeModalWidget() == nullptr)
                        MergeCopies();
                });
        WatchJournals();
    }
}

void TForm1::WatchJournals() {
    const std::string journals = FolderOf(info_).JournalsPath();  // the folder is a temporary
    if (journals.empty() || !qv::io::IsRealFolder(journals)) return;
    if (!journalWatch_) {
        journalWatch_ = new QFileSystemWatcher(this);
        followSoon_ = new QTimer(this);
        followSoon_->setSingleShot(true);
        // A sync tool writes a journal in several steps: the files are brought up once
        // it has been quiet for a moment, and not under an open window (it follows when
        // the window closes).
        followSoon_->setInterval(700);
        connect(followSoon_, &QTimer::timeout, this, [this] {
            if (QApplication::activeModalWidget() == nullptr) MergeCopies();
            WatchJournals();
        });
        const auto soon = [this] { followSoon_->start(); };
        connect(journalWatch_, &QFileSystemWatcher::directoryChanged, this, soon);
        connect(journalWatch_, &QFileSystemWatcher::fileChanged, this, soon);
    }
    // Each journal on its own: an append changes the file, not the folder.
    const QString dir = QString::fromLocal8Bit(journals.c_str());
    QStringList paths{dir};
    for (const QString& name : QDir(dir).entryList({QStringLiteral("*.jnl")}, QDir::Files))
        paths << dir + QLatin1Char('/') + name;
    const QStringList watched = journalWatch_->files() + journalWatch_->directories();
    for (const QString& path : paths)
        if (!watched.contains(path)) journalWatch_->addPath(path);
}

void TForm1::MergeCopies() {
    if (!loaded_ || merging_) return;
    merging_ = true;
    const DataFolder folder = FolderOf(info_);
    // Unsaved changes to the rule book: what came from elsewhere waits until they are saved.
    const bool withBook = !ruleBook_.IsModified();
    QStringList told;
    // Conflict copies of the way files were shared before the journals are merged once,
    // then the journals take over.
    if (!qv::io::IsRealFolder(folder.JournalsPath())) {
        const auto choose = [](const qv::records::Implements& ours,
                               const qv::records::Implements& theirs) {
            // Keeping this computer's implements is the safe answer: nothing it has changes.
            return qv::ui::MessageBox::Choose(qv::ui::ImplementsDifferText(ours, theirs),
                                              QStringLiteral("もう一台の設定を使う"),
                                              QStringLiteral("このコンピュータの設定を使う"));
        };
        told << qv::ui::MergeSummaryText(qv::records::MergeConflicts(folder, choose, nullptr, withBook),
                                         true);
    }
    if (withBook) {
        const qv::records::Journaling::Followed followed =
            qv::records::Journaling::Of(folder).Follow(HoldsOnlySamples(folder));
        told << qv::ui::FollowedText(followed);
    }
    // The book in memory follows the file when it has no unsaved changes: merged, or
    // brought up to the journals. A file that no longer loads is left to the save's own
    // check.
    if (withBook && ruleBook_.ChangeOnDisk() == CRuleBook::DiskChange::Changed) {
        CRuleBook probe;
        probe.SetFileName(ruleBook_.GetFileName());
        if (probe.LoadFile()) {
            std::vector<int> numbers;
            for (const auto& [number, rule] : ruleBook_) numbers.push_back(number);
            for (int number : numbers) ruleBook_.RemoveRule(number);
            ruleBook_.LoadFile();
        }
    }
    told.removeAll(QString());
    merging_ = false;
    if (!told.isEmpty())
        qv::ui::MessageBox::Show(told.join(QStringLiteral("\n")), isVisible() ? this : nullptr);
}

bool TForm1::HoldsOnlySamples(const DataFolder& folder) {
    // The files the program lays out for a first start, and nothing done with them yet.
    const auto same = [](const std::string& path, const QString& sample) {
        std::string bytes, kept;
        return qv::io::ReadFile(path, bytes) == qv::io::ReadStatus::Ok &&
               qv::io::ReadFile(sample.toStdString(), kept) == qv::io::ReadStatus::Ok && bytes == kept;
    };
    const QString examples = ExamplesFolder();
    return same(folder.BookPath(), examples + QStringLiteral("/test.dat")) &&
           same(folder.BalancePath(), examples + QStringLiteral("/user.dat")) &&
           qv::io::FileSize(folder.LogPath()) <= 0;
}

void TForm1::btnRuleClick() {
    TRuleEdit window(this);
    window.Init(&info_);
    window.exec();
    MergeCopies();  // what a sync brought while the window was open
}

void TForm1::btnJudgeClick() {
    TJudge judge(this);
    judge.Init(&info_);
    judge.exec();
    MergeCopies();  // what a sync brought while the window was open
    // The verdict window and the trial have closed: the menu is where 決定 is confirmed.
    if (judge.Decided()) Say(qv::ui::DecidedText(*judge.Decided()));
}

void TForm1::Say(const QString& text) {
    qv::ui::Announce(pnStatus, text);
    pnStatus->setVisible(!text.isEmpty());
}

bool TForm1::event(QEvent* event) {
    if (event->type() == QEvent::WindowBlocked) Say({});
    return QWidget::event(event);
}

void TForm1::Button1Click() {
    TLogList window(this);
    window.Init(&info_);
    window.exec();
    MergeCopies();  // what a sync brought while the window was open
}

void TForm1::OpenReport() {
    if (!loaded_ || QApplication::activeModalWidget() != nullptr) return;
    Button1Click();
}

void TForm1::OpenReminder() {
    TReminder window(this);
    window.Init(WorkingFolderPath());
    window.exec();
}

void TForm1::btGoHPClick() { OpenGuide(); }

void TForm1::OpenGuide() {
    const QString guide = GuidePath();
    if (guide.isEmpty()) {
        qv::ui::MessageBox::Show(
            QStringLiteral("利用の手引きが見つかりません。プログラムを入れ直してください。"), this);
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(guide))) {
        qv::ui::MessageBox::Show(
            QStringLiteral(
                "利用の手引きを開けませんでした（HTMLを開くブラウザが見つかりません）。\n"
                "次のファイルをブラウザで開いてください。\n\n") +
                QDir::toNativeSeparators(guide),
            this);
    }
}

void TForm1::ShowAbout() { qv::ui::MessageBox::Show(AboutText(), this); }

void TForm1::btExitClick() { close(); }

void TForm1::btHistoryClick() { qv::ui::OpenHistory(this, &info_); }

void TForm1::closeEvent(QCloseEvent* event) {
    if (loaded_ && ruleBook_.IsModified()) {
        using Answer = qv::ui::MessageBox::SaveAnswer;
        switch (qv::ui::MessageBox::AskSave(qv::ui::RuleBookUnsavedText(ruleBook_.GetFileName()),
                                            this)) {
            case Answer::Save:
                // Not saved (refused or failed, and told): the program stays.
                if (!TRuleEdit::SaveBook(&ruleBook_, this, &info_)) return event->ignore();
                break;
            case Answer::Discard:
                break;
            case Answer::Cancel:
                return event->ignore();
        }
    }
    QWidget::closeEvent(event);
}

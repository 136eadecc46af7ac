// Pictures of every window (the menu, the rule list and its editors, the trial and its
// verdict, the execution report after an undo, the point report, the ledger, the trash, the
// backups, the history with each chart, the reminder, the About box and a warning), as they
// stand on the screen with their frames, for looking at them at any scale:
//   xvfb-run -a -s "-screen 0 1600x1200x24" sh -c 'openbox & sleep 1;
//       build/bench/window_shots DATA_FOLDER OUT_PREFIX'
// DATA_FOLDER holds test.dat, test.log and user.dat (e.g. after scripts/sample-history);
// the shots change it (a sentence is marked and the mark undone, one is deleted).
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "app/MenuForm.h"
#include "execution/BackupsForm.h"
#include "execution/DonePointForm.h"
#include "execution/LedgerForm.h"
#include "execution/LogListForm.h"
#include "execution/TrashForm.h"
#include "history/HistoryForm.h"
#include "reminder/ReminderForm.h"
#include "trial/JudgeForm.h"
#include "rules/ImpEditForm.h"
#include "rules/RuleEditForm.h"
#include "rules/RuleItemForm.h"
#include "trial/StateForm.h"
#include "rulebook/RuleBook.h"
#include "ui/MessageBox.h"

namespace {
QString gOut;
void Settle() {
    for (int n = 0; n < 40; ++n) {
        QApplication::processEvents();
        ::usleep(10000);
    }
}
// A part of the screen.
bool SaveArea(const QRect& area, const char* name) {
    const QString file = gOut + QString::fromLatin1(name);
    if (!QGuiApplication::primaryScreen()
             ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
             .save(file))
        return false;
    std::printf("%s\n", file.toLocal8Bit().constData());
    return true;
}
// The screen around the window, frame included.
bool Save(QWidget& w, const char* name) {
    // Near the corner, but never pushed past the screen's edge by the offset.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize frameSize = w.frameGeometry().size();
    w.move(std::max(0, std::min(40, screen.width() - frameSize.width())),
           std::max(0, std::min(40, screen.height() - frameSize.height())));
    w.show();
    w.raise();
    w.activateWindow();
    Settle();
    return SaveArea(w.frameGeometry().adjusted(-4, -4, 4, 4), name);
}
// A modal box the call opens, taken as soon as it shows, then closed.
template <typename Open>
void SaveBox(const char* name, Open open) {
    QTimer::singleShot(600, [name] {
        QWidget* box = QApplication::activeModalWidget();
        if (box == nullptr) return;
        SaveArea(box->frameGeometry().adjusted(-4, -4, 4, 4), name);
        box->close();
    });
    open();
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: window_shots DATA_FOLDER OUT_PREFIX\n");
        return 2;
    }
    QApplication app(argc, argv);
    gOut = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[2]));
    if (::chdir(argv[1]) != 0) return 1;
    TForm1 menu;
    if (!menu.IsLoaded()) return 1;
    if (!Save(menu, "menu.png")) return 1;
    {
        TRuleEdit rules(&menu);
        rules.Init(menu.Info());
        if (!Save(rules, "ruleedit.png")) return 1;
    }
    {
        TDonePoint report(&menu);
        report.Init(menu.Info());
        if (!Save(report, "pointreport.png")) return 1;
    }
    {
        // The software centre's picture: the menu and the execution report side by side,
        // each in its frame, neither over the other.
        TLogList list(&menu);
        list.Init(menu.Info());
        menu.move(20, 20);
        list.show();
        Settle();
        list.move(menu.frameGeometry().right() + 20, 20);
        list.raise();
        Settle();
        if (!SaveArea(menu.frameGeometry().united(list.frameGeometry()).adjusted(-12, -12, 12, 12),
                      "appstream.png"))
            return 1;
    }
    {
        TLogList list(&menu);
        list.Init(menu.Info());
        qv::ui::MessageBox::SetTestMode(true);
        qv::ui::MessageBox::QueueAnswer(true);
        list.findChild<QPushButton*>(QStringLiteral("btDone"))->click();
        list.findChild<QPushButton*>(QStringLiteral("btUndo"))->click();
        if (!Save(list, "report-undo.png")) return 1;
        qv::ui::MessageBox::QueueAnswer(true);  // something for the ledger and the trash
        list.findChild<QPushButton*>(QStringLiteral("btDelete"))->click();
        qv::ui::MessageBox::SetTestMode(false);
        list.hide();
    }
    {
        TLedger ledger(&menu);
        ledger.Init(menu.Info(), {});
        if (!Save(ledger, "ledger.png")) return 1;
    }
    {
        TTrash trash(&menu);
        trash.Init(menu.Info());
        if (!Save(trash, "trash.png")) return 1;
    }
    {
        TBackups backups(&menu);
        backups.Init(menu.Info());
        if (!Save(backups, "backups.png")) return 1;
    }
    {
        TRuleItem item(&menu);
        CRule rule;
        rule.CopyFrom(menu.Info()->GetRuleBook()->FindRule(1));
        item.SetRule(&rule);
        item.Init(menu.Info());
        if (!Save(item, "ruleitem.png")) return 1;
        TImpEdit implements(&menu);
        implements.Init(menu.Info());
        if (!Save(implements, "implements.png")) return 1;
    }
    {
        THistory history(&menu);
        history.Init(menu.Info());
        if (!Save(history, "history.png")) return 1;
        QComboBox* chart = history.findChild<QComboBox*>(QStringLiteral("cbChart"));
        const char* names[] = {"history-chart0.png", "history-chart1.png", "history-chart2.png",
                               "history-chart3.png"};
        for (int i = 0; chart != nullptr && i < chart->count() && i < 4; ++i) {
            chart->setCurrentIndex(i);
            if (!Save(history, names[i])) return 1;
        }
    }
    {
        TJudge judge(&menu);
        judge.Init(menu.Info());
        if (!Save(judge, "trial.png")) return 1;
        TState verdict(&menu);
        if (!verdict.Init(1, 3, menu.Info())) return 1;
        if (!Save(verdict, "verdict.png")) return 1;
        verdict.hide();
        TReminder reminder(&menu);
        reminder.Init(QFile::encodeName(QDir::currentPath()));
        if (!Save(reminder, "reminder.png")) return 1;
    }
    SaveBox("about.png", [] { qv::ui::MessageBox::Show(TForm1::AboutText()); });
    // A box of the seam, with a long sentence and a file name.
    SaveBox("box.png", [] {
        qv::ui::MessageBox::Warn(QStringLiteral(
            "ポイント残高のファイル「/home/quorvel/データフォルダ/user.dat」とポイント台帳の残高が"
            "合いません。ファイルを手で書き換えたか、書き込みが途中で止まった可能性があります。"));
    });
    return 0;
}

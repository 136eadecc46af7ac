// Pictures of the windows the user guide walks through, for docs/guide/ and for looking at
// them on a real (virtual) display, at any scale:
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/guide_shots DATA_FOLDER OUT_PREFIX
//   QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 1920x1080x24" build/bench/guide_shots ...
// DATA_FOLDER holds test.dat, test.log and user.dat (e.g. after scripts/sample-history):
// the main menu, the trial window with its preview, the verdict, the point report with its
// pay-down plans, the rule list with an article's editor and the implements' editor, the
// reminder, and the desktop with the menu, the execution report and the history.
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QSlider>
#include <cstdio>

#include "app/MenuForm.h"
#include "execution/DonePointForm.h"
#include "execution/LogListForm.h"
#include "history/HistoryForm.h"
#include "reminder/ReminderForm.h"
#include "rulebook/RuleBook.h"
#include "rules/ImpEditForm.h"
#include "rules/RuleEditForm.h"
#include "rules/RuleItemForm.h"
#include "trial/JudgeForm.h"
#include "trial/StateForm.h"

namespace {
void Settle() {
    for (int n = 0; n < 30; ++n) QApplication::processEvents();
}
bool Save(const QPixmap& picture, const QString& file) {
    if (!picture.save(file)) return false;
    std::printf("%s\n", file.toLocal8Bit().constData());
    return true;
}
bool Save(QWidget& w, const QString& file) {
    Settle();
    return Save(w.grab(), file);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: guide_shots DATA_FOLDER OUT_PREFIX\n");
        return 2;
    }
    QApplication app(argc, argv);
    // Where the pictures go, before the working folder becomes the data folder (the
    // program's files are relative to it).
    const QString out = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[2]));
    if (::chdir(argv[1]) != 0) return 1;
    TForm1 menu;
    if (!menu.IsLoaded()) return 1;
    menu.move(20, 20);
    menu.show();
    if (!Save(menu, out + "menu.png")) return 1;

    {
        TRuleEdit rules(&menu);
        rules.Init(menu.Info());
        rules.show();
        if (!Save(rules, out + "ruleedit.png")) return 1;
        TRuleItem item(&rules);
        CRule rule;
        rule.CopyFrom(menu.Info()->GetRuleBook()->FindRule(1));
        item.SetRule(&rule);
        item.Init(menu.Info());
        item.show();
        if (!Save(item, out + "ruleitem.png")) return 1;
        TImpEdit implements(&rules);
        implements.Init(menu.Info());
        implements.show();
        if (!Save(implements, out + "implements.png")) return 1;
    }
    {
        TReminder reminder(&menu);
        reminder.Init(QFile::encodeName(QDir::currentPath()));
        reminder.show();
        if (!Save(reminder, out + "reminder.png")) return 1;
    }
    {
        TJudge judge(&menu);
        judge.Init(menu.Info());
        judge.show();
        judge.findChild<QComboBox*>("cbRule")->setCurrentIndex(1);
        judge.findChild<QSlider*>("tbJoujou")->setValue(3);
        if (!Save(judge, out + "trial.png")) return 1;
        TState verdict(&menu);
        if (!verdict.Init(2, 3, menu.Info())) return 1;
        verdict.show();
        if (!Save(verdict, out + "verdict.png")) return 1;
    }
    {
        TDonePoint report(&menu);
        report.Init(menu.Info());
        report.show();
        report.findChild<QLineEdit*>("tfImp1")->setText(QStringLiteral("10"));
        if (!Save(report, out + "pointreport.png")) return 1;
        report.findChild<QLineEdit*>("tfImp2")->setText(QStringLiteral("abc"));
        if (!Save(report, out + "pointreport-letters.png")) return 1;
    }
    // The windows as they stand on the desktop: the menu, the report over it, the history
    // over the report.
    TLogList list(&menu);
    list.Init(menu.Info());
    list.show();
    if (!Save(list, out + "report.png")) return 1;
    THistory history(&list);
    history.Init(menu.Info());
    history.show();
    if (!Save(history, out + "history.png")) return 1;
    // Fanned out where the screen has room for it, so each shows a part of itself.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    if (screen.width() >= 1280 && screen.height() >= 1000) {
        menu.move(screen.topLeft() + QPoint(10, 10));
        list.move(screen.topLeft() + QPoint(140, 40));
        history.move(screen.topLeft() + QPoint(screen.width() - history.width() - 10,
                                               screen.height() - history.height() - 10));
    }
    Settle();
    const QPixmap desktop = QGuiApplication::primaryScreen()->grabWindow(0);
    if (desktop.isNull()) {
        // Wayland gives a program no picture of the screen; the windows' own are taken.
        std::fprintf(stderr, "guide_shots: no picture of the whole screen here; desktop.png skipped\n");
        return 0;
    }
    return Save(desktop, out + "desktop.png") ? 0 : 1;
}

// Keyboard use, screen-reader names and screen scales of every window: the tab chain, the
// button Enter presses, Escape, the list shortcuts, one whole trial held with the keyboard
// alone, and captions shown whole at the scales 1, 1.5 and 2.

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleOption>
#include <QTableWidget>
#include <QTest>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/MenuForm.h"
#include "tests/gui/GuiTest.h"
#include "text/Numbers.h"

namespace {

using qv::test::Child;
using qv::test::GuiTest;
using qv::test::ReadBytes;
using qv::test::Sjis;
using qv::test::WriteBytes;

// Two articles; article 2 spreads its points over three implements and the balance.
const char kBook[] =
    "qvrule\t1\tid1\t0\t腕立て伏せ\t5\t腹筋\t5\tスクワット\t3\t正座(分)\t10\r\n"
    "1\t0\t0\t遅刻\t約束の時刻に遅れた。\t連絡があれば情状を考慮する。\t20\t10\t10\t3\t3\t2\t0\t2\r\n"
    "2\t0\t0\t約束破り\t交わした約束を守らなかった。\t\t40\t15\t10\t4\t2\t2\t0\t2\r\n";
const char kBalance[] = "quorvel\t1\tuser\t10\t0\t0";
const char kLog[] = "1700000000\t1\t遅刻\t20\t腕立て伏せ:12 \t0\t12\t0\t0\t0\t4\r\n";

std::string Name(const QWidget* w) { return w ? w->objectName().toStdString() : "<none>"; }
std::string Focused() { return Name(QApplication::focusWidget()); }

// Sends a key to whatever has the keyboard focus, as a user's keyboard would.
void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget();
    ASSERT_NE(target, nullptr) << "nothing has the keyboard focus";
    QTest::keyClick(target, key, modifiers);
}

// Makes window the active one, as a desktop's window manager does with a window that
// opens or that a closing dialog hands back to; offscreen, nobody else does it.
void Activate(QWidget* window) {
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitFor([window] { return QApplication::activeWindow() == window; }))
        << Name(window) << " never became active";
}

// Runs act on the modal window the next step opens, once it gets the keys, and closes it
// afterwards if act left it open, so a failed check never leaves the test waiting on it;
// then the window that opened it gets the keys back. Tells whether a window opened.
std::shared_ptr<bool> OnNextWindow(std::function<void(QDialog*)> act) {
    auto opened = std::make_shared<bool>(false);
    QWidget* opener = QApplication::activeWindow();
    qv::test::WhenModalOpens([act = std::move(act), opened, opener](QWidget* window) {
        *opened = true;
        auto* dialog = qobject_cast<QDialog*>(window);
        ASSERT_NE(dialog, nullptr);
        Activate(dialog);
        act(dialog);
        if (dialog->isVisible()) dialog->reject();
        if (opener != nullptr && opener->isVisible()) Activate(opener);
    });
    return opened;
}

// Opens the window reached from `from` by clicking the buttons of `path` in turn (each
// click opens the next modal window) and runs act on it.
void OpenThrough(QWidget* from, const std::vector<const char*>& path, size_t step,
                 const std::function<void(QWidget*)>& act) {
    if (step == path.size()) return act(from);
    const auto opened =
        OnNextWindow([&](QDialog* window) { OpenThrough(window, path, step + 1, act); });
    Child<QPushButton>(from, path[step])->click();
    EXPECT_TRUE(*opened) << path[step] << " opened no window";
}

// Every control that can take the focus from the keyboard, by name, sorted.
std::vector<std::string> FocusableControls(QWidget* window) {
    std::vector<std::string> names;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(window)) names.push_back(Name(w));
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Texts that do not fit the control showing them, as "control: text needs w×h, has w×h".
// Captions, labels, group titles and column headers are measured with the face the window
// really got (the fallback where "ＭＳ Ｐゴシック" is missing).
std::vector<std::string> ClippedTexts(QWidget* window) {
    std::vector<std::string> clipped;
    const auto check = [&](QWidget* w, const QString& text, QSize room, QSize need) {
        if (need.width() > room.width() || need.height() > room.height())
            clipped.push_back(QStringLiteral("%1: %2 needs %3x%4, has %5x%6")
                                  .arg(w->objectName(), text)
                                  .arg(need.width())
                                  .arg(need.height())
                                  .arg(room.width())
                                  .arg(room.height())
                                  .toStdString());
    };
    const auto line = [](const QFontMetrics& fm, const QString& text) {
        return QSize(fm.horizontalAdvance(text), fm.height());
    };
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(window) || label->text().isEmpty()) continue;
        const QRect room = label->contentsRect().adjusted(label->margin(), label->margin(),
                                                           -label->margin(), -label->margin());
        const QSize need = label->wordWrap()
                               ? QSize(0, label->heightForWidth(label->width()))
                               : line(label->fontMetrics(), label->text());
        check(label, label->text(), room.size(), need);
    }
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QRect room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        check(button, button->text(), room.size(), line(button->fontMetrics(), button->text()));
    }
    for (QGroupBox* group : window->findChildren<QGroupBox*>()) {
        if (group->title().isEmpty()) continue;
        QStyleOptionGroupBox option;
        option.initFrom(group);
        option.text = group->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        const QRect frame = group->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                           QStyle::SC_GroupBoxFrame, group);
        check(group, group->title(), QSize(frame.width(), group->height()),
              line(group->fontMetrics(), group->title()));
    }
    for (QHeaderView* header : window->findChildren<QHeaderView*>()) {
        if (header->isHidden() || header->orientation() != Qt::Horizontal) continue;
        const int padding = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        for (int section = 0; section < header->count(); ++section) {
            const QString text = header->model()->headerData(section, Qt::Horizontal).toString();
            if (text.isEmpty()) continue;
            check(header, text, QSize(header->sectionSize(section), header->height()),
                  line(header->fontMetrics(), text) + QSize(padding, 0));
        }
    }
    return clipped;
}

// Whether a screen reader gets the control's accessible name: as the name itself, or, for
// a control whose name is its value (a combo box on Linux), from the label it is
// labelled by.
bool AnnouncesItsName(QWidget* control) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
    if (accessible == nullptr) return false;
    if (accessible->text(QAccessible::Name) == control->accessibleName()) return true;
    for (const auto& [label, relation] : accessible->relations(QAccessible::Label)) {
        if (label->text(QAccessible::Name) == control->accessibleName()) return true;
    }
    return false;
}

class KeyboardTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        WriteBytes("test.dat", Sjis(kBook));
        WriteBytes("user.dat", kBalance);
    }
};

struct WindowCase {
    const char* window;
    std::vector<const char*> path;  // buttons that open it, from the main menu on
    const char* focusOnOpen;
    std::vector<const char*> tabOrder;
    const char* defaultButton;  // what Enter presses outside the buttons; none in the menu
    QSize size;                 // client area as it opens, in device-independent pixels
};

const WindowCase kWindows[] = {
    {"TForm1", {}, "btnRule", {"btnRule", "btnJudge", "Button1", "btGoHP", "btExit", "btHistory", "btMore"}, nullptr, {237, 452}},
    {"TRuleEdit", {"btnRule"}, "sgRules",
     {"sgRules", "btAdd", "btEdit", "Button1", "btnImp", "btSave", "btExit"}, "btEdit", {654, 489}},
    {"TRuleItem", {"btnRule", "btAdd"}, "tfNo",
     {"tfNo", "tfName", "tfState", "tfComment", "tfPoint", "tbRuiseki", "tbJoujou", "tbImp1",
      "tbImp2", "tbImp3", "tbImp4", "tbPt", "btReg", "btCancel"},
     "btReg", {354, 572}},
    {"TImpEdit", {"btnRule", "btnImp"}, "tfImp1",
     {"tfImp1", "tbImp1", "tfImp2", "tbImp2", "tfImp3", "tbImp3", "tfImp4", "tbImp4", "btnReg",
      "btnCansel"},
     "btnReg", {287, 243}},
    {"TJudge", {"btnJudge"}, "cbRule", {"cbRule", "tbJoujou", "btSubmit", "btCancel"}, "btSubmit", {692, 317}},
    {"TState", {"btnJudge", "btSubmit"}, "btOK", {"mmJudge", "btOK", "btCansel"}, "btOK", {534, 513}},
    {"TLogList", {"Button1"}, "sgList", {"sgList", "btDone", "btDelete", "btnPoint", "btExit", "btUndo", "btHistory", "btRecords", "mmReasons"}, "btDone", {685, 656}},
    {"TDonePoint", {"Button1", "btnPoint"}, "tfImp1",
     {"tfImp1", "tfImp2", "tfImp3", "tfImp4", "btOK", "btCancel", "btPlan1", "btPlan2", "btPlan3",
      "btPlan4", "btPlanMix"},
     "btOK", {498, 269}},
    {"THistory", {"btHistory"}, "cbPreset",
     {"cbPreset", "dtFrom", "dtTo", "cbExecuted", "tfSearch", "lsArticles", "sgHistory",
      "cbChart", "btSavePng", "btExportCsv", "ckUtf8", "btExit"},
     nullptr, {1040, 720}},
    {"THistory", {"Button1", "btHistory"}, "cbPreset",
     {"cbPreset", "dtFrom", "dtTo", "cbExecuted", "tfSearch", "lsArticles", "sgHistory",
      "cbChart", "btSavePng", "btExportCsv", "ckUtf8", "btExit"},
     nullptr, {1040, 720}},
};

TEST_F(KeyboardTest, EveryWindowIsNamedAndWalkedInItsListedOrder) {
    WriteBytes("test.log", Sjis(kLog));
    for (const WindowCase& c : kWindows) {
        SCOPED_TRACE(c.window);
        TForm1 menu;
        ASSERT_TRUE(menu.IsLoaded());
        menu.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&menu));
        bool reached = false;
        OpenThrough(&menu, c.path, 0, [&](QWidget* window) {
            reached = true;
            EXPECT_STREQ(window->metaObject()->className(), c.window);
            EXPECT_EQ(Focused(), c.focusOnOpen) << "focus on opening";

            // Nothing outside the list takes the focus, and a screen reader can name all.
            const std::vector<std::string> order(c.tabOrder.begin(), c.tabOrder.end());
            std::vector<std::string> listed = order;
            std::sort(listed.begin(), listed.end());
            EXPECT_EQ(FocusableControls(window), listed);
            for (QWidget* w : window->findChildren<QWidget*>()) {
                if (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(window)) continue;
                EXPECT_FALSE(w->accessibleName().isEmpty()) << Name(w);
                EXPECT_TRUE(AnnouncesItsName(w)) << Name(w);
            }
            // A label that shows nothing is told as nothing, never under another's name.
            for (QLabel* label : window->findChildren<QLabel*>()) {
                if (!label->isVisibleTo(window) || !label->text().isEmpty()) continue;
                if (!label->pixmap().isNull()) continue;  // an icon is named for what it means
                QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(label);
                EXPECT_TRUE(accessible == nullptr || accessible->text(QAccessible::Name).isEmpty())
                    << Name(label) << " says " << accessible->text(QAccessible::Name).toStdString();
            }

            // Tab visits the controls in the listed order and comes round to the first.
            Child<QWidget>(window, c.tabOrder.front())->setFocus(Qt::TabFocusReason);
            std::vector<std::string> visited{Focused()};
            for (size_t i = 0; i < order.size(); ++i) {
                Press(Qt::Key_Tab);
                visited.push_back(Focused());
            }
            std::vector<std::string> round = order;
            round.push_back(order.front());
            EXPECT_EQ(visited, round);

            // Enter presses a focused button; elsewhere it presses the window's default.
            std::vector<std::string> defaults;
            for (QPushButton* button : window->findChildren<QPushButton*>()) {
                EXPECT_TRUE(button->autoDefault()) << Name(button);
                if (button->isDefault()) defaults.push_back(Name(button));
            }
            if (c.defaultButton != nullptr) {
                EXPECT_EQ(defaults, std::vector<std::string>{c.defaultButton});
            }

            // Escape cancels a dialog, as its cancel, back or close button does; the main
            // menu, whose only way out ends the program, stays.
            Press(Qt::Key_Escape);
            if (auto* dialog = qobject_cast<QDialog*>(window)) {
                EXPECT_FALSE(dialog->isVisible()) << "Escape left the window open";
                EXPECT_EQ(dialog->result(), QDialog::Rejected);
            } else {
                EXPECT_TRUE(window->isVisible());
            }
        });
        EXPECT_TRUE(reached);
    }
    EXPECT_TRUE(ShownTexts().isEmpty());
    EXPECT_EQ(ReadBytes("test.log"), Sjis(kLog)) << "cancelled windows write nothing";
    EXPECT_EQ(ReadBytes("user.dat"), kBalance);
}

TEST_F(KeyboardTest, OneTrialWithTheKeyboardAlone) {
    TForm1 menu;
    ASSERT_TRUE(menu.IsLoaded());
    menu.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&menu));
    ASSERT_EQ(Focused(), "btnRule");
    Press(Qt::Key_Tab);
    ASSERT_EQ(Focused(), "btnJudge");

    bool decided = false;
    const auto judged = OnNextWindow([&](QDialog* judge) {
        EXPECT_EQ(judge->windowTitle(), QStringLiteral("裁判"));
        ASSERT_EQ(Focused(), "cbRule");
        Press(Qt::Key_Down);  // the second article
        EXPECT_EQ(Child<QLabel>(judge, "pnState")->text(),
                  QStringLiteral("条文:交わした約束を守らなかった。"));
        Press(Qt::Key_Tab);
        ASSERT_EQ(Focused(), "tbJoujou");
        for (int i = 0; i < 3; ++i) Press(Qt::Key_Right);
        EXPECT_EQ(Child<QLabel>(judge, "pnJoujou")->text(), QStringLiteral("3"));

        const auto verdictShown = OnNextWindow([&](QDialog* verdict) {
            EXPECT_EQ(verdict->windowTitle(), QStringLiteral("判決"));
            ASSERT_EQ(Focused(), "btOK");
            Press(Qt::Key_Return);  // "決定"
            decided = verdict->result() == QDialog::Accepted;
        });
        Press(Qt::Key_Return);  // "提出", the trial window's default button
        EXPECT_TRUE(*verdictShown);
        EXPECT_FALSE(judge->isVisible()) << "the trial closes with its verdict";
    });
    const qv::Seconds before = qv::SystemNow();
    Press(Qt::Key_Return);  // "裁 判"
    const qv::Seconds after = qv::SystemNow();
    ASSERT_TRUE(*judged);
    ASSERT_TRUE(decided);
    EXPECT_TRUE(menu.isVisible());
    EXPECT_EQ(Focused(), "btnJudge") << "the focus comes back where it was";

    EXPECT_TRUE(ShownTexts().isEmpty());
    EXPECT_EQ(ReadBytes("user.dat"), "quorvel\t1\tuser\t18\t0\t0");
    const std::string log = ReadBytes("test.log");
    const size_t tab = log.find('\t');
    ASSERT_NE(tab, std::string::npos) << log;
    const qv::Seconds time = qv::ReadInt64(log.substr(0, tab));
    EXPECT_EQ(log.substr(0, tab), qv::Decimal(time));
    EXPECT_GE(time, before);
    EXPECT_LE(time, after);
    EXPECT_EQ(log.substr(tab),
              Sjis("\t2\t約束破り\t37\t腕立て伏せ:30 腹筋:15 スクワット:25 \t0\t30\t15\t25\t0\t8\r\n"));
}

TEST_F(KeyboardTest, ListsTakeEnterDeleteAndSaveFromTheKeyboard) {
    WriteBytes("test.log", Sjis(kLog));
    TForm1 menu;
    ASSERT_TRUE(menu.IsLoaded());
    menu.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&menu));

    // Rule list: Enter on a row opens it, also after a button has had the focus; Delete
    // asks before it removes; Ctrl+S saves.
    const auto listed = OnNextWindow([&](QDialog* list) {
        ASSERT_EQ(Focused(), "sgRules");
        Press(Qt::Key_Down);
        for (bool throughButton : {false, true}) {
            SCOPED_TRACE(throughButton ? "after a button had the focus" : "on opening");
            if (throughButton) {
                Press(Qt::Key_Tab);
                Press(Qt::Key_Tab, Qt::ShiftModifier);
                ASSERT_EQ(Focused(), "sgRules");
            }
            QString number;
            const auto edited = OnNextWindow([&](QDialog* item) {
                number = Child<QLineEdit>(item, "tfNo")->text();
                Press(Qt::Key_Escape);
            });
            Press(Qt::Key_Return);
            EXPECT_TRUE(*edited);
            EXPECT_EQ(number, QStringLiteral("2"));
        }

        auto* grid = Child<QTableWidget>(list, "sgRules");
        qv::ui::MessageBox::QueueAnswer(true);
        Press(Qt::Key_Delete);
        EXPECT_TRUE(QTest::qWaitFor([grid] { return grid->rowCount() == 1; }));
        EXPECT_EQ(ShownTexts(), QStringList{QStringLiteral("2 - 約束破りを削除します。")});

        const std::string saved = ReadBytes("test.dat");
        Press(Qt::Key_S, Qt::ControlModifier);
        EXPECT_TRUE(QTest::qWaitFor([&] { return ReadBytes("test.dat") != saved; }));
        EXPECT_EQ(ReadBytes("test.dat").find(Sjis("約束破り")), std::string::npos);
    });
    Press(Qt::Key_Return);  // "ル ー ル 編 集"
    EXPECT_TRUE(*listed);

    // Execution report: Enter asks to execute the current sentence, Delete to delete it;
    // both are answered Cancel here, so the log stays as it was.
    Press(Qt::Key_Tab);
    Press(Qt::Key_Tab);
    ASSERT_EQ(Focused(), "Button1");
    const auto reported = OnNextWindow([&](QDialog*) {
        ASSERT_EQ(Focused(), "sgList");
        Press(Qt::Key_Return);
        EXPECT_EQ(ShownTexts(), QStringList{QStringLiteral("腕立て伏せ:12 を執行済みにします")});
        Press(Qt::Key_Delete);
        QStringList shown;
        EXPECT_TRUE(QTest::qWaitFor([&] {
            shown += ShownTexts();
            return !shown.isEmpty();
        }));
        // The seed's question first, then which sentence, its points and the trash.
        ASSERT_EQ(shown.size(), 1);
        EXPECT_TRUE(shown[0].startsWith(QStringLiteral("選択された判決を削除します\n\n判決: ")))
            << shown[0].toStdString();
        EXPECT_TRUE(shown[0].contains(QStringLiteral("遅刻（腕立て伏せ:12）"))) << shown[0].toStdString();
        EXPECT_TRUE(shown[0].contains(QStringLiteral("この判決の4ポイントをポイント残高から差し引きます")))
            << shown[0].toStdString();
        EXPECT_TRUE(shown[0].contains(QStringLiteral("ごみ箱"))) << shown[0].toStdString();
    });
    Press(Qt::Key_Return);  // "執行報告"
    EXPECT_TRUE(*reported);
    EXPECT_EQ(ReadBytes("test.log"), Sjis(kLog));
}

// The scale a run was started with (QT_SCALE_FACTOR), 1 without one.
qreal ScaleFactor() {
    bool ok = false;
    const qreal scale = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(&ok);
    return ok && scale > 0 ? scale : 1.0;
}

TEST_F(KeyboardTest, WindowsKeepTheirSizesAndShowEveryCaptionWhole) {
    WriteBytes("test.log", Sjis(kLog));
    const qreal scale = ScaleFactor();
    SCOPED_TRACE(QStringLiteral("scale %1").arg(scale).toStdString());
    for (const WindowCase& c : kWindows) {
        SCOPED_TRACE(c.window);
        TForm1 menu;
        ASSERT_TRUE(menu.IsLoaded());
        menu.show();
        OpenThrough(&menu, c.path, 0, [&](QWidget* window) {
            // Sizes are in device-independent pixels; the screen has scale times as many.
            EXPECT_EQ(window->size(), c.size);
            EXPECT_DOUBLE_EQ(window->devicePixelRatioF(), scale);
            EXPECT_EQ(ClippedTexts(window), std::vector<std::string>());
        });
    }
}

// The same at the scales of high-density screens: the program is started afresh, since
// the scale is fixed when it starts.
TEST_F(KeyboardTest, WindowsGrowWithTheScreenScale) {
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) GTEST_SKIP() << "already a scaled run";
    for (const char* scale : {"1.5", "2"}) {
        SCOPED_TRACE(scale);
        QProcess run;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::fromLatin1(scale));
        run.setProcessEnvironment(environment);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("--gtest_filter=KeyboardTest.WindowsKeepTheirSizesAndShowEveryCaptionWhole")});
        ASSERT_TRUE(run.waitForFinished(120000));
        const QString output = QString::fromLocal8Bit(run.readAll());
        EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(run.exitCode(), 0) << output.toStdString();
        EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output.toStdString();
    }
}


// ---- Every window on the screens people have: a real X server (Xvfb) of 1280x1024 at
// scale 1 and of 1920x1080 at scale 2 (960x540 device-independent pixels).

// The controls a window lays out itself: named, shown, and not the inner parts of a
// composite control (whose names, where they have any, begin with "qt_").
std::vector<QWidget*> PlacedControls(QWidget* parent, QWidget* window) {
    std::vector<QWidget*> controls;
    for (QObject* child : parent->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (w == nullptr || w->isWindow() || !w->isVisibleTo(window)) continue;
        const QString name = w->objectName();
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_"))) continue;
        controls.push_back(w);
    }
    return controls;
}

// Controls that stand over one another or outside the window, as "a overlaps b" and
// "a is outside the window".
std::vector<std::string> MisplacedControls(QWidget* window) {
    std::vector<std::string> found;
    std::vector<QWidget*> parents{window};
    for (QWidget* w : window->findChildren<QWidget*>()) parents.push_back(w);
    for (QWidget* parent : parents) {
        const std::vector<QWidget*> controls = PlacedControls(parent, window);
        for (size_t i = 0; i < controls.size(); ++i) {
            const QRect at(controls[i]->mapTo(window, QPoint(0, 0)), controls[i]->size());
            if (!window->rect().contains(at))
                found.push_back(Name(controls[i]) + " is outside the window");
            for (size_t j = i + 1; j < controls.size(); ++j) {
                // A shared edge line is no overlap (the balance label stands on the list's
                // top line, as the form has it).
                const QRect both = controls[i]->geometry() & controls[j]->geometry();
                if (both.width() > 1 && both.height() > 1)
                    found.push_back(Name(controls[i]) + " overlaps " + Name(controls[j]));
            }
        }
    }
    return found;
}

// Opens the window reached by `path` (buttons, or actions of the window's menus, by name)
// without waiting for a window manager to activate anything, and runs act on it.
void ReachThrough(QWidget* from, const std::vector<const char*>& path, size_t step,
                  const std::function<void(QWidget*)>& act) {
    if (step == path.size()) return act(from);
    bool opened = false;
    qv::test::WhenModalOpens([&](QWidget* window) {
        opened = true;
        ReachThrough(window, path, step + 1, act);
        if (auto* dialog = qobject_cast<QDialog*>(window); dialog && dialog->isVisible())
            dialog->reject();
    });
    if (auto* button = from->findChild<QPushButton*>(QString::fromLatin1(path[step]))) {
        button->click();
    } else if (auto* action = from->findChild<QAction*>(QString::fromLatin1(path[step]))) {
        action->trigger();
    } else {
        ADD_FAILURE() << "nothing named " << path[step] << " in " << Name(from);
        return;
    }
    EXPECT_TRUE(opened) << path[step] << " opened no window";
}

// The run under the X server WindowsFitScreensOfARealXServer starts; skipped elsewhere.
TEST_F(KeyboardTest, WindowsFitTheirScreen) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "runs under the X server that its launcher starts";
    WriteBytes("test.log", Sjis(kLog));
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QString expected = qEnvironmentVariable("QV_FIT_SCREEN");
    EXPECT_EQ(QStringLiteral("%1x%2").arg(screen->size().width()).arg(screen->size().height()),
              expected);
    std::vector<std::pair<const char*, std::vector<const char*>>> windows;
    for (const WindowCase& c : kWindows) windows.emplace_back(c.window, c.path);
    windows.push_back({"TLedger", {"Button1", "acLedger"}});
    windows.push_back({"TTrash", {"Button1", "acTrash"}});
    windows.push_back({"TBackups", {"Button1", "acBackups"}});
    windows.push_back({"TBackups", {"acBackups"}});
    windows.push_back({"TReminder", {"acReminder"}});
    for (const auto& [name, path] : windows) {
        SCOPED_TRACE(name);
        TForm1 menu;
        ASSERT_TRUE(menu.IsLoaded());
        menu.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
        bool reached = false;
        ReachThrough(&menu, path, 0, [&](QWidget* window) {
            reached = true;
            EXPECT_STREQ(window->metaObject()->className(), name);
            QTest::qWait(50);  // the X server has mapped it where it was placed
            const QRect room = window->screen()->availableGeometry();
            EXPECT_TRUE(room.contains(window->frameGeometry()))
                << "at " << window->frameGeometry().x() << "," << window->frameGeometry().y()
                << " size " << window->frameGeometry().width() << "x"
                << window->frameGeometry().height() << " on " << room.width() << "x"
                << room.height();
            EXPECT_EQ(MisplacedControls(window), std::vector<std::string>());
            EXPECT_EQ(ClippedTexts(window), std::vector<std::string>());
            // At its smallest too, for a window the user may resize.
            if (window->minimumSize() != window->maximumSize()) {
                window->resize(window->minimumSize());
                EXPECT_TRUE(QTest::qWaitFor([&] { return window->size() == window->minimumSize(); }));
                EXPECT_EQ(MisplacedControls(window), std::vector<std::string>()) << "at its smallest";
            }
        });
        EXPECT_TRUE(reached);
    }
}

// Starts an X server of the given size on a display it picks itself (and tells on its
// standard output, so two runs at once never share one); empty when none could start.
QString StartXvfb(QProcess& server, const QString& size) {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty()) return {};
    server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                        QStringLiteral("0"), size + QStringLiteral("x24"),
                        QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!server.waitForStarted(10000)) return {};
    QByteArray told;
    while (!told.contains('\n') && server.state() == QProcess::Running &&
           server.waitForReadyRead(10000))
        told += server.readAllStandardOutput();
    bool ok = false;
    const int display = told.trimmed().toInt(&ok);
    if (!ok) {
        server.kill();
        server.waitForFinished();
        return {};
    }
    return QStringLiteral(":%1").arg(display);
}

// Every window opens inside its screen and no two controls stand over one another, on a
// real X server: 1280x1024 at scale 1, and 1920x1080 at scale 2 (a 960x540 screen).
TEST_F(KeyboardTest, WindowsFitScreensOfARealXServer) {
    if (QGuiApplication::platformName() == QLatin1String("xcb")) GTEST_SKIP() << "the run itself";
    const struct {
        const char* size;
        const char* scale;
        const char* logical;
    } screens[] = {{"1280x1024", "1", "1280x1024"}, {"1920x1080", "2", "960x540"}};
    for (const auto& s : screens) {
        SCOPED_TRACE(std::string(s.size) + " at scale " + s.scale);
        QProcess server;
        const QString display = StartXvfb(server, QString::fromLatin1(s.size));
        ASSERT_FALSE(display.isEmpty()) << "Xvfb (package xvfb) did not start";
        QProcess run;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("DISPLAY"), display);
        environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::fromLatin1(s.scale));
        environment.insert(QStringLiteral("QV_FIT_SCREEN"), QString::fromLatin1(s.logical));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        run.setProcessEnvironment(environment);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("--gtest_filter=KeyboardTest.WindowsFitTheirScreen")});
        const bool finished = run.waitForFinished(240000);
        const QString output = QString::fromLocal8Bit(run.readAll());
        server.terminate();
        server.waitForFinished(5000);
        ASSERT_TRUE(finished) << output.toStdString();
        EXPECT_EQ(run.exitCode(), 0) << output.toStdString();
        EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output.toStdString();
    }
}

}  // namespace

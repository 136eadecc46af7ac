// How the program meets the desktop: the command line, the toolkit's language, where
// windows open and how they follow a new size, and the one copy per folder.
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QTest>
#include <future>

#include "app/CommandLine.h"
#include "app/Instance.h"
#include "execution/LogListForm.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "tests/gui/GuiTest.h"
#include "ui/Placement.h"
#include "ui/Translations.h"

namespace {

using qv::test::Child;
using qv::test::GuiTest;

class DesktopTest : public GuiTest {};

TEST(CommandLineTest, EachFormTurnsIntoItsAction) {
    using Action = CommandLine::Action;
    const struct {
        QStringList arguments;
        Action action;
        const char* folder;
        const char* output;  // a part of what is printed
    } cases[] = {
        {{}, Action::Run, "", ""},
        {{"data"}, Action::Run, "data", ""},
        {{"--", "-odd-name"}, Action::Run, "-odd-name", ""},
        {{"--help"}, Action::ShowHelp, "", "--version"},
        {{"-h", "data"}, Action::ShowHelp, "", "[フォルダ]"},
        {{"--version"}, Action::ShowVersion, "", "quorvel 0.91"},
        {{"-v"}, Action::ShowVersion, "", "GPL-3.0-or-later"},
        {{"a", "b"}, Action::Fail, "", "a, b"},
        {{"--bogus"}, Action::Fail, "", "bogus"},
    };
    for (const auto& c : cases) {
        const QString what = c.arguments.join(QLatin1Char(' '));
        const CommandLine line =
            ParseCommandLine(QStringList{QStringLiteral("quorvel")} + c.arguments);
        EXPECT_EQ(line.action, c.action) << what.toStdString();
        EXPECT_EQ(line.folder, QString::fromUtf8(c.folder)) << what.toStdString();
        EXPECT_TRUE(line.output.contains(QString::fromUtf8(c.output))) << line.output.toStdString();
        EXPECT_EQ(line.NeedsDisplay(), c.action == Action::Run) << what.toStdString();
    }
}

TEST_F(DesktopTest, ToolkitButtonsSpeakJapanese) {
    if (!QFile::exists(QStringLiteral("/usr/share/qt6/translations/qtbase_ja.qm")))
        GTEST_SKIP() << "qt6-translations-l10n is not installed";
    ASSERT_TRUE(qv::ui::InstallToolkitTranslations());
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"),
              QStringLiteral("キャンセル"));
}

TEST(PlacementTest, WindowsStayInsideTheirScreen) {
    const QRect screen(0, 0, 640, 512);  // 1280x1024 at scale 2
    const QMargins frame(2, 24, 2, 2);
    const struct {
        const char* what;
        QSize size, minimum;
        std::optional<QRect> parent;
        QSize placedSize;
        bool centred;  // on the parent, or on the screen without one
    } cases[] = {
        {"centred on the screen", {200, 100}, {200, 100}, std::nullopt, {200, 100}, true},
        {"centred on its parent",
         {100, 100},
         {100, 100},
         QRect(100, 100, 300, 300),
         {100, 100},
         true},
        {"moved in from the right and bottom",
         {200, 200},
         {200, 200},
         QRect(500, 400, 140, 112),
         {200, 200},
         false},
        {"the report shrinks to fit",
         {685, 455},
         {445, 200},
         QRect(100, 100, 241, 395),
         {636, 455},
         false},
        {"the verdict shrinks to fit", {534, 513}, {400, 320}, std::nullopt, {534, 486}, true},
    };
    for (const auto& c : cases) {
        const QRect placed = qv::ui::PlacedGeometry(screen, frame, c.size, c.minimum, c.parent);
        EXPECT_EQ(placed.size(), c.placedSize) << c.what;
        const QRect outer = placed.marginsAdded(frame);
        EXPECT_TRUE(screen.contains(outer)) << c.what;
        if (c.centred) {
            const QPoint off = outer.center() - c.parent.value_or(screen).center();
            EXPECT_LE(off.manhattanLength(), 2) << c.what;
        }
    }
    // Larger than the screen and unable to shrink: its top left corner stays on screen.
    const QRect big = qv::ui::PlacedGeometry(screen, frame, {700, 600}, {700, 600}, std::nullopt);
    EXPECT_EQ(big, QRect(2, 24, 700, 600));
}

TEST_F(DesktopTest, TheReportFollowsItsSizeAndIsRemembered) {
    CRuleBook book;
    CInfo info;
    info.SetRuleBook(&book);
    info.SetLogPath("test.log");
    info.SetBalancePath("user.dat");
    const char* buttons[] = {"btDone", "btDelete", "btnPoint", "btExit"};

    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QDir::currentPath());
    QCoreApplication::setOrganizationName(QStringLiteral("quorvel-test"));
    qv::ui::SetRememberGeometry(true);
    {
        TLogList report;
        report.Init(&info);
        EXPECT_EQ(report.size(), QSize(685, 656)) << "nothing remembered yet";
        auto* grid = Child<QTableView>(&report, "sgList");
        const QRect gridAt = grid->geometry();
        std::vector<QRect> at;
        for (const char* b : buttons) at.push_back(Child<QPushButton>(&report, b)->geometry());

        report.show();
        report.resize(report.size() + QSize(100, 100));
        EXPECT_EQ(grid->geometry(), gridAt.adjusted(0, 0, 100, 100));
        for (size_t i = 0; i < at.size(); ++i)
            EXPECT_EQ(Child<QPushButton>(&report, buttons[i])->geometry(), at[i].translated(0, 100))
                << buttons[i];

        // At its smallest every button still stands whole inside, under the list.
        report.resize(report.minimumSize());
        for (const char* b : buttons) {
            const QRect button = Child<QPushButton>(&report, b)->geometry();
            EXPECT_TRUE(report.rect().contains(button)) << b;
            EXPECT_GT(button.top(), grid->geometry().bottom()) << b;
        }
        report.resize(600, 400);
        report.hide();
    }
    {
        TLogList again;
        EXPECT_EQ(again.size(), QSize(685, 656))
            << "a smaller size would move the controls from their places";
        again.show();
        again.resize(800, 700);
        again.hide();
    }
    {
        TLogList again;
        EXPECT_EQ(again.size(), QSize(800, 700)) << "the size of the last run";
    }
    // Kept for this screen's size and scale only: another screen starts afresh.
    QSettings settings;
    const QStringList kept = settings.allKeys().filter(QStringLiteral("TLogList"));
    ASSERT_EQ(kept.size(), 2) << kept.join(' ').toStdString();
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QString here = QStringLiteral("windows/TLogList/%1x%2@1/")
                             .arg(screen->size().width())
                             .arg(screen->size().height());
    for (const QString& key : kept) {
        EXPECT_TRUE(key.startsWith(here)) << key.toStdString();
        settings.setValue(QString(key).replace(here, QStringLiteral("windows/TLogList/640x512@2/")),
                          settings.value(key));
        settings.remove(key);
    }
    {
        TLogList elsewhere;
        EXPECT_EQ(elsewhere.size(), QSize(685, 656)) << "nothing remembered for this screen";
    }
    qv::ui::SetRememberGeometry(false);
    QCoreApplication::setOrganizationName(QString());
}

// A second start in the folder reaches the running copy through its socket, also when a
// killed copy left a stale socket file behind.
TEST_F(DesktopTest, ASecondStartRaisesTheRunningCopy) {
    const QString folder = QDir::currentPath();
    EXPECT_FALSE(InstanceServer::AskToRaise(folder, 200)) << "nobody runs here yet";
    EXPECT_NE(InstanceServer::SocketName(folder), InstanceServer::SocketName(folder + "/sub"));

    QFile stale(InstanceServer::SocketName(folder));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();
    int raised = 0;
    InstanceServer server(folder, [&raised] { ++raised; });
    ASSERT_TRUE(server.Listen());

    auto asked =
        std::async(std::launch::async, [folder] { return InstanceServer::AskToRaise(folder); });
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return asked.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_TRUE(asked.get());
    EXPECT_EQ(raised, 1);
}

}  // namespace

// How the program meets the desktop: the command line, the toolkit's language, where
// windows open and how they follow a new size, and the one copy per folder.
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <future>
#include <set>
#include <thread>
#include <vector>

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
        {{"--check"}, Action::Check, "", ""},
        {{"--check", "data"}, Action::Check, "data", ""},
        {{"--check", "a", "b"}, Action::Fail, "", "a, b"},
        {{"--check", "--export-csv", "x.csv"}, Action::Fail, "", "--check"},
        {{"--check", "--utf8"}, Action::Fail, "", "--export-csv"},
        {{"--open-report", "data"}, Action::Run, "data", ""},
        {{"--open-report", "--check"}, Action::Fail, "", "--open-report"},
    };
    for (const auto& c : cases) {
        const QString what = c.arguments.join(QLatin1Char(' '));
        const CommandLine line =
            ParseCommandLine(QStringList{QStringLiteral("quorvel")} + c.arguments);
        EXPECT_EQ(line.action, c.action) << what.toStdString();
        EXPECT_EQ(line.folder, QString::fromUtf8(c.folder)) << what.toStdString();
        EXPECT_TRUE(line.output.contains(QString::fromUtf8(c.output))) << line.output.toStdString();
        EXPECT_EQ(line.NeedsDisplay(), c.action == Action::Run) << what.toStdString();
        EXPECT_EQ(line.openReport, what.startsWith(QStringLiteral("--open-report")) &&
                                       c.action == Action::Run)
            << what.toStdString();
    }
}

// --help lines its descriptions up by the columns a terminal gives each character, two
// for Japanese ones; no line is wider than 79 columns, and none begins with 。 or 、.
TEST(CommandLineTest, HelpColumnsLineUpInATerminal) {
    const QString help =
        ParseCommandLine({QStringLiteral("quorvel"), QStringLiteral("--help")}).output;
    const auto columns = [](const QString& text) {
        int n = 0;
        for (const char32_t c : text.toUcs4()) n += (c >= 0x2E80 && c <= 0xFFE6) ? 2 : 1;
        return n;
    };
    std::set<int> starts;
    for (const QString& line : help.split(u'\n')) {
        EXPECT_LE(columns(line), 79) << line.toStdString();
        if (!line.startsWith(QStringLiteral("  "))) continue;
        const qsizetype gap = line.indexOf(QStringLiteral("  "), 2);
        const qsizetype text = line.indexOf(QRegularExpression(QStringLiteral("\\S")),
                                            line.startsWith(QStringLiteral("   ")) ? 0 : gap);
        ASSERT_GE(text, 0) << line.toStdString();
        starts.insert(columns(line.left(text)));
        EXPECT_FALSE(line.mid(text).startsWith(u'。') || line.mid(text).startsWith(u'、'))
            << line.toStdString();
    }
    EXPECT_EQ(starts.size(), 1u) << help.toStdString();
    for (const char* part : {"--export-csv <ファイル>", "--open-report", "フォルダ"})
        EXPECT_TRUE(help.contains(QString::fromUtf8(part))) << part;
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
    QList<bool> raised;  // whether each ask wanted the execution report
    InstanceServer server(folder, [&raised](bool report) { raised << report; });
    ASSERT_TRUE(server.Listen());

    // A plain start, then one from the reminder's 開く (--open-report).
    for (const bool report : {false, true}) {
        auto asked = std::async(std::launch::async, [folder, report] {
            return InstanceServer::AskToRaise(folder, 2000, report);
        });
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return asked.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
        EXPECT_TRUE(asked.get());
    }
    // The copy answers first and acts on the ask from its event loop right after.
    EXPECT_TRUE(QTest::qWaitFor([&] { return raised.size() == 2; }));
    EXPECT_EQ(raised, (QList<bool>{false, true}));
}

// The reminder's 開く while the copy works: the start that asked has its answer at once,
// though the report it asked for is a modal window that stays open past the socket's
// timeout; closing it later leaves the copy working (the answer once went out on a
// socket freed meanwhile).
TEST_F(DesktopTest, ASecondStartIsAnsweredBeforeTheReportOpens) {
    const QString folder = QDir::currentPath();
    bool answeredWhileOpen = false;
    int opened = 0;
    std::future<bool> asked, again;
    std::future<bool>* waiting = &asked;  // the start the open window waits for
    InstanceServer server(folder, [&](bool report) {
        ASSERT_TRUE(report);
        ++opened;
        QDialog window;
        QTimer::singleShot(0, &window, [&] {
            answeredWhileOpen = QTest::qWaitFor(
                [&] {
                    return waiting->wait_for(std::chrono::seconds(0)) == std::future_status::ready;
                },
                1500);
            QTest::qWait(300);  // past the peer timeout below
            window.reject();
        });
        window.exec();
    });
    server.SetPeerTimeout(100);
    ASSERT_TRUE(server.Listen());
    asked = std::async(std::launch::async,
                       [folder] { return InstanceServer::AskToRaise(folder, 1000, true); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return opened == 1; }, 5000));
    EXPECT_TRUE(answeredWhileOpen);
    EXPECT_TRUE(asked.get());
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.PeerCount() == 0; }));
    // Still answering.
    answeredWhileOpen = false;
    waiting = &again;
    again = std::async(std::launch::async,
                       [folder] { return InstanceServer::AskToRaise(folder, 1000, true); });
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return again.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return opened == 2; }));
    EXPECT_TRUE(answeredWhileOpen);
    EXPECT_TRUE(again.get());
}

// A raw client of the instance socket, run on its own thread while the test's event loop
// serves it.
int ConnectRaw(const QString& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(name);
    std::memcpy(address.sun_path, path.constData(),
                std::min<size_t>(path.size(), sizeof address.sun_path - 1));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    timeval wait{20, 0};  // never hang the test: a peer the server keeps shows as a timeout
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    return fd;
}

// True when the server closed the connection (end of file or reset) before anything came.
bool DroppedByServer(int fd) {
    char byte;
    const ssize_t n = ::recv(fd, &byte, 1, 0);
    return n == 0 || (n < 0 && errno == ECONNRESET);
}

// The most memory the program has held since the last ResetPeakKiB (both 0 where the
// kernel does not tell).
long PeakKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ')[0].toLong();
    return 0;
}
void ResetPeakKiB() {
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly)) refs.write("5");
}

template <typename T>
T Serve(std::future<T>& client) {
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return client.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        60000));
    return client.get();
}

// Whatever a peer sends, the program holds a few KiB of it at most: a peer that sends
// without a line end, stays silent, or comes when too many are already connected is
// dropped, and a real second start is still answered after them.
TEST_F(DesktopTest, TheInstanceSocketDropsPeersThatSendTooMuchOrNothing) {
    const QString folder = QDir::currentPath();
    int raised = 0;
    InstanceServer server(folder, [&raised](bool) { ++raised; });
    server.SetPeerTimeout(300);
    ASSERT_TRUE(server.Listen());
    const QString name = InstanceServer::SocketName(folder);

    // 256 MiB without a line end: the peer is cut off long before, and the program has
    // not grown by what it sent.
    constexpr size_t kFlood = size_t{256} << 20;
    ResetPeakKiB();
    const long before = PeakKiB();
    auto flood = std::async(std::launch::async, [name] {
        const int fd = ConnectRaw(name);
        if (fd < 0) return std::pair<size_t, bool>{0, false};
        const std::string chunk(1 << 16, 'x');
        size_t sent = 0;
        while (sent < kFlood) {
            const ssize_t n = ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        const bool dropped = sent < kFlood || DroppedByServer(fd);
        ::close(fd);
        return std::pair<size_t, bool>{sent, dropped};
    });
    const auto [sent, dropped] = Serve(flood);
    EXPECT_TRUE(dropped);
    EXPECT_LT(sent, size_t{16} << 20) << "the server went on reading";
    EXPECT_LT(PeakKiB() - before, 32 * 1024) << "KiB grown";

    // A peer that connects and says nothing is dropped after the timeout.
    auto silent = std::async(std::launch::async, [name] {
        const int fd = ConnectRaw(name);
        const bool dropped = fd >= 0 && DroppedByServer(fd);
        ::close(fd);
        return dropped;
    });
    EXPECT_TRUE(Serve(silent));

    // Past the number of peers at once, a new one is turned away at once. (The server
    // takes connections in the order they came.)
    server.SetPeerTimeout(10000);
    auto crowd = std::async(std::launch::async, [name] {
        std::vector<int> fds;
        for (int i = 0; i < InstanceServer::kMaxPeers; ++i) fds.push_back(ConnectRaw(name));
        const int extra = ConnectRaw(name);
        timeval quick{4, 0};  // well under the 10 s the others are allowed
        ::setsockopt(extra, SOL_SOCKET, SO_RCVTIMEO, &quick, sizeof quick);
        const bool turnedAway = extra >= 0 && DroppedByServer(extra);
        ::close(extra);
        for (int fd : fds) ::close(fd);
        return turnedAway;
    });
    EXPECT_TRUE(Serve(crowd));
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.PeerCount() == 0; }));

    // The message of a real second start, also when it comes in two pieces.
    auto split = std::async(std::launch::async, [name] {
        const int fd = ConnectRaw(name);
        ::send(fd, "rai", 3, MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ::send(fd, "se\n", 3, MSG_NOSIGNAL);
        char reply[16] = {};
        const ssize_t n = ::recv(fd, reply, sizeof reply - 1, MSG_WAITALL);
        ::close(fd);
        return n > 0 ? std::string(reply, static_cast<size_t>(n)) : std::string();
    });
    EXPECT_EQ(Serve(split), "raised\n");
    auto asked = std::async(std::launch::async, [folder] { return InstanceServer::AskToRaise(folder); });
    EXPECT_TRUE(Serve(asked));
    // The copy answers first and acts right after: the second act may still be on its way.
    EXPECT_TRUE(QTest::qWaitFor([&] { return raised == 2; }));
    EXPECT_EQ(raised, 2);
}

}  // namespace

// The reminder window as the user reaches it from the main menu, and the files it leaves
// in the user's configuration: never anything in the data folder.
#include <signal.h>
#include <sys/stat.h>

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTest>
#include <QTimeEdit>
#include <cstdlib>
#include <filesystem>
#include <ctime>
#include <optional>

#include "app/MenuForm.h"
#include "reminder/ReminderForm.h"
#include "reminder/ReminderUnits.h"
#include "tests/gui/GuiTest.h"

namespace {

using qv::test::Child;
using qv::test::WhenModalOpens;
using qv::test::WriteBytes;

QString ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Runs a tool; its exit code and what it said, or nothing when it is not installed.
struct Tool {
    int code = -1;
    QString said;
};
std::optional<Tool> RunTool(const QString& program, const QStringList& args) {
    if (QStandardPaths::findExecutable(program).isEmpty()) return std::nullopt;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForFinished(60000)) return Tool{};
    return Tool{process.exitCode(), QString::fromLocal8Bit(process.readAll())};
}

// Each test has its own configuration folder and a runtime folder where no systemd user
// instance listens (unless the test starts one), so nothing reaches the user's own session.
class ReminderTest : public qv::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"}) {
            const char* value = std::getenv(name);
            saved_.push_back({name, value ? std::optional<std::string>(value) : std::nullopt});
        }
        const QString here = QDir::currentPath();
        // The data folder is a folder of its own, so the test can see that nothing lands there.
        ASSERT_TRUE(QDir().mkpath(here + "/data") && QDir().mkpath(here + "/config") &&
                    QDir().mkpath(here + "/run"));
        ::chmod("run", 0700);
        config_ = here + "/config";
        ::setenv("XDG_CONFIG_HOME", QFile::encodeName(config_).constData(), 1);
        ::setenv("XDG_RUNTIME_DIR", QFile::encodeName(here + "/run").constData(), 1);
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        QCoreApplication::setOrganizationName(QStringLiteral("quorvel"));
        QCoreApplication::setApplicationName(QStringLiteral("quorvel"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config_);
        ASSERT_EQ(::chdir("data"), 0);
        WriteBytes("test.dat", "qvrule\t1\tid1\t0\tA\t10\tB\t5\tC\t7\tD\t10\r\n");
        folder_ = QDir::currentPath();
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name, value->c_str(), 1);
            else
                ::unsetenv(name);
        }
        QCoreApplication::setOrganizationName(QString());
        GuiTest::TearDown();
    }

    // Opens the window from the menu's context menu and lets act work on it.
    void FromMenu(std::function<void(QWidget*)> act) {
        TForm1 menu;
        WhenModalOpens([act = std::move(act)](QWidget* w) {
            act(w);
            // A window the test failed to close would wait for ever.
            if (w->isVisible()) qobject_cast<QDialog*>(w)->reject();
        });
        Child<QAction>(&menu, "acReminder")->trigger();
    }

    ReminderFiles Files() const { return ReminderFiles{config_}; }

    QString config_;
    QString folder_;
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

// Without a systemd user instance (as here, and on desktops without systemd) the check
// runs at each login through an autostart entry.
TEST_F(ReminderTest, OnWritesTheAutostartEntryAndTheSettingsOffRemovesIt) {
    const std::string before = qv::test::ListDir();
    FromMenu([](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), QStringLiteral("リマインダー"));
        EXPECT_EQ(Child<QLabel>(w, "pnState")->text(), QStringLiteral("リマインダーはオフです。確認も通知もしません。"));
        EXPECT_FALSE(Child<QWidget>(w, "gbWhen")->isEnabled()) << "off: its conditions rest";
        // What will happen here: at each login, so neither 毎日 nor the time is offered.
        EXPECT_EQ(Child<QCheckBox>(w, "ckOn")->text(),
                  QStringLiteral("ログインのたびに確認して、知らせることがあればデスクトップに通知する"));
        EXPECT_TRUE(Child<QLabel>(w, "pnWay")->text().contains(QStringLiteral("時刻は使いません")));
        Child<QCheckBox>(w, "ckOn")->setChecked(true);
        EXPECT_TRUE(Child<QWidget>(w, "gbWhen")->isEnabled());
        EXPECT_FALSE(Child<QWidget>(w, "teTime")->isEnabled()) << "no timer here: the time is not used";
        EXPECT_FALSE(Child<QWidget>(w, "lbTime")->isEnabled());
        EXPECT_EQ(Child<QWidget>(w, "teTime")->accessibleDescription(), Child<QLabel>(w, "pnWay")->text());
        EXPECT_TRUE(Child<QWidget>(w, "seDays")->isEnabled());
        Child<QTimeEdit>(w, "teTime")->setTime(QTime(7, 30));
        Child<QSpinBox>(w, "seDays")->setValue(5);
        Child<QCheckBox>(w, "ckBalance")->setChecked(true);
        Child<QSpinBox>(w, "seBalance")->setValue(200);
        Child<QPushButton>(w, "btOK")->click();
    });
    // OK says what was turned on.
    EXPECT_EQ(ShownTexts(),
              QStringList{QStringLiteral(
                  "リマインダーをオンにしました。ログインのたびに確認し、未執行のまま5日を過ぎた判決が"
                  "あるとき、またはポイント残高が200ポイントを超えたときにデスクトップに通知します。\n"
                  "（systemd のユーザーインスタンスが動いていないため、時刻は使いません）")});
    const ReminderFiles files = Files();
    EXPECT_EQ(InstalledWay(files), ReminderWay::Autostart);
    EXPECT_FALSE(QFileInfo::exists(files.Timer()));
    const QString entry = ReadText(files.Autostart());
    EXPECT_TRUE(entry.contains(QStringLiteral(" --check \"") + folder_ + QStringLiteral("\"\n")))
        << entry.toStdString();
    if (const auto valid = RunTool(QStringLiteral("desktop-file-validate"), {files.Autostart()})) {
        EXPECT_EQ(valid->code, 0) << valid->said.toStdString();
    }

    {
        QSettings settings;
        EXPECT_EQ(settings.fileName(), config_ + QStringLiteral("/quorvel/quorvel.conf"));
        EXPECT_EQ(settings.value("reminder/on").toBool(), true);
        EXPECT_EQ(settings.value("reminder/time").toString(), QStringLiteral("07:30"));
        EXPECT_EQ(settings.value("reminder/days").toInt(), 5);
        EXPECT_EQ(settings.value("reminder/balanceOn").toBool(), true);
        EXPECT_EQ(settings.value("reminder/balanceAbove").toInt(), 200);
        EXPECT_EQ(settings.value("reminder/folder").toString(), folder_);
    }
    EXPECT_EQ(qv::test::ListDir(), before) << "nothing of the reminder in the data folder";

    // Opened again it shows what was set, and turns it off.
    FromMenu([&](QWidget* w) {
        EXPECT_TRUE(Child<QCheckBox>(w, "ckOn")->isChecked());
        EXPECT_EQ(Child<QTimeEdit>(w, "teTime")->time(), QTime(7, 30));
        EXPECT_EQ(Child<QSpinBox>(w, "seDays")->value(), 5);
        EXPECT_EQ(Child<QSpinBox>(w, "seBalance")->value(), 200);
        EXPECT_TRUE(Child<QLabel>(w, "pnState")->text().startsWith(
            QStringLiteral("リマインダーはオンです。ログインのたびに確認します（自動起動の設定: ")));
        EXPECT_TRUE(Child<QLabel>(w, "pnState")->text().contains(files.Autostart()));
        Child<QCheckBox>(w, "ckOn")->setChecked(false);
        Child<QPushButton>(w, "btOK")->click();
    });
    EXPECT_EQ(ShownTexts(), QStringList{QStringLiteral("リマインダーをオフにしました。確認も通知もしません。")});
    EXPECT_EQ(InstalledWay(files), ReminderWay::None);
    EXPECT_FALSE(QFileInfo::exists(files.Autostart()));
    EXPECT_EQ(QSettings().value("reminder/on").toBool(), false);
    EXPECT_EQ(QSettings().value("reminder/days").toInt(), 5) << "the conditions are kept";
    EXPECT_EQ(qv::test::ListDir(), before);
}

// 今すぐ確認 says what a check would say now, and changes nothing.
TEST_F(ReminderTest, CheckNowTellsWhatTheReminderWouldSay) {
    const std::int64_t old = static_cast<std::int64_t>(std::time(nullptr)) - 6 * 86400 - 60;
    const std::string log = std::to_string(old) + "\t1\tX\t12\tA:1 \t0\t1\t0\t0\t0\t2\r\n";
    WriteBytes("test.log", log);
    const std::string before = qv::test::ListDir();
    FromMenu([](QWidget* w) {
        Child<QCheckBox>(w, "ckOn")->setChecked(true);
        Child<QSpinBox>(w, "seDays")->setValue(3);
        Child<QPushButton>(w, "btCheckNow")->click();
        Child<QPushButton>(w, "btCancel")->click();
    });
    EXPECT_EQ(ShownTexts(), QStringList{QStringLiteral(
                                "未執行の判決が1件あります（量刑計12ポイント、最も古いものは6日前）")});
    EXPECT_EQ(qv::test::ListDir(), before);
    EXPECT_EQ(qv::test::ReadBytes("test.log"), log);
    EXPECT_EQ(InstalledWay(Files()), ReminderWay::None) << "キャンセル keeps it off";
}

// The units as written for folders whose names systemd or a desktop entry would otherwise
// read as specifiers, variables, quotes or escapes.
// A copy of /bin/true at path, so systemd-analyze finds the program it checks.
void PutProgram(const QByteArray& path) {
    const std::filesystem::path program(path.toStdString());  // the bytes as they are
    std::filesystem::create_directories(program.parent_path());
    std::filesystem::copy_file("/bin/true", program,
                               std::filesystem::copy_options::overwrite_existing);
}

TEST_F(ReminderTest, UnitsForAwkwardNamesPassTheirValidators) {
    const QByteArray here = QFile::encodeName(QDir::currentPath());
    const struct {
        const char* what;
        QByteArray program, folder;
    } cases[] = {
        {"plain", here + "/bin/quorvel", QStringLiteral("/srv/データ 置き場").toUtf8()},
        {"characters systemd would expand", here + "/bin/quorvel",
         QByteArray("/srv/100% $HOME \"q\" it's back\\slash `x`")},
        // The unit must carry the very bytes: systemd-analyze looks for the program, so a
        // byte read back wrong fails the check.
        {"names that are not UTF-8", here + "/bin\xff\x81/quorvel", QByteArray("/srv/\x82\xa0 data")},
        {"a program path systemd will not run directly", here + "/it's \"q\" back\\slash/quorvel",
         QByteArray("/srv/data")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PutProgram(c.program);
        const QString dir = config_ + QStringLiteral("/verify");
        QDir(dir).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(dir));
        const auto write = [&](const QString& name, const QByteArray& bytes) {
            QFile file(dir + "/" + name);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        };
        const QByteArray service = ServiceText(c.program, c.folder);
        EXPECT_EQ(QString::fromUtf8(service).toUtf8(), service) << "the unit file is UTF-8";
        write(QStringLiteral("quorvel-check.service"), service);
        write(QStringLiteral("quorvel-check.timer"), TimerText(QTime(20, 5)).toUtf8());
        const auto verified = RunTool(QStringLiteral("systemd-analyze"),
                                      {QStringLiteral("verify"), QStringLiteral("--man=no"),
                                       dir + "/quorvel-check.timer", dir + "/quorvel-check.service"});
        if (!verified) {
            ADD_FAILURE() << "systemd-analyze is missing: run scripts/setup";
        } else {
            EXPECT_EQ(verified->code, 0) << verified->said.toStdString() << service.toStdString();
            EXPECT_FALSE(verified->said.contains(QStringLiteral("quorvel-check")))
                << verified->said.toStdString();
        }
        const std::optional<QString> entry = AutostartText(c.program, c.folder);
        EXPECT_EQ(entry.has_value(), QString(c.what) != "names that are not UTF-8");
        if (entry) {
            write(QStringLiteral("quorvel-check.desktop"), entry->toUtf8());
            if (const auto valid = RunTool(QStringLiteral("desktop-file-validate"),
                                           {dir + "/quorvel-check.desktop"})) {
                EXPECT_EQ(valid->code, 0) << valid->said.toStdString();
            }
        }
    }
    EXPECT_TRUE(TimerText(QTime(20, 5)).contains(QStringLiteral("\nOnCalendar=*-*-* 20:05:00\n")));
    EXPECT_TRUE(TimerText(QTime(20, 5)).contains(QStringLiteral("\nPersistent=true\n")));

    // A folder name a unit line cannot hold is refused, and nothing is left on.
    ReminderSettings settings;
    settings.on = true;
    settings.folder = "/srv/two\nlines";
    const ReminderOutcome outcome = TurnReminderOn(settings, ProgramPath(), Files());
    EXPECT_FALSE(outcome.ok);
    EXPECT_FALSE(outcome.problem.isEmpty());
    EXPECT_EQ(InstalledWay(Files()), ReminderWay::None);
}

// The Japanese input method types full-width digits: the fields take them as digits.
TEST_F(ReminderTest, FieldsTakeFullWidthDigits) {
    TReminder window;
    window.Init(QFile::encodeName(folder_), Files());
    window.show();
    auto* days = Child<QSpinBox>(&window, "seDays");
    days->setFocus();
    days->selectAll();
    qv::test::CommitInput(days, QStringLiteral("１２"));
    EXPECT_EQ(days->value(), 12);
    auto* balance = Child<QSpinBox>(&window, "seBalance");
    balance->setEnabled(true);
    balance->selectAll();
    qv::test::CommitInput(balance, QStringLiteral("２５０"));
    EXPECT_EQ(balance->value(), 250);
}

// The reminder is on only when systemd took its units. A stand-in for systemctl answers
// as a user instance would, its units' state judged by systemd's own parser
// (systemd-analyze verify): a program path with quotes and backslashes is on, run
// through sh, and the exact bytes of a folder whose name is not UTF-8 stay in the unit
// and in the settings.
TEST_F(ReminderTest, OnOnlyWhenSystemdTookTheUnits) {
    if (QStandardPaths::findExecutable(QStringLiteral("systemd-analyze")).isEmpty())
        GTEST_SKIP() << "systemd-analyze is missing: run scripts/setup";
    const QByteArray here = QFile::encodeName(QDir::currentPath());
    const QByteArray bin = here + "/fake-bin";
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(bin)));
    WriteBytes((bin + "/systemctl").toStdString(),
               "#!/bin/sh\n"
               "shift\n"  // --user
               "case \"$1 $2\" in\n"
               "  'show --property=Version') echo Version=252 ;;\n"
               "  'show --property=LoadState,LoadError')\n"
               "    dir=\"$XDG_CONFIG_HOME/systemd/user\"\n"
               "    if systemd-analyze verify --man=no \"$dir/quorvel-check.timer\" "
               "\"$dir/quorvel-check.service\" >\"$XDG_CONFIG_HOME/said\" 2>&1; then\n"
               "      echo LoadState=loaded\n"
               "    else echo LoadState=bad-setting; echo LoadError=bad; fi ;;\n"
               "esac\n"
               "exit 0\n");
    ::chmod((bin + "/systemctl").constData(), 0755);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin + ":" + path);

    const struct {
        const char* what;
        QByteArray program;
        const char* unitHolds;
    } cases[] = {
        {"quotes and backslashes in the program's path", here + "/it's \"q\" back\\slash/quorvel",
         "/bin/sh -c"},
        {"a folder that is not UTF-8", here + "/bin/quorvel", "/data\\xff\\x81"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PutProgram(c.program);
        ReminderSettings settings;
        settings.on = true;
        settings.folder = here + "/data\xff\x81";
        ASSERT_TRUE(settings.Save());
        const ReminderOutcome outcome = TurnReminderOn(settings, c.program, Files());
        EXPECT_TRUE(outcome.ok) << outcome.problem.toStdString()
                                << qv::test::ReadBytes((config_ + "/said").toStdString());
        EXPECT_EQ(InstalledWay(Files()), ReminderWay::Timer);
        QFile unit(Files().Service());
        ASSERT_TRUE(unit.open(QIODevice::ReadOnly));
        EXPECT_TRUE(unit.readAll().contains(c.unitHolds));
        EXPECT_EQ(ReminderSettings::Load().folder, settings.folder) << "the exact bytes kept";
    }
    // A unit systemd refuses (here: a program that is not there) is not reported on, and
    // nothing of the reminder stays.
    ReminderSettings settings;
    settings.on = true;
    settings.folder = here;
    const ReminderOutcome refused = TurnReminderOn(settings, here + "/no-such/quorvel", Files());
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.problem.contains(QStringLiteral("quorvel-check.service")))
        << refused.problem.toStdString();
    EXPECT_EQ(InstalledWay(Files()), ReminderWay::None);
    qputenv("PATH", path);
}

// Where a systemd user instance can run, on and off go through it: the timer is enabled
// and active, then disabled and gone.
TEST_F(ReminderTest, TimerIsEnabledAndDisabledThroughTheUserInstance) {
    if (!QFileInfo(QStringLiteral("/run/systemd/system")).isDir())
        GTEST_SKIP() << "no systemd user instance can run here: the system was not booted "
                        "with systemd (no /run/systemd/system)";
    const QString manager = QStringLiteral("/lib/systemd/systemd");
    if (!QFileInfo(manager).isExecutable()) GTEST_SKIP() << "systemd is not installed";
    QProcess instance;
    instance.setProgram(manager);
    instance.setArguments({QStringLiteral("--user")});
    instance.setProcessChannelMode(QProcess::ForwardedChannels);
    instance.start();
    const QString socket = QDir::current().filePath(QStringLiteral("../run/systemd/private"));
    // Started with the test's runtime and configuration folders, so it reads the units the
    // window writes and nobody else's.
    if (!instance.waitForStarted(5000) ||
        !QTest::qWaitFor([&] { return QFileInfo::exists(socket); }, 20000)) {
        instance.kill();
        instance.waitForFinished(5000);
        GTEST_SKIP() << "a private systemd user instance did not start here";
    }
    const auto systemctl = [](const QString& verb) {
        return RunTool(QStringLiteral("systemctl"),
                       {QStringLiteral("--user"), verb, kTimerUnit})
            .value_or(Tool{})
            .said.trimmed();
    };
    // A folder whose name systemd would otherwise expand: the service must hand it over as is.
    const QString awkward = QStringLiteral("データ 100% $HOME \"q\"");
    ASSERT_TRUE(QDir().mkpath(awkward));
    ASSERT_TRUE(QFile::copy(QStringLiteral("test.dat"), awkward + QStringLiteral("/test.dat")));
    ASSERT_TRUE(QDir::setCurrent(awkward));
    FromMenu([](QWidget* w) {
        EXPECT_EQ(Child<QCheckBox>(w, "ckOn")->text(),
                  QStringLiteral("毎日確認して、知らせることがあればデスクトップに通知する"));
        Child<QCheckBox>(w, "ckOn")->setChecked(true);
        EXPECT_TRUE(Child<QWidget>(w, "teTime")->isEnabled());
        Child<QTimeEdit>(w, "teTime")->setTime(QTime(6, 5));
        Child<QPushButton>(w, "btOK")->click();
    });
    const QStringList told = ShownTexts();
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].startsWith(QStringLiteral("リマインダーをオンにしました。毎日 06:05 に確認し、")))
        << told[0].toStdString();
    EXPECT_EQ(InstalledWay(Files()), ReminderWay::Timer);
    const auto exec = RunTool(QStringLiteral("systemctl"),
                              {QStringLiteral("--user"), QStringLiteral("show"),
                               QStringLiteral("--property=ExecStart"),
                               QStringLiteral("quorvel-check.service")});
    ASSERT_TRUE(exec);
    EXPECT_TRUE(exec->said.contains(QStringLiteral(" --check ") + QDir::currentPath() +
                                    QStringLiteral(" ;")))
        << exec->said.toStdString();
    EXPECT_FALSE(QFileInfo::exists(Files().Autostart()));
    EXPECT_EQ(systemctl(QStringLiteral("is-enabled")), QStringLiteral("enabled"));
    EXPECT_EQ(systemctl(QStringLiteral("is-active")), QStringLiteral("active"));

    FromMenu([](QWidget* w) {
        Child<QCheckBox>(w, "ckOn")->setChecked(false);
        Child<QPushButton>(w, "btOK")->click();
    });
    EXPECT_EQ(InstalledWay(Files()), ReminderWay::None);
    EXPECT_FALSE(QFileInfo::exists(Files().Service()));
    EXPECT_NE(systemctl(QStringLiteral("is-enabled")), QStringLiteral("enabled"));
    EXPECT_NE(systemctl(QStringLiteral("is-active")), QStringLiteral("active"));
    instance.terminate();
    if (!instance.waitForFinished(10000)) instance.kill();
}

// The notification's 開く starts the program with --open-report: the menu opens the
// execution report once it is up.
TEST_F(ReminderTest, OpenReportOpensTheExecutionReport) {
    TForm1 menu;
    QString opened;
    WhenModalOpens([&opened](QWidget* w) {
        opened = w->objectName();
        w->close();
    });
    menu.OpenReport();
    EXPECT_EQ(opened, QStringLiteral("TLogList"));
}

}  // namespace

// The history window over the fixture log: filters drive the table and totals, the CSV
// export writes the shown rows (or tells why it cannot), Ctrl+C copies, PNG saves, its
// size is remembered, and the command line exports without a window.
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTableView>
#include <QTest>
#include <cerrno>
#include <filesystem>

#include "app/CommandLine.h"
#include "history/CsvCommand.h"
#include "history/HistoryForm.h"
#include "history/HistoryQuery.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "text/FileIo.h"
#include "tests/gui/GuiTest.h"
#include "ui/Placement.h"
#include "ui/Texts.h"

namespace {

using qv::test::Child;
using qv::test::ReadBytes;
using qv::test::WriteBytes;

const std::string kData = QV_TEST_DATA "/history/";

class HistoryWindowTest : public qv::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        WriteBytes("test.dat", ReadBytes(kData + "test.dat"));
        WriteBytes("test.log", ReadBytes(kData + "test.log"));
        book_.SetFileName("test.dat");
        ASSERT_TRUE(book_.LoadFile());
        info_.SetRuleBook(&book_);
        info_.SetLogPath("test.log");
        info_.SetBalancePath("user.dat");
    }
    // A window on the fixture, "now" being Wednesday 6 March 2024 10:00 in Tokyo.
    std::unique_ptr<THistory> Open() {
        auto w = std::make_unique<THistory>();
        w->SetClock([] { return *qv::history::LocalDate(2024, 3, 6) + 10 * 3600; });
        w->SetSavePathAsker(
            [this](const QString&, const QString&, const QString&) { return savePath_; });
        w->Init(&info_);
        return w;
    }
    // As read out; the screen shows it without invisible characters.
    static QString Totals(THistory& w) {
        auto* totals = Child<QLabel>(&w, "pnTotals");
        EXPECT_EQ(qv::test::InvisibleIn(totals->text()), QString());
        return totals->accessibleName();
    }
    static int Rows(THistory& w) { return Child<QTableView>(&w, "sgHistory")->model()->rowCount(); }

    qv::test::ZoneFor zone_{"Asia/Tokyo"};
    CRuleBook book_;
    CInfo info_;
    QString savePath_;
};

TEST_F(HistoryWindowTest, OpensOnEverythingAndTellsOfDamagedLinesOnce) {
    auto w = Open();
    const QStringList shown = ShownTexts();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("2行は判決の記録として読めません")))
        << shown[0].toStdString();
    EXPECT_TRUE(shown[0].contains(QStringLiteral("1件の判決は時刻が数字になっていません")));
    EXPECT_EQ(Rows(*w), 6);
    EXPECT_EQ(Totals(*w),
              QStringLiteral("合計　判決 6件（執行済み 3件・未執行 3件）　判決ポイント 132　"
                             "腕立て,伏せ:31回　腹筋:10回　ス\"ク\"ワット:3回　道具4:5回　ポイント 17"));
    // Newest first; the date fields show the whole log.
    auto* grid = Child<QTableView>(w.get(), "sgHistory");
    EXPECT_EQ(grid->model()->index(0, 0).data().toString(), QStringLiteral("2024/03/05 12:00"));
    EXPECT_EQ(grid->model()->index(0, 2).data().toString(), QStringLiteral("約束破り"));
    EXPECT_EQ(Child<QDateEdit>(w.get(), "dtFrom")->date(), QDate(2024, 1, 1));
    EXPECT_EQ(Child<QDateEdit>(w.get(), "dtTo")->date(), QDate(2024, 3, 5));
    EXPECT_EQ(Child<QListWidget>(w.get(), "lsArticles")->count(), 3);
}

// Under すべて the date fields show the span; a date typed there is taken at its word: the
// period becomes 日付を指定 with that date, never silently put back.
TEST_F(HistoryWindowTest, ADateTypedUnderAllChoosesThatPeriod) {
    auto w = Open();
    ShownTexts();  // the fixture's damaged lines
    auto* preset = Child<QComboBox>(w.get(), "cbPreset");
    auto* from = Child<QDateEdit>(w.get(), "dtFrom");
    ASSERT_EQ(preset->currentIndex(), 4);  // すべて
    w->show();
    from->setFocus();
    from->setCurrentSection(QDateTimeEdit::MonthSection);
    QTest::keyClick(from, Qt::Key_Up);  // January to February
    EXPECT_EQ(from->date(), QDate(2024, 2, 1));
    EXPECT_EQ(preset->currentIndex(), 5) << "日付を指定";
    EXPECT_EQ(w->CurrentFilter().from, qv::history::LocalDate(2024, 2, 1));
    EXPECT_EQ(Rows(*w), 3);
    // Typed digits too.
    preset->setCurrentIndex(4);
    EXPECT_EQ(Rows(*w), 6);
    from->setSelectedSection(QDateTimeEdit::DaySection);
    QTest::keyClicks(from, "15");
    EXPECT_EQ(from->date(), QDate(2024, 1, 15));
    EXPECT_EQ(preset->currentIndex(), 5);
    EXPECT_EQ(w->CurrentFilter().from, qv::history::LocalDate(2024, 1, 15));
    // And full-width ones, as the Japanese input method types them.
    from->setSelectedSection(QDateTimeEdit::DaySection);
    qv::test::CommitInput(from, QStringLiteral("２０"));
    EXPECT_EQ(from->date(), QDate(2024, 1, 20));
}

// The picture and the CSV are offered in the user's own folders, not in the data folder.
TEST_F(HistoryWindowTest, SaveDialogsOfferTheUsersFolders) {
    auto w = Open();
    QStringList suggested;
    w->SetSavePathAsker([&](const QString&, const QString& offered, const QString&) {
        suggested << offered;
        return QString();  // cancelled
    });
    Child<QPushButton>(w.get(), "btSavePng")->click();
    Child<QPushButton>(w.get(), "btExportCsv")->click();
    ASSERT_EQ(suggested.size(), 2);
    const struct {
        QStandardPaths::StandardLocation kind;
        const char* name;
    } expected[] = {{QStandardPaths::PicturesLocation, "quorvel-period.png"},
                    {QStandardPaths::DocumentsLocation, "判決の履歴.csv"}};
    for (int i = 0; i < 2; ++i) {
        QString folder = QStandardPaths::writableLocation(expected[i].kind);
        if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
        EXPECT_EQ(suggested[i], QDir(folder).filePath(QString::fromUtf8(expected[i].name)));
        EXPECT_FALSE(suggested[i].startsWith(QDir::currentPath())) << suggested[i].toStdString();
    }
}

TEST_F(HistoryWindowTest, EachFilterChangesTableAndTotalsAtOnce) {
    auto w = Open();
    auto* preset = Child<QComboBox>(w.get(), "cbPreset");
    auto* executed = Child<QComboBox>(w.get(), "cbExecuted");
    auto* search = Child<QLineEdit>(w.get(), "tfSearch");
    auto* articles = Child<QListWidget>(w.get(), "lsArticles");

    preset->setCurrentIndex(1);  // 今月: March
    EXPECT_EQ(Rows(*w), 1);
    EXPECT_TRUE(Totals(*w).startsWith(
        QStringLiteral("合計　判決 1件（執行済み 1件・未執行 0件）　判決ポイント 40")));
    preset->setCurrentIndex(2);  // 過去30日: 6 February to 6 March
    EXPECT_EQ(Rows(*w), 3);
    preset->setCurrentIndex(0);  // 今週: nothing since Monday 4 March... but the 5th
    EXPECT_EQ(Rows(*w), 1);
    preset->setCurrentIndex(4);  // すべて
    EXPECT_EQ(Rows(*w), 6);

    // Typing a date makes the range the user's own; the end date's whole day counts.
    Child<QDateEdit>(w.get(), "dtTo")->setDate(QDate(2024, 1, 31));
    EXPECT_EQ(preset->currentIndex(), 5);
    EXPECT_EQ(Rows(*w), 3);
    Child<QDateEdit>(w.get(), "dtFrom")->setDate(QDate(2024, 1, 2));
    EXPECT_EQ(Rows(*w), 1);
    preset->setCurrentIndex(4);

    executed->setCurrentIndex(2);  // 未執行
    EXPECT_EQ(Rows(*w), 3);
    EXPECT_TRUE(Totals(*w).startsWith(
        QStringLiteral("合計　判決 3件（執行済み 0件・未執行 3件）　判決ポイント 57")));
    executed->setCurrentIndex(0);

    search->setText(QStringLiteral("遅"));  // typed through an input method
    EXPECT_EQ(Rows(*w), 3);
    search->clear();

    articles->item(1)->setCheckState(Qt::Checked);  // article 2, under both its names
    EXPECT_EQ(Rows(*w), 2);
    articles->item(2)->setCheckState(Qt::Checked);
    EXPECT_EQ(Rows(*w), 3);
    QTest::keyClicks(search, QStringLiteral("nothing like it"));
    EXPECT_EQ(Rows(*w), 0);
    EXPECT_EQ(Totals(*w),
              QStringLiteral("合計　判決 0件（執行済み 0件・未執行 0件）　判決ポイント 0　"
                             "腕立て,伏せ:0回　腹筋:0回　ス\"ク\"ワット:0回　道具4:0回　ポイント 0"));
}

TEST_F(HistoryWindowTest, ExportWritesTheShownRowsInTheirOrder) {
    auto w = Open();
    ShownTexts();
    const std::string all = ReadBytes(kData + "all-cp932.csv");
    const std::string header = all.substr(0, all.find("\r\n") + 2);

    // Sorted oldest first by the date column's header, the export is the fixture.
    Child<QTableView>(w.get(), "sgHistory")->sortByColumn(0, Qt::AscendingOrder);
    savePath_ = QStringLiteral("out.csv");
    Child<QPushButton>(w.get(), "btExportCsv")->click();
    EXPECT_EQ(ReadBytes("out.csv"), all);

    Child<QCheckBox>(w.get(), "ckUtf8")->setChecked(true);
    Child<QPushButton>(w.get(), "btExportCsv")->click();
    EXPECT_EQ(ReadBytes("out.csv"), ReadBytes(kData + "all-utf8.csv"));
    Child<QCheckBox>(w.get(), "ckUtf8")->setChecked(false);

    // The name with a comma and quotes, alone.
    QTest::keyClicks(Child<QLineEdit>(w.get(), "tfSearch"), QStringLiteral("say"));
    Child<QPushButton>(w.get(), "btExportCsv")->click();
    EXPECT_EQ(ReadBytes("out.csv"), header +
                                        "2024/01/01 21:00,2,\"Say \"\"hi\"\", then\",35,"
                                        "\x96\xA2,10,0,3,0,5\r\n");
    // An empty result: the header alone.
    QTest::keyClicks(Child<QLineEdit>(w.get(), "tfSearch"), QStringLiteral("zzz"));
    Child<QPushButton>(w.get(), "btExportCsv")->click();
    EXPECT_EQ(ReadBytes("out.csv"), header);
    // Each export says where it went.
    const QStringList told = ShownTexts();
    ASSERT_EQ(told.size(), 4);
    EXPECT_EQ(told[0], QStringLiteral("履歴をCSVファイル「out.csv」に書き出しました。"));
    // Cancelling the file choice writes nothing.
    savePath_.clear();
    Child<QPushButton>(w.get(), "btExportCsv")->click();
    EXPECT_TRUE(ShownTexts().isEmpty());
}

// The disk fills during the write, and the share says so again when the file is closed:
// the reason is the write's, not whatever the last call left behind.
ssize_t WriteFindsTheDiskFull(int, const void*, size_t) {
    errno = ENOSPC;
    return -1;
}
int CloseFailsToo(int fd) {
    qv::io::RealSysCalls().close(fd);
    errno = EIO;
    return -1;
}

TEST_F(HistoryWindowTest, ExportFailuresAreToldAndLeaveTheOldFile) {
    auto w = Open();
    ShownTexts();
    qv::io::SysCalls diskFull = qv::io::RealSysCalls();
    diskFull.write = WriteFindsTheDiskFull;
    diskFull.close = CloseFailsToo;
    struct Case {
        const char* what;
        std::function<void()> prepare;
        const char* target;
        QString reason;
        const qv::io::SysCalls* calls = nullptr;
    } cases[] = {
        {"missing folder", [] {}, "no-such-folder/out.csv",
         QStringLiteral("書き出し先のフォルダがありません")},
        {"a file where the folder should be", [] { WriteBytes("plain", "x"); }, "plain/out.csv",
         QStringLiteral("書き出し先のフォルダがありません")},
        {"read-only file",
         [] {
             WriteBytes("ro.csv", "old");
             std::filesystem::permissions("ro.csv", std::filesystem::perms::owner_read);
         },
         "ro.csv", QStringLiteral("ファイルが読み取り専用です")},
        {"a folder by that name", [] { std::filesystem::create_directory("dir.csv"); }, "dir.csv",
         QStringLiteral("同じ名前のフォルダがあります")},
        {"a link to a drive that is gone",
         [] { std::filesystem::create_symlink("/nonexistent-drive/out.csv", "gone.csv"); },
         "gone.csv", QStringLiteral("リンク先「/nonexistent-drive/out.csv」が見つかりません")},
        {"a FIFO", [] { ASSERT_EQ(::mkfifo("fifo.csv", 0600), 0); }, "fifo.csv",
         QStringLiteral("名前付きパイプ（FIFO）")},
        {"the disk fills", [] { WriteBytes("full.csv", "old"); }, "full.csv",
         QStringLiteral("ディスクの空きが足りません"), &diskFull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.prepare();
        if (c.calls) qv::io::SetSysCalls(c.calls);
        EXPECT_FALSE(w->ExportCsvTo(QString::fromLatin1(c.target)));
        qv::io::SetSysCalls(nullptr);
        const QStringList shown = ShownTexts();
        ASSERT_EQ(shown.size(), 1);
        EXPECT_TRUE(shown[0].contains(c.reason)) << shown[0].toStdString();
        EXPECT_TRUE(shown[0].startsWith(QStringLiteral("CSVファイル「")));
    }
    EXPECT_EQ(ReadBytes("ro.csv"), "old");
    EXPECT_EQ(ReadBytes("full.csv"), "old");

    // A chart is named as the image it is, not as a CSV file.
    EXPECT_FALSE(w->SaveChartTo(QStringLiteral("no-such-folder/chart.png")));
    const QStringList shown = ShownTexts();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0], QStringLiteral("グラフの画像「no-such-folder/chart.png」を保存できません"
                                       "でした（書き出し先のフォルダがありません）。"));

    // Neither is written over the folder's own files, whatever the path.
    const std::string log = ReadBytes("test.log");
    std::filesystem::create_symlink("test.log", "log-link.csv");
    for (const char* target : {"test.log", "./test.log", "log-link.csv", "user.dat"}) {
        SCOPED_TRACE(target);
        EXPECT_FALSE(w->ExportCsvTo(QString::fromLatin1(target)));
        EXPECT_FALSE(w->SaveChartTo(QString::fromLatin1(target)));
        const QStringList refused = ShownTexts();
        ASSERT_EQ(refused.size(), 2);
        for (const QString& text : refused)
            EXPECT_TRUE(text.contains(QStringLiteral("上書きすると記録が失われる"))) << text.toStdString();
    }
    EXPECT_EQ(ReadBytes("test.log"), log);
}

TEST_F(HistoryWindowTest, CtrlCCopiesTheSelectedRowsAsTabSeparatedText) {
    auto w = Open();
    w->show();
    auto* grid = Child<QTableView>(w.get(), "sgHistory");
    grid->setFocus();
    grid->selectRow(1);  // 2024/02/29
    QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QStringLiteral("判決日時\t条\t条文名\t判決ポイント\t執行\t腕立て,伏せ\t腹筋\t"
                             "ス\"ク\"ワット\t道具4\tポイント\n"
                             "2024/02/29 18:30\t1\t遅刻\t15\t済\t3\t4\t0\t0\t1\n"));
}

TEST_F(HistoryWindowTest, EveryChartSavesAsPng) {
    auto w = Open();
    w->show();
    auto* chart = Child<QComboBox>(w.get(), "cbChart");
    for (int i = 0; i < chart->count(); ++i) {
        chart->setCurrentIndex(i);
        savePath_ = QStringLiteral("chart%1.png").arg(i);
        Child<QPushButton>(w.get(), "btSavePng")->click();
        EXPECT_EQ(ReadBytes(savePath_.toStdString()).substr(0, 8), "\x89PNG\r\n\x1a\n") << i;
    }
    EXPECT_TRUE(ShownTexts().size() == 1);  // the damaged-lines note on opening only
}

TEST_F(HistoryWindowTest, RemembersItsSize) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QDir::currentPath());
    QCoreApplication::setOrganizationName(QStringLiteral("quorvel-test"));
    qv::ui::SetRememberGeometry(true);
    {
        auto w = Open();
        w->show();
        w->resize(900, 650);
        w->reject();
    }
    auto w = Open();
    EXPECT_EQ(w->size(), QSize(900, 650));
    qv::ui::SetRememberGeometry(false);
    QCoreApplication::setOrganizationName(QString());
}

TEST_F(HistoryWindowTest, CommandLineExportsInTimeOrder) {
    auto run = [](std::vector<const char*> args) {
        QStringList arguments{QStringLiteral("quorvel")};
        for (const char* arg : args) arguments << QString::fromLocal8Bit(arg);
        const CommandLine line = ParseCommandLine(arguments);
        std::optional<int> code;
        if (line.action == CommandLine::Action::ExportCsv)
            code = qv::history::RunCsvExport(line.csv);
        else if (line.action == CommandLine::Action::Fail)
            code = CommandLine::kUsageError;
        return code;
    };
    EXPECT_FALSE(run({}).has_value());
    EXPECT_EQ(run({"--export-csv", "a.csv"}), 0);
    EXPECT_EQ(ReadBytes("a.csv"), ReadBytes(kData + "all-cp932.csv"));
    EXPECT_EQ(run({"--export-csv=b.csv", "--utf8"}), 0);
    EXPECT_EQ(ReadBytes("b.csv"), ReadBytes(kData + "all-utf8.csv"));
    // --to takes its whole day.
    EXPECT_EQ(run({"--export-csv", "c.csv", "--from", "2024/01/01", "--to", "2024-01-31"}), 0);
    const std::string all = ReadBytes(kData + "all-cp932.csv");
    size_t end = 0;
    for (int line = 0; line < 4; ++line) end = all.find("\r\n", end) + 2;
    EXPECT_EQ(ReadBytes("c.csv"), all.substr(0, end));

    EXPECT_EQ(run({"--export-csv", "d.csv", "--from", "2024/02/30"}), 2);
    EXPECT_EQ(run({"--export-csv"}), 2);
    EXPECT_EQ(run({"--export-csv", "d.csv", "--frm", "x"}), 2);
    EXPECT_EQ(run({"--export-csv", "missing/d.csv"}), 1);
    EXPECT_FALSE(qv::test::Exists("d.csv"));
    std::filesystem::remove("test.dat");
    EXPECT_EQ(run({"--export-csv", "d.csv"}), 1);
}

}  // namespace

// In a window as short as a high-scale laptop screen leaves it, the charts give up height
// until the table shows its rows, but never below their own minimum; a tall window keeps
// that too.
TEST_F(HistoryWindowTest, TheTableShowsItsRowsAndTheChartsStayWholeInAShortWindow) {
    for (const QSize size : {QSize(960, 515), QSize(1040, 720)}) {
        auto w = Open();
        w->show();
        w->resize(size);
        for (int n = 0; n < 5; ++n) QApplication::processEvents();
        auto* table = Child<QTableView>(w.get(), "sgHistory");
        const int rows = table->viewport()->height() / table->verticalHeader()->defaultSectionSize();
        EXPECT_GE(rows, THistory::kTableRows) << size.width() << "x" << size.height();
        auto* charts = Child<QWidget>(w.get(), "stCharts");
        EXPECT_GE(charts->height(), charts->minimumHeight()) << size.width() << "x" << size.height();
    }
}

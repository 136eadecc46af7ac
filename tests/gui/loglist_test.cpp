#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <cstdlib>
#include <filesystem>
#include <ctime>

#include "app/MenuForm.h"
#include "execution/DonePointForm.h"
#include "execution/LogListForm.h"
#include "rulebook/RuleBook.h"
#include "tests/gui/GuiTest.h"

namespace {

using qv::test::Child;
using qv::test::ReadBytes;
using qv::test::Sjis;
using qv::test::WriteBytes;
using qv::ui::MessageBox;

// 15:00 UTC on 1 January 2003: the 2nd in Japan, still the 1st in London.
const std::string kRec1 = "1041433200\t12\t" + Sjis("窃盗") + "\t29\tA:12 B:18 \t0\t12\t18\t0\t0\t9\r\n";
const std::string kRec2 = "1041800000\t3\tx\t5\t\t1\t0\t0\t0\t0\t0\n";  // bare LF, executed
const std::string kRec3 = "1041900000\t7\ty\t8\tC:2 \tz\t0\t0\t2\t0\t3\r\n";  // mark neither 0 nor 1

class LogListTest : public qv::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        info_.SetRuleBook(&book_);
        info_.SetLogPath("test.log");
        info_.SetBalancePath("user.dat");
        const char* tz = std::getenv("TZ");
        savedTz_ = tz ? tz : "";
        hadTz_ = tz != nullptr;
        SetTz("UTC0");
    }
    void TearDown() override {
        if (hadTz_)
            setenv("TZ", savedTz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        GuiTest::TearDown();
    }
    static void SetTz(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    }

    // A window over the files as they stand, shown (not modal) so its actions can run.
    std::unique_ptr<TLogList> Open() {
        auto window = std::make_unique<TLogList>();
        window->Init(&info_);
        window->show();
        return window;
    }
    static QTableView* Grid(TLogList& w) { return Child<QTableView>(&w, "sgList"); }
    static QString Cell(TLogList& w, int row, int column) {
        return Grid(w)->model()->index(row, column).data().toString();
    }
    static QStringList Row(TLogList& w, int row) {
        QStringList cells;
        for (int c = 0; c < 5; ++c) cells << Cell(w, row, c);
        return cells;
    }
    static int CurrentRow(TLogList& w) {
        QModelIndex i = Grid(w)->currentIndex();
        return i.isValid() ? i.row() : -1;
    }
    static void Click(TLogList& w, const char* name) { Child<QPushButton>(&w, name)->click(); }
    // The confirmations shown since the last call, each checked for its caption.
    QStringList Confirmations() {
        QStringList texts;
        for (const auto& box : MessageBox::TakeShown()) {
            EXPECT_TRUE(box.confirmation) << box.text.toStdString();
            EXPECT_EQ(box.caption, QStringLiteral("確認"));
            texts << box.text;
        }
        return texts;
    }

    CRuleBook book_;
    CInfo info_;
    std::string savedTz_;
    bool hadTz_ = false;
};

TEST_F(LogListTest, ListsTheRecordsNewestFirstWithMarksDatesAndTheBalance) {
    WriteBytes("test.log", kRec1 + kRec2 + "damaged\tline\r\n" + kRec3 + "1\t2\tno line end");
    WriteBytes("user.dat", "a\tb\tc\t0012\te\tf\r\n");
    auto w = Open();

    EXPECT_EQ(w->windowTitle(), QStringLiteral("執行報告"));
    EXPECT_EQ(Child<QLabel>(w.get(), "pnPoint")->text(), QStringLiteral("ポイント残高:0012"));
    QTableView* grid = Grid(*w);
    QStringList headers;
    for (int c = 0; c < grid->model()->columnCount(); ++c)
        headers << grid->model()->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(headers, (QStringList{"識別子", "判決日", "適用条文", "判決内容", "執行"}));
    const int widths[] = {73, 65, 223, 217, 43};
    for (int c = 2; c < 5; ++c) EXPECT_EQ(grid->columnWidth(c), widths[c]) << c;
    // The identifier and date columns are at least as wide, and wide enough to show whole.
    const QFontMetrics metrics(grid->font());
    EXPECT_GE(grid->columnWidth(0), std::max(73, metrics.horizontalAdvance("1041433200") + 6));
    EXPECT_GE(grid->columnWidth(1), std::max(65, metrics.horizontalAdvance("2003/12/31") + 6));
    EXPECT_EQ(grid->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(grid->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);

    ASSERT_EQ(grid->model()->rowCount(), 3) << "records only; damaged lines are kept aside";
    EXPECT_EQ(Row(*w, 0), (QStringList{"1041900000", "2003/ 1/ 7", "7条:y", "C:2 ", "済"}));
    EXPECT_EQ(Row(*w, 1), (QStringList{"1041800000", "2003/ 1/ 5", "3条:x", "", "済"}));
    EXPECT_EQ(Row(*w, 2), (QStringList{"1041433200", "2003/ 1/ 1", "12条:窃盗", "A:12 B:18 ", "未"}));
    EXPECT_EQ(CurrentRow(*w), 0) << "the newest record is selected on opening";
    EXPECT_EQ(grid->selectionModel()->selectedRows().size(), 1);

    SetTz("JST-9");
    w->LoadList();
    EXPECT_EQ(Cell(*w, 2, 1), QStringLiteral("2003/ 1/ 2")) << "local time nine hours ahead";
    const QStringList shown = ShownTexts();
    ASSERT_EQ(shown.size(), 1) << "the damaged lines are named once, on opening";
    EXPECT_TRUE(shown[0].contains(QStringLiteral("2行"))) << shown[0].toStdString();
}

TEST_F(LogListTest, MissingFilesShowNoBalanceAndNoRows) {
    struct Case {
        const char* what;
        const char* balance;  // nullptr: missing
        const char* label;
        bool told;  // a box on opening says the balance file is damaged
    } cases[] = {
        {"missing balance", nullptr, "ポイント残高:", false},
        {"empty balance", "", "ポイント残高:", true},
        {"three fields", "a\tb\tc", "ポイント残高:", true},
        {"four fields show field 3", "a\tb\tc\t5", "ポイント残高:5", true},
    };
    for (const auto& c : cases) {
        std::filesystem::remove("user.dat");
        if (c.balance) WriteBytes("user.dat", c.balance);
        auto w = Open();
        EXPECT_EQ(Child<QLabel>(w.get(), "pnPoint")->text(), QString::fromUtf8(c.label)) << c.what;
        EXPECT_EQ(Grid(*w)->model()->rowCount(), 0) << c.what << ": no log";
        EXPECT_EQ(CurrentRow(*w), -1);
        const QStringList opened = ShownTexts();
        EXPECT_EQ(opened.size(), c.told ? 1 : 0) << c.what;
        if (c.told) {
            EXPECT_TRUE(opened.value(0).contains(QStringLiteral("6つ未満"))) << c.what;
        }
        Click(*w, "btDone");
        Click(*w, "btDelete");
        EXPECT_TRUE(MessageBox::TakeShown().isEmpty()) << c.what;
    }
    EXPECT_FALSE(qv::test::Exists("test.log"));
}

TEST_F(LogListTest, ExecuteThenUnexecuteRewritesOnlyTheMarkAndKeepsDamagedLines) {
    const std::string damaged = "damaged\tline\r\n";
    const std::string tail = "1\t2\tno line end";
    WriteBytes("test.log", kRec1 + damaged + kRec2 + tail);
    WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    auto w = Open();
    EXPECT_EQ(ShownTexts().size(), 1) << "the damaged lines are named on opening";
    Grid(*w)->selectRow(1);  // kRec1, not executed

    MessageBox::QueueAnswer(false);
    Click(*w, "btDone");
    EXPECT_EQ(Confirmations(), QStringList{QStringLiteral("A:12 B:18 を執行済みにします")});
    EXPECT_EQ(ReadBytes("test.log"), kRec1 + damaged + kRec2 + tail) << "Cancel writes nothing";

    MessageBox::QueueAnswer(true);
    Click(*w, "btDone");
    EXPECT_EQ(Confirmations(), QStringList{QStringLiteral("A:12 B:18 を執行済みにします")});
    const std::string executed =
        "1041433200\t12\t" + Sjis("窃盗") + "\t29\tA:12 B:18 \t1\t12\t18\t0\t0\t9\r\n";
    const std::string rec2CrLf = "1041800000\t3\tx\t5\t\t1\t0\t0\t0\t0\t0\r\n";
    EXPECT_EQ(ReadBytes("test.log"), executed + damaged + rec2CrLf + tail);
    EXPECT_EQ(Cell(*w, 1, 4), QStringLiteral("済")) << "refilled";
    EXPECT_EQ(CurrentRow(*w), 1) << "the current row stays";

    MessageBox::QueueAnswer(true);
    Click(*w, "btDone");
    EXPECT_EQ(Confirmations(), QStringList{QStringLiteral("A:12 B:18 を未執行にします")});
    EXPECT_EQ(ReadBytes("test.log"), kRec1 + damaged + rec2CrLf + tail);
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t10\te\tf") << "the balance is not touched";
}

TEST_F(LogListTest, TheHeaderRowCurrentDoesNothing) {
    WriteBytes("test.log", kRec1);
    auto w = Open();
    Grid(*w)->setCurrentIndex(QModelIndex());
    MessageBox::QueueAnswer(true);
    Click(*w, "btDone");
    Click(*w, "btDelete");
    EXPECT_TRUE(MessageBox::TakeShown().isEmpty()) << "no confirmation";
    EXPECT_EQ(ReadBytes("test.log"), kRec1);
}

TEST_F(LogListTest, DeleteTakesEveryRecordOfTheIdentifierAndItsPointsOffTheBalance) {
    const std::string twin = "1041433200\t4\tq\t9\tB:3 \t1\t0\t3\t0\t0\t0\r\n";  // same id, 0 points
    const std::string other = "1041433300\t5\tr\t9\t\t0\t0\t0\t0\t0\t6\r\n";
    struct Case {
        const char* what;
        std::string log;
        int row;
        std::string balanceBefore;
        std::string balanceAfter;
        std::string logAfter;
        int rowsAfter;
    } cases[] = {
        {"20 - 9 = 11, both records of the identifier", kRec1 + other + twin, 0,
         "a\tb\tc\t20\te\tf", "a\tb\tc\t11\te\tf\r\n", other, 1},
        {"5 - 9 floors at 0", kRec1 + other, 1, "a\tb\tc\t5\te\tf", "a\tb\tc\t0\te\tf\r\n", other,
         1},
        {"points 0 leave the balance untouched", twin + other, 1, "a\tb\tc\t20\te\tf",
         "a\tb\tc\t20\te\tf", other, 1},
        {"the last record leaves an empty log", kRec1, 0, "a\tb\tc\t20\te\tf",
         "a\tb\tc\t11\te\tf\r\n", "", 0},
    };
    for (const auto& c : cases) {
        WriteBytes("test.log", c.log);
        WriteBytes("user.dat", c.balanceBefore);
        auto w = Open();
        Grid(*w)->selectRow(c.row);

        MessageBox::QueueAnswer(false);
        Click(*w, "btDelete");
        // The seed's question, then which sentence it is and that it goes to the trash.
        const QStringList asked = Confirmations();
        ASSERT_EQ(asked.size(), 1) << c.what;
        EXPECT_EQ(asked[0].section(QLatin1Char('\n'), 0, 0), QStringLiteral("選択された判決を削除します"))
            << c.what;
        EXPECT_TRUE(asked[0].contains(QStringLiteral("判決: "))) << c.what;
        EXPECT_TRUE(asked[0].contains(QStringLiteral("ごみ箱に移ります"))) << c.what;
        EXPECT_EQ(asked[0].contains(QStringLiteral("ポイントをポイント残高から差し引きます")),
                  c.balanceBefore != c.balanceAfter)
            << c.what;
        EXPECT_EQ(ReadBytes("test.log"), c.log) << c.what << ": Cancel writes nothing";
        EXPECT_EQ(ReadBytes("user.dat"), c.balanceBefore) << c.what;

        MessageBox::QueueAnswer(true);
        Click(*w, "btDelete");
        EXPECT_EQ(Confirmations().size(), 1) << c.what;
        EXPECT_EQ(ReadBytes("user.dat"), c.balanceAfter) << c.what;
        EXPECT_EQ(ReadBytes("test.log"), c.logAfter) << c.what;
        EXPECT_EQ(Grid(*w)->model()->rowCount(), c.rowsAfter) << c.what;
        const QString shownBalance = QString::fromStdString(c.balanceAfter).section('\t', 3, 3);
        EXPECT_EQ(Child<QLabel>(w.get(), "pnPoint")->text(), "ポイント残高:" + shownBalance) << c.what;
    }
}

TEST_F(LogListTest, ADeleteWhosePointsCannotBeTakenOffChangesNothing) {
    for (const char* balance : {static_cast<const char*>(nullptr), "a\tb\tc\t20"}) {
        std::filesystem::remove("user.dat");
        if (balance) WriteBytes("user.dat", balance);
        WriteBytes("test.log", kRec1);
        auto w = Open();
        EXPECT_EQ(ShownTexts().size(), balance ? 1 : 0) << "a short balance is named on opening";
        MessageBox::QueueAnswer(true);
        Click(*w, "btDelete");
        const auto shown = MessageBox::TakeShown();
        ASSERT_EQ(shown.size(), 2);
        EXPECT_FALSE(shown[1].confirmation);
        EXPECT_TRUE(shown[1].text.contains(QStringLiteral("user.dat")));
        EXPECT_TRUE(shown[1].text.contains(QStringLiteral("判決は削除しませんでした")));
        EXPECT_EQ(ReadBytes("test.log"), kRec1);
        EXPECT_EQ(ReadBytes("user.dat"), balance ? balance : "<missing>");
        EXPECT_EQ(Grid(*w)->model()->rowCount(), 1);
    }
}

TEST_F(LogListTest, ThePointReportOpensFromTheListAndTheListRefillsAfterIt) {
    book_.SetImpName(0, Sjis("腕立て"));
    book_.SetImpWeight(0, 10);
    WriteBytes("user.dat", "a\tb\tc\t20\te\tf");
    auto w = Open();
    qv::test::WhenModalOpens([](QWidget* modal) {
        ASSERT_NE(qobject_cast<TDonePoint*>(modal), nullptr);
        Child<QLineEdit>(modal, "tfImp1")->setText("7");
        MessageBox::QueueAnswer(true);
        Child<QPushButton>(modal, "btOK")->click();
    });
    Click(*w, "btnPoint");
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t13\te\tf");
    EXPECT_EQ(Child<QLabel>(w.get(), "pnPoint")->text(), QStringLiteral("ポイント残高:13"));
}

TEST_F(LogListTest, TheMainMenuOpensTheExecutionReport) {
    WriteBytes("test.dat", "qvrule\t1\tid1\t0\tA\t10\tB\t5\tC\t7\tD\t10\r\n");
    WriteBytes("test.log", kRec1);
    TForm1 menu;
    ASSERT_TRUE(menu.IsLoaded());
    menu.show();
    bool opened = false;
    qv::test::WhenModalOpens([&](QWidget* modal) {
        auto* list = qobject_cast<TLogList*>(modal);
        ASSERT_NE(list, nullptr);
        opened = true;
        EXPECT_EQ(list->parentWidget(), &menu);
        EXPECT_EQ(Grid(*list)->model()->rowCount(), 1);
        Child<QPushButton>(list, "btExit")->click();
    });
    Child<QPushButton>(&menu, "Button1")->click();
    EXPECT_TRUE(opened);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "closed by 終了";
    EXPECT_EQ(ReadBytes("test.log"), kRec1);
}

// Under the list: how many records, how many not executed and their sentences, the balance.
TEST_F(LogListTest, TheStatusLineCountsWhatIsLeftToExecute) {
    WriteBytes("test.log", kRec1 + kRec2 + "damaged\tline\r\n" + kRec3);
    WriteBytes("user.dat", "a\tb\tc\t20\te\tf");
    auto w = Open();
    auto* status = Child<QLabel>(w.get(), "pnStatus");
    // kRec3's mark is neither "0" nor "1": shown "済", so not counted as waiting.
    EXPECT_EQ(status->text(),
              QStringLiteral("記録3件　未執行1件（量刑計29ポイント）　ポイント残高:20"));
    EXPECT_GT(status->geometry().top(), Grid(*w)->geometry().bottom()) << "under the list";

    Grid(*w)->selectRow(1);  // kRec2, executed: un-execute it
    MessageBox::QueueAnswer(true);
    Click(*w, "btDone");
    EXPECT_EQ(status->text(),
              QStringLiteral("記録3件　未執行2件（量刑計34ポイント）　ポイント残高:20"));

    std::filesystem::remove("user.dat");
    WriteBytes("test.log", "");
    w->LoadList();
    EXPECT_EQ(status->text(), QStringLiteral("記録0件　未執行0件（量刑計0ポイント）　ポイント残高:不明"));
}

}  // namespace

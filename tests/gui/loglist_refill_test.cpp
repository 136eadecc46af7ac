// The execution report refills what an action changed and nothing more: an 執行 redraws
// the marked rows and moves the figures by them, a point report (and its undo) the balance
// alone; the verdict text is looked up for the row shown and again once its file changes.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <cstdlib>

#include "execution/DonePointForm.h"
#include "execution/LogListForm.h"
#include "records/DataFolder.h"
#include "rulebook/RuleBook.h"
#include "tests/gui/GuiTest.h"

namespace {

using qv::test::Child;
using qv::test::ReadBytes;
using qv::test::WriteBytes;
using qv::ui::MessageBox;

// Sentences of 10, 20, 30 and 40 points; the first two share an identifier.
std::string Record(const char* id, int total, char mark) {
    return std::string(id) + "\t1\tx\t" + std::to_string(total) + "\tA:1 \t" + mark +
           "\t1\t0\t0\t0\t2\r\n";
}
const std::string kLog = Record("1041433200", 10, '0') + Record("1041433200", 20, '1') +
                         Record("1041500000", 30, '0') + Record("1041600000", 40, '1');

class LogListRefill : public qv::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        setenv("TZ", "UTC0", 1);
        tzset();
        book_.SetImpName(0, "A");
        book_.SetImpWeight(0, 10);
        info_.SetRuleBook(&book_);
        AttachFolder(info_, DataFolder());
        WriteBytes("test.log", kLog);
        WriteBytes("user.dat", "a\tb\tc\t20\te\tf");
    }
    std::unique_ptr<TLogList> Open() {
        auto window = std::make_unique<TLogList>();
        window->Init(&info_);
        window->show();
        ShownTexts();  // a new ledger's first word, if any
        return window;
    }
    static QTableView* Grid(TLogList& w) { return Child<QTableView>(&w, "sgList"); }
    static QStringList Marks(TLogList& w) {
        QStringList marks;
        for (int r = 0; r < Grid(w)->model()->rowCount(); ++r)
            marks << Grid(w)->model()->index(r, 4).data().toString();
        return marks;
    }
    static QString Status(TLogList& w) { return Child<QLabel>(&w, "pnStatus")->text(); }

    CRuleBook book_;
    CInfo info_;
};

TEST_F(LogListRefill, AnExecuteRedrawsTheMarkedRowsAndMovesTheFigures) {
    struct Case {
        const char* what;
        int row;  // 0 = the newest record
        int first, last;  // the rows redrawn
        QStringList marks;
        const char* status;
        std::string log;
    } cases[] = {
        {"un-execute the newest", 0, 0, 0, {"未", "未", "済", "未"},
         "記録4件　未執行3件（量刑計80ポイント）　ポイント残高:20",
         Record("1041433200", 10, '0') + Record("1041433200", 20, '1') +
             Record("1041500000", 30, '0') + Record("1041600000", 40, '0')},
        {"execute one in the middle", 1, 1, 1, {"済", "済", "済", "未"},
         "記録4件　未執行1件（量刑計10ポイント）　ポイント残高:20",
         Record("1041433200", 10, '0') + Record("1041433200", 20, '1') +
             Record("1041500000", 30, '1') + Record("1041600000", 40, '1')},
        {"execute two sharing an identifier", 3, 2, 3, {"済", "未", "済", "済"},
         "記録4件　未執行1件（量刑計30ポイント）　ポイント残高:20",
         Record("1041433200", 10, '1') + Record("1041433200", 20, '1') +
             Record("1041500000", 30, '0') + Record("1041600000", 40, '1')},
    };
    for (const Case& c : cases) {
        WriteBytes("test.log", kLog);
        auto w = Open();
        EXPECT_EQ(Status(*w), QStringLiteral("記録4件　未執行2件（量刑計40ポイント）　ポイント残高:20"));
        Grid(*w)->selectRow(c.row);
        QAbstractItemModel* model = Grid(*w)->model();
        QSignalSpy reset(model, &QAbstractItemModel::modelReset);
        QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
        MessageBox::QueueAnswer(true);
        Child<QPushButton>(w.get(), "btDone")->click();
        EXPECT_EQ(MessageBox::TakeShown().size(), 1u) << c.what << ": the confirmation alone";

        EXPECT_EQ(ReadBytes("test.log"), c.log) << c.what;
        EXPECT_EQ(Marks(*w), c.marks) << c.what;
        EXPECT_EQ(Status(*w), QString::fromUtf8(c.status)) << c.what;
        EXPECT_EQ(reset.count(), 0) << c.what << ": the rows are not refilled";
        ASSERT_EQ(changed.count(), 1) << c.what;
        EXPECT_EQ(changed[0][0].value<QModelIndex>().row(), c.first) << c.what;
        EXPECT_EQ(changed[0][1].value<QModelIndex>().row(), c.last) << c.what;
        EXPECT_EQ(Grid(*w)->currentIndex().row(), c.row) << c.what << ": the current row stays";
        EXPECT_EQ(Grid(*w)->selectionModel()->selectedRows().size(), 1) << c.what;
    }
}

// Two records of one identifier that do not stand together: both are marked and shown,
// the figures added up again.
TEST_F(LogListRefill, AnIdentifierAlsoElsewhereInTheLogIsMarkedEverywhere) {
    const std::string log = Record("1041433200", 10, '0') + Record("1041500000", 30, '0') +
                            Record("1041433200", 20, '0');
    WriteBytes("test.log", log);
    auto w = Open();
    Grid(*w)->selectRow(0);
    MessageBox::QueueAnswer(true);
    Child<QPushButton>(w.get(), "btDone")->click();
    EXPECT_EQ(Marks(*w), (QStringList{"済", "未", "済"}));
    EXPECT_EQ(Status(*w), QStringLiteral("記録3件　未執行1件（量刑計30ポイント）　ポイント残高:20"));
    EXPECT_EQ(ReadBytes("test.log"), Record("1041433200", 10, '1') + Record("1041500000", 30, '0') +
                                         Record("1041433200", 20, '1'));
}

TEST_F(LogListRefill, APointReportAndItsUndoChangeTheBalanceAndLeaveTheRows) {
    auto w = Open();
    Grid(*w)->selectRow(2);
    // Written behind the window's back: a refill that read the log would show it.
    WriteBytes("test.log", kLog + Record("1041700000", 50, '0'));
    QSignalSpy reset(Grid(*w)->model(), &QAbstractItemModel::modelReset);
    qv::test::WhenModalOpens([](QWidget* modal) {
        ASSERT_NE(qobject_cast<TDonePoint*>(modal), nullptr);
        Child<QLineEdit>(modal, "tfImp1")->setText("7");
        MessageBox::QueueAnswer(true);
        Child<QPushButton>(modal, "btOK")->click();
    });
    Child<QPushButton>(w.get(), "btnPoint")->click();
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t13\te\tf");
    EXPECT_EQ(Child<QLabel>(w.get(), "pnPoint")->text(), QStringLiteral("ポイント残高:13"));
    EXPECT_EQ(Status(*w), QStringLiteral("記録4件　未執行2件（量刑計40ポイント）　ポイント残高:13"));
    EXPECT_EQ(Grid(*w)->model()->rowCount(), 4) << "the log is not read again";
    EXPECT_EQ(reset.count(), 0);
    EXPECT_EQ(Grid(*w)->currentIndex().row(), 2);

    Child<QAction>(w.get(), "acUndo")->trigger();
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t20\te\tf");
    EXPECT_EQ(Child<QLabel>(w.get(), "pnPoint")->text(), QStringLiteral("ポイント残高:20"));
    EXPECT_TRUE(Status(*w).startsWith(QStringLiteral("元に戻しました: ポイント執行報告")))
        << Status(*w).toStdString();
    EXPECT_TRUE(Status(*w).endsWith(QStringLiteral("記録4件　未執行2件（量刑計40ポイント）　ポイント残高:20")))
        << Status(*w).toStdString();
    EXPECT_EQ(reset.count(), 0) << "an undone report leaves the rows too";
    EXPECT_EQ(ShownTexts(), QStringList{QStringLiteral("A:7\r\n以上合計7ポイントで報告します。")})
        << "the report's confirmation alone";

    // A balance file broken meanwhile is told once, as a full refill would.
    WriteBytes("user.dat", "a\tb");
    qv::test::WhenModalOpens(
        [](QWidget* modal) { Child<QPushButton>(modal, "btCancel")->click(); });
    Child<QPushButton>(w.get(), "btnPoint")->click();
    EXPECT_EQ(Child<QLabel>(w.get(), "pnPoint")->text(), QStringLiteral("ポイント残高:"));
    EXPECT_EQ(ShownTexts().size(), 1);
}

TEST_F(LogListRefill, TheVerdictTextIsLookedUpForTheRowShownAndAgainWhenItsFileChanges) {
    WriteBytes("test.rsn", "1041600000\tnewest\tverdict\r\n");
    auto w = Open();
    auto* memo = Child<QPlainTextEdit>(w.get(), "mmReasons");
    EXPECT_EQ(memo->toPlainText(), QStringLiteral("newest\nverdict"));
    Grid(*w)->selectRow(1);
    EXPECT_TRUE(memo->toPlainText().startsWith(QStringLiteral("この判決の判決理由は残っていません")));
    // Kept by another program meanwhile (a second instance, a synced copy).
    WriteBytes("test.rsn", "1041600000\tnewest\tverdict\r\n1041500000\tmiddle\r\n");
    Grid(*w)->selectRow(0);
    Grid(*w)->selectRow(1);
    EXPECT_EQ(memo->toPlainText(), QStringLiteral("middle"));
    MessageBox::QueueAnswer(true);
    Child<QPushButton>(w.get(), "btDone")->click();
    EXPECT_EQ(memo->toPlainText(), QStringLiteral("middle")) << "the row marked stays shown";
}

}  // namespace

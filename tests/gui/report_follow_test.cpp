// The execution report behind the trash follows what a restore there does: the balance
// and the rows change while the trash is still open, not only once it closes.
#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>

#include "execution/LogListForm.h"
#include "records/DataFolder.h"
#include "rulebook/RuleBook.h"
#include "tests/gui/GuiTest.h"

namespace {

using qv::test::Child;
using qv::test::Sjis;
using qv::test::WriteBytes;

class ReportFollowTest : public qv::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        WriteBytes("test.dat", Sjis("qvrule\t1\tid1\t0\tA\t10\tB\t5\tC\t3\tD\t10\r\n"
                                    "1\t0\t0\t遅刻\t本文\t\t20\t10\t10\t3\t3\t2\t0\t2\r\n"));
        WriteBytes("user.dat", "quorvel\t1\tuser\t1019\t0\t0");
        WriteBytes("test.log", Sjis("1700000000\t1\t遅刻\t20\tA:12 \t0\t12\t0\t0\t0\t4\r\n"
                                    "1700090000\t1\t遅刻\t25\tA:17 \t0\t17\t0\t0\t0\t5\r\n"));
        book_.SetFileName("test.dat");
        ASSERT_TRUE(book_.LoadFile());
        info_.SetRuleBook(&book_);
        info_.SetLogPath("test.log");
        info_.SetBalancePath("user.dat");
        AttachFolder(info_, DataFolder());  // the ledger, the trash and the undo
    }
    CRuleBook book_;
    CInfo info_;
};

TEST_F(ReportFollowTest, ARestoreInTheTrashShowsInTheReportAtOnce) {
    TLogList list;
    list.Init(&info_);
    list.show();
    auto* balance = Child<QLabel>(&list, "pnPoint");
    qv::ui::MessageBox::QueueAnswer(true);
    Child<QPushButton>(&list, "btDelete")->click();  // the newest, 5 points
    ASSERT_EQ(balance->text(), QStringLiteral("ポイント残高:1014"));
    const QStringList told = ShownTexts();
    EXPECT_EQ(told.size(), 1) << told.join(QStringLiteral("|")).toStdString();

    bool seen = false;
    qv::test::WhenModalOpens([&](QWidget* trash) {
        auto* grid = Child<QTableWidget>(trash, "sgTrash");
        ASSERT_EQ(grid->rowCount(), 1);
        grid->selectRow(0);
        qv::ui::MessageBox::QueueAnswer(true);
        Child<QPushButton>(trash, "btRestore")->click();
        EXPECT_EQ(balance->text(), QStringLiteral("ポイント残高:1019")) << "while the trash is open";
        EXPECT_EQ(Child<QTableView>(&list, "sgList")->model()->rowCount(), 2);
        seen = true;
        trash->close();
    });
    list.findChild<QAction*>(QStringLiteral("acTrash"))->trigger();
    EXPECT_TRUE(seen);
}

}  // namespace

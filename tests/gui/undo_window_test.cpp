// The windows with the ledger, the trash and the backups switched on, as the program runs:
// 元に戻す puts a deleted sentence and a report back exactly, a hand-edited balance is
// found and reconciled, and the rule list's delete is undone and trashed on save.
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTest>

#include "execution/LogListForm.h"
#include "records/Backups.h"
#include "records/Ledger.h"
#include "records/Trash.h"
#include "rulebook/RuleBook.h"
#include "rules/RuleEditForm.h"
#include "tests/gui/GuiTest.h"

namespace {

using qv::test::Child;
using qv::test::ReadBytes;
using qv::test::WriteBytes;
using qv::ui::MessageBox;

// Ctrl+Z where the keyboard is, as a user presses it.
void PressUndo(QWidget* window) {
    QWidget* target = QApplication::focusWidget();
    QTest::keyClick(target ? target : window, Qt::Key_Z, Qt::ControlModifier);
}

const std::string kLog =
    "1700000000\t1\tX\t30\tA:3 \t0\t3\t0\t0\t0\t9\r\n"
    "1700000100\t1\tX\t30\tA:3 \t0\t3\t0\t0\t0\t4\r\n"
    "1700000200\t1\tX\t30\tA:3 \t0\t3\t0\t0\t0\t2\r\n";

class UndoWindows : public qv::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        WriteBytes("test.dat",
                   "qvrule\t1\tid1\t0\tA\t10\tB\t5\tC\t7\tD\t10\r\n"
                   "1\t1\t2\tX\tY\tZ\t30\t15\t12\t4\t3\t0\t0\t3\r\n"
                   "2\t1\t2\tW\tV\tU\t10\t15\t12\t4\t3\t0\t0\t3\r\n");
        book_.SetFileName("test.dat");
        ASSERT_TRUE(book_.LoadFile());
        info_.SetRuleBook(&book_);
        info_.SetLogPath("test.log");
        info_.SetBalancePath("user.dat");
        info_.SetLedgerPath("user.ldg");
        info_.SetTrashPath("test.trs");
        info_.SetBackupFolder("backup");
    }
    std::unique_ptr<TLogList> Open() {
        auto window = std::make_unique<TLogList>();
        window->Init(&info_);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        return window;
    }
    CRuleBook book_;
    CInfo info_;
};

TEST_F(UndoWindows, ADeleteUndoneWithCtrlZPutsBackTheBytesAndThePoints) {
    WriteBytes("test.log", kLog);
    WriteBytes("user.dat", "a\tb\tc\t6\te\tf");
    auto w = Open();
    EXPECT_TRUE(ShownTexts().isEmpty()) << "a new ledger starts without a word";
    EXPECT_TRUE(qv::test::Exists("user.ldg"));
    // Row 2 is the middle record (newest first): 4 points asked of a balance of 6.
    Child<QTableView>(w.get(), "sgList")->selectRow(1);
    MessageBox::QueueAnswer(true);
    Child<QPushButton>(w.get(), "btDelete")->click();
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t2\te\tf\r\n");
    EXPECT_EQ(ShownTexts().size(), 1) << "the confirmation alone";
    Trash::Contents trash;
    Trash("test.trs").Read(trash);
    ASSERT_EQ(trash.entries.size(), 1u);

    PressUndo(w.get());
    EXPECT_EQ(ReadBytes("test.log"), kLog);
    EXPECT_EQ(ReadBytes("user.dat").substr(0, 8), "a\tb\tc\t6\t");
    Trash("test.trs").Read(trash);
    EXPECT_TRUE(trash.entries.empty());
    EXPECT_TRUE(ShownTexts().isEmpty());

    // The ledger shows where the balance came from, for the selected sentence.
    Child<QTableView>(w.get(), "sgList")->selectRow(1);
    qv::test::WhenModalOpens([](QWidget* view) {
        const QString text = Child<QPlainTextEdit>(view, "mmLedger")->toPlainText();
        EXPECT_TRUE(text.contains(QStringLiteral("差引(削除)"))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("元に戻す"))) << text.toStdString();
        EXPECT_FALSE(text.contains(QStringLiteral("開始"))) << "another sentence's line";
        view->close();
    });
    Child<QPushButton>(w.get(), "btLedger")->click();
    EXPECT_EQ(Backups("backup").List().size(), 4u);
}

TEST_F(UndoWindows, AHandEditedBalanceIsShownOnceAndRecordedOnOk) {
    WriteBytes("test.log", kLog);
    WriteBytes("user.dat", "a\tb\tc\t6\te\tf");
    WriteBytes("user.ldg", "1\topen\t\t\t10\t0\t10\r\n");
    MessageBox::QueueAnswer(true);
    auto w = Open();
    const auto shown = MessageBox::TakeShown();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].confirmation);
    EXPECT_TRUE(shown[0].text.contains(QStringLiteral("残高 6 が、ポイント台帳の残高 10 と")))
        << shown[0].text.toStdString();
    EXPECT_EQ(Ledger("user.ldg").CheckAgainst(PointBalance("user.dat"), 2).result,
              Ledger::Check::Result::Agrees);
    w->LoadList();
    EXPECT_TRUE(MessageBox::TakeShown().isEmpty());
}

TEST_F(UndoWindows, TheRuleListUndoesADeleteAndTrashesItOnSave) {
    TRuleEdit list;
    list.Init(&info_);
    list.show();
    list.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&list));
    auto* grid = Child<QTableWidget>(&list, "sgRules");
    grid->setCurrentCell(0, 0);
    MessageBox::QueueAnswer(true);
    Child<QPushButton>(&list, "Button1")->click();
    EXPECT_EQ(book_.RuleCount(), 1);
    PressUndo(&list);
    ASSERT_EQ(book_.RuleCount(), 2);
    EXPECT_EQ(book_.FindRule(1)->GetName(), "X");

    const std::string saved = ReadBytes("test.dat");
    grid->setCurrentCell(1, 0);
    MessageBox::QueueAnswer(true);
    Child<QPushButton>(&list, "Button1")->click();
    ShownTexts();
    Child<QPushButton>(&list, "btSave")->click();
    EXPECT_TRUE(ShownTexts().isEmpty());
    Trash::Contents trash;
    Trash("test.trs").Read(trash);
    ASSERT_EQ(trash.entries.size(), 1u);
    EXPECT_EQ(trash.entries[0].kind, Trash::Kind::Article);
    EXPECT_TRUE(trash.entries[0].payload.starts_with("2\t")) << trash.entries[0].payload;
    const auto backups = Backups("backup").List();
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(ReadBytes("backup/" + backups[0].name), saved) << "the version replaced";

    // Undone after the save: back in the book, out of the trash.
    PressUndo(&list);
    EXPECT_EQ(book_.RuleCount(), 2);
    Trash("test.trs").Read(trash);
    EXPECT_TRUE(trash.entries.empty());
}

}  // namespace

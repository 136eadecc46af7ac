// The windows with the ledger, the trash and the backups switched on, as the program runs:
// 元に戻す puts a deleted sentence and a report back exactly, a hand-edited balance is
// found and reconciled, and the rule list's delete is undone and trashed on save.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <filesystem>

#include "execution/LogListForm.h"
#include "execution/Undo.h"
#include "records/Backups.h"
#include "records/Ledger.h"
#include "records/Trash.h"
#include "rulebook/RuleBook.h"
#include "rules/RuleEditForm.h"
#include "tests/gui/GuiTest.h"
#include "records/DataFolder.h"

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
        AttachFolder(info_, DataFolder());
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
    // The status line says what Ctrl+Z undid.
    const QString status = Child<QLabel>(w.get(), "pnStatus")->text();
    EXPECT_TRUE(status.startsWith(QStringLiteral("元に戻しました: 削除した判決（"))) << status.toStdString();
    EXPECT_TRUE(status.contains(QStringLiteral("X（A:3）"))) << status.toStdString();
    Trash("test.trs").Read(trash);
    EXPECT_TRUE(trash.entries.empty());
    EXPECT_TRUE(ShownTexts().isEmpty());

    // The ledger shows where the balance came from, for the selected sentence, and on
    // request all of it.
    Child<QTableView>(w.get(), "sgList")->selectRow(1);
    qv::test::WhenModalOpens([](QWidget* view) {
        auto* grid = Child<QTableWidget>(view, "sgLedger");
        QStringList kinds;
        for (int r = 0; r < grid->rowCount(); ++r) kinds << grid->item(r, 1)->text();
        EXPECT_EQ(kinds, (QStringList{QStringLiteral("削除の差引"), QStringLiteral("元に戻す")}));
        EXPECT_EQ(grid->item(0, 4)->text(), QStringLiteral("-4"));
        EXPECT_EQ(grid->item(1, 6)->text(), QStringLiteral("6"));
        EXPECT_TRUE(Child<QLabel>(view, "pnSum")->text().contains(QStringLiteral("差引 -4")));
        Child<QCheckBox>(view, "cbAll")->setChecked(true);
        EXPECT_EQ(grid->rowCount(), 3) << "the opening line too";
        view->close();
    });
    Child<QAction>(w.get(), "acLedger")->trigger();
    EXPECT_EQ(Backups("backup").List().size(), 4u);

    // An execution mark undone says so too.
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    Child<QTableView>(w.get(), "sgList")->selectRow(0);
    MessageBox::QueueAnswer(true);
    Child<QPushButton>(w.get(), "btDone")->click();
    ASSERT_EQ(ShownTexts().size(), 1);
    PressUndo(w.get());
    EXPECT_TRUE(Child<QLabel>(w.get(), "pnStatus")
                    ->text()
                    .startsWith(QStringLiteral("元に戻しました: 執行済みにした判決（A:3）")))
        << Child<QLabel>(w.get(), "pnStatus")->text().toStdString();
    EXPECT_EQ(ReadBytes("test.log"), kLog);

    // A mark and its undo redraw the marked row and the figures alone; the current row
    // stays where it was.
    auto* list = Child<QTableView>(w.get(), "sgList");
    const auto mark = [&](int row) { return list->model()->index(row, 4).data().toString(); };
    const auto statusLine = [&] { return Child<QLabel>(w.get(), "pnStatus")->text(); };
    list->selectRow(2);
    MessageBox::QueueAnswer(true);
    Child<QPushButton>(w.get(), "btDone")->click();
    EXPECT_EQ(mark(2), QStringLiteral("済"));
    EXPECT_EQ(mark(1), QStringLiteral("未"));
    EXPECT_TRUE(statusLine().startsWith(QStringLiteral("記録3件　未執行2件（量刑計60ポイント）")))
        << statusLine().toStdString();
    PressUndo(w.get());
    EXPECT_EQ(mark(2), QStringLiteral("未"));
    EXPECT_EQ(list->currentIndex().row(), 2);
    EXPECT_TRUE(statusLine().contains(QStringLiteral("記録3件　未執行3件（量刑計90ポイント）")))
        << statusLine().toStdString();
    EXPECT_EQ(ReadBytes("test.log"), kLog);
}

// A delete and its undo move only their rows: the window then shows, row for row and in
// its status line, what a window opened afresh on the files shows, and the current row
// stays at its place. A log changed by hand under the window is read again instead.
TEST_F(UndoWindows, ADeleteAndItsUndoShowWhatAFreshWindowShows) {
    const std::string log = kLog + "garbled line\r\n" +
                            "1700000300\t1\tX\t30\tA:3 \t1\t3\t0\t0\t0\t5\r\n"
                            "1700000300\t2\tW\t10\tA:1 \t0\t1\t0\t0\t0\t1\r\n"
                            "1700000400\t1\tX\t30\tA:3 \t0\t3\t0\t0\t0\t7\r\n";
    const auto rowsOf = [](TLogList* window) {
        auto* model = Child<QTableView>(window, "sgList")->model();
        QStringList rows;
        for (int r = 0; r < model->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < model->columnCount(); ++c)
                cells << model->index(r, c).data().toString();
            rows << cells.join(QLatin1Char('|'));
        }
        return rows;
    };
    const auto figures = [](TLogList* window) {
        QString text = Child<QLabel>(window, "pnStatus")->text();
        return text.mid(text.indexOf(QStringLiteral("記録")));
    };
    const auto sameAsFresh = [&](TLogList* window, const char* when) {
        const auto fresh = Open();
        EXPECT_EQ(rowsOf(window), rowsOf(fresh.get())) << when;
        EXPECT_EQ(figures(window), figures(fresh.get())) << when;
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    };
    struct Case {
        const char* what;
        int row;
        bool editedUnder;
    } cases[] = {
        {"the newest", 0, false},
        {"an identifier with two records", 1, false},
        {"one before a damaged line", 3, false},
        {"the oldest", 5, false},
        {"a log edited by hand meanwhile", 1, true},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.what);
        WriteBytes("test.log", log);
        WriteBytes("user.dat", "a\tb\tc\t60\te\tf");
        auto w = Open();
        auto* list = Child<QTableView>(w.get(), "sgList");
        list->selectRow(t.row);
        if (t.editedUnder)
            WriteBytes("test.log", log + "1700000500\t1\tX\t30\tA:3 \t0\t3\t0\t0\t0\t2\r\n");
        MessageBox::QueueAnswer(true);
        Child<QPushButton>(w.get(), "btDelete")->click();
        ShownTexts();
        EXPECT_EQ(list->currentIndex().row(), std::min(t.row, list->model()->rowCount() - 1));
        sameAsFresh(w.get(), "after the delete");
        list->selectRow(t.row > 0 ? t.row - 1 : 0);
        const int current = list->currentIndex().row();
        PressUndo(w.get());
        EXPECT_EQ(list->currentIndex().row(), current);
        sameAsFresh(w.get(), "after the undo");
        EXPECT_EQ(ReadBytes("test.log").substr(0, log.size()), log);
        ShownTexts();
    }
}

// The ledger, the trash and the backups are a key away, and a button over the reasons.
TEST_F(UndoWindows, TheReportOpensTheLedgerTrashAndBackupsByKeyAndButton) {
    WriteBytes("test.log", kLog);
    WriteBytes("user.dat", "a\tb\tc\t6\te\tf");
    auto w = Open();
    const struct {
        Qt::Key key;
        const char* window;
    } cases[] = {{Qt::Key_L, "TLedger"}, {Qt::Key_T, "TTrash"}, {Qt::Key_B, "TBackups"}};
    auto* menu = Child<QPushButton>(w.get(), "btRecords")->menu();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 3);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].window);
        for (bool byKey : {true, false}) {
            bool opened = false;
            qv::test::WhenModalOpens([&](QWidget* window) {
                opened = true;
                EXPECT_EQ(window->objectName(), QString::fromLatin1(cases[i].window));
                window->close();
            });
            if (byKey)
                QTest::keyClick(QApplication::focusWidget(), cases[i].key, Qt::ControlModifier);
            else
                menu->actions()[static_cast<int>(i)]->trigger();
            EXPECT_TRUE(QTest::qWaitFor([&] { return opened; })) << (byKey ? "key" : "button");
            w->activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(w.get()));
        }
    }
}

// The trash window: a deleted sentence restored from it comes back with its bytes and
// points (and leaves the window's undo stack), an entry removed for good is gone, and an
// article goes back into the book, which is saved.
TEST_F(UndoWindows, TheTrashWindowRestoresAndRemovesForGood) {
    WriteBytes("test.log", kLog);
    WriteBytes("user.dat", "a\tb\tc\t20\te\tf");
    auto w = Open();
    for (int i = 0; i < 2; ++i) {  // the newest two: 2 and 4 points
        Child<QTableView>(w.get(), "sgList")->selectRow(0);
        MessageBox::QueueAnswer(true);
        Child<QPushButton>(w.get(), "btDelete")->click();
    }
    ASSERT_EQ(ReadBytes("user.dat"), "a\tb\tc\t14\te\tf\r\n\r\n");
    ShownTexts();
    // An article deleted in the rule list, already in the trash.
    Trash::Entry article{0, Trash::Kind::Article,       1700000300, 0, {},
                         0, book_.FindRule(2)->ToLine()};
    std::vector<Trash::Entry> entries{article};
    ASSERT_TRUE(Trash("test.trs").Append(entries));
    book_.RemoveRule(2);

    qv::test::WhenModalOpens([&](QWidget* trash) {
        auto* grid = Child<QTableWidget>(trash, "sgTrash");
        ASSERT_EQ(grid->rowCount(), 3);
        EXPECT_EQ(grid->item(0, 1)->text(), QStringLiteral("条文"));
        EXPECT_EQ(grid->item(0, 2)->text(), QStringLiteral("2条 W"));
        EXPECT_EQ(grid->item(1, 2)->text().left(10), QStringLiteral("1700000100"));
        EXPECT_EQ(grid->item(1, 3)->text(), QStringLiteral("4"));
        // The sentence deleted last comes back.
        grid->selectRow(1);
        MessageBox::QueueAnswer(true);
        Child<QPushButton>(trash, "btRestore")->click();
        EXPECT_EQ(grid->rowCount(), 2);
        // The article comes back into the book, which is saved with it.
        grid->selectRow(0);
        MessageBox::QueueAnswer(true);
        Child<QPushButton>(trash, "btRestore")->click();
        ASSERT_NE(book_.FindRule(2), nullptr);
        EXPECT_NE(ReadBytes("test.dat").find("\r\n2\t"), std::string::npos);
        // The other sentence goes for good.
        ASSERT_EQ(grid->rowCount(), 1);
        grid->selectRow(0);
        MessageBox::QueueAnswer(true);
        Child<QPushButton>(trash, "btPurge")->click();
        EXPECT_EQ(grid->rowCount(), 0);
        trash->close();
    });
    Child<QAction>(w.get(), "acTrash")->trigger();
    EXPECT_EQ(ReadBytes("test.log"),
              "1700000000\t1\tX\t30\tA:3 \t0\t3\t0\t0\t0\t9\r\n"
              "1700000100\t1\tX\t30\tA:3 \t0\t3\t0\t0\t0\t4\r\n");
    EXPECT_EQ(ReadBytes("user.dat").substr(0, 9), "a\tb\tc\t18\t") << "14 + the 4 it took";
    Trash::Contents left;
    Trash("test.trs").Read(left);
    EXPECT_TRUE(left.entries.empty());
    // The restored delete is no longer on the undo stack: Ctrl+Z undoes the first delete,
    // whose trash entry went for good, from what the window kept.
    Child<QPushButton>(w.get(), "btUndo")->click();
    EXPECT_EQ(ReadBytes("test.log"), kLog);
    EXPECT_EQ(Ledger("user.ldg").CheckAgainst(PointBalance("user.dat"), 2).result,
              Ledger::Check::Result::Agrees);
}

// A sentence put back whose trash line could not be taken out stays listed in the trash;
// restoring it again puts nothing back twice, and says why.
TEST_F(UndoWindows, ARestoreStillOpenIsToldNotMadeTwice) {
    WriteBytes("test.log", kLog);
    WriteBytes("user.dat", "a\tb\tc\t20\te\tf");
    {
        qv::execution::ReportSession session(info_);
        ASSERT_TRUE(session.Delete("1700000200").Ok());
    }
    Trash::Contents trash;
    ASSERT_EQ(Trash("test.trs").Read(trash), qv::io::ReadStatus::Ok);
    const std::string kept = ReadBytes("test.trs");
    // The trash cannot be rewritten: a folder stands where it was.
    std::filesystem::remove("test.trs");
    std::filesystem::create_directory("test.trs");
    {
        qv::execution::ReportSession session(info_);
        ASSERT_TRUE(session.RestoreFromTrash(trash.entries).Ok());
    }
    std::filesystem::remove("test.trs");
    WriteBytes("test.trs", kept);
    const std::string log = ReadBytes("test.log");
    const std::string balance = ReadBytes("user.dat");
    ASSERT_EQ(log, kLog);

    auto w = Open();
    ShownTexts();
    qv::test::WhenModalOpens([&](QWidget* window) {
        auto* grid = Child<QTableWidget>(window, "sgTrash");
        ASSERT_EQ(grid->rowCount(), 1);
        grid->selectRow(0);
        MessageBox::QueueAnswer(true);
        Child<QPushButton>(window, "btRestore")->click();
        window->close();
    });
    Child<QAction>(w.get(), "acTrash")->trigger();
    const QStringList shown = ShownTexts();  // the question, then what came of it
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown.back(), QStringLiteral("この判決を判決記録に戻す処理が途中のままです。"
                                           "二重に戻さないよう、今は戻しませんでした。"
                                           "次に起動したときに仕上げます。"));
    EXPECT_EQ(ReadBytes("test.log"), log) << "in the log once";
    EXPECT_EQ(ReadBytes("user.dat"), balance) << "credited once";
}

// The backups window lists file, time, size and records, and puts a version back after a
// question, byte for byte, keeping the version it replaces.
TEST_F(UndoWindows, TheBackupsWindowRestoresAVersionByteForByte) {
    WriteBytes("test.log", kLog);
    WriteBytes("user.dat", "a\tb\tc\t20\te\tf");
    auto w = Open();
    MessageBox::QueueAnswer(true);
    Child<QPushButton>(w.get(), "btDone")->click();
    const std::string marked = ReadBytes("test.log");
    ASSERT_NE(marked, kLog);
    ShownTexts();
    qv::test::WhenModalOpens([&](QWidget* window) {
        auto* grid = Child<QTableWidget>(window, "sgBackups");
        ASSERT_EQ(grid->rowCount(), 1);
        EXPECT_EQ(grid->item(0, 0)->text(), QStringLiteral("test.log"));
        EXPECT_EQ(grid->item(0, 3)->text(), QStringLiteral("3"));
        EXPECT_TRUE(grid->item(0, 2)->text().startsWith(QString::number(kLog.size())));
        grid->selectRow(0);
        MessageBox::QueueAnswer(false);
        Child<QPushButton>(window, "btRestore")->click();
        EXPECT_EQ(ReadBytes("test.log"), marked) << "Cancel changes nothing";
        // The question says what becomes of the sentences: only a mark differs here.
        const QStringList asked = ShownTexts();
        ASSERT_EQ(asked.size(), 1);
        EXPECT_TRUE(asked[0].endsWith(QStringLiteral(
            "\n判決の数は変わりません。\nポイント残高（user.dat）は変わりません。")))
            << asked[0].toStdString();
        MessageBox::QueueAnswer(true);
        Child<QPushButton>(window, "btRestore")->click();
        EXPECT_EQ(grid->rowCount(), 2) << "the replaced version kept too";
        window->close();
    });
    Child<QAction>(w.get(), "acBackups")->trigger();
    EXPECT_EQ(ReadBytes("test.log"), kLog);
    const auto versions = Backups("backup").List();
    ASSERT_EQ(versions.size(), 2u);
    bool keptMarked = false;
    for (const auto& v : versions)
        keptMarked = keptMarked || ReadBytes("backup/" + v.name) == marked;
    EXPECT_TRUE(keptMarked);
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

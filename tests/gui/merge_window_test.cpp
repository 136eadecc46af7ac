// The menu takes in the sync tools' conflict copies at start and when it becomes active
// again, asks when the implements differ, tells once, and reads the rule book again.
#include <QGuiApplication>

#include <cerrno>

#include <QTest>

#include <cstdlib>
#include <filesystem>

#include "app/MenuForm.h"
#include "records/DeviceTag.h"
#include "records/JournalFolder.h"
#include "tests/gui/GuiTest.h"
#include "ui/FileTexts.h"
#include "ui/MessageBox.h"

namespace {

using qv::test::GuiTest;
using qv::test::WriteBytes;

const std::string kLine = "100\t12\tX\t29\tA:12 \t0\t12\t0\t0\t0\t2\r\n";

std::string Book(const char* implement, const char* text, int updated) {
    return std::string("qvrule\t1\tid1\t5\t") + implement + "\t10\tB\t10\tC\t10\tD\t10\r\n" +
           "1\t1\t" + std::to_string(updated) + "\tN\t" + text + "\tR\t30\t10\t10\t1\t0\t0\t0\t1\r\n";
}

class MergeWindow : public GuiTest {};

TEST_F(MergeWindow, AtStartTheCopiesAreMergedAfterAskingAboutTheImplements) {
    WriteBytes("test.dat", Book("A", "old", 100));
    WriteBytes("test.log", kLine);
    WriteBytes("test (conflicted copy 2026-12-10 154501).dat", Book("P", "new", 200));
    WriteBytes("test (conflicted copy 2026-12-10 154501).log",
               kLine + "200\t12\tY\t29\tA:12 \t0\t12\t0\t0\t0\t2\r\n");
    qv::ui::MessageBox::QueueChoice(true);  // take the other computer's implements
    TForm1 menu;
    ASSERT_TRUE(menu.IsLoaded());
    const QList<qv::ui::ShownMessage> boxes = qv::ui::MessageBox::TakeShown();
    ASSERT_FALSE(boxes.isEmpty());
    EXPECT_EQ(boxes[0].buttons, (QStringList{QStringLiteral("もう一台の設定を使う"),
                                             QStringLiteral("このコンピュータの設定を使う")}));
    EXPECT_FALSE(boxes[0].text.contains(QStringLiteral("OK"))) << boxes[0].text.toStdString();
    QStringList shown;
    for (const qv::ui::ShownMessage& box : boxes) shown << box.text;
    ASSERT_EQ(shown.size(), 2) << shown.join(QStringLiteral("|")).toStdString();
    EXPECT_TRUE(shown[0].contains(QStringLiteral("道具の設定が違います"))) << shown[0].toStdString();
    EXPECT_TRUE(shown[0].contains(QStringLiteral("P（1.0）"))) << shown[0].toStdString();
    EXPECT_TRUE(shown[1].contains(QStringLiteral("判決: 1件を追加"))) << shown[1].toStdString();
    EXPECT_TRUE(shown[1].contains(QStringLiteral("条文: 1件"))) << shown[1].toStdString();
    // The book in memory is the merged one.
    const CRuleBook* book = menu.Info()->GetRuleBook();
    EXPECT_EQ(book->GetImpName(0), "P");
    ASSERT_NE(book->FindRule(1), nullptr);
    EXPECT_EQ(book->FindRule(1)->GetText(), "new");
    EXPECT_TRUE(qv::test::Exists("conflicts/test (conflicted copy 2026-12-10 154501).log"));
}

TEST_F(MergeWindow, CopiesArrivingWhileItRunsAreMergedWhenItBecomesActive) {
    WriteBytes("test.dat", Book("A", "old", 100));
    WriteBytes("test.log", kLine);
    TForm1 menu;
    ASSERT_TRUE(menu.IsLoaded());
    EXPECT_TRUE(ShownTexts().isEmpty()) << "nothing to merge, nothing told";
    WriteBytes("test.sync-conflict-20261210-154501-ABCDEF1.log",
               kLine + "300\t12\tY\t29\tA:12 \t0\t12\t0\t0\t0\t2\r\n");
    emit qApp->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_TRUE(ShownTexts().isEmpty());
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    const QStringList shown = ShownTexts();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("判決: 1件を追加"))) << shown[0].toStdString();
    EXPECT_EQ(qv::test::ReadBytes("test.log"), kLine + "300\t12\tY\t29\tA:12 \t0\t12\t0\t0\t0\t2\r\n");

    // The rule book brought over whole while the program ran is read again...
    WriteBytes("test.dat", Book("A", "synced", 300));
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    CRuleBook* book = menu.Info()->GetRuleBook();
    ASSERT_NE(book->FindRule(1), nullptr);
    EXPECT_EQ(book->FindRule(1)->GetText(), "synced");
    // ...but not over unsaved changes, and its copies wait for them.
    CRule edited;
    edited.CopyFrom(book->FindRule(1));
    edited.SetText("unsaved");
    book->AddRule(edited);
    ASSERT_TRUE(book->IsModified());
    WriteBytes("test_conflict-20261210-154501.dat", Book("A", "theirs", 400));
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_EQ(book->FindRule(1)->GetText(), "unsaved");
    EXPECT_TRUE(qv::test::Exists("test_conflict-20261210-154501.dat"));
    EXPECT_TRUE(ShownTexts().isEmpty());
}

// A failed merge says why once, in the program's own brackets.
TEST(MergeTexts, AFailureGivesItsReasonOnce) {
    struct Case {
        bool leftForStart;
        const char* said;
    };
    const Case cases[] = {
        {false, "競合コピーを取り込めませんでした（ディスクに空きがありません）。ファイルは変わっていません。"},
        {true, "競合コピーの取り込みを終えられませんでした（ディスクに空きがありません）。次に起動したときに仕上げます。"},
    };
    for (const Case& c : cases) {
        qv::records::MergeOutcome o;
        o.result = qv::records::MergeOutcome::Result::Failed;
        o.leftForStart = c.leftForStart;
        o.error = {qv::io::IoError::Op::Write, ENOSPC, "test.log"};
        EXPECT_EQ(qv::ui::MergeSummaryText(o, false), QString::fromUtf8(c.said)) << c.leftForStart;
    }
}

// A folder that keeps journals: another computer's lines reach the files while the menu
// runs (the folder is watched), and a conflict copy that holds nothing the journals lack
// is moved aside and named once.
TEST_F(MergeWindow, AFolderWithJournalsFollowsAnotherComputersLinesWhileItRuns) {
    ::setenv("XDG_STATE_HOME", std::filesystem::current_path().c_str(), 1);
    WriteBytes("test.dat", Book("A", "old", 100));
    WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    std::filesystem::create_directories("journal");
    TForm1 menu;
    ASSERT_TRUE(menu.IsLoaded());
    EXPECT_TRUE(ShownTexts().isEmpty()) << "a first start says nothing";
    ASSERT_TRUE(qv::test::Exists("journal/" + qv::records::JournalNameOf(qv::records::ThisDevice())));

    qv::records::JournalFolder other(DataFolder(), "@laptop", [] { return qv::Seconds{1700000100}; });
    ASSERT_TRUE(other.Commit({{{}, 0, 1700000100, qv::records::JournalLine::Kind::Decide,
                               {"1", "N", "29", "", "0", "0", "0", "0", "5", "why"}}}));
    WriteBytes("test (conflicted copy 2026-12-10 154501).log", "");
    // The watch brings them in once the folder has been quiet a moment.
    QTRY_COMPARE_WITH_TIMEOUT(qv::test::ReadBytes("user.dat"), std::string("a\tb\tc\t15\te\tf"), 5000);
    EXPECT_EQ(qv::test::ReadBytes("test.log"), "1700000100\t1\tN\t29\t\t0\t0\t0\t0\t0\t5\r\n");
    const QStringList shown = ShownTexts();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("「conflicts」フォルダに移しました"))) << shown[0].toStdString();
    EXPECT_TRUE(qv::test::Exists("conflicts/test (conflicted copy 2026-12-10 154501).log"));
    ::unsetenv("XDG_STATE_HOME");
}

// What following the journals took in is told in one sentence, naming only what there was.
TEST(FollowedTexts, NameOnlyWhatWasTakenIn) {
    const struct {
        size_t records, articles;
        const char* said;
    } kCases[] = {
        {2, 0, "ほかのプログラムがファイルに書き加えた判決2件を、記録に取り込みました。"},
        {0, 1, "ほかのプログラムがファイルに書き加えた条文1件を、記録に取り込みました。"},
        {3, 4, "ほかのプログラムがファイルに書き加えた判決3件・条文4件を、記録に取り込みました。"},
        {0, 0, ""},
    };
    for (const auto& c : kCases) {
        qv::records::Journaling::Followed f;
        f.taken = {c.records, c.articles};
        EXPECT_EQ(qv::ui::FollowedText(f), QString::fromUtf8(c.said)) << c.said;
    }
}

}  // namespace

// What the windows show for the data files as users really keep them.
#include <sys/stat.h>

#include <QPushButton>
#include <QTableView>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "app/MenuForm.h"
#include "execution/LogListForm.h"
#include "tests/gui/GuiTest.h"
#include "text/FileIo.h"
#include "trial/StateForm.h"
#include "ui/FileTexts.h"

namespace {

using qv::test::Child;
using qv::test::ReadBytes;
using qv::test::Sjis;
using qv::test::WriteBytes;
using qv::ui::MessageBox;

const std::string kBook = Sjis(
    "qvrule\t1\tid1\t0\t腕立て\t10\t腹筋\t5\t背筋\t7\t縄跳び\t10\r\n"
    "12\t0\t0\t窃盗\t他人の物を盗んではならない。\t\t30\t15\t12\t4\t3\t0\t0\t3\r\n");

class RealFilesWindows : public qv::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        WriteBytes("test.dat", kBook);
    }
};

TEST_F(RealFilesWindows, TheDateOfAYearPastTheLargestIntIsBlank) {
    const char* tz = std::getenv("TZ");
    const std::string saved = tz ? tz : "";
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    // The last second of the year 2147485547, whose year number does not fit an int, and
    // the last second whose year does.
    WriteBytes("test.log",
               "67768036191676799\t12\tX\t5\t\t0\t0\t0\t0\t0\t0\r\n"
               "67767976233532799\t12\tX\t5\t\t0\t0\t0\t0\t0\t0\r\n");
    TForm1 menu;
    TLogList list;
    list.Init(menu.Info());
    auto* grid = Child<QTableView>(&list, "sgList");
    EXPECT_EQ(grid->model()->index(1, 1).data().toString(), QString());
    EXPECT_EQ(grid->model()->index(0, 1).data().toString(), QStringLiteral("2147483647/12/31"));
    tz ? ::setenv("TZ", saved.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
}

TEST_F(RealFilesWindows, ALinkToAMissingFileIsNamedAsSuch) {
    std::filesystem::create_symlink("unplugged/test.log", "test.log");
    std::filesystem::create_symlink("unplugged/user.dat", "user.dat");
    TForm1 menu;
    TLogList list;
    list.Init(menu.Info());
    const QStringList shown = ShownTexts();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(
        shown[0].contains(QStringLiteral("リンク先「./unplugged/test.log」が見つかりません")))
        << shown[0].toStdString();
    EXPECT_TRUE(
        shown[0].contains(QStringLiteral("リンク先「./unplugged/user.dat」が見つかりません")))
        << shown[0].toStdString();

    ::mkfifo("pipe", 0644);
    EXPECT_TRUE(qv::ui::UnreadableReason("pipe").contains(QStringLiteral("FIFO")));
}

// Fails the first rename onto the balance file, as a full disk would, then works again.
bool gFailed = false;
int FailFirstBalanceRename(const char* from, const char* to) {
    if (!gFailed && std::string_view(to).ends_with("user.dat")) {
        gFailed = true;
        errno = ENOSPC;
        return -1;
    }
    return qv::io::RealSysCalls().rename(from, to);
}

TEST_F(RealFilesWindows, TheVerdictWindowOffersToCreditThePointsAgain) {
    WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    TForm1 menu;
    TState state;
    ASSERT_TRUE(state.Init(12, 8, menu.Info()));
    ASSERT_EQ(state.Verdict().points, 7);
    state.show();
    qv::io::SysCalls calls = qv::io::RealSysCalls();
    calls.rename = FailFirstBalanceRename;
    qv::io::SetSysCalls(&calls);
    MessageBox::QueueAnswer(true);  // the disk has room again: try once more
    Child<QPushButton>(&state, "btOK")->click();
    qv::io::SetSysCalls(nullptr);
    const auto shown = MessageBox::TakeShown();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_TRUE(shown[0].confirmation);
    EXPECT_TRUE(shown[0].text.contains(QStringLiteral("あとから加算できます")))
        << shown[0].text.toStdString();
    EXPECT_EQ(shown[1].text, QStringLiteral("7ポイントを「user.dat」の残高に加算しました。"));
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t17\te\tf");
    EXPECT_FALSE(qv::test::Exists("intent.dat"));
    EXPECT_EQ(state.result(), QDialog::Accepted);
}

TEST_F(RealFilesWindows, StartUpTellsOnceWhatItRepaired) {
    const std::string other = "1600000000\t12\tX\t5\t\t0\t0\t0\t0\t0\t0\r\n";
    WriteBytes("test.log", other + "1700000000\t12\tX\t29\tA:12 \t0\t12\t0\t0\t0\t9\r\n");
    WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    WriteBytes("intent.dat", "decide\t1700000000\t9\t" + std::to_string(other.size()) + "\t10\r\n");
    {
        TForm1 menu;
        EXPECT_EQ(ShownTexts(),
                  QStringList{QStringLiteral(
                      "前回の終了時に途中だった処理を直しました。\n"
                      "・識別子1700000000の判決は記録済みでしたが、9ポイントが「user.dat」の"
                      "残高に加算されていなかったため、加算しました。")});
    }
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t19\te\tf");
    TForm1 again;
    EXPECT_TRUE(ShownTexts().isEmpty());
}

// An open entry that does not agree with the files (here, 1,000,000 points asked for a
// record of 9) is dropped without being done, and the start says so.
TEST_F(RealFilesWindows, StartUpTellsOfAnEntryItDroppedUndone) {
    const std::string other = "1600000000\t12\tX\t5\t\t0\t0\t0\t0\t0\t0\r\n";
    const std::string log = other + "1700000000\t12\tX\t29\tA:12 \t0\t12\t0\t0\t0\t9\r\n";
    WriteBytes("test.log", log);
    WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    WriteBytes("intent.dat",
               "decide\t1700000000\t1000000\t" + std::to_string(other.size()) + "\t10\r\n");
    {
        TForm1 menu;
        EXPECT_EQ(ShownTexts(),
                  QStringList{QStringLiteral(
                      "前回の終了時に途中だった処理を直しました。\n"
                      "・識別子1700000000の途中だった処理は、記録の内容と合わないため行わずに"
                      "取りやめました。「test.log」と「user.dat」は変えていません。")});
    }
    EXPECT_EQ(ReadBytes("test.log"), log);
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t10\te\tf");
    EXPECT_FALSE(qv::test::Exists("intent.dat"));
}

}  // namespace

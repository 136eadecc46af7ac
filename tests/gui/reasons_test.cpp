// The verdict text kept with its record at 決定, and shown for the selected record in the
// execution report, byte for byte after the program is started again.
#include "records/Reasons.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <filesystem>

#include "app/MenuForm.h"
#include "execution/LogListForm.h"
#include "tests/gui/GuiTest.h"
#include "text/Numbers.h"
#include "trial/StateForm.h"

namespace {

using qv::test::Child;
using qv::test::ReadBytes;
using qv::test::Sjis;
using qv::test::WhenModalOpens;
using qv::test::WriteBytes;

constexpr qv::Seconds kDay = 86400;

const std::string kBook = Sjis(
    "qvrule\t1\tid1\t0\t腕立て\t10\t腹筋\t5\t背筋\t7\t縄跳び\t10\r\n"
    "12\t0\t0\t窃盗\t他人の物を盗んではならない。\t\t30\t15\t12\t4\t3\t0\t0\t3\r\n");

std::string LogLine(qv::Seconds t, int total) {
    return qv::Decimal(t) + "\t12\tx\t" + qv::Decimal(total) + "\t\t0\t0\t0\t0\t0\t0\r\n";
}

const QString kNoReasons = QStringLiteral(
    "この判決の判決理由は残っていません（判決理由を残すようになる前の判決か、残せなかった判決です）"
    "。");

class KeptReasons : public qv::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        now_ = qv::SystemNow();
        WriteBytes("test.dat", kBook);
        // Three sentences of article 12 in the last 10 days, decided before reasons were
        // kept.
        log_ = LogLine(now_ - 2 * kDay, 20) + LogLine(now_ - kDay, 10) + LogLine(now_ - kDay, 15);
        WriteBytes("test.log", log_);
        WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    }

    // Opens the execution report from a freshly started menu and runs act on it.
    static void OpenReport(const std::function<void(TLogList*)>& act) {
        TForm1 menu;
        ASSERT_TRUE(menu.IsLoaded());
        menu.show();
        bool opened = false;
        WhenModalOpens([&](QWidget* w) {
            opened = true;
            auto* list = qobject_cast<TLogList*>(w);
            ASSERT_NE(list, nullptr);
            act(list);
            list->reject();
        });
        Child<QPushButton>(&menu, "Button1")->click();
        EXPECT_TRUE(opened);
    }
    static QString Shown(TLogList* list) {
        return Child<QPlainTextEdit>(list, "mmReasons")->toPlainText();
    }

    qv::Seconds now_ = 0;
    std::string log_;
};

TEST_F(KeptReasons, TheVerdictAsShownIsKeptAndShownAgainAfterARestart) {
    std::string verdictText;
    QString memo;
    {
        TForm1 menu;
        ASSERT_TRUE(menu.IsLoaded());
        TState state;
        ASSERT_TRUE(state.Init(12, 8, menu.Info()));
        state.show();
        verdictText = state.Verdict().verdictText;
        memo = Child<QPlainTextEdit>(&state, "mmJudge")->toPlainText();
        Child<QPushButton>(&state, "btOK")->click();
        ASSERT_EQ(state.result(), QDialog::Accepted);
    }
    EXPECT_TRUE(ShownTexts().isEmpty());
    const std::string log = ReadBytes("test.log");
    ASSERT_GT(log.size(), log_.size());
    const std::string id = log.substr(log_.size(), log.find('\t', log_.size()) - log_.size());
    EXPECT_EQ(qv::Decimal(qv::ReadInt64(id)), id);

    // The side file holds one line: the identifier and the text's lines, TAB-separated.
    std::string expected = id + "\t" + verdictText;
    for (size_t at = 0; (at = expected.find("\r\n", at)) != std::string::npos;)
        expected.replace(at, 2, "\t");
    EXPECT_EQ(ReadBytes("test.rsn"), expected + "\r\n");
    EXPECT_EQ(ReadBytes("test.log").substr(0, log_.size()), log_) << "the log keeps its form";

    // Started again: the report shows the text as the verdict window showed it.
    std::vector<std::string> kept;
    ASSERT_EQ(SentenceReasons("test.rsn").Find(id, kept), qv::io::ReadStatus::Ok);
    EXPECT_EQ(kept, std::vector<std::string>{verdictText});
    OpenReport([&](TLogList* list) {
        auto* grid = Child<QTableView>(list, "sgList");
        ASSERT_EQ(grid->model()->rowCount(), 4);
        EXPECT_EQ(Shown(list), memo) << "the newest record is selected on opening";
        grid->selectRow(1);
        EXPECT_EQ(Shown(list), kNoReasons) << "decided before reasons were kept";
        grid->selectRow(0);
        EXPECT_EQ(Shown(list), memo);
    });
    EXPECT_TRUE(ShownTexts().isEmpty());
}

TEST_F(KeptReasons, SharedIdentifiersAndAnUnreadableFileAreSaid) {
    const std::string id = qv::Decimal(now_ - kDay);
    WriteBytes("test.rsn", id + "\tfirst\r\n" + id + "\tsecond\tline\r\n");
    OpenReport([&](TLogList* list) {
        Child<QTableView>(list, "sgList")->selectRow(0);  // the two decided at now - 1 day
        EXPECT_EQ(Shown(list),
                  QStringLiteral("同じ識別子の判決が2件あるため、そのすべての判決理由です。\n\n"
                                 "first\n\n――――――――\n\nsecond\nline"));
    });
    std::filesystem::remove("test.rsn");
    std::filesystem::create_directory("test.rsn");
    OpenReport([&](TLogList* list) {
        EXPECT_EQ(Shown(list), QStringLiteral("判決理由のファイル「test.rsn」を読み込めません"
                                              "（ファイルではなくフォルダになっています）。"));
    });
    EXPECT_EQ(ShownTexts(), QStringList{QStringLiteral(
                                "判決理由のファイル「test.rsn」を読み込めません（ファイルではなくフ"
                                "ォルダになっています）。判決理由は表示できません。")})
        << "told once as the window opens, and in the panel";
}

TEST_F(KeptReasons, AVerdictWhoseReasonsCannotBeKeptIsBookedAndSaysSo) {
    std::filesystem::create_directory("test.rsn");  // in the way of the file
    TForm1 menu;
    ASSERT_TRUE(menu.IsLoaded());
    TState state;
    ASSERT_TRUE(state.Init(12, 8, menu.Info()));
    state.show();
    Child<QPushButton>(&state, "btOK")->click();
    EXPECT_EQ(state.result(), QDialog::Accepted);
    EXPECT_EQ(ShownTexts(),
              QStringList{QStringLiteral("判決は記録しましたが、判決理由を「test.rsn」に残せません"
                                         "でした（ファイルに書き込めないため）。執行報告ではこの判"
                                         "決の理由は表示されません。")});
    EXPECT_GT(ReadBytes("test.log").size(), log_.size());
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t19\te\tf");
}

}  // namespace

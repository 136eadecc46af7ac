#include <sys/stat.h>

#include <filesystem>

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>

#include "app/MenuForm.h"
#include "tests/gui/GuiTest.h"
#include "ui/FileTexts.h"
#include "text/Numbers.h"
#include "trial/JudgeForm.h"
#include "trial/StateForm.h"

namespace {

using qv::test::Child;
using qv::test::GuiTest;
using qv::test::ReadBytes;
using qv::test::Sjis;
using qv::test::WhenModalOpens;
using qv::test::WriteBytes;

constexpr qv::Seconds kDay = 86400;

// Articles 3, 12 (the worked example) and 13 (shares all 0, a ":" in its name).
std::string Book() {
    return Sjis("qvrule\t1\tid1\t0\t腕立て\t10\t腹筋\t5\t背筋\t7\t縄跳び\t10\r\n"
                "3\t0\t0\t暴行\t人を殴ってはならない。\t初犯は軽く\t20\t10\t10\t1\t0\t0\t0\t0\r\n"
                "12\t0\t0\t窃盗\t他人の物を盗んではならない。\t常習に注意\t30\t15\t12\t4\t3\t0\t0\t3\r\n"
                "13\t0\t0\t遅刻:朝\t遅れてはならない。\t\t10\t10\t10\t0\t0\t0\t0\t0\r\n");
}

std::string LogLine(qv::Seconds t, int article, int total) {
    return qv::Decimal(t) + "\t" + qv::Decimal(article) + "\tx\t" + qv::Decimal(total) +
           "\t\t0\t0\t0\t0\t0\t0\r\n";
}

const QString kMemo = QStringLiteral(
    "腕立て:12\n腹筋:18\nポイント:9\n\n判決理由\n\n"
    "12条の基準は30ポイントであり、情状酌量の余地が多分にある。\n"
    "また、過去10日間に3回の同条文の適用があり、その合計量刑は45ポイントである。\n"
    "以上のことから、本件における量刑を29ポイントと決定し、規定に基づき配分した。");

class TrialTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        now_ = qv::SystemNow();
        WriteBytes("test.dat", Book());
        // Three sentences of article 12 in the window (45 in all), one too old, one of
        // another article.
        log_ = LogLine(now_ - 2 * kDay, 12, 20) + LogLine(now_ - kDay, 12, 10) +
               LogLine(now_ - kDay, 12, 15) + LogLine(now_ - 30 * kDay, 12, 99) +
               LogLine(now_, 3, 50);
        WriteBytes("test.log", log_);
        WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    }

    // Opens the trial from the menu's "裁 判" and runs act on the trial window.
    void HoldTrial(const std::function<void(TJudge*)>& act) {
        TForm1 menu;
        ASSERT_TRUE(menu.IsLoaded());
        menu.show();
        bool opened = false;
        WhenModalOpens([&](QWidget* w) {
            opened = true;
            auto* judge = qobject_cast<TJudge*>(w);
            ASSERT_NE(judge, nullptr);
            act(judge);
            if (judge->isVisible()) judge->reject();  // a failed check must not hang
        });
        Child<QPushButton>(&menu, "btnJudge")->click();
        EXPECT_TRUE(opened);
    }

    // Picks article 12 at level 8 and submits; runs act on the verdict window.
    static void Submit12(TJudge* judge, const std::function<void(TState*)>& act) {
        Child<QComboBox>(judge, "cbRule")->setCurrentIndex(1);
        Child<QSlider>(judge, "tbJoujou")->setValue(8);
        bool opened = false;
        WhenModalOpens([&](QWidget* w) {
            opened = true;
            auto* state = qobject_cast<TState*>(w);
            ASSERT_NE(state, nullptr);
            act(state);
            if (state->isVisible()) state->reject();
        });
        Child<QPushButton>(judge, "btSubmit")->click();
        EXPECT_TRUE(opened);
        EXPECT_EQ(judge->result(), QDialog::Accepted) << "the trial closes with its verdict";
    }

    qv::Seconds now_ = 0;
    std::string log_;
};

TEST_F(TrialTest, WholeRoadFromMenuToLogAndBalance) {
    HoldTrial([&](TJudge* judge) {
        EXPECT_EQ(judge->windowTitle(), QStringLiteral("裁判"));
        EXPECT_EQ(judge->size(), QSize(692, 317));
        auto* cb = Child<QComboBox>(judge, "cbRule");
        ASSERT_EQ(cb->count(), 3);
        EXPECT_EQ(cb->itemText(0), QStringLiteral("3:暴行:20"));
        EXPECT_EQ(cb->itemText(2), QStringLiteral("13:遅刻:朝:10"));
        EXPECT_EQ(cb->currentIndex(), 0);
        EXPECT_EQ(Child<QLabel>(judge, "pnState")->text(), QStringLiteral("条文:人を殴ってはならない。"));
        EXPECT_EQ(Child<QLabel>(judge, "pnComment")->text(), QStringLiteral("備考:初犯は軽く"));
        EXPECT_EQ(Child<QLabel>(judge, "pnJoujou")->text(), QStringLiteral("0"));
        EXPECT_EQ(Child<QSlider>(judge, "tbJoujou")->accessibleName(), QStringLiteral("情状酌量"));

        Submit12(judge, [&](TState* state) {
            EXPECT_EQ(Child<QLabel>(judge, "pnState")->text(),
                      QStringLiteral("条文:他人の物を盗んではならない。"));
            EXPECT_EQ(Child<QLabel>(judge, "pnJoujou")->text(), QStringLiteral("8"));
            EXPECT_EQ(state->windowTitle(), QStringLiteral("判決"));
            EXPECT_EQ(state->size(), QSize(534, 513));
            EXPECT_EQ(Child<QLabel>(state, "pnName")->text(), QStringLiteral("12条:窃盗"));
            EXPECT_EQ(Child<QLabel>(state, "pnState")->text(),
                      QStringLiteral("他人の物を盗んではならない。"));
            EXPECT_EQ(Child<QPlainTextEdit>(state, "mmJudge")->toPlainText(), kMemo);
            EXPECT_EQ(state->focusWidget(), Child<QPushButton>(state, "btOK"));
            EXPECT_EQ(Child<QPlainTextEdit>(state, "mmJudge")->accessibleName(), QStringLiteral("判決"));
            Child<QPushButton>(state, "btOK")->click();
            EXPECT_EQ(state->result(), QDialog::Accepted);
        });
    });
    const qv::Seconds after = qv::SystemNow();

    EXPECT_TRUE(ShownTexts().isEmpty());
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t19\te\tf");
    const std::string log = ReadBytes("test.log");
    ASSERT_EQ(log.compare(0, log_.size(), log_), 0) << "the old records stay as they were";
    const std::string added = log.substr(log_.size());
    const size_t tab = added.find('\t');
    ASSERT_NE(tab, std::string::npos);
    const qv::Seconds decided = qv::ReadInt64(added.substr(0, tab));
    EXPECT_EQ(added.substr(0, tab), qv::Decimal(decided));
    EXPECT_GE(decided, now_);
    // A second that names a sentence of the log already is passed over for the next one.
    EXPECT_LE(decided, after + 1);
    EXPECT_EQ(log_.find(qv::Decimal(decided) + "\t"), std::string::npos);
    EXPECT_EQ(added.substr(tab),
              Sjis("\t12\t窃盗\t29\t腕立て:12 腹筋:18 \t0\t12\t18\t0\t0\t9\r\n"));
}

// After 決定 the verdict and the trial close: the menu, where the user lands, says what
// was recorded (and tells a screen reader); the word goes when a window opens over it.
TEST_F(TrialTest, TheMenuSaysWhatWasDecided) {
    TForm1 menu;
    menu.show();
    auto* status = Child<QLabel>(&menu, "pnStatus");
    EXPECT_FALSE(status->isVisible());
    WhenModalOpens([](QWidget* w) {
        Submit12(qobject_cast<TJudge*>(w),
                 [](TState* state) { Child<QPushButton>(state, "btOK")->click(); });
    });
    Child<QPushButton>(&menu, "btnJudge")->click();
    EXPECT_EQ(status->text(), QStringLiteral("判決を記録しました: 12条 窃盗、29ポイント"));
    EXPECT_EQ(status->accessibleName(), status->text());
    EXPECT_TRUE(status->isVisible());

    // A trial cancelled says nothing, and the word before is gone.
    WhenModalOpens([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    Child<QPushButton>(&menu, "btnJudge")->click();
    EXPECT_TRUE(status->text().isEmpty());
    EXPECT_FALSE(status->isVisible());
}

TEST_F(TrialTest, CancelWritesNothing) {
    const std::string files = qv::test::ListDir();
    // Cancelling the verdict closes the trial window all the same.
    HoldTrial([&](TJudge* judge) {
        Submit12(judge, [](TState* state) {
            Child<QPushButton>(state, "btCansel")->click();
            EXPECT_EQ(state->result(), QDialog::Rejected);
        });
    });
    // Cancelling the trial itself.
    HoldTrial([&](TJudge* judge) {
        Child<QPushButton>(judge, "btCancel")->click();
        EXPECT_FALSE(judge->isVisible());
        EXPECT_EQ(judge->result(), QDialog::Rejected);
    });
    EXPECT_TRUE(ShownTexts().isEmpty());
    EXPECT_EQ(ReadBytes("test.log"), log_);
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t10\te\tf");
    EXPECT_EQ(qv::test::ListDir(), files);
}

TEST_F(TrialTest, SharesAllZeroIsRefusedAndTheTrialStaysOpen) {
    HoldTrial([&](TJudge* judge) {
        Child<QComboBox>(judge, "cbRule")->setCurrentIndex(2);
        EXPECT_EQ(Child<QLabel>(judge, "pnState")->text(), QStringLiteral("条文:遅れてはならない。"));
        Child<QPushButton>(judge, "btSubmit")->click();
        EXPECT_EQ(ShownTexts(),
                  QStringList{QStringLiteral("13条は配分設定の合計が0のため、量刑を配分できません。"
                                             "ルール編集で配分設定を見直してください。")});
        EXPECT_TRUE(judge->isVisible());
        EXPECT_EQ(QApplication::activeModalWidget(), judge) << "no verdict window";
        Child<QPushButton>(judge, "btCancel")->click();
    });
    EXPECT_EQ(ReadBytes("test.log"), log_);
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t10\te\tf");
}

// Every refusal of a composition, as the verdict window words it (the core gives the
// status only).
TEST_F(TrialTest, RefusalsAreWordedForTheUser) {
    TForm1 menu;
    ASSERT_TRUE(menu.IsLoaded());
    std::filesystem::create_directory("dir.log");
    const struct {
        const char* what;
        int article;
        const char* log;
        QString text;
    } cases[] = {
        {"shares adding up to 0", 13, "test.log",
         QStringLiteral("13条は配分設定の合計が0のため、量刑を配分できません。"
                        "ルール編集で配分設定を見直してください。")},
        {"no such article", 99, "test.log", QStringLiteral("99条という条文はありません。")},
        {"log that cannot be read", 12, "dir.log",
         QStringLiteral("判決記録ファイル「dir.log」を読み込めないため、"
                        "過去10日間の適用を確認できません。")},
    };
    for (const auto& c : cases) {
        menu.Info()->SetLogPath(c.log);
        TState state;
        EXPECT_FALSE(state.Init(c.article, 5, menu.Info())) << c.what;
        EXPECT_EQ(ShownTexts(), QStringList{c.text}) << c.what;
    }
}

TEST_F(TrialTest, DecideFailuresAreTold) {
    TForm1 menu;
    ASSERT_TRUE(menu.IsLoaded());

    // The log cannot be appended to: nothing is written, the verdict stays on screen.
    ::chmod("test.log", 0444);
    {
        TState state;
        ASSERT_TRUE(state.Init(12, 8, menu.Info()));
        state.show();
        Child<QPushButton>(&state, "btOK")->click();
        EXPECT_EQ(ShownTexts(), QStringList{QStringLiteral(
                                    "判決を記録できませんでした（「test.log」に書き込めません）。"
                                    "判決は確定しておらず、ポイントも加算していません。")});
        EXPECT_TRUE(state.isVisible());
        EXPECT_EQ(ReadBytes("test.log"), log_);
        EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t10\te\tf");
    }
    ::chmod("test.log", 0644);

    // The balance cannot be credited: the record stays, the window closes.
    WriteBytes("user.dat", "a\tb\tc\t10");
    TState state;
    ASSERT_TRUE(state.Init(12, 8, menu.Info()));
    state.show();
    Child<QPushButton>(&state, "btOK")->click();
    // One box says why, and offers to credit the points later (declined here).
    EXPECT_EQ(ShownTexts(),
              QStringList{QStringLiteral("判決は「test.log」に記録しましたが、9ポイントを「user.dat」の"
                                         "残高に加算できませんでした（ファイルの項目が6つに満たないため）。") +
                          QStringLiteral("\n\n") + qv::ui::CreditRetryText(9, "user.dat")});
    EXPECT_FALSE(state.isVisible());
    EXPECT_EQ(state.result(), QDialog::Accepted);
    EXPECT_NE(ReadBytes("test.log"), log_);
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t10");
}

}  // namespace

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>

#include "execution/DonePointForm.h"
#include "rulebook/RuleBook.h"
#include "tests/gui/GuiTest.h"
#include "ui/Texts.h"

namespace {

using qv::test::Child;
using qv::test::ReadBytes;
using qv::test::Sjis;
using qv::test::WriteBytes;
using qv::ui::MessageBox;

class DonePointTest : public qv::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        const char* names[] = {"腕立て", "腹筋", "正座", "写経"};
        const int weights[] = {10, 15, 0, 7};
        for (int k = 0; k < 4; ++k) {
            book_.SetImpName(k, Sjis(names[k]));
            book_.SetImpWeight(k, weights[k]);
        }
        info_.SetRuleBook(&book_);
        info_.SetLogPath("test.log");
        info_.SetBalancePath("user.dat");
    }

    std::unique_ptr<TDonePoint> Open() {
        auto window = std::make_unique<TDonePoint>();
        window->Init(&info_);
        window->show();
        return window;
    }
    static QLineEdit* Field(TDonePoint& w, int k) {
        return Child<QLineEdit>(&w, ("tfImp" + std::to_string(k)).c_str());
    }
    static void Enter(TDonePoint& w, const QStringList& units) {
        for (int k = 1; k <= 4; ++k)
            if (Field(w, k)->isEnabled()) Field(w, k)->setText(units.value(k - 1));
    }
    static void Click(TDonePoint& w, const char* name) { Child<QPushButton>(&w, name)->click(); }

    CRuleBook book_;
    CInfo info_;
};

TEST_F(DonePointTest, ShowsTheImplementsAndDisablesThoseWithoutWeight) {
    auto w = Open();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("ポイント執行報告"));
    const char* names[] = {"腕立て", "腹筋", "正座", "写経"};
    for (int k = 1; k <= 4; ++k) {
        auto* label = Child<QLabel>(w.get(), ("pnImp" + std::to_string(k)).c_str());
        EXPECT_EQ(label->text(), QString::fromUtf8(names[k - 1]));
        EXPECT_EQ(label->parentWidget(), Field(*w, k)->parentWidget()) << "one group frame";
        EXPECT_TRUE(Field(*w, k)->text().isEmpty());
    }
    EXPECT_TRUE(Field(*w, 1)->isEnabled());
    EXPECT_FALSE(Field(*w, 3)->isEnabled()) << "weight 0";
    EXPECT_EQ(Child<QPushButton>(w.get(), "btOK")->text(), QStringLiteral("報告"));
    EXPECT_EQ(Child<QPushButton>(w.get(), "btCancel")->text(), QStringLiteral("取消"));
}

TEST_F(DonePointTest, ConfirmsTheCountedUnitsAndDebitsTheTotal) {
    struct Case {
        const char* what;
        QStringList units;
        const char* balanceBefore;
        const char* message;
        const char* balanceAfter;
    } cases[] = {
        {"1.0 x 3 + 1.5 x 2 = 6", {"3", "2", "", ""}, "a\tb\tc\t10\te\tf\r\n",
         "腕立て:3\r\n腹筋:2\r\n以上合計6ポイントで報告します。", "a\tb\tc\t4\te\tf\r\n"},
        {"full-width digits as the input method types them; 0 and below skipped",
         {"１２", "-3", "", "０"}, "a\tb\tc\t100\te\tf",
         "腕立て:12\r\n以上合計12ポイントで報告します。", "a\tb\tc\t88\te\tf"},
        {"blanks around, half- and full-width mixed", {"　1２ ", "＋２", "", ""},
         "a\tb\tc\t100\te\tf", "腕立て:12\r\n腹筋:2\r\n以上合計15ポイントで報告します。",
         "a\tb\tc\t85\te\tf"},
        {"0.7 x 90 = 62", {"", "", "", "90"}, "a\tb\tc\t100\te\tf",
         "写経:90\r\n以上合計62ポイントで報告します。", "a\tb\tc\t38\te\tf"},
        {"8 against 5 leaves 0, and says so", {"8", "", "", ""}, "a\tb\tc\t5\te\tf",
         "腕立て:8\r\n以上合計8ポイントで報告します。\r\n残高は5ポイントしかないため、"
         "残高は0になり、3ポイントは切り捨てられてどこにも残りません。",
         "a\tb\tc\t0\te\tf"},
    };
    for (const auto& c : cases) {
        WriteBytes("user.dat", c.balanceBefore);
        auto w = Open();
        Enter(*w, c.units);
        MessageBox::QueueAnswer(true);
        Click(*w, "btOK");
        const auto shown = MessageBox::TakeShown();
        ASSERT_EQ(shown.size(), 1) << c.what;
        EXPECT_TRUE(shown[0].confirmation);
        EXPECT_EQ(shown[0].caption, QStringLiteral("確認"));
        EXPECT_EQ(shown[0].text, QString::fromUtf8(c.message)) << c.what;
        EXPECT_EQ(ReadBytes("user.dat"), c.balanceAfter) << c.what;
        EXPECT_EQ(w->result(), QDialog::Accepted) << c.what;
        EXPECT_FALSE(w->isVisible()) << c.what;
    }
}

TEST_F(DonePointTest, CancelPaths) {
    WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    auto w = Open();
    Enter(*w, {"3", "", "", ""});
    MessageBox::QueueAnswer(false);
    Click(*w, "btOK");
    EXPECT_EQ(MessageBox::TakeShown().size(), 1);
    EXPECT_TRUE(w->isVisible()) << "Cancel in the confirmation keeps the window";
    EXPECT_EQ(Field(*w, 1)->text(), QStringLiteral("3")) << "with its entries";
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t10\te\tf");

    Click(*w, "btCancel");
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(w->result(), QDialog::Rejected);
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t10\te\tf");
    EXPECT_TRUE(MessageBox::TakeShown().isEmpty());
}

TEST_F(DonePointTest, AReportOfNothingStillAsksAndWritesNothing) {
    auto w = Open();  // no balance file at all: not needed for 0 points
    Enter(*w, {"", "0", "", ""});
    MessageBox::QueueAnswer(true);
    Click(*w, "btOK");
    const auto shown = MessageBox::TakeShown();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].text, QStringLiteral("以上合計0ポイントで報告します。"));
    EXPECT_EQ(w->result(), QDialog::Accepted);
    EXPECT_FALSE(qv::test::Exists("user.dat"));
}

TEST_F(DonePointTest, ABalanceThatCannotBeDebitedKeepsTheWindowOpen) {
    for (const char* balance : {static_cast<const char*>(nullptr), "a\tb\tc\t10"}) {
        std::filesystem::remove("user.dat");
        if (balance) WriteBytes("user.dat", balance);
        auto w = Open();
        Enter(*w, {"3", "", "", ""});
        MessageBox::QueueAnswer(true);
        Click(*w, "btOK");
        const auto shown = MessageBox::TakeShown();
        ASSERT_EQ(shown.size(), 2);
        EXPECT_FALSE(shown[1].confirmation);
        EXPECT_TRUE(shown[1].text.contains(QStringLiteral("user.dat")));
        EXPECT_TRUE(shown[1].text.contains(QStringLiteral("報告は記録されていません")));
        EXPECT_TRUE(w->isVisible()) << "not closed as if booked";
        EXPECT_EQ(Field(*w, 1)->text(), QStringLiteral("3"));
        EXPECT_EQ(ReadBytes("user.dat"), balance ? balance : "<missing>");
    }
}

TEST_F(DonePointTest, ATotalBeyond32BitsIsRefused) {
    WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    auto w = Open();
    Enter(*w, {"2147483648", "", "", ""});
    MessageBox::QueueAnswer(true);
    Click(*w, "btOK");
    const auto shown = MessageBox::TakeShown();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_FALSE(shown[0].confirmation) << "refused before any confirmation";
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t10\te\tf");
}

QString Text(TDonePoint& w, const char* name) { return Child<QLabel>(&w, name)->text(); }

TEST_F(DonePointTest, TheTotalAndTheBalanceAfterFollowTheTyping) {
    WriteBytes("user.dat", "a\tb\tc\t5\te\tf");
    auto w = Open();
    EXPECT_EQ(Text(*w, "pnBalance"), QStringLiteral("現在の残高:5ポイント"));
    EXPECT_EQ(Text(*w, "pnTotal"), QStringLiteral("報告の合計:0ポイント"));
    EXPECT_EQ(Text(*w, "pnAfter"), QStringLiteral("報告後の残高:5ポイント"));
    struct Step {
        int field;
        const char* typed;
        const char* total;
        const char* after;
    } steps[] = {
        {1, "3", "報告の合計:3ポイント", "報告後の残高:2ポイント"},
        {2, "1", "報告の合計:4ポイント", "報告後の残高:1ポイント"},  // 3 + 1.5
        {4, "９", "報告の合計:10ポイント", "報告後の残高:0ポイント（5ポイント切り捨て）"},  // + 6.3
        {1, "", "報告の合計:7ポイント", "報告後の残高:0ポイント（2ポイント切り捨て）"},
        {4, "", "報告の合計:1ポイント", "報告後の残高:4ポイント"},
        {2, "2147483648", "報告の合計:大きすぎます", "報告後の残高:-"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.typed);
        Field(*w, s.field)->setText(QString::fromUtf8(s.typed));
        EXPECT_EQ(Text(*w, "pnTotal"), QString::fromUtf8(s.total));
        EXPECT_EQ(Text(*w, "pnAfter"), QString::fromUtf8(s.after));
    }
    EXPECT_TRUE(MessageBox::TakeShown().isEmpty());
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t5\te\tf") << "typing writes nothing";
}

// What a unit field holds that is not read as typed is marked beside it, and said.
TEST_F(DonePointTest, LettersInAUnitFieldAreMarkedBesideIt) {
    WriteBytes("user.dat", "a\tb\tc\t5\te\tf");
    auto w = Open();
    const struct {
        const char* typed;
        const char* said;  // empty: no mark
    } cases[] = {
        {"12", ""},
        {"", ""},
        {" 7 ", ""},
        {"１２", ""},
        {"abc", "「abc」は数として読めません。数字だけで入力してください（全角の数字も使えます）。"},
        {"9x", "「9x」は数として読めません。数字だけで入力してください（全角の数字も使えます）。"},
        {"三", "「三」は数として読めません。数字だけで入力してください（全角の数字も使えます）。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        Field(*w, 2)->setText(QString::fromUtf8(c.typed));
        auto* mark = Child<QLabel>(w.get(), "pnNotNumber2");
        EXPECT_EQ(mark->isVisibleTo(w.get()), *c.said != '\0');
        EXPECT_EQ(mark->toolTip(), QString::fromUtf8(c.said));
        EXPECT_EQ(Field(*w, 2)->accessibleDescription(), QString::fromUtf8(c.said));
        EXPECT_FALSE(Child<QLabel>(w.get(), "pnNotNumber1")->isVisibleTo(w.get()));
    }
    EXPECT_TRUE(MessageBox::TakeShown().isEmpty()) << "said beside the field, not in a box";
}

// 報告 refuses a field that holds no number, naming the field, instead of counting 0 or
// the digits in front; nothing is asked or written, and the field is ready to correct.
TEST_F(DonePointTest, AFieldThatIsNoNumberIsRefusedByName) {
    WriteBytes("user.dat", "a\tb\tc\t50\te\tf");
    for (const char* typed : {"12a", "abc", "1 2", "三"}) {
        SCOPED_TRACE(typed);
        auto w = Open();
        Enter(*w, {"3", QString::fromUtf8(typed), "", ""});
        Click(*w, "btOK");
        const auto shown = MessageBox::TakeShown();
        ASSERT_EQ(shown.size(), 1);
        EXPECT_FALSE(shown[0].confirmation);
        EXPECT_EQ(shown[0].text, QStringLiteral("「腹筋の回数」の「") + QString::fromUtf8(typed) +
                                     QStringLiteral("」は数として読めません。数字だけで入力して"
                                                    "ください（全角の数字も使えます）。"));
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(w->focusWidget(), Field(*w, 2));
        EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t50\te\tf");
    }
}

// Implements 腕立て 1.0, 腹筋 1.5, 正座 0 (no plan), 写経 0.7, and a balance of 10.
TEST_F(DonePointTest, APlanClickedFillsTheRowsAndReportsTheBalanceAway) {
    book_.SetImpName(3, Sjis("写経(枚)"));  // counted in its own unit
    struct Case {
        const char* button;
        const char* caption;
        QStringList rows;
    } cases[] = {
        {"btPlan1", "腕立てだけで10回（10ポイント）", {"10", "", "", ""}},
        {"btPlan2", "腹筋だけで7回（10ポイント）", {"", "7", "", ""}},
        {"btPlan4", "写経(枚)だけで15枚（10ポイント）", {"", "", "", "15"}},
        {"btPlanMix", "組み合わせ: 腕立て:4回 腹筋:3回 写経(枚):3枚", {"4", "3", "", "3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
        auto w = Open();
        EXPECT_FALSE(Child<QPushButton>(w.get(), "btPlan3")->isVisibleTo(w.get())) << "weight 0";
        EXPECT_FALSE(Child<QLabel>(w.get(), "pnNoPlan")->isVisibleTo(w.get()));
        Enter(*w, {"1", "1", "", "1"});  // a plan replaces what was typed
        auto* plan = Child<QPushButton>(w.get(), c.button);
        EXPECT_EQ(plan->toolTip(), QString::fromUtf8(c.caption));
        EXPECT_EQ(plan->accessibleName(), QString::fromUtf8(c.caption));
        // The whole caption shows: on the button, or wrapped inside the mixed plan's.
        auto* wrapped = plan->findChild<QLabel*>();
        if (wrapped) {
            EXPECT_EQ(qv::test::InvisibleIn(wrapped->text()), QString());
        }
        const QString shown = wrapped ? wrapped->accessibleName() : plan->text();
        EXPECT_EQ(shown, QString::fromUtf8(c.caption)) << "room for the whole caption";
        if (wrapped) {
            const QRect room = wrapped->contentsRect();
            EXPECT_LE(wrapped->heightForWidth(room.width()), room.height()) << "two lines at most";
        }
        plan->click();
        for (int k = 1; k <= 4; ++k) EXPECT_EQ(Field(*w, k)->text(), c.rows.value(k - 1)) << k;
        EXPECT_EQ(Text(*w, "pnAfter"), QStringLiteral("報告後の残高:0ポイント"));
        MessageBox::QueueAnswer(true);
        Click(*w, "btOK");
        ASSERT_EQ(MessageBox::TakeShown().size(), 1);
        EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t0\te\tf");
    }
}

TEST_F(DonePointTest, NoPlanWithoutSomethingToPay) {
    struct Case {
        const char* balance;  // nullptr: no file
        const char* shown;
        const char* noPlan;
    } cases[] = {
        {"a\tb\tc\t0\te\tf", "現在の残高:0ポイント", "返済するポイントはありません。"},
        {"a\tb\tc\t-3\te\tf", "現在の残高:-3ポイント", "返済するポイントはありません。"},
        {nullptr, "現在の残高:不明", "残高を読めないため、計画を立てられません。"},
        {"a\tb", "現在の残高:不明", "残高を読めないため、計画を立てられません。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        std::filesystem::remove("user.dat");
        if (c.balance) WriteBytes("user.dat", c.balance);
        auto w = Open();
        EXPECT_EQ(Text(*w, "pnBalance"), QString::fromUtf8(c.shown));
        EXPECT_TRUE(Child<QLabel>(w.get(), "pnNoPlan")->isVisibleTo(w.get()));
        EXPECT_EQ(Text(*w, "pnNoPlan"), QString::fromUtf8(c.noPlan));
        for (const char* b : {"btPlan1", "btPlan2", "btPlan3", "btPlan4", "btPlanMix"})
            EXPECT_FALSE(Child<QPushButton>(w.get(), b)->isVisibleTo(w.get())) << b;
    }
}

}  // namespace

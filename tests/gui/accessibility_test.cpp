// What a screen reader is told, through the toolkit's accessibility interfaces (what the
// AT-SPI bridge hands on): labels read as they show now, the main menu is a window, the
// rule list's blank headers still have names, the history's charts say what they show.
#include <QAccessible>
#include <QAccessibleInterface>
#include <QChartView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QTableWidget>

#include "app/MenuForm.h"
#include "execution/DonePointForm.h"
#include "history/HistoryForm.h"
#include "rulebook/RuleBook.h"
#include "rules/ImpEditForm.h"
#include "rules/RuleEditForm.h"
#include "rules/RuleItemForm.h"
#include "execution/LogListForm.h"
#include "trial/JudgeForm.h"
#include "trial/StateForm.h"
#include "ui/Accessibility.h"
#include "ui/MessageBox.h"
#include "tests/gui/GuiTest.h"
#include "ui/Texts.h"

namespace {

using qv::test::Child;
using qv::test::Sjis;
using qv::test::WriteBytes;

QString Announced(QObject* object, QAccessible::Text what = QAccessible::Name) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(object);
    return accessible ? accessible->text(what) : QStringLiteral("<none>");
}

class AccessibilityTest : public qv::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        WriteBytes("test.dat",
                   Sjis("qvrule\t1\tid1\t0\t腕立て伏せ\t10\t腹筋\t5\tスクワット\t3\t正座(分)\t10\r\n"
                        "1\t0\t0\t遅刻\t約束の時刻に遅れた。\t\t20\t10\t10\t3\t3\t2\t0\t2\r\n"));
        WriteBytes("user.dat", "quorvel\t1\tuser\t1019\t0\t0");
        WriteBytes("test.log",
                   Sjis("1700000000\t1\t遅刻\t20\t腕立て伏せ:12 \t0\t12\t0\t0\t0\t4\r\n"
                        "1700090000\t1\t遅刻\t25\t腕立て伏せ:17 \t1\t17\t0\t0\t0\t5\r\n"));
        book_.SetFileName("test.dat");
        ASSERT_TRUE(book_.LoadFile());
        info_.SetRuleBook(&book_);
        info_.SetLogPath("test.log");
        info_.SetBalancePath("user.dat");
    }
    CRuleBook book_;
    CInfo info_;
};

// The point report's figures change as the user types: the reader gets them as shown.
TEST_F(AccessibilityTest, LabelsAreReadAsTheyShowNow) {
    TDonePoint report;
    report.Init(&info_);
    report.show();
    Child<QLineEdit>(&report, "tfImp1")->setText(QStringLiteral("12"));
    for (const char* name : {"pnBalance", "pnTotal", "pnAfter"}) {
        auto* label = Child<QLabel>(&report, name);
        EXPECT_EQ(Announced(label), label->text()) << name;
    }
    EXPECT_EQ(Announced(Child<QLabel>(&report, "pnTotal")), QStringLiteral("報告の合計:12ポイント"));
    EXPECT_EQ(Announced(Child<QLabel>(&report, "pnAfter")), QStringLiteral("報告後の残高:1007ポイント"));
}

TEST_F(AccessibilityTest, TheMainMenuIsAWindow) {
    TForm1 menu;
    ASSERT_TRUE(menu.IsLoaded());
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&menu);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::Window);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Quorvel裁判所 Ver.0.91"));
}

// The headers stay blank on the screen; each still has a name for the reader.
TEST_F(AccessibilityTest, TheRuleListsBlankHeadersHaveNames) {
    TRuleEdit list;
    list.Init(&info_);
    list.show();
    auto* grid = Child<QTableWidget>(&list, "sgRules");
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(grid);
    ASSERT_NE(table, nullptr);
    QStringList headers;
    for (int i = 0; i < table->childCount(); ++i) {
        QAccessibleInterface* child = table->child(i);
        if (child != nullptr && child->role() == QAccessible::ColumnHeader)
            headers << child->text(QAccessible::Name);
    }
    EXPECT_EQ(headers, (QStringList{QStringLiteral("条"), QStringLiteral("条文名"),
                                    QStringLiteral("条文"), QStringLiteral("ポイント")}));
    for (int c = 0; c < 4; ++c)
        EXPECT_TRUE(grid->model()->headerData(c, Qt::Horizontal).toString().isEmpty()) << c;
}

// Each chart says what it shows and its latest figures, and where the numbers are; the
// totals are read whole, units included.
TEST_F(AccessibilityTest, HistoryChartsAndTotalsCanBeRead) {
    THistory history;
    history.Init(&info_);
    history.show();
    const struct {
        const char* chart;
        const char* name;
        const char* says;
    } cases[] = {
        {"chPeriod", "グラフ: 期間ごとの判決数とポイント", "判決1件、判決ポイント25"},
        {"chArticles", "グラフ: 条文ごとの判決数", "1条 遅刻 2件"},
        {"chUnits", "グラフ: 道具ごとの回数（判決と報告）", "判決 腕立て伏せ:29回"},
        {"chBalance", "グラフ: ポイント残高の推移", "台帳"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chart);
        auto* view = Child<QChartView>(&history, c.chart);
        EXPECT_EQ(Announced(view), QString::fromUtf8(c.name));
        EXPECT_EQ(QAccessible::queryAccessibleInterface(view)->role(), QAccessible::Chart);
        const QString said = Announced(view, QAccessible::Description);
        EXPECT_TRUE(said.contains(QString::fromUtf8(c.says))) << said.toStdString();
        EXPECT_TRUE(said.contains(QStringLiteral("表「判決の履歴」"))) << said.toStdString();
    }
    const QString totals = Announced(Child<QLabel>(&history, "pnTotals"));
    EXPECT_TRUE(totals.startsWith(QStringLiteral("合計　判決 2件"))) << totals.toStdString();
    EXPECT_TRUE(totals.contains(QStringLiteral("腕立て伏せ:29回　腹筋:0回　スクワット:0回　正座(分):0分")))
        << totals.toStdString();
    EXPECT_FALSE(totals.contains(QChar(0x2060))) << "read without the joiners";
}

// Captions spread with blanks for looks are read as the word they spell.
TEST(SpokenCaption, LetterSpacingAndShortcutMarkersGo) {
    const struct {
        const char* caption;
        const char* spoken;
    } cases[] = {
        {"ル ー ル 編 集", "ルール編集"}, {"裁 判", "裁判"}, {"&OK", "OK"},
        {"A B C", "A B C"},  // a blank between Latin letters is a real one
        {"ポイント 執行報告", "ポイント 執行報告"},  {"鞭&&棒", "鞭&棒"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qv::ui::SpokenCaption(QString::fromUtf8(c.caption)), QString::fromUtf8(c.spoken))
            << c.caption;
}

TEST_F(AccessibilityTest, TheMainMenuSaysWhatItsButtonsDo) {
    TForm1 menu;
    ASSERT_TRUE(menu.IsLoaded());
    EXPECT_EQ(Announced(Child<QPushButton>(&menu, "btnRule")), QStringLiteral("ルール編集"));
    EXPECT_EQ(Announced(Child<QPushButton>(&menu, "btnJudge")), QStringLiteral("裁判"));
    EXPECT_EQ(Child<QPushButton>(&menu, "btnRule")->text(), QStringLiteral("ル ー ル 編 集"));
    const QString more = Announced(Child<QPushButton>(&menu, "btMore"), QAccessible::Description);
    for (const char* item : {"ポイント台帳", "ごみ箱", "バックアップ", "リマインダー", "利用の手引き",
                             "Quorvel裁判所について"})
        EXPECT_TRUE(more.contains(QString::fromUtf8(item))) << item << ": " << more.toStdString();
    EXPECT_FALSE(Announced(Child<QPushButton>(&menu, "btGoHP"), QAccessible::Description).isEmpty());
}

// A coefficient or weight slider shown as 2.0 is read as 2.0, not as its position 20.
TEST_F(AccessibilityTest, TenthsSlidersTellTheValueShown) {
    TRuleItem item;
    CRule rule;
    rule.SetCumulative(20);
    rule.SetExtenuation(7);
    item.SetRule(&rule);
    item.Init(&info_);
    TImpEdit implements;
    implements.Init(&info_);
    const struct {
        QWidget* window;
        const char* slider;
        double value;
        const char* text;
    } cases[] = {{&item, "tbRuiseki", 2.0, "2.0"}, {&item, "tbJoujou", 0.7, "0.7"},
                 {&implements, "tbImp2", 0.5, "0.5"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.slider);
        QAccessibleInterface* slider =
            QAccessible::queryAccessibleInterface(Child<QSlider>(c.window, c.slider));
        ASSERT_NE(slider, nullptr);
        ASSERT_NE(slider->valueInterface(), nullptr);
        EXPECT_DOUBLE_EQ(slider->valueInterface()->currentValue().toDouble(), c.value);
        EXPECT_DOUBLE_EQ(slider->valueInterface()->maximumValue().toDouble(), 2.0);
        EXPECT_EQ(slider->text(QAccessible::Value), QString::fromUtf8(c.text));
    }
    // The shares count whole steps: read as they are.
    QAccessibleInterface* share = QAccessible::queryAccessibleInterface(Child<QSlider>(&item, "tbPt"));
    ASSERT_NE(share->valueInterface(), nullptr);
    EXPECT_EQ(share->valueInterface()->maximumValue().toInt(), 10);
}

// The implement editor's rows have no captions (the window is as it always was): each field
// is named and described for what it holds.
TEST_F(AccessibilityTest, TheImplementFieldsSayWhatTheyHold) {
    TImpEdit implements;
    implements.Init(&info_);
    for (int i = 1; i <= 4; ++i) {
        SCOPED_TRACE(i);
        auto* name = Child<QLineEdit>(&implements, QStringLiteral("tfImp%1").arg(i).toLatin1().constData());
        auto* weight = Child<QSlider>(&implements, QStringLiteral("tbImp%1").arg(i).toLatin1().constData());
        EXPECT_EQ(Announced(name), QStringLiteral("道具%1の名前").arg(i));
        EXPECT_EQ(Announced(weight), QStringLiteral("道具%1の重さ").arg(i));
        EXPECT_TRUE(Announced(weight, QAccessible::Description).contains(QStringLiteral("あたりのポイント")));
        EXPECT_FALSE(weight->toolTip().isEmpty());
        EXPECT_FALSE(name->toolTip().isEmpty());
    }
}

// Tips hold the user's texts laid out as rich text; the reader gets them as plain text.
TEST_F(AccessibilityTest, ArticleTextsAreDescribedAsPlainText) {
    TJudge judge;
    judge.Init(&info_);
    const QString said = Announced(Child<QLabel>(&judge, "pnState"), QAccessible::Description);
    EXPECT_EQ(said, QStringLiteral("条文:約束の時刻に遅れた。"));
}

TEST_F(AccessibilityTest, TheVerdictTextTakesTheFocus) {
    TState verdict;
    auto* text = Child<QPlainTextEdit>(&verdict, "mmJudge");
    EXPECT_TRUE(text->focusPolicy() & Qt::TabFocus);
    EXPECT_TRUE(text->isReadOnly());
}

// 執行 keeps its caption; its name says whether it marks the sentence or takes the mark
// back, and the list's context menu offers the row's own actions.
TEST_F(AccessibilityTest, ExecuteIsNamedForWhatItWillDo) {
    TLogList list;
    list.Init(&info_);
    list.show();
    auto* done = Child<QPushButton>(&list, "btDone");
    auto* grid = Child<QTableView>(&list, "sgList");
    grid->selectRow(0);  // the newest, executed
    EXPECT_EQ(Announced(done), QStringLiteral("未執行に戻す"));
    grid->selectRow(1);
    EXPECT_EQ(Announced(done), QStringLiteral("執行済みにする"));
    EXPECT_EQ(done->text(), QStringLiteral("執行"));
    QStringList menu;
    for (QAction* action : grid->actions())
        if (!action->isSeparator()) menu << action->objectName();
    EXPECT_EQ(menu.mid(0, 2), (QStringList{QStringLiteral("acDone"), QStringLiteral("acDelete")}));
    auto* remove = grid->findChild<QAction*>(QStringLiteral("acDelete"));
    if (remove == nullptr) remove = list.findChild<QAction*>(QStringLiteral("acDelete"));
    ASSERT_NE(remove, nullptr);
    remove->trigger();  // cancelled: nothing queued
    const QStringList shown = ShownTexts();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].startsWith(QStringLiteral("選択された判決を削除します"))) << shown[0].toStdString();
}

// After an undo the status line says what was undone; its whole text (the line may show
// it shortened) is read as plain words, and its name is what it shows.
TEST_F(AccessibilityTest, TheReportsStatusAfterAnUndoIsPlainText) {
    TLogList list;
    list.Init(&info_);
    list.show();
    Child<QTableView>(&list, "sgList")->selectRow(1);
    qv::ui::MessageBox::QueueAnswer(true);
    Child<QPushButton>(&list, "btDone")->click();
    Child<QPushButton>(&list, "btUndo")->click();
    auto* status = Child<QLabel>(&list, "pnStatus");
    const QString description = Announced(status, QAccessible::Description);
    EXPECT_TRUE(description.startsWith(QStringLiteral("元に戻しました"))) << description.toStdString();
    EXPECT_FALSE(description.contains('<')) << description.toStdString();
    EXPECT_EQ(Announced(status), status->text());
}

}  // namespace

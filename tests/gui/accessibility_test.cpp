// What a screen reader is told, through the toolkit's accessibility interfaces (what the
// AT-SPI bridge hands on): labels read as they show now, the main menu is a window, the
// rule list's blank headers still have names, the history's charts say what they show.
#include <QAccessible>
#include <QAccessibleInterface>
#include <QChartView>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>

#include "app/MenuForm.h"
#include "execution/DonePointForm.h"
#include "history/HistoryForm.h"
#include "rulebook/RuleBook.h"
#include "rules/RuleEditForm.h"
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

}  // namespace

// The history window's charts: the balance line keeps a few points per pixel column of
// its chart at any width, and a filter remakes only the charts whose figures it changed.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QTableView>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <QtCharts/QXYSeries>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>

#include "history/HistoryCharts.h"
#include "history/HistoryForm.h"
#include "history/HistoryQuery.h"
#include "records/DataFolder.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "tests/gui/GuiTest.h"

namespace {

using qv::test::Child;
using qv::test::ReadBytes;
using qv::test::WriteBytes;

const std::string kData = QV_TEST_DATA "/history/";

class HistoryCharts : public qv::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        WriteBytes("test.dat", ReadBytes(kData + "test.dat"));
        WriteBytes("test.log", ReadBytes(kData + "test.log"));
        book_.SetFileName("test.dat");
        ASSERT_TRUE(book_.LoadFile());
        info_.SetRuleBook(&book_);
        AttachFolder(info_, DataFolder());
    }
    // A window on the fixture, "now" being Wednesday 6 March 2024 10:00 in Tokyo.
    std::unique_ptr<THistory> Open() {
        auto w = std::make_unique<THistory>();
        w->SetClock([] { return *qv::history::LocalDate(2024, 3, 6) + 10 * 3600; });
        w->Init(&info_);
        ShownTexts();  // the fixture's damaged lines
        return w;
    }
    // Each chart as it is when shown: a filter redraws the chart on show, the others
    // when they are shown next.
    static std::array<QChart*, 4> ShownCharts(THistory& w) {
        auto* choice = Child<QComboBox>(&w, "cbChart");
        const int was = choice->currentIndex();
        for (int i = 0; i < 4; ++i) choice->setCurrentIndex(i);
        choice->setCurrentIndex(was);
        return Charts(w);
    }
    static std::array<QChart*, 4> Charts(THistory& w) {
        return {Child<QChartView>(&w, "chPeriod")->chart(),
                Child<QChartView>(&w, "chArticles")->chart(),
                Child<QChartView>(&w, "chUnits")->chart(),
                Child<QChartView>(&w, "chBalance")->chart()};
    }
    static void Settle() {
        for (int i = 0; i < 5; ++i) QApplication::processEvents();
    }

    qv::test::ZoneFor zone_{"Asia/Tokyo"};
    CRuleBook book_;
    CInfo info_;
};

TEST_F(HistoryCharts, TheBalanceLineKeepsAFewPointsAPixelColumnAtEveryWidth) {
    // 60,000 balance changes over the fixture's two months, one far above the rest and one
    // at 0: far more points than any chart has pixels.
    const qv::Seconds from = *qv::history::LocalDate(2024, 1, 1);
    const qv::Seconds to = *qv::history::LocalDate(2024, 3, 6);
    const int count = 60000;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> step(1, 9);
    std::string ledger = std::to_string(from) + "\topen\t\t\t0\t0\t500\r\n";
    std::int64_t balance = 500;
    for (int i = 1; i < count; ++i) {
        const qv::Seconds t = from + (to - from) * i / count;
        std::int64_t after = balance + (random() % 2 ? step(random) : -step(random));
        if (i == 31313) after = 1000000;
        if (i == 31314) after = 0;
        if (i == 31315) after = 500;
        after = std::max<std::int64_t>(after, 0);
        ledger += std::to_string(t) + "\tcredit\t" + std::to_string(t) + "\t\t" +
                  std::to_string(after - balance) + "\t" + std::to_string(balance) + "\t" +
                  std::to_string(after) + "\r\n";
        balance = after;
    }
    WriteBytes("user.ldg", ledger);
    auto w = Open();
    Child<QComboBox>(w.get(), "cbChart")->setCurrentIndex(3);
    w->resize(1000, 760);
    w->show();
    Settle();

    QChart* chart = Child<QChartView>(w.get(), "chBalance")->chart();
    ASSERT_EQ(chart->series().size(), 1);
    auto* line = qobject_cast<QLineSeries*>(chart->series()[0]);
    ASSERT_NE(line, nullptr);
    const auto check = [&](const char* what) {
        const qreal scale = Child<QChartView>(w.get(), "chBalance")->devicePixelRatioF();
        const int columns = static_cast<int>(std::ceil(chart->plotArea().width() * scale));
        ASSERT_GT(columns, 50) << what;
        EXPECT_LE(line->count(), 4 * columns) << what;
        EXPECT_GE(line->count(), columns) << what << ": every column has its points";
        const QList<QPointF> points = line->points();
        const auto [low, high] = std::minmax_element(
            points.begin(), points.end(), [](QPointF a, QPointF b) { return a.y() < b.y(); });
        EXPECT_EQ(high->y(), 1000000) << what;
        EXPECT_EQ(low->y(), 0) << what;
        EXPECT_EQ(points.front(), QPointF(from * 1000.0, 500)) << what;
        EXPECT_EQ(points.back().y(), balance) << what;
    };
    check("as opened");
    const int wide = line->count();
    w->resize(640, 760);
    Settle();
    check("narrower");
    EXPECT_LT(line->count(), wide) << "thinned again for fewer columns";
    EXPECT_EQ(Child<QChartView>(w.get(), "chBalance")->chart(), chart) << "the same chart";
}

// Under すべて the balance ends where the ledger does: a delete and its undo the day after
// the last sentence (29, then 24, then 26) end the line and its description at 26.
TEST_F(HistoryCharts, AllEndsTheBalanceAtItsLastChangeAfterTheLastSentence) {
    const qv::Seconds morning = *qv::history::LocalDate(2024, 3, 6) + 8 * 3600;
    const std::string later = std::to_string(morning), undone = std::to_string(morning + 3600);
    WriteBytes("user.ldg", "1704034800\topen\t\t\t0\t0\t10\r\n"
                           "1709607600\tcredit\t1709607600\t\t19\t10\t29\r\n" +
                               later + "\tdelete\t1709607600\t\t-5\t29\t24\r\n" + undone +
                               "\tundo\t1709607600\t\t2\t24\t26\r\n");
    auto w = Open();
    ASSERT_EQ(Child<QComboBox>(w.get(), "cbPreset")->currentIndex(), 4);  // すべて
    const QString said = Child<QChartView>(w.get(), "chBalance")->accessibleDescription();
    EXPECT_TRUE(said.contains(QStringLiteral("最後の残高 26ポイント"))) << said.toStdString();
    QChart* chart = ShownCharts(*w)[3];
    ASSERT_EQ(chart->series().size(), 1);
    auto* line = qobject_cast<QXYSeries*>(chart->series()[0]);
    ASSERT_NE(line, nullptr);
    ASSERT_GT(line->count(), 0);
    EXPECT_EQ(line->points().back().y(), 26);
    // The date fields show that span too: to the day of the last change.
    EXPECT_EQ(Child<QDateEdit>(w.get(), "dtTo")->date(), QDate(2024, 3, 6));
}

TEST_F(HistoryCharts, AFilterRedrawsOnlyTheChartsWhoseFiguresItChanged) {
    WriteBytes("user.ldg", "1704034800\topen\t\t\t0\t0\t10\r\n"
                           "1709607600\tcredit\t1709607600\t\t8\t10\t18\r\n");
    auto w = Open();
    w->show();
    auto* preset = Child<QComboBox>(w.get(), "cbPreset");
    preset->setCurrentIndex(1);  // 今月: one sentence of article 2
    ASSERT_EQ(Child<QTableView>(w.get(), "sgHistory")->model()->rowCount(), 1);
    const std::array<QChart*, 4> month = ShownCharts(*w);

    // The same sentence chosen by its article and by its name: nothing to draw anew.
    auto* articles = Child<QListWidget>(w.get(), "lsArticles");
    for (int i = 0; i < articles->count(); ++i)
        if (articles->item(i)->data(Qt::UserRole).toInt() == 2)
            articles->item(i)->setCheckState(Qt::Checked);
    Child<QLineEdit>(w.get(), "tfSearch")->setText(QStringLiteral("約束"));
    ASSERT_EQ(Child<QTableView>(w.get(), "sgHistory")->model()->rowCount(), 1);
    EXPECT_EQ(ShownCharts(*w), month);

    // Not executed: none of this month's sentences. Their charts change: the one shown at
    // once, the others once shown; the balance over the same month does not.
    Child<QComboBox>(w.get(), "cbExecuted")->setCurrentIndex(2);
    ASSERT_EQ(Child<QTableView>(w.get(), "sgHistory")->model()->rowCount(), 0);
    EXPECT_NE(Charts(*w)[0], month[0]) << "the chart shown";
    EXPECT_EQ(Charts(*w)[1], month[1]) << "a chart not shown, not yet";
    const std::array<QChart*, 4> none = ShownCharts(*w);
    for (size_t i = 0; i < 3; ++i) EXPECT_NE(none[i], month[i]) << "chart " << i;
    EXPECT_EQ(none[3], month[3]) << "the balance chart";

    // Every month: the balance chart too, which takes the longer span in place.
    const auto span = [&] {
        const auto* time = qobject_cast<QDateTimeAxis*>(
            ShownCharts(*w)[3]->axes(Qt::Horizontal).value(0));
        return time ? std::pair(time->min(), time->max()) : std::pair<QDateTime, QDateTime>();
    };
    const auto inMonth = span();
    ASSERT_TRUE(inMonth.first.isValid());
    preset->setCurrentIndex(4);  // すべて
    const auto inAll = span();
    EXPECT_LT(inAll.first, inMonth.first) << "from the first sentence, not this month";
}

// A chart not shown while the filters change takes their figures when it is shown: it
// then shows what it shows in a window where it was shown all along.
TEST_F(HistoryCharts, AChartShownAfterFiltersShowsWhatItShowsWhenShownAllAlong) {
    WriteBytes("user.ldg", "1704034800\topen\t\t\t0\t0\t10\r\n"
                           "1709607600\tcredit\t1709607600\t\t8\t10\t18\r\n");
    for (int c = 1; c < 4; ++c) {
        SCOPED_TRACE(c);
        auto later = Open();
        auto along = Open();
        for (THistory* w : {later.get(), along.get()}) {
            w->resize(900, 700);
            w->show();
        }
        Child<QComboBox>(along.get(), "cbChart")->setCurrentIndex(c);
        Settle();
        for (THistory* w : {later.get(), along.get()}) {
            Child<QComboBox>(w, "cbExecuted")->setCurrentIndex(1);  // 執行済み
            Settle();
            Child<QComboBox>(w, "cbPreset")->setCurrentIndex(1);  // 今月
            Settle();
            Child<QComboBox>(w, "cbExecuted")->setCurrentIndex(0);
            Settle();
        }
        Child<QComboBox>(later.get(), "cbChart")->setCurrentIndex(c);
        Settle();
        const char* view = std::array{"chPeriod", "chArticles", "chUnits", "chBalance"}[c];
        const QImage shown = Child<QChartView>(later.get(), view)->grab().toImage();
        const QImage all = Child<QChartView>(along.get(), view)->grab().toImage();
        ASSERT_FALSE(all.isNull());
        EXPECT_TRUE(shown == all) << "the pictures differ";
    }
}

}  // namespace

// Minutes are not drawn against the count axis: an implement counted in 分 gets a right
// axis of its own, and the counts' axis is scaled by the counts alone.
TEST(UnitsChart, MinutesHaveAnAxisOfTheirOwn) {
    const std::array<QString, qv::history::kImplementCount> names = {
        QStringLiteral("腕立て伏せ"), QStringLiteral("腹筋"), QStringLiteral("スクワット"),
        QStringLiteral("正座(分)")};
    const std::array<std::int64_t, qv::history::kImplementCount> sentenced = {12, 30, 0, 400};
    std::unique_ptr<QChart> chart(qv::history::MakeUnitsChart(sentenced, std::nullopt, names, {}));
    QStringList titles;
    double countsTop = 0;
    for (QAbstractAxis* axis : chart->axes(Qt::Vertical)) {
        const auto* value = qobject_cast<QValueAxis*>(axis);
        ASSERT_NE(value, nullptr);
        titles << value->titleText();
        if (value->titleText() == QStringLiteral("回数")) countsTop = value->max();
        // Even steps from 0.
        EXPECT_EQ(value->min(), 0);
    }
    EXPECT_EQ(titles, (QStringList{QStringLiteral("回数"), QStringLiteral("分")}));
    EXPECT_EQ(countsTop, 30) << "scaled by the counts, not by 400 minutes";
    // Without an implement counted in time, one axis as before.
    std::array<QString, qv::history::kImplementCount> plain = names;
    plain[3] = QStringLiteral("縄跳び");
    std::unique_ptr<QChart> one(qv::history::MakeUnitsChart(sentenced, std::nullopt, plain, {}));
    EXPECT_EQ(one->axes(Qt::Vertical).size(), 1);
    // New figures go into the same chart; a name that moves an implement between the axes
    // needs a new one.
    EXPECT_TRUE(qv::history::UpdateUnitsChart(chart.get(), {1, 2, 3, 50}, std::nullopt, names, {}));
    EXPECT_FALSE(qv::history::UpdateUnitsChart(chart.get(), sentenced, std::nullopt, plain, {}));
}

// A history chart that takes another filter's figures in place shows exactly what a chart
// made afresh from those figures shows: the same series, values, labels, axes and titles,
// and the same picture. Walked through a table of filters one after another, as a user
// changes them, over a log of several years and twenty articles.
#include <QApplication>
#include <QDateTime>
#include <QImage>
#include <QTextStream>
#include <QtCharts/QAbstractBarSeries>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSet>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegend>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <memory>
#include <optional>
#include <string>

#include "history/BalanceHistory.h"
#include "history/HistoryCharts.h"
#include "history/HistoryIndex.h"
#include "history/HistoryQuery.h"
#include "tests/gui/GuiTest.h"

namespace {

using namespace qv::history;
using qv::test::WriteBytes;

// Everything a chart shows, as text: a difference names the part that differs.
QString Describe(QChart* chart) {
    QString text;
    QTextStream out(&text);
    out << "title " << chart->title() << "\nlegend " << chart->legend()->isVisible() << '\n';
    for (QAbstractSeries* series : chart->series()) {
        out << "series " << series->type() << ' ' << series->name() << " visible "
            << series->isVisible() << " axes " << series->attachedAxes().size() << '\n';
        if (auto* bars = qobject_cast<QAbstractBarSeries*>(series)) {
            out << "  labels " << bars->isLabelsVisible() << '\n';
            for (QBarSet* set : bars->barSets()) {
                out << "  set " << set->label() << ':';
                for (int i = 0; i < set->count(); ++i) out << ' ' << set->at(i);
                out << '\n';
            }
        }
        if (auto* line = qobject_cast<QLineSeries*>(series)) {
            out << "  points";
            for (const QPointF& p : line->points()) out << ' ' << p.x() << ',' << p.y();
            out << '\n';
        }
    }
    for (QAbstractAxis* axis : chart->axes()) {
        out << "axis " << axis->type() << " at " << int(axis->alignment()) << " visible "
            << axis->isVisible() << " title " << axis->titleText() << " grid "
            << axis->isGridLineVisible() << '\n';
        if (auto* time = qobject_cast<QDateTimeAxis*>(axis))
            out << "  range " << time->min().toMSecsSinceEpoch() << ' '
                << time->max().toMSecsSinceEpoch() << " ticks " << time->tickCount() << " format "
                << time->format() << '\n';
        if (auto* value = qobject_cast<QValueAxis*>(axis))
            out << "  range " << value->min() << ' ' << value->max() << " ticks "
                << value->tickCount() << " format " << value->labelFormat() << '\n';
        if (auto* category = qobject_cast<QCategoryAxis*>(axis)) {
            out << "  range " << category->min() << ' ' << category->max() << " position "
                << int(category->labelsPosition()) << " labels";
            for (const QString& label : category->categoriesLabels())
                out << " [" << label << "] " << category->startValue(label) << '-'
                    << category->endValue(label);
            out << '\n';
        } else if (auto* bar = qobject_cast<QBarCategoryAxis*>(axis)) {
            out << "  range " << bar->min() << '-' << bar->max() << " categories";
            for (const QString& c : bar->categories()) out << " [" << c << ']';
            out << '\n';
        }
    }
    return text;
}

// What each of the four charts is made from, as the window computes it for a filter.
struct Figures {
    Range range;
    Bucket bucket = Bucket::Day;
    std::vector<Period> periods;
    std::vector<ArticleCount> articles;
    std::array<std::int64_t, kImplementCount> sentenced{};
    std::optional<std::array<std::int64_t, kImplementCount>> reported;
    QString note;
};

const std::array<QString, kImplementCount> kNames = {
    QStringLiteral("腕立て"), QStringLiteral("腹筋"), QStringLiteral("<b>スクワット</b>"),
    QStringLiteral("正座")};

enum Chart { kPeriod, kArticles, kUnits, kBalance, kCharts };

// The balance line's own columns: a view of the size below has more.
constexpr int kColumns = 600;

QChart* Make(Chart which, const Figures& f, const std::shared_ptr<const BalanceHistory>& history) {
    switch (which) {
        case kPeriod:
            return MakePeriodChart(f.periods, f.bucket);
        case kArticles:
            return MakeArticleChart(f.articles);
        case kUnits:
            return MakeUnitsChart(f.sentenced, f.reported, kNames, f.note);
        case kBalance:
            return MakeBalanceChart(history, f.range, f.note, kColumns);
        case kCharts:
            break;
    }
    return nullptr;
}

bool Update(Chart which, QChart* chart, const Figures& f,
            const std::shared_ptr<const BalanceHistory>& history) {
    switch (which) {
        case kPeriod:
            return UpdatePeriodChart(chart, f.periods, f.bucket);
        case kArticles:
            return UpdateArticleChart(chart, f.articles);
        case kUnits:
            return UpdateUnitsChart(chart, f.sentenced, f.reported, kNames, f.note);
        case kBalance:
            return UpdateBalanceChart(chart, history, f.range, f.note, kColumns);
        case kCharts:
            break;
    }
    return false;
}

class HistoryChartsInPlace : public qv::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        // 600 sentences from March 2021 to the end of 2023 over twenty articles, the lower
        // numbers broken more often; every third one executed.
        const qv::Seconds start = *LocalDate(2021, 3, 1);
        const qv::Seconds end = *LocalDate(2023, 12, 31);
        std::string log;
        for (int i = 0; i < 600; ++i) {
            const qv::Seconds t = start + (end - start) / 600 * i + (i * 7919) % 40000;
            const int article = 1 + (i * i + 3 * i) % (1 + i % 20);
            const int units = 1 + i % 9;
            log += std::to_string(t) + '\t' + std::to_string(article) + "\tArticle " +
                   std::to_string(article) + " & <co>\t" + std::to_string(units * 3) + "\tx\t" +
                   (i % 3 == 0 ? "1" : "0") + '\t' + std::to_string(units) + '\t' +
                   std::to_string(i % 4 ? 0 : units) + "\t0\t" + std::to_string(i % 5) + '\t' +
                   std::to_string(units * 2) + "\r\n";
        }
        WriteBytes("test.log", log);
        ASSERT_EQ(index_.Read("test.log"), qv::io::ReadStatus::Ok);
        ASSERT_EQ(index_.Size(), 600u);
        // A balance that moves every day or two from 2022 on, below 0 for a while.
        auto history = std::make_shared<BalanceHistory>();
        std::int64_t balance = 40;
        for (qv::Seconds t = *LocalDate(2022, 1, 1); t < end; t += 86400 + (t % 7) * 9000) {
            balance += (t / 86400) % 5 - 2;
            history->events.push_back({t, 0, balance, {}});
        }
        history_ = std::move(history);
    }

    Figures FiguresFor(const Filter& filter, bool reported, const QString& note) const {
        Figures f;
        const Rows rows = Apply(index_, filter);
        const Range range = ChartRange(index_, rows, filter);
        f.range = range;
        if (range.from && range.to) {
            f.bucket = BucketFor(*range.from, *range.to);
            f.periods = PerPeriod(index_, rows, f.bucket, *range.from, *range.to);
        }
        f.articles = PerArticle(index_, rows);
        f.sentenced = Sum(index_, rows).units;
        if (reported)
            f.reported = std::array<std::int64_t, kImplementCount>{
                static_cast<std::int64_t>(rows.size()), 3, 0, 12};
        f.note = note;
        return f;
    }

    static void Settle() {
        for (int i = 0; i < 3; ++i) QApplication::processEvents();
    }

    // A view as the window has one, shown and laid out.
    static std::unique_ptr<QChartView> View(QChart* chart) {
        auto view = std::make_unique<QChartView>(chart);
        view->setRenderHint(QPainter::Antialiasing);
        view->resize(720, 420);
        view->show();
        Settle();
        return view;
    }

    qv::test::ZoneFor zone_{"Asia/Tokyo"};
    HistoryIndex index_;
    std::shared_ptr<const BalanceHistory> history_;
};

TEST_F(HistoryChartsInPlace, AChartUpdatedInPlaceShowsWhatAFreshOneShows) {
    const auto on = [](int y, int m, int d) { return *LocalDate(y, m, d); };
    const auto articles = [](std::vector<std::int32_t> numbers) {
        Filter f;
        f.articles = std::move(numbers);
        return f;
    };
    const auto execution = [](Filter::Execution e) {
        Filter f;
        f.execution = e;
        return f;
    };
    const auto dates = [](qv::Seconds from, qv::Seconds to) {
        Filter f;
        f.from = from;
        f.to = to;
        return f;
    };
    Filter named;
    named.nameText = "Article 1";
    Filter none = dates(on(2020, 1, 1), on(2020, 2, 1));

    // One after another, each from the charts the one before left; `inPlace` says which
    // of the four charts take the step without being made anew.
    struct Step {
        const char* name;
        Filter filter;
        bool reported;
        QString note;
        std::array<bool, kCharts> inPlace;
    };
    const Step steps[] = {
        {"every record", Filter{}, true, QString(), {false, false, false, false}},
        {"executed",
         execution(Filter::Execution::Executed),
         true,
         QString(),
         {true, true, true, true}},
        {"not executed",
         execution(Filter::Execution::NotExecuted),
         true,
         QString(),
         {true, true, true, true}},
        {"one article: fewer bars", articles({7}), true, QString(), {true, true, true, true}},
        {"three articles", articles({2, 7, 11}), true, QString(), {true, true, true, true}},
        {"a name: more bars",
         named,
         true,
         QStringLiteral("台帳は 2022/01/01 から"),
         {true, true, true, true}},
        {"a year: weeks",
         dates(on(2022, 1, 1), on(2023, 1, 1)),
         true,
         QString(),
         {true, true, true, true}},
        {"30 days: days",
         dates(on(2023, 6, 1), on(2023, 7, 1)),
         false,
         QString(),
         {true, true, false, true}},
        {"30 other days",
         dates(on(2023, 8, 1), on(2023, 8, 31)),
         false,
         QStringLiteral("a & <b>"),
         {true, true, true, true}},
        {"nothing in range", none, false, QString(), {false, false, false, true}},
        {"every record again", Filter{}, true, QString(), {false, false, false, true}},
        {"three years in months, sixteen bars",
         dates(on(2021, 1, 1), on(2024, 1, 1)),
         true,
         QString(),
         {true, true, true, true}},
    };

    std::array<std::unique_ptr<QChartView>, kCharts> kept;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        const Figures f = FiguresFor(step.filter, step.reported, step.note);
        for (int c = 0; c < kCharts; ++c) {
            SCOPED_TRACE(c);
            const Chart which = static_cast<Chart>(c);
            auto& view = kept[static_cast<size_t>(c)];
            const bool inPlace = view && Update(which, view->chart(), f, history_);
            EXPECT_EQ(inPlace, step.inPlace[static_cast<size_t>(c)]);
            if (!inPlace) {
                view.reset();  // the chart goes with its view, as the window's old chart does
                view = View(Make(which, f, history_));
            }
            Settle();
            const auto fresh = View(Make(which, f, history_));
            EXPECT_EQ(Describe(view->chart()), Describe(fresh->chart()));
            const QImage shown = view->grab().toImage();
            const QImage made = fresh->grab().toImage();
            ASSERT_FALSE(made.isNull());
            EXPECT_TRUE(shown == made) << "the pictures differ";
        }
    }
}

}  // namespace

#include "history/HistoryCharts.h"

#include <QDateTime>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QPointer>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QHorizontalBarSeries>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <utility>

#include "history/LineThinning.h"
#include "ui/Texts.h"

namespace qv::history {

namespace {

// Titles are fixed phrases; a note goes on a second, smaller line.
QString TitleHtml(const QString& title, const QString& note) {
    QString html = QStringLiteral("<b>") + title + QStringLiteral("</b>");
    if (!note.isEmpty())
        html += QStringLiteral("<br><span style=\"font-size:small\">") + note.toHtmlEscaped() +
                QStringLiteral("</span>");
    return html;
}

void SetTitle(QChart* chart, const QString& title, const QString& note) {
    const QString html = TitleHtml(title, note);
    if (chart->title() != html) chart->setTitle(html);
}

QChart* NewChart() {
    auto* chart = new QChart;
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->legend()->setAlignment(Qt::AlignBottom);
    // Thin edges: in a short window (a high scale on a small screen) the height goes to
    // the bars and their names, not to blank bands around the plot.
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    chart->setMargins(QMargins(6, 2, 6, 2));
    chart->setBackgroundRoundness(0);
    return chart;
}

// A value axis from 0 in whole steps of 1, 2 or 5 times a power of ten, so every label
// is a whole number.
void ScaleCountAxis(QValueAxis* axis, double max) {
    double step = 1;
    while (max / step > 5) {
        const double next[] = {step * 2, step * 5, step * 10};
        for (double n : next) {
            if (max / n <= 5 || n == next[2]) {
                step = n;
                break;
            }
        }
    }
    const double top = std::max(1.0, std::ceil(max / step)) * step;
    axis->setRange(0, top);
    axis->setTickCount(static_cast<int>(top / step) + 1);
}

QValueAxis* CountAxis(double max, const QString& title) {
    auto* axis = new QValueAxis;
    ScaleCountAxis(axis, max);
    axis->setLabelFormat(QStringLiteral("%d"));
    axis->setTitleText(title);
    return axis;
}

// A bar set's values as given. Only changed values are replaced: each replacement lays
// the bars out anew.
void SetValues(QBarSet* set, const QList<qreal>& values) {
    if (set->count() != values.size()) {
        set->remove(0, set->count());
        set->append(values);
        return;
    }
    for (int i = 0; i < values.size(); ++i)
        if (set->at(i) != values[i]) set->replace(i, values[i]);
}

// What a filter may change of a chart, kept with the chart (its child, gone with it) so
// that the next filter fills the same chart instead of making another: a new chart costs
// its axes, labels and layout again, several times what new figures in it cost. A chart
// that turns empty, or stops being so, is made anew.
template <class Parts>
Parts* PartsOf(QChart* chart) {
    if (chart == nullptr) return nullptr;
    return static_cast<Parts*>(
        chart->findChild<QObject*>(QLatin1String(Parts::kName), Qt::FindDirectChildrenOnly));
}

class ChartParts : public QObject {
public:
    ChartParts(QChart* chart, const char* name) : QObject(chart) {
        setObjectName(QLatin1String(name));
    }
};

struct PeriodParts : ChartParts {
    static constexpr const char* kName = "qvPeriodParts";
    explicit PeriodParts(QChart* chart) : ChartParts(chart, kName) {}
    QBarSet* counts = nullptr;
    QLineSeries* points = nullptr;
    QBarCategoryAxis* categories = nullptr;
    QCategoryAxis* shown = nullptr;
    QValueAxis* countAxis = nullptr;
    QValueAxis* pointAxis = nullptr;
    bool empty = true;  // no sentence in any period
};

struct ArticleParts : ChartParts {
    static constexpr const char* kName = "qvArticleParts";
    explicit ArticleParts(QChart* chart) : ChartParts(chart, kName) {}
    QBarSet* set = nullptr;
    QBarCategoryAxis* categories = nullptr;
    QValueAxis* axis = nullptr;
};

struct UnitsParts : ChartParts {
    static constexpr const char* kName = "qvUnitsParts";
    explicit UnitsParts(QChart* chart) : ChartParts(chart, kName) {}
    QBarSet* given = nullptr;
    QBarSet* done = nullptr;  // only where the ledger records reports
    QBarCategoryAxis* categories = nullptr;
    QValueAxis* axis = nullptr;
    // The implements counted in time, on an axis of their own (null without any).
    QBarSet* timedGiven = nullptr;
    QBarSet* timedDone = nullptr;
    QValueAxis* timedAxis = nullptr;
    std::array<bool, kImplementCount> isTimed{};
    bool empty = true;  // nothing sentenced
};

}  // namespace

QString PeriodLabel(Seconds start, Bucket bucket) {
    const std::time_t t = static_cast<std::time_t>(start);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    switch (bucket) {
        case Bucket::Day:
            return QStringLiteral("%1/%2")
                .arg(tm.tm_mon + 1, 2, 10, QLatin1Char('0'))
                .arg(tm.tm_mday, 2, 10, QLatin1Char('0'));
        case Bucket::Week:
            return QStringLiteral("%1/%2〜")
                .arg(tm.tm_mon + 1, 2, 10, QLatin1Char('0'))
                .arg(tm.tm_mday, 2, 10, QLatin1Char('0'));
        case Bucket::Month:
            return QStringLiteral("%1/%2")
                .arg(tm.tm_year + 1900)
                .arg(tm.tm_mon + 1, 2, 10, QLatin1Char('0'));
    }
    return {};
}

namespace {

// A period chart's figures: the bars, the line, the labels and the titles.
struct PeriodFigures {
    QString title, note;
    QList<qreal> counts;
    QList<QPointF> points;
    QStringList labels;
    double maxCount = 0, maxPoints = 0;
    bool empty = true;
};

PeriodFigures FiguresOf(const std::vector<Period>& periods, Bucket bucket) {
    static const QString kPer[] = {QStringLiteral("日"), QStringLiteral("週"),
                                   QStringLiteral("月")};
    PeriodFigures f;
    f.title = kPer[static_cast<int>(bucket)] + QStringLiteral("ごとの判決数とポイント");
    if (periods.empty()) f.note = QStringLiteral("該当する判決はありません");
    f.counts.reserve(static_cast<qsizetype>(periods.size()));
    f.points.reserve(static_cast<qsizetype>(periods.size()));
    // Days still to come have no figures yet: the line stops at today instead of falling
    // to 0 (their bars are empty anyway).
    const Seconds now = static_cast<Seconds>(std::time(nullptr));
    for (size_t i = 0; i < periods.size(); ++i) {
        f.counts << static_cast<double>(periods[i].sentences);
        if (periods[i].start <= now)
            f.points << QPointF(static_cast<double>(i), static_cast<double>(periods[i].total));
        f.maxCount = std::max(f.maxCount, static_cast<double>(periods[i].sentences));
        f.maxPoints = std::max(f.maxPoints, static_cast<double>(periods[i].total));
        f.labels << PeriodLabel(periods[i].start, bucket);
        if (periods[i].sentences > 0) f.empty = false;
    }
    return f;
}

// The names of the bars' own places, one a period: 0, 1, 2 ...
QStringList PlaceNames(qsizetype count) {
    QStringList names;
    names.reserve(count);
    for (qsizetype i = 0; i < count; ++i) names << QString::number(i);
    return names;
}

// The time axis labels a few periods only, so that long ranges stay readable.
void PlacePeriods(QCategoryAxis* shown, const QStringList& labels) {
    shown->setRange(-0.5, std::max<double>(0.5, labels.size() - 0.5));
    const int step = std::max<int>(1, static_cast<int>((labels.size() + 9) / 10));
    for (int i = 0; i < labels.size(); i += step) shown->append(labels[i], i);
}

bool SameLabels(QCategoryAxis* shown, const QStringList& labels) {
    const QStringList now = shown->categoriesLabels();
    const int step = std::max<int>(1, static_cast<int>((labels.size() + 9) / 10));
    int n = 0;
    for (int i = 0; i < labels.size(); i += step, ++n)
        if (n >= now.size() || now[n] != labels[i] || shown->endValue(now[n]) != i) return false;
    return n == now.size();
}

}  // namespace

QChart* MakePeriodChart(const std::vector<Period>& periods, Bucket bucket) {
    QChart* chart = NewChart();
    const PeriodFigures f = FiguresOf(periods, bucket);
    SetTitle(chart, f.title, f.note);
    auto* counts = new QBarSet(QStringLiteral("判決数"));
    auto* points = new QLineSeries;
    points->setName(QStringLiteral("判決ポイント"));
    counts->append(f.counts);
    points->append(f.points);
    auto* bars = new QBarSeries;
    bars->append(counts);
    chart->addSeries(bars);
    chart->addSeries(points);

    // The bars' own axis places them; a category axis below labels a few of them only,
    // so that long ranges stay readable.
    auto* categories = new QBarCategoryAxis;
    categories->append(PlaceNames(f.labels.size()));
    categories->setVisible(false);
    chart->addAxis(categories, Qt::AlignBottom);
    bars->attachAxis(categories);
    points->attachAxis(categories);
    auto* shown = new QCategoryAxis;
    shown->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    PlacePeriods(shown, f.labels);
    shown->setGridLineVisible(false);
    chart->addAxis(shown, Qt::AlignBottom);
    QValueAxis* countAxis = CountAxis(f.maxCount, QStringLiteral("判決数"));
    chart->addAxis(countAxis, Qt::AlignLeft);
    bars->attachAxis(countAxis);
    QValueAxis* pointAxis = CountAxis(f.maxPoints, QStringLiteral("判決ポイント"));
    chart->addAxis(pointAxis, Qt::AlignRight);
    points->attachAxis(pointAxis);

    auto* parts = new PeriodParts(chart);
    parts->counts = counts;
    parts->points = points;
    parts->categories = categories;
    parts->shown = shown;
    parts->countAxis = countAxis;
    parts->pointAxis = pointAxis;
    parts->empty = f.empty;
    return chart;
}

bool UpdatePeriodChart(QChart* chart, const std::vector<Period>& periods, Bucket bucket) {
    PeriodParts* parts = PartsOf<PeriodParts>(chart);
    if (parts == nullptr || periods.empty() || parts->counts->count() == 0) return false;
    const PeriodFigures f = FiguresOf(periods, bucket);
    if (f.empty != parts->empty) return false;
    SetTitle(chart, f.title, f.note);
    if (parts->categories->count() != f.labels.size()) {
        parts->categories->clear();
        parts->categories->append(PlaceNames(f.labels.size()));
    }
    SetValues(parts->counts, f.counts);
    if (parts->points->points() != f.points) parts->points->replace(f.points);
    if (!SameLabels(parts->shown, f.labels)) {
        for (const QString& label : parts->shown->categoriesLabels()) parts->shown->remove(label);
        PlacePeriods(parts->shown, f.labels);
    }
    ScaleCountAxis(parts->countAxis, f.maxCount);
    ScaleCountAxis(parts->pointAxis, f.maxPoints);
    return true;
}

namespace {

// The article chart's bars, bottom to top, and their labels.
struct ArticleFigures {
    QString note;
    QList<qreal> values;
    QStringList labels;
    double max = 0;
};

ArticleFigures FiguresOf(const std::vector<ArticleCount>& counts, int shown) {
    ArticleFigures f;
    if (counts.empty()) f.note = QStringLiteral("該当する判決はありません");
    size_t others = 0;
    for (size_t i = 0; i < counts.size(); ++i) {
        if (static_cast<int>(i) >= shown) {
            others += counts[i].sentences;
            continue;
        }
        f.labels << (QString::number(counts[i].number) + QStringLiteral("条 ") +
                     qv::ui::ShownText(counts[i].name).left(20))
                        .toHtmlEscaped();
        f.values << static_cast<double>(counts[i].sentences);
        f.max = std::max(f.max, static_cast<double>(counts[i].sentences));
    }
    if (others > 0) {
        f.labels << QStringLiteral("その他 %1条文").arg(counts.size() - static_cast<size_t>(shown));
        f.values << static_cast<double>(others);
        f.max = std::max(f.max, static_cast<double>(others));
    }
    // A horizontal bar chart draws its first category at the bottom: the most broken
    // article goes last so it shows on top.
    std::reverse(f.labels.begin(), f.labels.end());
    std::reverse(f.values.begin(), f.values.end());
    return f;
}

const QString& ArticleTitle() {
    static const QString title = QStringLiteral("条文ごとの判決数（多い順）");
    return title;
}

}  // namespace

QChart* MakeArticleChart(const std::vector<ArticleCount>& counts, int shown) {
    QChart* chart = NewChart();
    const ArticleFigures f = FiguresOf(counts, shown);
    SetTitle(chart, ArticleTitle(), f.note);
    auto* set = new QBarSet(QStringLiteral("判決数"));
    set->append(f.values);
    auto* series = new QHorizontalBarSeries;
    series->append(set);
    series->setLabelsVisible(true);
    chart->addSeries(series);
    chart->legend()->setVisible(false);
    auto* categories = new QBarCategoryAxis;
    categories->append(f.labels);
    chart->addAxis(categories, Qt::AlignLeft);
    series->attachAxis(categories);
    QValueAxis* axis = CountAxis(f.max, QStringLiteral("判決数"));
    chart->addAxis(axis, Qt::AlignBottom);
    series->attachAxis(axis);

    auto* parts = new ArticleParts(chart);
    parts->set = set;
    parts->categories = categories;
    parts->axis = axis;
    return chart;
}

bool UpdateArticleChart(QChart* chart, const std::vector<ArticleCount>& counts, int shown) {
    ArticleParts* parts = PartsOf<ArticleParts>(chart);
    if (parts == nullptr || counts.empty() || parts->set->count() == 0) return false;
    const ArticleFigures f = FiguresOf(counts, shown);
    SetTitle(chart, ArticleTitle(), f.note);
    if (parts->categories->categories() != f.labels) {
        parts->categories->clear();
        parts->categories->append(f.labels);
    }
    SetValues(parts->set, f.values);
    ScaleCountAxis(parts->axis, f.max);
    return true;
}

namespace {

// Counts (回) and times (分, or another unit an implement's name gives) are drawn against
// axes of their own: 191 minutes beside 1597 squats on one scale would say nothing.
struct UnitsGroup {
    QList<qreal> given, done;  // the other group's implements hold 0: no bar
    double max = 0;
};

struct UnitsFigures {
    UnitsGroup counts, timed;
    std::array<bool, kImplementCount> isTimed{};
    QString timedUnits;  // the timed group's axis title, empty without one
    QStringList names;
    bool empty = true;
};

UnitsFigures FiguresOf(const std::array<std::int64_t, kImplementCount>& sentenced,
                       const std::optional<std::array<std::int64_t, kImplementCount>>& reported,
                       const std::array<QString, kImplementCount>& names) {
    UnitsFigures f;
    QStringList units;
    for (int k = 0; k < kImplementCount; ++k) {
        const QString unit = qv::ui::UnitOf(names[static_cast<size_t>(k)]);
        f.isTimed[static_cast<size_t>(k)] = unit != QStringLiteral("回");
        if (f.isTimed[static_cast<size_t>(k)] && !units.contains(unit)) units << unit;
        f.names << names[static_cast<size_t>(k)].toHtmlEscaped();
    }
    f.timedUnits = units.join(QStringLiteral("・"));
    const auto add = [&](QList<qreal> UnitsGroup::*list, const std::array<std::int64_t, kImplementCount>& values) {
        for (int k = 0; k < kImplementCount; ++k) {
            const double v = static_cast<double>(values[static_cast<size_t>(k)]);
            const bool timed = f.isTimed[static_cast<size_t>(k)];
            UnitsGroup& in = timed ? f.timed : f.counts;
            UnitsGroup& other = timed ? f.counts : f.timed;
            (in.*list) << v;
            (other.*list) << 0.0;
            in.max = std::max(in.max, v);
        }
    };
    add(&UnitsGroup::given, sentenced);
    for (std::int64_t u : sentenced)
        if (u != 0) f.empty = false;
    if (reported) add(&UnitsGroup::done, *reported);
    return f;
}

const QString& UnitsTitle() {
    static const QString title = QStringLiteral("道具ごとの回数：判決と報告");
    return title;
}

// One group's bars: 判決, and 報告 where the ledger records reports.
QBarSeries* UnitsSeries(const UnitsGroup& g, bool reported, const QString& suffix,
                        QBarSet*& given, QBarSet*& done) {
    given = new QBarSet(QStringLiteral("判決") + suffix);
    given->append(g.given);
    auto* series = new QBarSeries;
    series->append(given);
    done = nullptr;
    if (reported) {
        done = new QBarSet(QStringLiteral("報告") + suffix);
        done->append(g.done);
        series->append(done);
    }
    series->setLabelsVisible(true);
    // Over the bars, whole: the bars of both groups stand side by side in each place and
    // are too narrow to hold a figure of four digits.
    series->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
    series->setBarWidth(0.9);
    for (QBarSet* set : series->barSets()) set->setLabelColor(QColor(0x33, 0x33, 0x33));
    return series;
}

}  // namespace

QChart* MakeUnitsChart(const std::array<std::int64_t, kImplementCount>& sentenced,
                       const std::optional<std::array<std::int64_t, kImplementCount>>& reported,
                       const std::array<QString, kImplementCount>& names, const QString& note) {
    QChart* chart = NewChart();
    const UnitsFigures f = FiguresOf(sentenced, reported, names);
    SetTitle(chart, UnitsTitle(), note);
    auto* parts = new UnitsParts(chart);
    const bool withTimes = !f.timedUnits.isEmpty();
    QBarSeries* series = UnitsSeries(f.counts, reported.has_value(),
                                     withTimes ? QStringLiteral("（回）") : QString(),
                                     parts->given, parts->done);
    chart->addSeries(series);
    auto* categories = new QBarCategoryAxis;
    for (const QString& name : f.names) categories->append(name);
    chart->addAxis(categories, Qt::AlignBottom);
    series->attachAxis(categories);
    QValueAxis* axis = CountAxis(f.counts.max, QStringLiteral("回数"));
    chart->addAxis(axis, Qt::AlignLeft);
    series->attachAxis(axis);
    if (withTimes) {
        QBarSeries* timed = UnitsSeries(f.timed, reported.has_value(),
                                        QStringLiteral("（") + f.timedUnits + QStringLiteral("）"),
                                        parts->timedGiven, parts->timedDone);
        chart->addSeries(timed);
        timed->attachAxis(categories);
        parts->timedAxis = CountAxis(f.timed.max, f.timedUnits);
        chart->addAxis(parts->timedAxis, Qt::AlignRight);
        timed->attachAxis(parts->timedAxis);
    }
    parts->categories = categories;
    parts->axis = axis;
    parts->isTimed = f.isTimed;
    parts->empty = f.empty;
    return chart;
}

bool UpdateUnitsChart(QChart* chart, const std::array<std::int64_t, kImplementCount>& sentenced,
                      const std::optional<std::array<std::int64_t, kImplementCount>>& reported,
                      const std::array<QString, kImplementCount>& names, const QString& note) {
    UnitsParts* parts = PartsOf<UnitsParts>(chart);
    if (parts == nullptr || (parts->done != nullptr) != reported.has_value()) return false;
    const UnitsFigures f = FiguresOf(sentenced, reported, names);
    if (f.empty != parts->empty || f.isTimed != parts->isTimed) return false;
    if (parts->timedAxis && parts->timedAxis->titleText() != f.timedUnits) return false;
    SetTitle(chart, UnitsTitle(), note);
    if (parts->categories->categories() != f.names) {
        parts->categories->clear();
        for (const QString& name : f.names) parts->categories->append(name);
    }
    SetValues(parts->given, f.counts.given);
    if (parts->done) SetValues(parts->done, f.counts.done);
    ScaleCountAxis(parts->axis, f.counts.max);
    if (parts->timedAxis) {
        SetValues(parts->timedGiven, f.timed.given);
        if (parts->timedDone) SetValues(parts->timedDone, f.timed.done);
        ScaleCountAxis(parts->timedAxis, f.timed.max);
    }
    return true;
}

namespace {

bool InRange(Seconds time, const Range& range) {
    return !(range.from && time < *range.from) && !(range.to && time >= *range.to);
}

// The balance line kept at a few points per pixel column of its chart: a ledger of a
// million lines would otherwise cost the chart a path of a million points to stroke on
// every paint. Thinned again from the whole history when the plot area's width changes.
class BalanceLine : public QObject {
public:
    static constexpr const char* kName = "qvBalanceLine";

    BalanceLine(QChart* chart, QLineSeries* line, std::shared_ptr<const BalanceHistory> history,
                const Range& range, double x0, double x1)
        : QObject(chart),
          chart_(chart),
          line_(line),
          history_(std::move(history)),
          range_(range),
          x0_(x0),
          x1_(x1) {
        setObjectName(QLatin1String(kName));
        connect(chart, &QChart::plotAreaChanged, this,
                [this](const QRectF& area) { Fit(ColumnsOf(area)); });
    }

    QLineSeries* Line() const { return line_; }

    // Another history or range: the line is thinned anew from it.
    void Refit(std::shared_ptr<const BalanceHistory> history, const Range& range, double x0,
               double x1, int columns) {
        history_ = std::move(history);
        range_ = range;
        x0_ = x0;
        x1_ = x1;
        columns_ = 0;
        Fit(columns);
    }

    // Fills the line for a plot area of that many columns; nothing when it has them.
    void Fit(int columns) {
        if (line_.isNull() || columns < 1 || columns == columns_) return;
        columns_ = columns;
        LineThinner thinner(x0_, x1_, columns);
        const BalanceEvents& events = history_->events;
        for (size_t i = 0; i < events.size(); ++i)
            if (InRange(events.Time(i), range_))
                thinner.Add(static_cast<double>(events.Time(i)) * 1000.0,
                            static_cast<double>(events.Balance(i)));
        const std::vector<LinePoint> kept = thinner.Take();
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(kept.size()));
        for (const LinePoint& p : kept) points.append(QPointF(p.x, p.y));
        line_->replace(points);
    }

private:
    // Device pixels, so a screen at scale 2 gets its finer columns.
    int ColumnsOf(const QRectF& area) const {
        qreal scale = 1;
        if (const QGraphicsScene* scene = chart_->scene(); scene && !scene->views().isEmpty())
            scale = scene->views().first()->devicePixelRatioF();
        return static_cast<int>(std::ceil(area.width() * scale));
    }

    QChart* chart_;
    QPointer<QLineSeries> line_;  // the chart's, gone first when the chart goes
    std::shared_ptr<const BalanceHistory> history_;
    Range range_;
    double x0_, x1_;
    int columns_ = 0;
};

}  // namespace

namespace {

// The time from and to a balance chart spans, in milliseconds.
std::pair<qint64, qint64> SpanOf(const Range& range) {
    return {range.from.value_or(0) * 1000,
            range.to.value_or(range.from.value_or(0) + 86400) * 1000};
}

// The balance axis from the thinned line's extremes: they are those of the whole line in
// range (it keeps the lowest and the highest point of every column), found without
// another walk over the ledger.
void ScaleBalanceAxis(QValueAxis* axis, const QLineSeries* line) {
    double min = 0, max = 0;
    for (const QPointF& p : line->points()) {
        min = std::min(min, p.y());
        max = std::max(max, p.y());
    }
    ScaleCountAxis(axis, max - std::min(0.0, min));
    if (min < 0) axis->setMin(min);
}

const QString& BalanceTitle() {
    static const QString title = QStringLiteral("ポイント残高の推移");
    return title;
}

}  // namespace

QChart* MakeBalanceChart(std::shared_ptr<const BalanceHistory> history, const Range& range,
                         const QString& note, int columns) {
    QChart* chart = NewChart();
    SetTitle(chart, BalanceTitle(), note);
    if (!history || history->Empty()) {
        // Nothing to draw: the title's note says why, and no invented line is shown.
        chart->legend()->setVisible(false);
        return chart;
    }
    auto* line = new QLineSeries;
    line->setName(QStringLiteral("ポイント残高"));
    const auto [from, to] = SpanOf(range);
    auto* fitted = new BalanceLine(chart, line, std::move(history), range,
                                   static_cast<double>(from), static_cast<double>(to));
    fitted->Fit(std::max(1, columns));
    chart->addSeries(line);
    auto* time = new QDateTimeAxis;
    time->setFormat(QStringLiteral("yyyy/MM/dd"));
    time->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
    chart->addAxis(time, Qt::AlignBottom);
    line->attachAxis(time);
    QValueAxis* axis = CountAxis(0, QStringLiteral("ポイント"));
    ScaleBalanceAxis(axis, line);
    chart->addAxis(axis, Qt::AlignLeft);
    line->attachAxis(axis);
    return chart;
}

bool UpdateBalanceChart(QChart* chart, std::shared_ptr<const BalanceHistory> history,
                        const Range& range, const QString& note, int columns) {
    if (chart == nullptr || !history || history->Empty()) return false;
    auto* fitted = static_cast<BalanceLine*>(
        chart->findChild<QObject*>(QLatin1String(BalanceLine::kName), Qt::FindDirectChildrenOnly));
    if (fitted == nullptr || fitted->Line() == nullptr) return false;
    QDateTimeAxis* time = nullptr;
    QValueAxis* axis = nullptr;
    for (QAbstractAxis* a : fitted->Line()->attachedAxes()) {
        if (auto* t = qobject_cast<QDateTimeAxis*>(a)) time = t;
        if (auto* v = qobject_cast<QValueAxis*>(a)) axis = v;
    }
    if (time == nullptr || axis == nullptr) return false;
    SetTitle(chart, BalanceTitle(), note);
    const auto [from, to] = SpanOf(range);
    fitted->Refit(std::move(history), range, static_cast<double>(from), static_cast<double>(to),
                  std::max(1, columns));
    time->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
    ScaleBalanceAxis(axis, fitted->Line());
    return true;
}

}  // namespace qv::history

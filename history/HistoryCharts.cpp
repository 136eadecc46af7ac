#include "history/HistoryCharts.h"

#include <QDateTime>
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
void SetTitle(QChart* chart, const QString& title, const QString& note) {
    QString html = QStringLiteral("<b>") + title + QStringLiteral("</b>");
    if (!note.isEmpty())
        html += QStringLiteral("<br><span style=\"font-size:small\">") + note.toHtmlEscaped() +
                QStringLiteral("</span>");
    chart->setTitle(html);
}

QChart* NewChart() {
    auto* chart = new QChart;
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->legend()->setAlignment(Qt::AlignBottom);
    return chart;
}

// A value axis from 0 in whole steps of 1, 2 or 5 times a power of ten, so every label
// is a whole number.
QValueAxis* CountAxis(double max, const QString& title) {
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
    auto* axis = new QValueAxis;
    axis->setRange(0, top);
    axis->setTickCount(static_cast<int>(top / step) + 1);
    axis->setLabelFormat(QStringLiteral("%d"));
    axis->setTitleText(title);
    return axis;
}

}  // namespace

QString PeriodLabel(Seconds start, Bucket bucket) {
    const std::time_t t = static_cast<std::time_t>(start);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    switch (bucket) {
        case Bucket::Day:
            return QStringLiteral("%1/%2").arg(tm.tm_mon + 1).arg(tm.tm_mday);
        case Bucket::Week:
            return QStringLiteral("%1/%2〜").arg(tm.tm_mon + 1).arg(tm.tm_mday);
        case Bucket::Month:
            return QStringLiteral("%1/%2")
                .arg(tm.tm_year + 1900)
                .arg(tm.tm_mon + 1, 2, 10, QLatin1Char('0'));
    }
    return {};
}

QChart* MakePeriodChart(const std::vector<Period>& periods, Bucket bucket) {
    QChart* chart = NewChart();
    static const QString kPer[] = {QStringLiteral("日"), QStringLiteral("週"),
                                   QStringLiteral("月")};
    SetTitle(chart, kPer[static_cast<int>(bucket)] + QStringLiteral("ごとの判決数とポイント"),
             periods.empty() ? QStringLiteral("該当する判決はありません") : QString());
    auto* counts = new QBarSet(QStringLiteral("判決数"));
    auto* points = new QLineSeries;
    points->setName(QStringLiteral("判決ポイント"));
    QStringList labels;
    double maxCount = 0, maxPoints = 0;
    for (size_t i = 0; i < periods.size(); ++i) {
        *counts << static_cast<double>(periods[i].sentences);
        points->append(static_cast<double>(i), static_cast<double>(periods[i].total));
        maxCount = std::max(maxCount, static_cast<double>(periods[i].sentences));
        maxPoints = std::max(maxPoints, static_cast<double>(periods[i].total));
        labels << PeriodLabel(periods[i].start, bucket);
    }
    auto* bars = new QBarSeries;
    bars->append(counts);
    chart->addSeries(bars);
    chart->addSeries(points);

    // The bars' own axis places them; a category axis below labels a few of them only,
    // so that long ranges stay readable.
    auto* categories = new QBarCategoryAxis;
    for (int i = 0; i < labels.size(); ++i) categories->append(QString::number(i));
    categories->setVisible(false);
    chart->addAxis(categories, Qt::AlignBottom);
    bars->attachAxis(categories);
    points->attachAxis(categories);
    auto* shown = new QCategoryAxis;
    shown->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    shown->setRange(-0.5, std::max<double>(0.5, labels.size() - 0.5));
    const int step = std::max<int>(1, static_cast<int>((labels.size() + 9) / 10));
    for (int i = 0; i < labels.size(); i += step) shown->append(labels[i], i);
    shown->setGridLineVisible(false);
    chart->addAxis(shown, Qt::AlignBottom);
    QValueAxis* countAxis = CountAxis(maxCount, QStringLiteral("判決数"));
    chart->addAxis(countAxis, Qt::AlignLeft);
    bars->attachAxis(countAxis);
    QValueAxis* pointAxis = CountAxis(maxPoints, QStringLiteral("判決ポイント"));
    chart->addAxis(pointAxis, Qt::AlignRight);
    points->attachAxis(pointAxis);
    return chart;
}

QChart* MakeArticleChart(const std::vector<ArticleCount>& counts, int shown) {
    QChart* chart = NewChart();
    SetTitle(chart, QStringLiteral("条文ごとの判決数（多い順）"),
             counts.empty() ? QStringLiteral("該当する判決はありません") : QString());
    auto* set = new QBarSet(QStringLiteral("判決数"));
    QStringList labels;
    double max = 0;
    size_t others = 0;
    for (size_t i = 0; i < counts.size(); ++i) {
        if (static_cast<int>(i) >= shown) {
            others += counts[i].sentences;
            continue;
        }
        labels << (QString::number(counts[i].number) + QStringLiteral("条 ") +
                   qv::ui::ShownText(counts[i].name).left(20))
                      .toHtmlEscaped();
        *set << static_cast<double>(counts[i].sentences);
        max = std::max(max, static_cast<double>(counts[i].sentences));
    }
    if (others > 0) {
        labels << QStringLiteral("その他 %1条文").arg(counts.size() - static_cast<size_t>(shown));
        *set << static_cast<double>(others);
        max = std::max(max, static_cast<double>(others));
    }
    // A horizontal bar chart draws its first category at the bottom: the most broken
    // article goes last so it shows on top.
    std::reverse(labels.begin(), labels.end());
    QList<qreal> values;
    for (int i = set->count() - 1; i >= 0; --i) values << set->at(i);
    set->remove(0, set->count());
    set->append(values);
    auto* series = new QHorizontalBarSeries;
    series->append(set);
    series->setLabelsVisible(true);
    chart->addSeries(series);
    chart->legend()->setVisible(false);
    auto* categories = new QBarCategoryAxis;
    categories->append(labels);
    chart->addAxis(categories, Qt::AlignLeft);
    series->attachAxis(categories);
    QValueAxis* axis = CountAxis(max, QStringLiteral("判決数"));
    chart->addAxis(axis, Qt::AlignBottom);
    series->attachAxis(axis);
    return chart;
}

QChart* MakeUnitsChart(const std::array<std::int64_t, kImplementCount>& sentenced,
                       const std::optional<std::array<std::int64_t, kImplementCount>>& reported,
                       const std::array<QString, kImplementCount>& names, const QString& note) {
    QChart* chart = NewChart();
    SetTitle(chart, QStringLiteral("道具ごとの回数：判決と報告"), note);
    auto* given = new QBarSet(QStringLiteral("判決"));
    double max = 0;
    for (std::int64_t u : sentenced) {
        *given << static_cast<double>(u);
        max = std::max(max, static_cast<double>(u));
    }
    auto* series = new QBarSeries;
    series->append(given);
    if (reported) {
        auto* done = new QBarSet(QStringLiteral("報告"));
        for (std::int64_t u : *reported) {
            *done << static_cast<double>(u);
            max = std::max(max, static_cast<double>(u));
        }
        series->append(done);
    }
    series->setLabelsVisible(true);
    chart->addSeries(series);
    auto* categories = new QBarCategoryAxis;
    for (const QString& name : names) categories->append(name.toHtmlEscaped());
    chart->addAxis(categories, Qt::AlignBottom);
    series->attachAxis(categories);
    QValueAxis* axis = CountAxis(max, QStringLiteral("回数"));
    chart->addAxis(axis, Qt::AlignLeft);
    series->attachAxis(axis);
    return chart;
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
    BalanceLine(QChart* chart, QLineSeries* line, std::shared_ptr<const BalanceHistory> history,
                const Range& range, double x0, double x1)
        : QObject(chart), chart_(chart), line_(line), history_(std::move(history)),
          range_(range), x0_(x0), x1_(x1) {
        connect(chart, &QChart::plotAreaChanged, this,
                [this](const QRectF& area) { Fit(ColumnsOf(area)); });
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

QChart* MakeBalanceChart(std::shared_ptr<const BalanceHistory> history, const Range& range,
                         const QString& note, int columns) {
    QChart* chart = NewChart();
    SetTitle(chart, QStringLiteral("ポイント残高の推移"), note);
    if (!history || history->Empty()) {
        // Nothing to draw: the title's note says why, and no invented line is shown.
        chart->legend()->setVisible(false);
        return chart;
    }
    auto* line = new QLineSeries;
    line->setName(QStringLiteral("ポイント残高"));
    const qint64 from = range.from.value_or(0) * 1000;
    const qint64 to = range.to.value_or(range.from.value_or(0) + 86400) * 1000;
    auto* fitted = new BalanceLine(chart, line, std::move(history), range,
                                   static_cast<double>(from), static_cast<double>(to));
    fitted->Fit(std::max(1, columns));
    // The thinned line keeps the lowest and the highest point of every column: its extremes
    // are those of the whole line in range, found without another walk over the ledger.
    double min = 0, max = 0;
    for (const QPointF& p : line->points()) {
        min = std::min(min, p.y());
        max = std::max(max, p.y());
    }
    chart->addSeries(line);
    auto* time = new QDateTimeAxis;
    time->setFormat(QStringLiteral("yyyy/MM/dd"));
    time->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
    chart->addAxis(time, Qt::AlignBottom);
    line->attachAxis(time);
    QValueAxis* axis = CountAxis(max - std::min(0.0, min), QStringLiteral("ポイント"));
    if (min < 0) axis->setMin(min);
    chart->addAxis(axis, Qt::AlignLeft);
    line->attachAxis(axis);
    return chart;
}

}  // namespace qv::history

#pragma once

#include <QString>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "history/BalanceHistory.h"
#include "history/HistoryQuery.h"

class QChart;

namespace qv::history {

// The window's four charts. Texts from the user (article and implement names) are
// escaped: chart labels are drawn as rich text.
//
// A chart made here takes the figures of another filter in place through its Update
// function, which shows exactly what a chart made afresh from them shows. It answers
// false, and leaves the chart as it was, where the figures need another chart (another
// set of series, or nothing to show where there was something, or the reverse): the
// caller then makes a new one.

// Sentences (bars) and points (line) per period.
QChart* MakePeriodChart(const std::vector<Period>& periods, Bucket bucket);
bool UpdatePeriodChart(QChart* chart, const std::vector<Period>& periods, Bucket bucket);

// Sentences per article, the most broken on top; beyond `shown` articles the rest are
// summed into one bar.
QChart* MakeArticleChart(const std::vector<ArticleCount>& counts, int shown = 15);
bool UpdateArticleChart(QChart* chart, const std::vector<ArticleCount>& counts, int shown = 15);

// Units per implement: sentenced, and reported once a ledger records reports.
// names are the implement names as shown; note (may be empty) goes under the title.
QChart* MakeUnitsChart(const std::array<std::int64_t, kImplementCount>& sentenced,
                       const std::optional<std::array<std::int64_t, kImplementCount>>& reported,
                       const std::array<QString, kImplementCount>& names, const QString& note);
bool UpdateUnitsChart(QChart* chart, const std::array<std::int64_t, kImplementCount>& sentenced,
                      const std::optional<std::array<std::int64_t, kImplementCount>>& reported,
                      const std::array<QString, kImplementCount>& names, const QString& note);

// The balance after each ledger event within range; note says what the ledger cannot show.
// The line is thinned to what the plot area's pixel columns can show (columns until the
// chart is placed, then its own width, again whenever that changes); the chart shares
// the history, so it may outlive the caller's copy.
QChart* MakeBalanceChart(std::shared_ptr<const BalanceHistory> history, const Range& range,
                         const QString& note, int columns);
bool UpdateBalanceChart(QChart* chart, std::shared_ptr<const BalanceHistory> history,
                        const Range& range, const QString& note, int columns);

// The label of a period on the time axis.
QString PeriodLabel(Seconds start, Bucket bucket);

}  // namespace qv::history

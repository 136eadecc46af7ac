#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "history/HistoryIndex.h"
#include "rulebook/Clock.h"

namespace qv::history {

// Which records the window shows. Times are seconds; the range is [from, to).
struct Filter {
    std::optional<Seconds> from;
    std::optional<Seconds> to;
    std::vector<std::int32_t> articles{};  // article numbers; empty: every article
    enum class Execution { All, Executed, NotExecuted } execution = Execution::All;
    std::string nameText{};  // UTF-8; a record matches when its article name contains it
};

// Record numbers (into the index) that pass the filter, in file order.
using Rows = std::vector<std::uint32_t>;
Rows Apply(const HistoryIndex& index, const Filter& filter);

struct Totals {
    size_t sentences = 0;
    size_t executed = 0;
    size_t notExecuted = 0;
    std::int64_t total = 0;   // sum of the sentences in points
    std::int64_t points = 0;  // sum of the points shares
    std::array<std::int64_t, kImplementCount> units{};
};
Totals Sum(const HistoryIndex& index, const Rows& rows);

// The table's columns, in the table's order.
enum class Column { Time, Number, Name, Total, Executed, Unit1, Unit2, Unit3, Unit4, Points };
inline constexpr int kColumnCount = 10;
// Orders rows by the column; equal keys keep file order.
void SortRows(const HistoryIndex& index, Rows& rows, Column column, bool descending);

// Date presets, in local time. Weeks start on Monday.
enum class Preset { ThisWeek, ThisMonth, Last30Days, ThisYear, All };
struct Range {
    std::optional<Seconds> from;
    std::optional<Seconds> to;  // exclusive
    bool operator==(const Range&) const = default;
};
Range PresetRange(Preset preset, Seconds now);

// Local calendar helpers: the start of the local day holding t, and day starts n days on.
Seconds LocalDayStart(Seconds t);
Seconds AddLocalDays(Seconds dayStart, int days);
// The local day start of a calendar date; nothing when the date does not exist.
std::optional<Seconds> LocalDate(int year, int month, int day);
// "YYYY/MM/DD" or "YYYY-MM-DD" to its local day start.
std::optional<Seconds> ParseDate(const std::string& text);

// Sentences and points per period; the period follows the length of the range.
enum class Bucket { Day, Week, Month };
Bucket BucketFor(Seconds from, Seconds to);
struct Period {
    Seconds start = 0;
    size_t sentences = 0;
    std::int64_t total = 0;
    bool operator==(const Period&) const = default;
};
// Every period from the one holding from up to the one holding to - 1, empty ones too.
std::vector<Period> PerPeriod(const HistoryIndex& index, const Rows& rows, Bucket bucket,
                              Seconds from, Seconds to);
// The range a chart covers: the filter's bounds, else the rows' first and last times.
Range ChartRange(const HistoryIndex& index, const Rows& rows, const Filter& filter);

struct ArticleCount {
    std::int32_t number = 0;
    std::string name;  // CP932: the newest name among the counted records
    size_t sentences = 0;
    std::int64_t total = 0;
    bool operator==(const ArticleCount&) const = default;
};
// Sentences per article number, the most broken first (ties: lower number first).
std::vector<ArticleCount> PerArticle(const HistoryIndex& index, const Rows& rows);

}  // namespace qv::history

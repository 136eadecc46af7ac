#include "history/HistoryQuery.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <limits>
#include <map>
#include <memory>

#include "history/PagesAhead.h"
#include "text/Numbers.h"

namespace qv::history {

namespace {

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::tm LocalTm(Seconds t) {
    const std::time_t seconds = static_cast<std::time_t>(t);
    std::tm tm{};
    ::localtime_r(&seconds, &tm);
    return tm;
}

// mktime of a local calendar date at midnight; the zone decides daylight saving.
Seconds MakeLocal(int year, int month0, int day) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month0;
    tm.tm_mday = day;
    tm.tm_isdst = -1;
    return static_cast<Seconds>(std::mktime(&tm));
}

Seconds MonthStart(Seconds t) {
    const std::tm tm = LocalTm(t);
    return MakeLocal(tm.tm_year + 1900, tm.tm_mon, 1);
}

Seconds WeekStart(Seconds t) {
    const std::tm tm = LocalTm(t);
    const int sinceMonday = (tm.tm_wday + 6) % 7;
    return MakeLocal(tm.tm_year + 1900, tm.tm_mon, tm.tm_mday - sinceMonday);
}

Seconds NextStart(Seconds start, Bucket bucket) {
    const std::tm tm = LocalTm(start);
    switch (bucket) {
        case Bucket::Day:
            return MakeLocal(tm.tm_year + 1900, tm.tm_mon, tm.tm_mday + 1);
        case Bucket::Week:
            return MakeLocal(tm.tm_year + 1900, tm.tm_mon, tm.tm_mday + 7);
        case Bucket::Month:
            return MakeLocal(tm.tm_year + 1900, tm.tm_mon + 1, 1);
    }
    return start + 86400;
}

Seconds BucketStart(Seconds t, Bucket bucket) {
    switch (bucket) {
        case Bucket::Day:
            return LocalDayStart(t);
        case Bucket::Week:
            return WeekStart(t);
        case Bucket::Month:
            return MonthStart(t);
    }
    return t;
}

}  // namespace

Rows Apply(const HistoryIndex& index, const Filter& filter) {
    // Which article ids pass the article and name tests: worked out once per distinct
    // article, so the walk over the records is a lookup.
    const auto& articles = index.Articles();
    std::vector<char> articleOk(articles.size(), 1);
    const std::string needle = AsciiLower(filter.nameText);
    for (size_t id = 0; id < articles.size(); ++id) {
        if (!filter.articles.empty() && std::find(filter.articles.begin(), filter.articles.end(),
                                                  articles[id].number) == filter.articles.end())
            articleOk[id] = 0;
        else if (!needle.empty() &&
                 AsciiLower(articles[id].nameUtf8).find(needle) == std::string::npos)
            articleOk[id] = 0;
    }
    const Seconds from = filter.from.value_or(INT64_MIN);
    const Seconds to = filter.to.value_or(INT64_MAX);
    const bool wantExecuted = filter.execution == Filter::Execution::Executed;
    const bool anyExecution = filter.execution == Filter::Execution::All;

    // Written without a branch per record: executed and not executed are mixed through
    // the log, so a test that jumps would be mispredicted on every other record. Each
    // record's number is stored, and the end moves on only past those that pass. The
    // rows are written where they stay, not gathered and copied; their pages are mapped
    // in one go, not a fault at a time.
    Rows rows;
    rows.reserve(index.Size() + 1);
    if (const size_t bytes = rows.capacity() * sizeof(std::uint32_t); bytes >= (size_t{4} << 20)) {
        PreferHugePages(rows.data(), bytes);  // only whole huge pages inside the rows
        MapPagesNow(rows.data(), bytes);
    }
    rows.resize(index.Size() + 1);
    std::uint32_t* kept = rows.data();
    size_t n = 0;
    for (size_t i = 0; i < index.Size(); ++i) {
        const Seconds t = index.Time(i);
        const bool pass = (t >= from) & (t < to) & (articleOk[index.ArticleId(i)] != 0) &
                          (anyExecution | (index.Executed(i) == wantExecuted));
        kept[n] = static_cast<std::uint32_t>(i);
        n += pass ? 1 : 0;
    }
    rows.resize(n);
    // Few rows kept: the room for all is given back (a copy of the few).
    if (n < rows.capacity() / 4) rows.shrink_to_fit();
    return rows;
}

namespace {

// The totals of rows counted per set of sentence values: many records share a set, so a
// million rows are a million increments, and each figure is a few products. Exact only
// while no sum can reach the ends of the range (the absolute values add up within it),
// when adding one by one, held at the ends, would give the same; nothing otherwise.
std::optional<Totals> SumByValues(const HistoryIndex& index, const Rows& rows) {
    const size_t kinds = index.ValuesCount();
    if (kinds == 0 || kinds > rows.size() / 4) return std::nullopt;
    std::vector<std::uint32_t> counts(kinds, 0);
    size_t executed = 0;
    for (std::uint32_t r : rows) {
        ++counts[index.ValuesId(r)];
        executed += index.Executed(r) ? 1 : 0;
    }
    using Wide = __int128;
    constexpr Wide kLimit = std::numeric_limits<std::int64_t>::max();
    Wide sums[2 + kImplementCount] = {}, reach[2 + kImplementCount] = {};
    for (std::uint32_t id = 0; id < kinds; ++id) {
        if (counts[id] == 0) continue;
        const SentenceValues& v = index.ValuesAt(id);
        const std::int64_t figures[2 + kImplementCount] = {v.total, v.points, v.units[0],
                                                           v.units[1], v.units[2], v.units[3]};
        for (size_t f = 0; f < std::size(figures); ++f) {
            const Wide value = figures[f];
            sums[f] += value * counts[id];
            reach[f] += (value < 0 ? -value : value) * counts[id];
            if (reach[f] > kLimit) return std::nullopt;
        }
    }
    Totals t;
    t.sentences = rows.size();
    t.executed = executed;
    t.notExecuted = rows.size() - executed;
    t.total = static_cast<std::int64_t>(sums[0]);
    t.points = static_cast<std::int64_t>(sums[1]);
    for (int k = 0; k < kImplementCount; ++k) t.units[k] = static_cast<std::int64_t>(sums[2 + k]);
    return t;
}

// Rows already in order by key (a log in time order, by time) turned round or left as
// they are where they stand: no keyed copy of a million rows is made for them. False,
// rows untouched, when they are not in order.
template <typename Key>
bool SortInPlace(Rows& rows, Key key, bool descending) {
    for (size_t i = 1; i < rows.size(); ++i) {
        const std::int64_t a = key(rows[i - 1]), b = key(rows[i]);
        if (descending ? a > b : (a > b || (a == b && rows[i - 1] > rows[i]))) return false;
    }
    if (!descending) return true;
    // Newest first: turned round, with equal keys turned back into their order.
    std::reverse(rows.begin(), rows.end());
    for (auto run = rows.begin(); run != rows.end();) {
        const std::int64_t k = key(*run);
        auto end = run + 1;
        while (end != rows.end() && key(*end) == k) ++end;
        std::reverse(run, end);
        run = end;
    }
    return true;
}

}  // namespace

Totals Sum(const HistoryIndex& index, const Rows& rows) {
    if (const std::optional<Totals> counted = SumByValues(index, rows)) return *counted;
    Totals t;
    t.sentences = rows.size();
    for (std::uint32_t r : rows) {
        const SentenceValues& v = index.Values(r);
        if (index.Executed(r))
            ++t.executed;
        else
            ++t.notExecuted;
        t.total = qv::SaturatingAdd(t.total, v.total);
        t.points = qv::SaturatingAdd(t.points, v.points);
        for (int k = 0; k < kImplementCount; ++k)
            t.units[k] = qv::SaturatingAdd(t.units[k], v.units[k]);
    }
    return t;
}

void SortRows(const HistoryIndex& index, Rows& rows, Column column, bool descending) {
    // One key per row, then a sort of (key, row): the row number breaks ties in file order.
    std::vector<std::int64_t> nameRank;
    if (column == Column::Name) {
        const auto& articles = index.Articles();
        std::vector<std::uint32_t> ids(articles.size());
        for (size_t i = 0; i < ids.size(); ++i) ids[i] = static_cast<std::uint32_t>(i);
        std::stable_sort(ids.begin(), ids.end(), [&](std::uint32_t a, std::uint32_t b) {
            return articles[a].name < articles[b].name;
        });
        nameRank.resize(ids.size());
        for (size_t rank = 0; rank < ids.size(); ++rank) nameRank[ids[rank]] = rank;
    }
    auto key = [&](std::uint32_t r) -> std::int64_t {
        switch (column) {
            case Column::Time:
                return index.Time(r);
            case Column::Number:
                return index.Article(r).number;
            case Column::Name:
                return nameRank[index.ArticleId(r)];
            case Column::Total:
                return index.Values(r).total;
            case Column::Executed:
                return index.Executed(r) ? 1 : 0;
            case Column::Unit1:
            case Column::Unit2:
            case Column::Unit3:
            case Column::Unit4:
                return index.Values(r)
                    .units[static_cast<int>(column) - static_cast<int>(Column::Unit1)];
            case Column::Points:
                return index.Values(r).points;
        }
        return 0;
    };
    // The table opens and refills newest first: that key is read directly, not through
    // the switch, as it runs over every row of every filter.
    const bool inOrder =
        column == Column::Time
            ? SortInPlace(rows, [&](std::uint32_t r) { return index.Time(r); }, descending)
            : SortInPlace(rows, key, descending);
    if (inOrder) return;
    std::vector<std::pair<std::int64_t, std::uint32_t>> keyed;
    keyed.reserve(rows.size());
    for (std::uint32_t r : rows) keyed.emplace_back(key(r), r);
    // Equal keys stay in file order (the row number breaks the tie) both ways.
    if (descending)
        std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
            return a.first != b.first ? a.first > b.first : a.second < b.second;
        });
    else
        std::sort(keyed.begin(), keyed.end());
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = keyed[i].second;
}

Seconds LocalDayStart(Seconds t) {
    const std::tm tm = LocalTm(t);
    return MakeLocal(tm.tm_year + 1900, tm.tm_mon, tm.tm_mday);
}

Seconds AddLocalDays(Seconds dayStart, int days) {
    const std::tm tm = LocalTm(dayStart);
    return MakeLocal(tm.tm_year + 1900, tm.tm_mon, tm.tm_mday + days);
}

std::optional<Seconds> LocalDate(int year, int month, int day) {
    if (year < 1900 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31)
        return std::nullopt;
    const Seconds t = MakeLocal(year, month - 1, day);
    const std::tm back = LocalTm(t);
    // mktime rolls 31 April over into May: such a date does not exist.
    if (back.tm_mon != month - 1 || back.tm_mday != day) return std::nullopt;
    return t;
}

std::optional<Seconds> ParseDate(const std::string& text) {
    int year = 0, month = 0, day = 0;
    char sep1 = 0, sep2 = 0, extra = 0;
    if (std::sscanf(text.c_str(), "%4d%c%2d%c%2d%c", &year, &sep1, &month, &sep2, &day, &extra) !=
            5 ||
        sep1 != sep2 || (sep1 != '/' && sep1 != '-'))
        return std::nullopt;
    // Only digits and the two separators: sscanf would also take blanks and signs.
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)) && c != sep1) return std::nullopt;
    return LocalDate(year, month, day);
}

Range PresetRange(Preset preset, Seconds now) {
    const Seconds today = LocalDayStart(now);
    const Seconds tomorrow = AddLocalDays(today, 1);
    const std::tm tm = LocalTm(now);
    switch (preset) {
        case Preset::ThisWeek:
            return {WeekStart(now), AddLocalDays(WeekStart(now), 7)};
        case Preset::ThisMonth:
            return {MonthStart(now), MakeLocal(tm.tm_year + 1900, tm.tm_mon + 1, 1)};
        case Preset::Last30Days:
            return {AddLocalDays(today, -29), tomorrow};
        case Preset::ThisYear:
            return {MakeLocal(tm.tm_year + 1900, 0, 1), MakeLocal(tm.tm_year + 1901, 0, 1)};
        case Preset::All:
            return {};
    }
    return {};
}

Bucket BucketFor(Seconds from, Seconds to) {
    const Seconds days = (to - from) / 86400;
    if (days <= 62) return Bucket::Day;
    if (days <= 400) return Bucket::Week;
    return Bucket::Month;
}

std::vector<Period> PerPeriod(const HistoryIndex& index, const Rows& rows, Bucket bucket,
                              Seconds from, Seconds to) {
    std::vector<Period> periods;
    if (to <= from) return periods;
    // Boundaries in local time, once; each record then finds its period by a search.
    std::vector<Seconds> starts;
    for (Seconds s = BucketStart(from, bucket); s < to; s = NextStart(s, bucket)) {
        starts.push_back(s);
        if (starts.size() > 100000) break;  // a range no chart could show anyway
    }
    periods.resize(starts.size());
    for (size_t i = 0; i < starts.size(); ++i) periods[i].start = starts[i];
    // Rows come sorted, mostly by time: the period of the row before is tried first.
    size_t p = 0;
    for (std::uint32_t r : rows) {
        const Seconds t = index.Time(r);
        if (t < starts.front() || t >= to) continue;
        if (!(starts[p] <= t && (p + 1 == starts.size() || t < starts[p + 1])))
            p = static_cast<size_t>(std::upper_bound(starts.begin(), starts.end(), t) -
                                    starts.begin()) -
                1;
        ++periods[p].sentences;
        periods[p].total = qv::SaturatingAdd(periods[p].total, index.Values(r).total);
    }
    return periods;
}

Range ChartRange(const HistoryIndex& index, const Rows& rows, const Filter& filter) {
    Range range{filter.from, filter.to};
    if (rows.empty()) return range;
    if ((!range.from || !range.to) && rows.size() == index.Size()) {
        // Every record is shown (each row is a record once): the index knows their span.
        if (!range.from) range.from = LocalDayStart(*index.FirstTime());
        if (!range.to) range.to = AddLocalDays(LocalDayStart(*index.LastTime()), 1);
    } else if (!range.from || !range.to) {
        Seconds first = index.Time(rows.front());
        Seconds last = first;
        for (std::uint32_t r : rows) {
            first = std::min(first, index.Time(r));
            last = std::max(last, index.Time(r));
        }
        if (!range.from) range.from = LocalDayStart(first);
        if (!range.to) range.to = AddLocalDays(LocalDayStart(last), 1);
    }
    return range;
}

std::vector<ArticleCount> PerArticle(const HistoryIndex& index, const Rows& rows) {
    const auto& articles = index.Articles();
    std::vector<size_t> counts(articles.size(), 0);
    std::vector<std::int64_t> totals(articles.size(), 0);
    std::vector<std::uint32_t> newest(articles.size(), 0);
    for (std::uint32_t r : rows) {
        const std::uint32_t id = index.ArticleId(r);
        ++counts[id];
        totals[id] = qv::SaturatingAdd(totals[id], index.Values(r).total);
        newest[id] = std::max(newest[id], r);
    }
    std::map<std::int32_t, std::pair<ArticleCount, std::uint32_t>> byNumber;
    for (size_t id = 0; id < articles.size(); ++id) {
        if (counts[id] == 0) continue;
        auto& [count, newestRow] = byNumber[articles[id].number];
        count.number = articles[id].number;
        count.sentences += counts[id];
        count.total = qv::SaturatingAdd(count.total, totals[id]);
        if (count.name.empty() || newest[id] >= newestRow) {
            count.name = articles[id].name;
            newestRow = newest[id];
        }
    }
    std::vector<ArticleCount> out;
    out.reserve(byNumber.size());
    for (auto& [number, entry] : byNumber) out.push_back(std::move(entry.first));
    std::stable_sort(out.begin(), out.end(), [](const ArticleCount& a, const ArticleCount& b) {
        return a.sentences > b.sentences;
    });
    return out;
}

}  // namespace qv::history

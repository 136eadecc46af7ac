// History over the sentence log: the index (damaged lines skipped and counted), filters,
// totals, sorting, date presets, periods, articles and the CSV bytes, against the fixture
// log in tests/data/history (names with commas, quotes, half-width kana and ①).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>
#include <string>
#include <vector>

#include "history/BalanceHistory.h"
#include "history/CsvExport.h"
#include "history/HistoryIndex.h"
#include "history/HistoryQuery.h"
#include "records/SentenceLog.h"
#include "rulebook/Info.h"
#include "text/Cp932.h"
#include "tests/support/TestFiles.h"
#include "records/DataFolder.h"

namespace {

using namespace qv::history;
using qv::test::ReadBytes;
using qv::test::Sjis;

const std::string kData = QV_TEST_DATA "/history/";

// Dates in the tests are Tokyo dates; the zone is set for each test and put back after.
class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        SentenceLog::Contents contents;
        ASSERT_EQ(SentenceLog(kData + "test.log").Read(contents), qv::io::ReadStatus::Ok);
        index_.Build(contents);
    }
    static qv::Seconds Tokyo(int y, int m, int d) { return *LocalDate(y, m, d); }

    qv::test::ZoneFor zone_{"Asia/Tokyo"};
    HistoryIndex index_;
};

TEST_F(HistoryTest, IndexSkipsAndCountsWhatIsNotARecord) {
    // Six good records; the tab-less line and the unterminated last line are not records,
    // the record whose time is "abc" has no date. The empty line holds nothing.
    ASSERT_EQ(index_.Size(), 6u);
    EXPECT_EQ(index_.issues.unreadLines, 2u);
    EXPECT_EQ(index_.issues.badTimes, 1u);
    EXPECT_EQ(index_.Time(0), 1704034800);
    EXPECT_EQ(index_.Article(1).name, "Say \"hi\", then");
    EXPECT_EQ(index_.Article(3).nameUtf8, "ｶﾀｶﾅ・①");
    // Only "0" is not executed: the flag "x" counts as done, as in the execution report.
    EXPECT_TRUE(index_.Executed(4));
    EXPECT_FALSE(index_.Executed(2));
    EXPECT_EQ(index_.Values(5).points, 8);
    // Article 2 under its newest name.
    const auto numbers = index_.ArticleNumbers();
    ASSERT_EQ(numbers.size(), 3u);
    EXPECT_EQ(numbers[1].number, 2);
    EXPECT_EQ(numbers[1].name, Sjis("約束破り"));
}

TEST_F(HistoryTest, FiltersGiveTheirRowsAndTotals) {
    using E = Filter::Execution;
    struct Case {
        const char* what;
        Filter filter;
        Rows rows;
        std::int64_t total, points, unit1;
        size_t executed;
    } cases[] = {
        {"everything", {}, {0, 1, 2, 3, 4, 5}, 132, 17, 31, 3},
        {"January: from its first second, up to but not including February",
         {Tokyo(2024, 1, 1), Tokyo(2024, 2, 1)},
         {0, 1, 2},
         67,
         8,
         16,
         1},
        {"from alone", {Tokyo(2024, 2, 29), {}}, {4, 5}, 55, 9, 15, 2},
        {"to alone, excluding its own instant", {{}, 1704110400}, {0}, 20, 2, 4, 1},
        {"one article", {{}, {}, {1}}, {0, 2, 4}, 47, 4, 9, 2},
        {"several articles", {{}, {}, {2, 3}}, {1, 3, 5}, 85, 13, 22, 1},
        {"executed", {{}, {}, {}, E::Executed}, {0, 4, 5}, 75, 11, 19, 3},
        {"not executed", {{}, {}, {}, E::NotExecuted}, {1, 2, 3}, 57, 6, 12, 0},
        {"name text, any case", {{}, {}, {}, E::All, "HI\","}, {1}, 35, 5, 10, 0},
        {"name text outside ASCII", {{}, {}, {}, E::All, "①"}, {3}, 10, 0, 0, 0},
        {"a name the article had before", {{}, {}, {}, E::All, "say"}, {1}, 35, 5, 10, 0},
        {"all at once",
         {Tokyo(2024, 1, 1), Tokyo(2024, 3, 1), {1, 2}, E::NotExecuted, "遅"},
         {2},
         12,
         1,
         2,
         0},
        {"nothing matches", {{}, {}, {9}}, {}, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Rows rows = Apply(index_, c.filter);
        EXPECT_EQ(rows, c.rows);
        const Totals t = Sum(index_, rows);
        EXPECT_EQ(t.sentences, c.rows.size());
        EXPECT_EQ(t.executed, c.executed);
        EXPECT_EQ(t.notExecuted, c.rows.size() - c.executed);
        EXPECT_EQ(t.total, c.total);
        EXPECT_EQ(t.points, c.points);
        EXPECT_EQ(t.units[0], c.unit1);
    }
    const Totals all = Sum(index_, Apply(index_, {}));
    EXPECT_EQ(all.units, (std::array<std::int64_t, 4>{31, 10, 3, 5}));
}

TEST_F(HistoryTest, SortingKeepsFileOrderAmongEqualKeys) {
    const Rows all = Apply(index_, {});
    struct Case {
        Column column;
        bool descending;
        Rows rows;
    } cases[] = {
        {Column::Time, true, {5, 4, 3, 2, 1, 0}},
        {Column::Time, false, {0, 1, 2, 3, 4, 5}},
        {Column::Number, false, {0, 2, 4, 1, 5, 3}},
        {Column::Number, true, {3, 1, 5, 0, 2, 4}},
        {Column::Executed, false, {1, 2, 3, 0, 4, 5}},
        {Column::Total, true, {5, 1, 0, 4, 2, 3}},
        {Column::Unit4, true, {3, 0, 1, 2, 4, 5}},
        {Column::Points, false, {3, 2, 4, 0, 1, 5}},
        // Names in CP932 byte order: ASCII, then kanji (lead bytes 0x88 to 0x9F), then
        // half-width kana (0xA1 to 0xDF).
        {Column::Name, false, {1, 0, 2, 4, 5, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.column) * 2 + c.descending);
        Rows rows = all;
        SortRows(index_, rows, c.column, c.descending);
        EXPECT_EQ(rows, c.rows);
    }
}

TEST_F(HistoryTest, PresetsFollowTheLocalCalendar) {
    // Wednesday 2024-03-06 10:00 in Tokyo (01:00 UTC).
    const qv::Seconds now = Tokyo(2024, 3, 6) + 10 * 3600;
    struct Case {
        Preset preset;
        qv::Seconds from, to;
    } cases[] = {
        {Preset::ThisWeek, Tokyo(2024, 3, 4), Tokyo(2024, 3, 11)},
        {Preset::ThisMonth, Tokyo(2024, 3, 1), Tokyo(2024, 4, 1)},
        {Preset::Last30Days, Tokyo(2024, 2, 6), Tokyo(2024, 3, 7)},  // 29 February too
        {Preset::ThisYear, Tokyo(2024, 1, 1), Tokyo(2025, 1, 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.preset));
        const Range r = PresetRange(c.preset, now);
        EXPECT_EQ(r.from, c.from);
        EXPECT_EQ(r.to, c.to);
    }
    EXPECT_FALSE(PresetRange(Preset::All, now).from.has_value());
    // A Sunday belongs to the week that began on the Monday before.
    EXPECT_EQ(PresetRange(Preset::ThisWeek, Tokyo(2024, 3, 10) + 3600).from, Tokyo(2024, 3, 4));
}

TEST_F(HistoryTest, DatesAreReadStrictly) {
    EXPECT_EQ(ParseDate("2024/02/29"), Tokyo(2024, 2, 29));
    EXPECT_EQ(ParseDate("2024-1-5"), Tokyo(2024, 1, 5));
    for (const char* bad : {"2023/02/29", "2024/13/01", "2024/02/3x", "2024/02-03", " 2024/02/03",
                            "20240203", "", "2024/+2/03"})
        EXPECT_FALSE(ParseDate(bad).has_value()) << bad;
}

TEST_F(HistoryTest, PeriodsCoverTheRangeEmptyOnesIncluded) {
    const Rows all = Apply(index_, {});
    EXPECT_EQ(BucketFor(Tokyo(2024, 3, 1), Tokyo(2024, 4, 1)), Bucket::Day);
    EXPECT_EQ(BucketFor(Tokyo(2024, 1, 1), Tokyo(2025, 1, 1)), Bucket::Week);
    EXPECT_EQ(BucketFor(Tokyo(2020, 1, 1), Tokyo(2025, 1, 1)), Bucket::Month);

    const auto months =
        PerPeriod(index_, all, Bucket::Month, Tokyo(2023, 12, 15), Tokyo(2024, 3, 6));
    ASSERT_EQ(months.size(), 4u);
    EXPECT_EQ(months[0].start, Tokyo(2023, 12, 1));
    EXPECT_EQ(months[0].sentences, 0u);  // the range starts mid-month; nothing in December
    EXPECT_EQ(months[1].sentences, 3u);  // 1 Jan 00:00 and 31 Jan 23:59 are both January
    EXPECT_EQ(months[1].total, 67);
    EXPECT_EQ(months[2].sentences, 2u);
    EXPECT_EQ(months[3].sentences, 1u);

    const auto weeks = PerPeriod(index_, all, Bucket::Week, Tokyo(2024, 1, 1), Tokyo(2024, 1, 15));
    ASSERT_EQ(weeks.size(), 2u);
    EXPECT_EQ(weeks[0].start, Tokyo(2024, 1, 1));  // a Monday
    EXPECT_EQ(weeks[0].sentences, 2u);
    EXPECT_EQ(weeks[1].sentences, 0u);

    const auto days = PerPeriod(index_, all, Bucket::Day, Tokyo(2024, 2, 28), Tokyo(2024, 3, 2));
    ASSERT_EQ(days.size(), 3u);  // 28 and 29 February, 1 March: a leap year
    EXPECT_EQ(days[1].sentences, 1u);

    const Range range = ChartRange(index_, all, {});
    EXPECT_EQ(range.from, Tokyo(2024, 1, 1));
    EXPECT_EQ(range.to, Tokyo(2024, 3, 6));
}

TEST_F(HistoryTest, ArticlesMostBrokenFirstUnderTheirNewestName) {
    const auto counts = PerArticle(index_, Apply(index_, {}));
    ASSERT_EQ(counts.size(), 3u);
    EXPECT_EQ(counts[0].number, 1);
    EXPECT_EQ(counts[0].sentences, 3u);
    EXPECT_EQ(counts[1].number, 2);
    EXPECT_EQ(counts[1].name, Sjis("約束破り"));
    EXPECT_EQ(counts[1].total, 75);
    // Counted over the rows given only: before March article 2 still has its old name.
    const auto early = PerArticle(index_, Apply(index_, {{}, Tokyo(2024, 3, 1)}));
    EXPECT_EQ(early[1].name, "Say \"hi\", then");
}

TEST_F(HistoryTest, CsvBytesMatchTheFixtures) {
    const std::array<std::string, 4> names = {Sjis("腕立て,伏せ"), Sjis("腹筋"),
                                              Sjis("ス\"ク\"ワット"), ""};
    const Rows all = Apply(index_, {});
    EXPECT_EQ(MakeCsv(index_, all, names, CsvEncoding::Cp932), ReadBytes(kData + "all-cp932.csv"));
    EXPECT_EQ(MakeCsv(index_, all, names, CsvEncoding::Utf8Bom), ReadBytes(kData + "all-utf8.csv"));
    // An empty result is the header row alone.
    const std::string fixture = ReadBytes(kData + "all-cp932.csv");
    EXPECT_EQ(MakeCsv(index_, {}, names, CsvEncoding::Cp932),
              fixture.substr(0, fixture.find("\r\n") + 2));
}

TEST(CsvField, QuotesOnlyWhatNeedsIt) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"plain", "plain"},
                 {"a,b", "\"a,b\""},
                 {"say \"x\"", "\"say \"\"x\"\"\""},
                 {"line\r\nend", "\"line\r\nend\""},
                 {"lf\n", "\"lf\n\""},
                 {"", ""},
                 // CP932 表 is 0x95 0x5C: its trail byte is a backslash, never a quote.
                 {"\x95\x5C", "\x95\x5C"},
                 // What a spreadsheet would run as a formula opens as text.
                 {"=HYPERLINK(\"http://x\",\"y\")", "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\""},
                 {"+1", "\"'+1\""},
                 {"-5", "\"'-5\""},
                 {"@SUM(A1)", "\"'@SUM(A1)\""},
                 {"\tcmd", "\"'\tcmd\""},
                 {"\rcmd", "\"'\rcmd\""},
                 {"=a,b", "\"'=a,b\""},
                 // Only the first character counts.
                 {"a=1", "a=1"},
                 {" =1", " =1"},
                 {"'=1", "'=1"}};
    for (const auto& c : cases) EXPECT_EQ(CsvField(c.in), c.out) << c.in;
}

// Article and implement names from the user are neutralised; dates and every number,
// negative ones included, stay as they are.
TEST_F(HistoryTest, FormulaNamesGoOutAsTextAndNumbersAsNumbers) {
    const std::string dir = QV_TEST_DATA "/formulas/";
    SentenceLog::Contents contents;
    ASSERT_EQ(SentenceLog(dir + "test.log").Read(contents), qv::io::ReadStatus::Ok);
    HistoryIndex index;
    index.Build(contents);
    const std::array<std::string, 4> names = {"=1+1", Sjis("-腹筋"), Sjis("@腕立て"), ""};
    Rows rows = Apply(index, {});
    SortRows(index, rows, Column::Time, false);
    EXPECT_EQ(MakeCsv(index, rows, names, CsvEncoding::Cp932), ReadBytes(dir + "expected.csv"));
    EXPECT_EQ(MakeCsv(index, rows, names, CsvEncoding::Utf8Bom),
              "\xEF\xBB\xBF" + qv::Cp932ToUtf8(ReadBytes(dir + "expected.csv")));
}

TEST(BalanceHistoryTest, ReportsAndLateStartFromTheLedgerOnly) {
    BalanceHistory none;
    EXPECT_TRUE(LedgerStartsLate(none, 0));
    EXPECT_EQ(ReportedUnits(none, {}, {}), (std::array<std::int64_t, 4>{}));
    BalanceHistory ledger;
    ledger.events = {{100, 5, 5, {}}, {200, -3, 2, {1, 0, 2, 0}}, {300, -2, 0, {0, 4, 0, 0}}};
    EXPECT_FALSE(LedgerStartsLate(ledger, 100));
    EXPECT_TRUE(LedgerStartsLate(ledger, 99));
    EXPECT_EQ(ReportedUnits(ledger, 150, 300), (std::array<std::int64_t, 4>{1, 0, 2, 0}));
    EXPECT_EQ(ReportedUnits(ledger, {}, {}), (std::array<std::int64_t, 4>{1, 4, 2, 0}));
}

class LedgerHistoryTest : public qv::test::InTempDir {};

TEST_F(LedgerHistoryTest, ReadFromTheLedgerWithReportsAndTheirUndos) {
    CInfo info;
    EXPECT_TRUE(ReadBalanceHistory(info).Empty()) << "no ledger path: nothing known";
    AttachFolder(info, DataFolder());
    EXPECT_TRUE(ReadBalanceHistory(info).Empty()) << "no ledger file yet";
    qv::test::WriteBytes("user.ldg",
                         "100\topen\t\t\t0\t0\t10\r\n"
                         "200\treport\t\t1/0/2/0\t-30\t10\t0\r\n"  // the floor took 20
                         "300\tundo\t\t1/0/2/0\t10\t0\t10\r\n"
                         "400\tcredit\t1700000000\t\t5\t10\t15\r\n"
                         "torn\tline");
    const BalanceHistory h = ReadBalanceHistory(info);
    ASSERT_EQ(h.events.size(), 4u);
    EXPECT_EQ(h.events[1].change, -10);
    EXPECT_EQ(h.events[1].balance, 0);
    EXPECT_EQ(h.events[3].balance, 15);
    EXPECT_EQ(ReportedUnits(h, {}, 250), (std::array<std::int64_t, 4>{1, 0, 2, 0}));
    EXPECT_EQ(ReportedUnits(h, {}, {}), (std::array<std::int64_t, 4>{}));
    EXPECT_FALSE(LedgerStartsLate(h, 100));
}

}  // namespace

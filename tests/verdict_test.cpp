#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "tests/support/TestFiles.h"
#include "text/Numbers.h"
#include "trial/Verdict.h"

namespace {

using qv::test::ReadBytes;
using qv::test::Sjis;
using qv::test::WriteBytes;

constexpr qv::Seconds kDay = 86400;
// 2024-03-15 12:00:00 UTC, and the start of that UTC day.
constexpr qv::Seconds kNow = 1710504000;
constexpr qv::Seconds kToday = 1710460800;
// 2100-01-01 12:00:00 UTC: past the 32-bit range.
constexpr qv::Seconds kNow2100 = 4102488000;
constexpr qv::Seconds kToday2100 = 4102444800;

std::string LogLine(qv::Seconds t, int article, std::int64_t total) {
    return qv::Decimal(t) + "\t" + qv::Decimal(article) + "\tname\t" + qv::Decimal(total) +
           "\tA:1 \t0\t1\t0\t0\t0\t0\r\n";
}

class Verdicts : public qv::test::InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        info_.SetRuleBook(&book_);
        info_.SetLogPath("test.log");
        info_.SetBalancePath("user.dat");
        SetWeights({10, 5, 7, 10});
    }

    void SetWeights(const std::array<int, 4>& weights) {
        const char* names[] = {"A", "B", "C", "D"};
        for (int i = 0; i < 4; ++i) {
            book_.SetImpName(i, names[i]);
            book_.SetImpWeight(i, weights[static_cast<size_t>(i)]);
        }
    }

    void AddRule(int number, int base, int cum, int ext, const std::array<int, 5>& shares,
                 const std::string& name = "name") {
        CRule rule;
        rule.SetNumber(number);
        rule.SetName(name);
        rule.SetText(Sjis("他人の物を盗んではならない。"));
        rule.SetBase(base);
        ASSERT_TRUE(rule.SetCumulative(cum));
        ASSERT_TRUE(rule.SetExtenuation(ext));
        for (int i = 0; i < 5; ++i) rule.SetShare(i, shares[static_cast<size_t>(i)]);
        ASSERT_TRUE(book_.AddRule(rule));
    }

    CVerdict Compose(int article, int level, qv::Seconds now = kNow) {
        Composition c = ComposeVerdict(article, level, info_, now);
        EXPECT_TRUE(c.verdict.has_value()) << static_cast<int>(c.status);
        return c.verdict.value_or(CVerdict{});
    }

    // The worked example: article 12 with three sentences totalling 45 in the window.
    void WorkedExample() {
        AddRule(12, 30, 15, 12, {4, 3, 0, 0, 3}, Sjis("窃盗"));
        WriteBytes("test.log", LogLine(kToday - 3 * kDay, 12, 20) + LogLine(kToday, 12, 10) +
                                   LogLine(kNow, 12, 15));
    }

    CRuleBook book_;
    CInfo info_;
};

struct History {
    qv::Seconds at;
    int article;
    std::int64_t total;
};

struct SentenceCase {
    const char* what;
    int base, cum, ext, level;
    std::array<int, 5> shares;
    std::array<int, 4> weights;
    std::vector<History> history;
    std::int64_t reduction, increase, total;
    std::array<std::int64_t, 5> counts;  // implements 1..4, then the points share
};

TEST_F(Verdicts, SentenceAndDistribution) {
    const std::array<int, 4> std{10, 5, 7, 10};
    const std::array<int, 4> tens{10, 10, 10, 10};
    const std::vector<History> none;
    const SentenceCase cases[] = {
        {"worked example", 30, 15, 12, 8, {4, 3, 0, 0, 3}, std,
         {{kToday - 3 * kDay, 12, 20}, {kToday, 12, 10}, {kNow, 12, 15}},
         8, 7, 29, {12, 18, 0, 0, 9}},
        {"50 x 10 x 0.03 x 1.4 floors to 20, not 21", 50, 10, 14, 10, {1, 0, 0, 0, 0}, std,
         none, 20, 0, 30, {30, 0, 0, 0, 0}},
        {"1.5 floors to 1; root of 2 x root 16 rounds up to 3", 10, 10, 10, 5,
         {0, 0, 0, 0, 1}, std, {{kNow, 12, 6}, {kNow, 12, 10}}, 1, 3, 12, {0, 0, 0, 0, 12}},
        {"equal shares each round up by themselves", 30, 10, 10, 0, {1, 1, 1, 1, 1}, tens,
         none, 0, 0, 30, {6, 6, 6, 6, 6}},
        {"weight 0 takes no units", 20, 10, 10, 0, {1, 1, 0, 0, 0}, {0, 10, 10, 10}, none,
         0, 0, 20, {0, 10, 0, 0, 0}},
        {"4.9 / 0.7 gives 8 units, not 7", 7, 10, 10, 0, {7, 3, 0, 0, 0}, {7, 10, 10, 10},
         none, 0, 0, 7, {8, 3, 0, 0, 0}},
        {"9.8 / 0.7 gives 15 units, not 14", 49, 10, 10, 0, {1, 0, 0, 0, 4}, {7, 10, 10, 10},
         none, 0, 0, 49, {15, 0, 0, 0, 40}},
        {"30 x 0.3 x 0.1 rounds to 3.0 before the floor", 10, 10, 10, 10, {0, 0, 0, 0, 1},
         std, none, 3, 0, 7, {0, 0, 0, 0, 7}},
        {"10 x 0.1 rounds to 1.0 before the ceiling", 10, 1, 10, 0, {0, 0, 0, 0, 1}, std,
         std::vector<History>(10, History{kNow, 12, 10}), 0, 1, 11, {0, 0, 0, 0, 11}},
        {"cumulative coefficient 0 ignores the history", 10, 0, 10, 0, {0, 0, 0, 0, 1}, std,
         {{kNow, 12, 100}}, 0, 0, 10, {0, 0, 0, 0, 10}},
        {"extenuation 0 ignores the level", 10, 10, 0, 10, {0, 0, 0, 0, 1}, std, none, 0, 0,
         10, {0, 0, 0, 0, 10}},
        {"points 0", 20, 10, 10, 0, {1, 0, 0, 0, 0}, tens, none, 0, 0, 20, {20, 0, 0, 0, 0}},
        {"base 0", 0, 10, 10, 5, {1, 1, 1, 1, 1}, tens, none, 0, 0, 0, {0, 0, 0, 0, 0}},
        {"a negative history sum raises nothing", 10, 20, 10, 0, {0, 0, 0, 0, 1}, std,
         {{kNow, 12, -5}, {kNow, 12, -20}}, 0, 0, 10, {0, 0, 0, 0, 10}},
        {"counts beyond 32 bits do not wrap", 2147483647, 10, 10, 0, {1, 0, 0, 0, 1},
         {1, 10, 10, 10}, none, 0, 0, 2147483647, {10737418235, 0, 0, 0, 1073741824}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove("test.log");
        book_.RemoveRule(12);
        AddRule(12, c.base, c.cum, c.ext, c.shares);
        SetWeights(c.weights);
        std::string log;
        for (const auto& h : c.history) log += LogLine(h.at, h.article, h.total);
        if (!log.empty()) WriteBytes("test.log", log);

        const CVerdict v = Compose(12, c.level);
        EXPECT_EQ(v.reduction, c.reduction);
        EXPECT_EQ(v.increase, c.increase);
        EXPECT_EQ(v.total, c.total);
        EXPECT_EQ(v.counts, c.counts);
        EXPECT_EQ(v.points, std::max<std::int64_t>(c.counts[4], 0));
        EXPECT_EQ(v.historyCount, static_cast<std::int64_t>(c.history.size()));
    }
}

TEST_F(Verdicts, WorkedExampleTextsAndRecord) {
    WorkedExample();
    const CVerdict v = Compose(12, 8);
    EXPECT_EQ(v.heading, Sjis("12条:窃盗"));
    EXPECT_EQ(v.articleText, Sjis("他人の物を盗んではならない。"));
    EXPECT_EQ(v.distribution, "A:12 B:18 ");
    EXPECT_EQ(v.countsText, "12\t18\t0\t0\t9");
    EXPECT_EQ(v.points, 9);
    EXPECT_EQ(v.verdictText,
              Sjis("A:12\r\nB:18\r\nポイント:9\r\n\r\n判決理由\r\n\r\n"
                   "12条の基準は30ポイントであり、情状酌量の余地が多分にある。\r\n"
                   "また、過去10日間に3回の同条文の適用があり、その合計量刑は45ポイントである。\r\n"
                   "以上のことから、本件における量刑を29ポイントと決定し、規定に基づき配分した。"));
    EXPECT_EQ(v.ToRecord(1710510000).ToLine(),
              "1710510000\t12\t" + Sjis("窃盗") + "\t29\tA:12 B:18 \t0\t12\t18\t0\t0\t9\r\n");
}

TEST_F(Verdicts, MercyPhraseByLevel) {
    AddRule(12, 10, 10, 0, {1, 0, 0, 0, 0});
    const struct {
        int level;
        const char* phrase;
    } cases[] = {
        {0, "情状酌量の余地はない。"},       {1, "情状酌量の余地はない。"},
        {2, "情状酌量の余地が多少ある。"},   {6, "情状酌量の余地が多少ある。"},
        {7, "情状酌量の余地が多分にある。"}, {10, "情状酌量の余地が多分にある。"},
    };
    for (const auto& c : cases) {
        const std::string expected = Sjis(std::string("A:10\r\n\r\n\r\n判決理由\r\n\r\n"
                                                      "12条の基準は10ポイントであり、") +
                                          c.phrase +
                                          "\r\n以上のことから、本件における量刑を10ポイント"
                                          "と決定し、規定に基づき配分した。");
        EXPECT_EQ(Compose(12, c.level).verdictText, expected) << "level " << c.level;
    }
}

TEST_F(Verdicts, NoUnitsNoPointsLeavesOnlyTheReasons) {
    AddRule(12, 20, 10, 10, {1, 0, 0, 0, 0});
    SetWeights({0, 10, 10, 10});
    const CVerdict v = Compose(12, 0);
    EXPECT_EQ(v.distribution, "");
    EXPECT_EQ(v.countsText, "0\t0\t0\t0\t0");
    EXPECT_EQ(v.points, 0);
    EXPECT_EQ(v.verdictText.substr(0, 8), "\r\n\r\n" + Sjis("判決"));
    EXPECT_EQ(v.ToRecord(5).ToLine(), "5\t12\tname\t20\t\t0\t0\t0\t0\t0\t0\r\n");
}

TEST_F(Verdicts, TenDayWindowOnUtcDays) {
    AddRule(12, 10, 10, 10, {1, 0, 0, 0, 0});
    AddRule(13, 10, 10, 10, {1, 0, 0, 0, 0});
    const struct {
        const char* what;
        qv::Seconds now, at;
        int article;
        bool counts;
    } cases[] = {
        {"10 days back at 00:00:00", kNow, kToday - 10 * kDay, 12, true},
        {"11 days back at 23:59:59", kNow, kToday - 10 * kDay - 1, 12, false},
        {"11 days back at 00:00:00", kNow, kToday - 11 * kDay, 12, false},
        {"today at 00:00:00", kNow, kToday, 12, true},
        {"today at 23:59:59, later than now", kNow, kToday + kDay - 1, 12, true},
        {"tomorrow at 00:00:00", kNow, kToday + kDay, 12, false},
        {"another article", kNow, kNow, 13, false},
        {"2100: 10 days back at 00:00:00", kNow2100, kToday2100 - 10 * kDay, 12, true},
        {"2100: 11 days back at 23:59:59", kNow2100, kToday2100 - 10 * kDay - 1, 12, false},
        {"2100: tomorrow at 00:00:00", kNow2100, kToday2100 + kDay, 12, false},
    };
    for (const auto& c : cases) {
        WriteBytes("test.log", LogLine(c.at, c.article, 16));
        const CVerdict v = Compose(12, 0, c.now);
        EXPECT_EQ(v.historyCount, c.counts ? 1 : 0) << c.what;
        EXPECT_EQ(v.historySum, c.counts ? 16 : 0) << c.what;
        const bool told = v.verdictText.find(Sjis("また、過去10日間に")) != std::string::npos;
        EXPECT_EQ(told, c.counts) << c.what;
    }
}

TEST_F(Verdicts, DayNumbersAreFloorDivision) {
    const struct {
        qv::Seconds t;
        std::int64_t day;
    } cases[] = {{0, 0},           {86399, 0},           {86400, 1},
                 {-1, -1},         {-86400, -1},         {-86401, -2},
                 {2147483647, 24855}, {kToday2100 - 1, 47481}, {kToday2100, 47482},
                 {11874725581881599, 137438953493}};
    for (const auto& c : cases) EXPECT_EQ(DayNumber(c.t), c.day) << c.t;
}

TEST_F(Verdicts, OnlyWholeRecordsCountInTheHistory) {
    AddRule(12, 10, 10, 10, {1, 0, 0, 0, 0});
    const std::string t = qv::Decimal(kNow);
    WriteBytes("test.log",
               "\r\n" +                                       // empty line
                   t + "\t12\r\n" +                           // 2 fields
                   t + "\t12\tname\t100\r\n" +                // 4 fields
                   t + "\t12\tn\t100\tA:1 \t0\t1\t0\t0\r\n" +  // 9 fields
                   LogLine(kNow, 12, 3) +                     // counts
                   t + "\t 12abc\tn\t+4x\tA:1 \t1\t1\t0\t0\t0\t0\n" +  // LF only, atol rules
                   "garbage without tabs\r\n" + LogLine(kNow, 12, 1000));  // no line end
    // The last line has its CR LF cut off.
    std::string bytes = ReadBytes("test.log");
    WriteBytes("test.log", bytes.substr(0, bytes.size() - 2));
    const CVerdict v = Compose(12, 0);
    EXPECT_EQ(v.historyCount, 2);
    EXPECT_EQ(v.historySum, 7);
}

// The steps a preview reuses: the history of a log already read, and when its oldest
// sentence stops counting, which is exactly when the count drops.
TEST_F(Verdicts, HistoryStepsTellWhenTheOldestSentenceStopsCounting) {
    WriteBytes("test.log", LogLine(kToday - 10 * kDay + 5, 12, 7) +
                               LogLine(kToday - 3 * kDay, 12, 20) + LogLine(kNow, 12, 15) +
                               LogLine(kNow, 13, 99) + LogLine(kToday - 11 * kDay, 12, 50));
    SentenceLog::Contents log;
    ASSERT_EQ(SentenceLog("test.log").Read(log), qv::io::ReadStatus::Ok);
    const ::History h = CountHistory(log, 12, kNow);
    EXPECT_EQ(h.count, 3);
    EXPECT_EQ(h.sum, 42);
    ASSERT_TRUE(h.oldest.has_value());
    EXPECT_EQ(*h.oldest, kToday - 10 * kDay + 5);
    const qv::Seconds end = StopsCounting(*h.oldest);
    EXPECT_EQ(end, kToday + kDay);
    EXPECT_EQ(CountHistory(log, 12, end - 1).count, 3);
    EXPECT_EQ(CountHistory(log, 12, end).count, 2);
    EXPECT_FALSE(CountHistory(log, 14, kNow).oldest.has_value());
    EXPECT_EQ(StopsCounting(std::numeric_limits<qv::Seconds>::max()),
              std::numeric_limits<qv::Seconds>::max());

    // The steps give the composition's figures.
    AddRule(12, 30, 15, 12, {4, 3, 0, 0, 3});
    const CVerdict v = Compose(12, 8);
    const Sentence s = ComputeSentence(*book_.FindRule(12), 8, h);
    EXPECT_EQ(s.total, v.total);
    EXPECT_EQ(DistributeSentence(*book_.FindRule(12), book_, s.total).counts, v.counts);
}

TEST_F(Verdicts, RefusalsComeBeforeAnyArithmetic) {
    AddRule(12, 10, 10, 10, {0, 0, 0, 0, 0});
    AddRule(13, 10, 10, 10, {1, -1, 0, 0, 0});
    AddRule(14, 10, 10, 10, {1, 0, 0, 0, 0});
    std::filesystem::create_directory("dir.log");
    using Status = Composition::Status;
    const struct {
        const char* what;
        int article;
        const char* log;
        Status reason;  // the wording of each is checked with the trial window
    } cases[] = {
        {"all shares 0", 12, "test.log", Status::SharesAddUpToZero},
        {"shares adding up to 0", 13, "test.log", Status::SharesAddUpToZero},
        {"no such article", 99, "test.log", Status::NoSuchArticle},
        {"log that cannot be read", 14, "dir.log", Status::LogUnreadable},
    };
    for (const auto& c : cases) {
        info_.SetLogPath(c.log);
        const std::string before = qv::test::ListDir();
        const Composition r = ComposeVerdict(c.article, 5, info_, kNow);
        EXPECT_FALSE(r.verdict.has_value()) << c.what;
        EXPECT_EQ(r.status, c.reason) << c.what;
        EXPECT_EQ(qv::test::ListDir(), before) << c.what;
    }
}

TEST_F(Verdicts, DecideAppendsThenCredits) {
    WorkedExample();
    const CVerdict v = Compose(12, 8);
    const std::string log = ReadBytes("test.log");
    const std::string record = v.ToRecord(kNow + 60).ToLine();

    WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    Decision d = DecideVerdict(v, info_, kNow + 60);
    EXPECT_EQ(d.status, Decision::Status::Ok);
    EXPECT_EQ(ReadBytes("test.log"), log + record);
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t19\te\tf");

    // The balance cannot be credited: the record stays, the file is left alone. The
    // second it was decided in names a sentence already: it takes the next one.
    WriteBytes("user.dat", "a\tb\tc\t10");
    d = DecideVerdict(v, info_, kNow + 60);
    EXPECT_EQ(d.status, Decision::Status::NotCredited);
    EXPECT_EQ(d.balance, PointBalance::Status::Short);
    EXPECT_EQ(d.id, std::to_string(kNow + 61));
    const std::string next = std::to_string(kNow + 61) + record.substr(record.find('\t'));
    EXPECT_EQ(ReadBytes("test.log"), log + record + next);
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t10");

    // The record cannot be appended: neither file changes.
    WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    ::chmod("test.log", 0444);
    d = DecideVerdict(v, info_, kNow + 60);
    EXPECT_EQ(d.status, Decision::Status::NotRecorded);
    EXPECT_EQ(ReadBytes("test.log"), log + record + next);
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t10\te\tf");
}

TEST_F(Verdicts, DecidingWithoutPointsLeavesTheBalanceAlone) {
    AddRule(12, 20, 10, 10, {1, 0, 0, 0, 0});
    const CVerdict v = Compose(12, 0);
    ASSERT_EQ(v.points, 0);
    EXPECT_EQ(DecideVerdict(v, info_, 7).status, Decision::Status::Ok);
    EXPECT_EQ(ReadBytes("test.log"), "7\t12\tname\t20\tA:20 \t0\t20\t0\t0\t0\t0\r\n");
    EXPECT_FALSE(qv::test::Exists("user.dat"));
}

}  // namespace

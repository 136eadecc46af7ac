#include "trial/Preview.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "tests/support/TestFiles.h"
#include "text/Numbers.h"

namespace {

using qv::test::WriteBytes;

constexpr qv::Seconds kDay = 86400;
constexpr qv::Seconds kToday = 1710460800;  // 2024-03-15 00:00 UTC

TEST(TrialPreview, ChangesOnlyAtTheNextUtcMidnight) {
    struct Case {
        qv::Seconds now, next;
    } cases[] = {
        {kToday, kToday + kDay},      {kToday + kDay - 1, kToday + kDay},
        {0, kDay},                    {-1, 0},
        {-kDay, 0},                   {4102444800 + 5, 4102444800 + kDay},  // past 2038
    };
    for (const auto& c : cases) EXPECT_EQ(NextPreviewChange(c.now), c.next) << c.now;
}

// The preview's figures are the verdict's: composed now, and from the moment the oldest
// counted application stops counting, each equal to what ComposeVerdict gives reading the
// log at that time.
class TrialPreviewOnALog : public qv::test::InTempDir {};

TEST_F(TrialPreviewOnALog, IsTheVerdictNowAndWhenTheOldestDropsOut) {
    CRuleBook book;
    const char* names[] = {"A", "B", "C", "D"};
    const int weights[] = {10, 5, 7, 10};
    for (int i = 0; i < 4; ++i) {
        book.SetImpName(i, names[i]);
        book.SetImpWeight(i, weights[i]);
    }
    CRule rule;
    rule.SetNumber(12);
    rule.SetName("name");
    rule.SetBase(30);
    ASSERT_TRUE(rule.SetCumulative(15));
    ASSERT_TRUE(rule.SetExtenuation(12));
    const std::array<int, 5> shares{4, 3, 0, 0, 3};
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(rule.SetShare(i, shares[static_cast<size_t>(i)]));
    ASSERT_TRUE(book.AddRule(rule));
    CInfo info;
    info.SetRuleBook(&book);
    info.SetLogPath("test.log");

    auto line = [](qv::Seconds t, std::int64_t total) {
        return qv::Decimal(t) + "\t12\tname\t" + qv::Decimal(total) + "\tA:1 \t0\t1\t0\t0\t0\t0\r\n";
    };
    // Two on the oldest day still counted (10 days ago), one 3 days ago, one tomorrow.
    WriteBytes("test.log", line(kToday - 10 * kDay + 5, 20) + line(kToday - 10 * kDay + 9, 25) +
                               line(kToday - 3 * kDay, 10) + line(kToday + kDay + 1, 7));
    const qv::Seconds now = kToday + 3600;
    SentenceLog::Contents log;
    qv::io::IoError error;
    const qv::io::ReadStatus read = SentenceLog("test.log").Read(log, &error);
    for (int level : {0, 4, 8}) {
        SCOPED_TRACE(level);
        const TrialPreview p = PreviewTrial(12, level, info, now, log, read, error);
        const Composition verdictNow = ComposeVerdict(12, level, info, now);
        ASSERT_TRUE(p.now.verdict && verdictNow.verdict);
        EXPECT_EQ(p.now.verdict->verdictText, verdictNow.verdict->verdictText);
        EXPECT_EQ(p.history.count, 3);
        EXPECT_EQ(p.history.sum, 55);
        ASSERT_TRUE(p.oldestStops.has_value());
        EXPECT_EQ(*p.oldestStops, kToday + kDay) << "the start of the 11th day after its own";
        const Composition verdictThen = ComposeVerdict(12, level, info, *p.oldestStops);
        ASSERT_TRUE(p.afterwards && p.afterwards->verdict && verdictThen.verdict);
        EXPECT_EQ(p.afterwards->verdict->verdictText, verdictThen.verdict->verdictText);
        // Both of that day go; tomorrow's comes in.
        EXPECT_EQ(p.afterwards->verdict->historyCount, 2);
        EXPECT_EQ(p.afterwards->verdict->historySum, 17);
        // A second before, nothing has changed yet.
        const Composition before = ComposeVerdict(12, level, info, *p.oldestStops - 1);
        EXPECT_EQ(before.verdict->verdictText, verdictNow.verdict->verdictText);
    }
}

}  // namespace

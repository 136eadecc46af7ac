#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "records/SentenceLog.h"
#include "tests/support/TestFiles.h"
#include "text/Numbers.h"
#include "trial/Verdict.h"

// The trial's one pass over the log, a piece at a time, against the whole read it
// replaces: the same damage told and the same history for every trial it serves, wherever
// the pieces happen to part the lines.
namespace {

using qv::test::WriteBytes;

constexpr qv::Seconds kDay = 86400;
constexpr qv::Seconds kToday = 1710460800;  // 2024-03-15 00:00 UTC
constexpr size_t kPiece = size_t{256} << 10;  // the reader's piece

std::string Record(qv::Seconds t, int article, std::int64_t total, const char* end = "\r\n") {
    return qv::Decimal(t) + "\t" + qv::Decimal(article) + "\tname\t" + qv::Decimal(total) +
           "\tA:1 \t0\t1\t0\t0\t0\t0" + end;
}

// Old records up to about `bytes`, none of which counts today.
std::string Filler(size_t bytes) {
    std::string s;
    for (qv::Seconds t = kToday - 400 * kDay; s.size() < bytes; t += 60) s += Record(t, 12, 5);
    return s;
}

// Pads s with old records so that its size is exactly `at` (give or take a short line).
std::string FillTo(std::string s, size_t at) {
    while (s.size() + 80 < at) s += Record(kToday - 300 * kDay, 3, 1);
    s += std::string(at - s.size() - 1, 'x') + "\n";  // one damaged line up to `at`
    return s;
}

class TrialLogTest : public qv::test::InTempDir {};

TEST_F(TrialLogTest, TellsTheSameDamageAndHistoryAsAWholeRead) {
    const std::string recent = Record(kToday - 2 * kDay, 12, 20) + Record(kToday - kDay, 12, 15) +
                               Record(kToday + 3600, 7, 9) + Record(kToday - 10 * kDay, 12, 40);
    const std::string damaged = "a line\r\n" "cr\ronly\r\n" "\r\n" "\n" +
                                Record(kToday, 12, 1, "\r\r\n") +  // a lone CR inside
                                std::string("x1\t12\tname\t3\tA:1 \t0\t1\t0\t0\t0\t0\r\n");
    struct Case {
        const char* what;
        std::string log;
    } cases[] = {
        {"small, every kind of line", damaged + recent},
        {"a record across the first piece's end",
         FillTo(Filler(1000), kPiece - 30) + recent + damaged + recent},
        {"a damaged line across the piece's end", FillTo(Filler(1000), kPiece - 3) + damaged + recent},
        {"a piece ending exactly at a line end", FillTo(Filler(1000), kPiece) + recent + damaged},
        {"a line longer than a piece",
         recent + std::string(kPiece + 1000, 'y') + "\r\n" + recent + std::string(3 * kPiece, 'z') +
             "\t\t\t\t\t\t\t\t\t\t\n" + recent},
        {"records ended by a bare LF", Record(kToday - kDay, 12, 3, "\n") + Filler(kPiece) + recent},
        {"the last line without its line end", Filler(kPiece + 500) + recent + Record(kToday, 12, 8, "")},
        {"a log of damage only", "abc\r\ndef"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes("test.log", c.log);
        SentenceLog::Contents whole;
        ASSERT_EQ(SentenceLog("test.log").Read(whole), qv::io::ReadStatus::Ok);
        const TrialLog pass = TrialLog::Read("test.log", kToday);
        ASSERT_EQ(pass.read, qv::io::ReadStatus::Ok);
        const auto& want = whole.Damaged();
        EXPECT_EQ(pass.damage.unreadLines, want.unreadLines);
        EXPECT_EQ(pass.damage.crOnlyLines, want.crOnlyLines);
        EXPECT_EQ(pass.damage.badTimes, want.badTimes);
        EXPECT_EQ(pass.damage.gluedLines, want.gluedLines);
        EXPECT_TRUE(pass.StillMatches("test.log"));
        EXPECT_LT(pass.entries.size(), 40u) << "only what can still count is kept";
        // Every trial from the day it was read for on, up to past the newest record.
        for (const qv::Seconds now : {kToday, kToday + kDay - 1, kToday + 5 * kDay, kToday + 11 * kDay}) {
            ASSERT_TRUE(pass.Covers(now));
            for (const int article : {3, 7, 12}) {
                const History a = CountHistory(whole, article, now), b = CountHistory(pass, article, now);
                EXPECT_EQ(b.count, a.count) << article << " at " << now;
                EXPECT_EQ(b.sum, a.sum) << article << " at " << now;
                EXPECT_EQ(b.oldest, a.oldest) << article << " at " << now;
            }
        }
        EXPECT_FALSE(pass.Covers(kToday - 1)) << "a clock set back needs a new read";
    }
}

TEST_F(TrialLogTest, FailsAsAWholeReadFails) {
    struct Case {
        const char* what;
        void (*make)();
    } cases[] = {
        {"missing", [] {}},
        {"empty", [] { WriteBytes("test.log", ""); }},
        {"no read bit", [] {
             WriteBytes("test.log", Record(kToday, 12, 1));
             ::chmod("test.log", 0);
         }},
        {"a folder", [] { std::filesystem::create_directory("test.log"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all("test.log");
        c.make();
        SentenceLog::Contents whole;
        qv::io::IoError wholeError;
        const qv::io::ReadStatus want = SentenceLog("test.log").Read(whole, &wholeError);
        const TrialLog pass = TrialLog::Read("test.log", kToday);
        EXPECT_EQ(pass.read, want);
        EXPECT_EQ(pass.error.op, wholeError.op);
        EXPECT_EQ(pass.error.err, wholeError.err);
        EXPECT_TRUE(pass.entries.empty());
    }
    std::filesystem::remove_all("test.log");
}

TEST_F(TrialLogTest, NoLongerMatchesALogChangedSinceItWasRead) {
    WriteBytes("test.log", Record(kToday - kDay, 12, 10));
    const TrialLog pass = TrialLog::Read("test.log", kToday);
    ASSERT_TRUE(pass.StillMatches("test.log"));
    WriteBytes("test.log", Record(kToday - kDay, 12, 10) + Record(kToday, 12, 5));
    EXPECT_FALSE(pass.StillMatches("test.log"));
}

}  // namespace

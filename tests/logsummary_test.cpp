#include "execution/LogSummary.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "records/SentenceLog.h"
#include "tests/support/TestFiles.h"
#include "text/Numbers.h"

namespace {

using qv::test::WriteBytes;

class LogSummaryTest : public qv::test::InTempDir {};

// The figures of the status line: records, those whose mark is exactly "0", and their
// sentences (field 3) added up, held at the ends of the range. Marks that only look like
// "0" count as executed, as the list shows them ("済").
TEST_F(LogSummaryTest, CountsExactlyTheRecordsMarkedZeroAndAddsTheirSentences) {
    const auto record = [](const std::string& total, const std::string& mark) {
        return "1700000000\t1\tX\t" + total + "\tA:3 \t" + mark + "\t3\t0\t0\t0\t9\r\n";
    };
    const std::string big = std::to_string(std::numeric_limits<std::int64_t>::max());
    const struct Case {
        const char* what;
        std::string log;
        LogSummary expected;
    } cases[] = {
        {"plain", record("30", "0") + record("4", "1") + record("2", "0"), {3, 2, 32}},
        {"marks that only look like 0", record("5", "00") + record("5", " 0") + record("5", "") +
                                             record("5", "0 ") + record("5", "o"),
         {5, 0, 0}},
        {"a sentence that is no number", record("x", "0") + record("-7", "0"), {2, 2, -7}},
        {"held at the top", record(big, "0") + record("1", "0") + record("-1", "0"),
         {3, 3, std::numeric_limits<std::int64_t>::max() - 1}},
        {"other lines are no records", "damaged\r\n" + record("6", "0") + "\r\n", {1, 1, 6}},
        {"a glued record", "1700000000\t1\tX\r\t8\tA:3 \t0\t3\t0\t0\t0\t9\t0\r\n", {1, 1, 8}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes("test.log", c.log);
        SentenceLog::Contents contents;
        ASSERT_EQ(SentenceLog("test.log").Read(contents), qv::io::ReadStatus::Ok);
        const LogSummary got = SummarizeLog(contents);
        ASSERT_TRUE(contents.NotExecuted().known) << "counted as it was read";
        const LogSummary walked = SummarizeRecords(contents, 0, contents.RecordCount());
        EXPECT_EQ(walked.notExecuted, got.notExecuted);
        EXPECT_EQ(walked.notExecutedPoints, got.notExecutedPoints);
        EXPECT_EQ(got.records, c.expected.records);
        EXPECT_EQ(got.notExecuted, c.expected.notExecuted);
        EXPECT_EQ(got.notExecutedPoints, c.expected.notExecutedPoints);
        // The same, field by field, as the list reads them.
        LogSummary fieldwise;
        fieldwise.records = contents.RecordCount();
        for (size_t i = 0; i < contents.RecordCount(); ++i) {
            if (contents.Field(i, SentenceRecord::kExecuted) != "0") continue;
            ++fieldwise.notExecuted;
            fieldwise.notExecutedPoints =
                qv::SaturatingAdd(fieldwise.notExecutedPoints,
                                  qv::ReadInt64(contents.Field(i, SentenceRecord::kTotal)));
        }
        EXPECT_EQ(got.notExecuted, fieldwise.notExecuted);
        EXPECT_EQ(got.notExecutedPoints, fieldwise.notExecutedPoints);
    }
}

}  // namespace

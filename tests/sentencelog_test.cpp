#include "records/SentenceLog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/support/FaultInjection.h"
#include "tests/support/TestFiles.h"
#include "text/FileIo.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace {

using qv::io::ReadStatus;
using qv::test::ReadBytes;
using qv::test::Sjis;
using qv::test::WriteBytes;

class SentenceLogTest : public qv::test::InTempDir {};

// The worked example's record: article 12, total 29, A:12 B:18, 9 points.
SentenceRecord Example(const std::string& time) {
    return {{time, "12", Sjis("窃盗"), "29", "A:12 B:18 ", "0", "12", "18", "0", "0", "9"}};
}

std::string ExampleLine(const std::string& time) {
    return time + "\t12\t" + Sjis("窃盗") + "\t29\tA:12 B:18 \t0\t12\t18\t0\t0\t9\r\n";
}

TEST_F(SentenceLogTest, AppendWritesOneWholeLine) {
    struct Case {
        const char* what;
        const char* before;  // nullptr: no file
        std::string after;
    } cases[] = {
        {"missing file is created", nullptr, ExampleLine("1041433200")},
        {"after a complete line", "x\r\n", "x\r\n" + ExampleLine("1041433200")},
        {"after a bare LF", "x\n", "x\n" + ExampleLine("1041433200")},
        {"never glued to a damaged last line", "1\t2\t3",
         "1\t2\t3\r\n" + ExampleLine("1041433200")},
        {"last byte a lone CR", "x\r", "x\r\r\n" + ExampleLine("1041433200")},
    };
    for (const auto& c : cases) {
        std::filesystem::remove("test.log");
        if (c.before) WriteBytes("test.log", c.before);
        EXPECT_TRUE(SentenceLog("test.log").Append(Example("1041433200"))) << c.what;
        EXPECT_EQ(ReadBytes("test.log"), c.after) << c.what;
    }

    SentenceRecord noImplements{{"7", "1", "n", "4", "", "0", "0", "0", "0", "0", "4"}};
    EXPECT_EQ(noImplements.ToLine(), "7\t1\tn\t4\t\t0\t0\t0\t0\t0\t4\r\n")
        << "an empty distribution gives two adjacent TABs";
}

TEST_F(SentenceLogTest, AppendToAReadOnlyLogFailsAndChangesNothing) {
    WriteBytes("test.log", "x\r\n");
    chmod("test.log", 0444);
    EXPECT_FALSE(SentenceLog("test.log").Append(Example("1")));
    EXPECT_EQ(ReadBytes("test.log"), "x\r\n");
}

// A log with every kind of line a rewrite must cope with.
const std::string kMixed =
    "100\t12\tname\t29\tA:12 B:18 \t0\t12\t18\t0\t0\t9\r\n"  // record, id 100
    "damaged\tline\r\n"                                      // too few fields
    "200\t3\tx\t5\t\t0\t0\t0\t0\t0\t0\n"                     // record ended by a bare LF
    "\r\n"                                                   // empty line
    "100\t4\ty\t8\tC:2 \t1\t0\t0\t2\t0\t3\textra\r\n"        // same id, one field too many
    "300\t1\tz\t1\t\t0\t0\t0\t0\t0\t0";                      // record text without line end

TEST_F(SentenceLogTest, ReadGivesRecordsInFileOrderAndKeepsOtherLinesAside) {
    WriteBytes("test.log", kMixed);
    SentenceLog::Contents log;
    ASSERT_EQ(SentenceLog("test.log").Read(log), ReadStatus::Ok);
    ASSERT_EQ(log.RecordCount(), 3u);
    EXPECT_EQ(log.Record(0), "100\t12\tname\t29\tA:12 B:18 \t0\t12\t18\t0\t0\t9");
    EXPECT_EQ(log.Record(1), "200\t3\tx\t5\t\t0\t0\t0\t0\t0\t0");
    EXPECT_EQ(log.Field(0, SentenceRecord::kDistribution), "A:12 B:18 ");
    EXPECT_EQ(log.Field(1, SentenceRecord::kDistribution), "");
    EXPECT_EQ(log.Field(2, SentenceRecord::kPoints), "3");
    EXPECT_EQ(log.Field(2, 11), "extra");
    EXPECT_EQ(log.Field(2, 12), "");
    ASSERT_EQ(log.OtherLineCount(), 3u);
    EXPECT_EQ(log.OtherLine(0), "damaged\tline\r\n");
    EXPECT_EQ(log.OtherLine(1), "\r\n");
    EXPECT_EQ(log.OtherLine(2), "300\t1\tz\t1\t\t0\t0\t0\t0\t0\t0");

    // The history reader sees exactly the same records.
    std::vector<std::string> ids;
    SentenceLog("test.log").ForEachRecord([&](const std::vector<std::string_view>& f) {
        ids.emplace_back(f[0]);
    });
    EXPECT_EQ(ids, (std::vector<std::string>{"100", "200", "100"}));
}

TEST_F(SentenceLogTest, ReadOfAMissingOrEmptyLogGivesNoLines) {
    SentenceLog::Contents log;
    WriteBytes("test.log", "1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\r\n");
    ASSERT_EQ(SentenceLog("test.log").Read(log), ReadStatus::Ok);
    ASSERT_EQ(log.RecordCount(), 1u);
    EXPECT_EQ(SentenceLog("none.log").Read(log), ReadStatus::Missing);
    EXPECT_EQ(log.RecordCount() + log.OtherLineCount(), 0u) << "emptied first";
    WriteBytes("test.log", "");
    EXPECT_EQ(SentenceLog("test.log").Read(log), ReadStatus::Empty);
    EXPECT_EQ(log.RecordCount(), 0u);
    EXPECT_FALSE(qv::test::Exists("none.log")) << "readers never create the log";
}

TEST_F(SentenceLogTest, NoReadLimit) {
    // Far beyond 65536 bytes and 255 records: the newest record is seen too.
    std::string bytes;
    for (int i = 0; i < 3000; ++i) bytes += ExampleLine(std::to_string(1000000 + i));
    ASSERT_GT(bytes.size(), 65536u * 2);
    WriteBytes("test.log", bytes);
    SentenceLog::Contents log;
    ASSERT_EQ(SentenceLog("test.log").Read(log), ReadStatus::Ok);
    ASSERT_EQ(log.RecordCount(), 3000u);
    EXPECT_EQ(log.Field(2999, 0), "1002999");
    int seen = 0;
    SentenceLog("test.log").ForEachRecord([&](const auto&) { ++seen; });
    EXPECT_EQ(seen, 3000);

    SentenceLog::Rewrite r = SentenceLog("test.log").PlanMark("1002999", true);
    ASSERT_TRUE(SentenceLog("test.log").Write(r));
    const std::string last = ExampleLine("1002999");
    std::string expected = bytes.substr(0, bytes.size() - last.size()) + "1002999\t12\t" +
                           Sjis("窃盗") + "\t29\tA:12 B:18 \t1\t12\t18\t0\t0\t9\r\n";
    EXPECT_TRUE(ReadBytes("test.log") == expected) << "only the newest record changed";
}

TEST_F(SentenceLogTest, RewritesChangeOnlyTheChosenRecordsAndLoseNoLine) {
    using Change = SentenceLog::Change;
    struct Case {
        const char* what;
        const char* id;
        Change change;
        size_t matched;
        std::vector<std::int64_t> dropped;
        std::string after;
    } cases[] = {
        {"execute marks both records of id 100",
         "100",
         Change::MarkExecuted,
         2,
         {},
         "100\t12\tname\t29\tA:12 B:18 \t1\t12\t18\t0\t0\t9\r\n"
         "damaged\tline\r\n"
         "200\t3\tx\t5\t\t0\t0\t0\t0\t0\t0\r\n"
         "\r\n"
         "100\t4\ty\t8\tC:2 \t1\t0\t0\t2\t0\t3\textra\r\n"
         "300\t1\tz\t1\t\t0\t0\t0\t0\t0\t0"},
        {"un-execute",
         "100",
         Change::MarkNotExecuted,
         2,
         {},
         "100\t12\tname\t29\tA:12 B:18 \t0\t12\t18\t0\t0\t9\r\n"
         "damaged\tline\r\n"
         "200\t3\tx\t5\t\t0\t0\t0\t0\t0\t0\r\n"
         "\r\n"
         "100\t4\ty\t8\tC:2 \t0\t0\t0\t2\t0\t3\textra\r\n"
         "300\t1\tz\t1\t\t0\t0\t0\t0\t0\t0"},
        {"execute a record ended by a bare LF",
         "200",
         Change::MarkExecuted,
         1,
         {},
         "100\t12\tname\t29\tA:12 B:18 \t0\t12\t18\t0\t0\t9\r\n"
         "damaged\tline\r\n"
         "200\t3\tx\t5\t\t1\t0\t0\t0\t0\t0\r\n"
         "\r\n"
         "100\t4\ty\t8\tC:2 \t1\t0\t0\t2\t0\t3\textra\r\n"
         "300\t1\tz\t1\t\t0\t0\t0\t0\t0\t0"},
        {"delete drops both records of id 100 and hands back their points",
         "100",
         Change::Drop,
         2,
         {9, 3},
         "damaged\tline\r\n"
         "200\t3\tx\t5\t\t0\t0\t0\t0\t0\t0\r\n"
         "\r\n"
         "300\t1\tz\t1\t\t0\t0\t0\t0\t0\t0"},
        {"the unterminated last line is no record",
         "300",
         Change::Drop,
         0,
         {},
         "100\t12\tname\t29\tA:12 B:18 \t0\t12\t18\t0\t0\t9\r\n"
         "damaged\tline\r\n"
         "200\t3\tx\t5\t\t0\t0\t0\t0\t0\t0\r\n"
         "\r\n"
         "100\t4\ty\t8\tC:2 \t1\t0\t0\t2\t0\t3\textra\r\n"
         "300\t1\tz\t1\t\t0\t0\t0\t0\t0\t0"},
        {"an identifier is compared as text",
         "0100",
         Change::MarkExecuted,
         0,
         {},
         "100\t12\tname\t29\tA:12 B:18 \t0\t12\t18\t0\t0\t9\r\n"
         "damaged\tline\r\n"
         "200\t3\tx\t5\t\t0\t0\t0\t0\t0\t0\r\n"
         "\r\n"
         "100\t4\ty\t8\tC:2 \t1\t0\t0\t2\t0\t3\textra\r\n"
         "300\t1\tz\t1\t\t0\t0\t0\t0\t0\t0"},
    };
    for (const auto& c : cases) {
        WriteBytes("test.log", kMixed);
        SentenceLog log("test.log");
        SentenceLog::Rewrite r = c.change == Change::Drop
                                     ? log.PlanDelete(c.id)
                                     : log.PlanMark(c.id, c.change == Change::MarkExecuted);
        EXPECT_EQ(ReadBytes("test.log"), kMixed) << c.what << ": planning writes nothing";
        EXPECT_EQ(r.matched, c.matched) << c.what;
        EXPECT_EQ(r.droppedPoints, c.dropped) << c.what;
        ASSERT_TRUE(log.Write(r)) << c.what;
        EXPECT_EQ(ReadBytes("test.log"), c.after) << c.what;
    }
}

TEST_F(SentenceLogTest, DeletingEveryRecordLeavesAnEmptyFile) {
    WriteBytes("test.log", ExampleLine("5") + ExampleLine("5"));
    SentenceLog log("test.log");
    SentenceLog::Rewrite r = log.PlanDelete("5");
    EXPECT_EQ(r.droppedPoints, (std::vector<std::int64_t>{9, 9}));
    ASSERT_TRUE(log.Write(r));
    EXPECT_EQ(ReadBytes("test.log"), "");
}

TEST_F(SentenceLogTest, AFailedRewriteKeepsTheOldLog) {
    const std::string before = ExampleLine("5");
    SentenceLog log("test.log");

    WriteBytes("test.log", before);
    SentenceLog::Rewrite r = log.PlanMark("5", true);
    chmod("test.log", 0444);
    EXPECT_FALSE(log.Write(r)) << "read-only log";
    EXPECT_EQ(ReadBytes("test.log"), before);
    chmod("test.log", 0644);

    const int calls = qv::test::FaultInjection::CountCalls([&] { return log.Write(r); });
    for (int failing = 1; failing <= calls; ++failing) {
        WriteBytes("test.log", before);
        qv::test::FaultInjection inject(failing, ENOSPC);
        EXPECT_FALSE(log.Write(r)) << "call " << failing << " fails";
        inject.Stop();
        EXPECT_EQ(ReadBytes("test.log"), before) << "call " << failing << " fails";
        EXPECT_EQ(qv::test::ListDir(), "test.log\n") << "no temporary file is left";
    }

    SentenceLog::Rewrite missing = SentenceLog("none.log").PlanMark("5", true);
    EXPECT_EQ(missing.read, ReadStatus::Missing);
    EXPECT_FALSE(SentenceLog("none.log").Write(missing)) << "nothing to rewrite";
    EXPECT_FALSE(qv::test::Exists("none.log"));
}

// The copy a window keeps: what it wrote becomes the contents without a read, and a
// copy is used for the next rewrite only while the file is still exactly that copy.
TEST_F(SentenceLogTest, AKeptCopyIsTrustedOnlyWhileTheFileIsUnchanged) {
    const SentenceLog log("test.log");
    WriteBytes("test.log", ExampleLine("5") + "short\tline\n" + ExampleLine("6"));
    SentenceLog::Contents copy;
    ASSERT_EQ(log.Read(copy), ReadStatus::Ok);
    EXPECT_TRUE(copy.StillMatches("test.log"));

    SentenceLog::Contents kept;
    ASSERT_TRUE(log.WriteKeeping(log.PlanMark("5", true, &copy), kept));
    EXPECT_EQ(kept.Bytes(), ReadBytes("test.log"));
    EXPECT_TRUE(kept.StillMatches("test.log"));
    SentenceLog::Contents fresh;
    ASSERT_EQ(log.Read(fresh), ReadStatus::Ok);
    ASSERT_EQ(kept.RecordCount(), fresh.RecordCount());
    for (size_t i = 0; i < kept.RecordCount(); ++i) EXPECT_EQ(kept.Record(i), fresh.Record(i));
    EXPECT_EQ(kept.OtherLineCount(), 1u);
    EXPECT_FALSE(copy.StillMatches("test.log")) << "the file was replaced";

    // A hand edit of the same size: the copy is stale and the rewrite reads the file.
    std::string edited = ReadBytes("test.log");
    edited.replace(edited.find("\t29\t"), 4, "\t30\t");
    WriteBytes("test.log", edited);
    EXPECT_FALSE(kept.StillMatches("test.log"));
    const SentenceLog::Rewrite r = log.PlanMark("6", true, &kept);
    EXPECT_EQ(r.bytes, log.PlanMark("6", true).bytes);
    EXPECT_NE(r.bytes.find("\t30\t"), std::string::npos) << "the hand edit is kept";

    // A failed write leaves the kept copy as it was.
    SentenceLog::Contents untouched;
    chmod("test.log", 0444);
    qv::io::IoError error;
    EXPECT_FALSE(log.WriteKeeping(log.PlanMark("6", false), untouched, &error));
    EXPECT_EQ(untouched.RecordCount(), 0u);
    EXPECT_EQ(error.op, qv::io::IoError::Op::Check);
    chmod("test.log", 0644);
    EXPECT_FALSE(SentenceLog::Contents().StillMatches("test.log")) << "an empty copy never is";
}

// The one-pass reader against the plain rules, on logs large enough to be read in pieces
// and looked over in windows, with every kind of line at every position: records and
// other lines, LF and CR LF, lone CRs, lines far longer than a window, decision times
// and article numbers that are not plain digits.
TEST_F(SentenceLogTest, TheOnePassReaderAgreesWithThePlainRules) {
    const std::string pieces[] = {
        ExampleLine("1700000000"),
        "1700000060\t7\tn\t3\t\t1\t0\t0\t0\t0\t3\n",  // bare LF
        " 170\t+12\tn\t3\t\t1\t0\t0\t0\t0\t3\r\n",    // time and article not plain
        "17x\t012\tn\t3\t\t1\t0\t0\t0\t0\t3\r\n",     // bad time, leading zero
        "\t123456\tn\t3\t\t1\t0\t0\t0\t0\t3\r\n",     // empty time, long article
        "5\t\tn\t3\t\t1\t0\t0\t0\t0\t3\r\n",          // empty article
        "6\t99999\tn\t3\t\t1\t0\t0\t0\t0\t3\r\n",     // article past the mark
        "7\t12\tn\r3\t\t1\t0\t0\t0\t0\t3\r\n",        // glued
        "8\t12\tn\t3\t\t1\t0\t0\t0\t0\t3\r\r\n",      // CR before CR LF
        "damaged\tline\r\n",
        "cr\ronly\r\n",
        "\r\n",
        "\n",
        "9\t12\t" + std::string(70000, 'x') + "\t3\t\t1\t0\t0\t0\t0\t3\r\n",  // long record
        std::string(70000, '\t') + "\n",                                      // long, all TABs
        "y" + std::string(5000, '\r') + "\n",                                 // long other
        "1700000120\t7\tn\t-4\t\t0\t0\t0\t0\t0\t3\r\n",  // not executed
        "10\t12\t" + std::string(70000, 'x') + "\t6\t\t0\t0\t0\t0\t0\t3\r\n",  // long, not executed
        "11\t1\tn\t5\t\t00\t0\t0\t0\t0\t3\r\n",  // a mark that only looks like 0
    };
    std::mt19937 random(11);
    for (int round = 0; round < 4; ++round) {
        std::string log;
        while (log.size() < (round + 1) * 400000u) log += pieces[random() % std::size(pieces)];
        if (round % 2 == 1) log += "tail\twithout\tline\tend";
        WriteBytes("test.log", log);
        SentenceLog::Contents read;
        ASSERT_EQ(SentenceLog("test.log").Read(read), ReadStatus::Ok);
        ASSERT_EQ(read.Bytes(), log);

        std::vector<std::string_view> records, others;
        SentenceLog::Contents::Damage damage;
        qv::ForEachLine(log, [&](const qv::Line& line) {
            if (SentenceLog::IsRecord(line)) {
                records.push_back(line.text);
                const std::string_view time = SentenceLog::Contents::FieldOf(line.text, 0);
                const size_t digits = time.find_first_not_of(' ');
                const bool isTime =
                    digits != std::string_view::npos &&
                    time.find_first_not_of("0123456789",
                                           digits + (time[digits] == '+' || time[digits] == '-')) ==
                        std::string_view::npos &&
                    time.find_first_of("0123456789") != std::string_view::npos;
                if (!isTime) ++damage.badTimes;
                if (line.text.find('\r') != std::string_view::npos) ++damage.gluedLines;
                return;
            }
            others.push_back(line.raw);
            if (line.raw == "\n" || line.raw == "\r\n") return;
            ++damage.unreadLines;
            std::string_view body = line.raw;
            if (body.ends_with("\r\n")) body.remove_suffix(2);
            if (body.find('\r') != std::string_view::npos) ++damage.crOnlyLines;
        });
        ASSERT_EQ(read.RecordCount(), records.size()) << round;
        for (size_t i = 0; i < records.size(); ++i) {
            ASSERT_EQ(read.Record(i), records[i]) << round << " record " << i;
            const std::uint32_t plain = read.PlainArticle(i);
            if (plain != SentenceLog::Contents::kNotPlain) {
                ASSERT_EQ(plain, qv::ReadInt64(read.Field(i, 1))) << read.Record(i);
            }
        }
        // The records carrying an identifier, found by the kept keys, are those whose
        // field 0 it is; near misses and identifiers with a TAB carry nothing.
        std::map<std::string_view, std::vector<size_t>> carrying;
        for (size_t i = 0; i < records.size(); ++i)
            carrying[SentenceLog::Contents::FieldOf(records[i], 0)].push_back(i);
        for (const auto& [id, at] : carrying) ASSERT_EQ(read.RecordsCarrying(id), at) << id;
        for (const std::string_view absent :
             {"1700000001", "170000000", "17000000000", "1700000000\t7", "x", "  170"})
            EXPECT_TRUE(read.RecordsCarrying(absent).empty()) << absent;
        // The records marked "0" and their sentences, counted as the lines were sorted.
        size_t unmarked = 0;
        std::int64_t points = 0;
        for (const std::string_view record : records) {
            if (SentenceLog::Contents::FieldOf(record, 5) != "0") continue;
            ++unmarked;
            points = qv::SaturatingAdd(points, qv::ReadInt64(SentenceLog::Contents::FieldOf(record, 3)));
        }
        ASSERT_TRUE(read.NotExecuted().known);
        EXPECT_EQ(read.NotExecuted().records, unmarked) << round;
        EXPECT_EQ(read.NotExecuted().points, points) << round;
        ASSERT_EQ(read.OtherLineCount(), others.size()) << round;
        for (size_t i = 0; i < others.size(); ++i) ASSERT_EQ(read.OtherLine(i), others[i]);
        EXPECT_EQ(read.Damaged().unreadLines, damage.unreadLines) << round;
        EXPECT_EQ(read.Damaged().crOnlyLines, damage.crOnlyLines) << round;
        EXPECT_EQ(read.Damaged().badTimes, damage.badTimes) << round;
        EXPECT_EQ(read.Damaged().gluedLines, damage.gluedLines) << round;
    }
}

// A mark kept in the copy it was planned from: the file gets exactly what a full rewrite
// gives, the copy becomes the file, and a failed write leaves the copy as it was. A bare
// LF or a mark longer than a byte makes the full rewrite do it.
TEST_F(SentenceLogTest, AMarkSetInTheKeptCopyWritesWhatARewriteWould) {
    const SentenceLog log("test.log");
    const std::string plain =
        ExampleLine("5") + "short\tline\n" + ExampleLine("6") + ExampleLine("5");
    struct Case {
        const char* what;
        std::string before;
        const char* id;
    } cases[] = {
        {"every record ends in CR LF", plain, "5"},
        {"no such record", plain, "7"},
        {"a bare LF", plain + "9\t1\tn\t3\t\t0\t0\t0\t0\t0\t3\n", "5"},
        {"a mark of two bytes", plain + "9\t1\tn\t3\t\t00\t0\t0\t0\t0\t3\r\n", "9"},
    };
    for (const auto& c : cases) {
        WriteBytes("test.log", c.before);
        const std::string rewritten =
            SentenceLog::RewriteBytes(c.before, c.id, SentenceLog::Change::MarkExecuted).bytes;
        SentenceLog::Contents copy;
        ASSERT_EQ(log.Read(copy), ReadStatus::Ok);

        chmod("test.log", 0444);
        qv::io::IoError error;
        EXPECT_FALSE(log.WriteKeeping(log.PlanMark(c.id, true, &copy), copy, &error)) << c.what;
        EXPECT_EQ(copy.Bytes(), c.before) << c.what;
        chmod("test.log", 0644);

        ASSERT_TRUE(log.WriteKeeping(log.PlanMark(c.id, true, &copy), copy)) << c.what;
        EXPECT_EQ(ReadBytes("test.log"), rewritten) << c.what;
        EXPECT_EQ(copy.Bytes(), rewritten) << c.what;
        EXPECT_TRUE(copy.StillMatches("test.log")) << c.what;
        SentenceLog::Contents fresh;
        ASSERT_EQ(log.Read(fresh), ReadStatus::Ok);
        ASSERT_EQ(copy.RecordCount(), fresh.RecordCount()) << c.what;
        for (size_t i = 0; i < copy.RecordCount(); ++i)
            EXPECT_EQ(copy.Record(i), fresh.Record(i)) << c.what;
        // Planned from the copy but kept elsewhere: the same file, the copy untouched.
        SentenceLog::Contents elsewhere;
        ASSERT_TRUE(log.WriteKeeping(log.PlanMark(c.id, false, &copy), elsewhere)) << c.what;
        EXPECT_EQ(copy.Bytes(), rewritten) << c.what;
        EXPECT_EQ(elsewhere.Bytes(), ReadBytes("test.log")) << c.what;
    }
}


// The copy's index kept up after a delete or its undo is the index a fresh read of the
// file would give.
void ExpectSameAsRead(const SentenceLog::Contents& kept, const std::string& what) {
    SentenceLog::Contents fresh;
    ASSERT_NE(SentenceLog("test.log").Read(fresh), ReadStatus::Unreadable) << what;
    ASSERT_EQ(kept.Bytes(), fresh.Bytes()) << what;
    EXPECT_TRUE(kept.StillMatches("test.log")) << what;
    ASSERT_EQ(kept.RecordCount(), fresh.RecordCount()) << what;
    for (size_t i = 0; i < kept.RecordCount(); ++i) {
        ASSERT_EQ(kept.Record(i), fresh.Record(i)) << what << " record " << i;
        ASSERT_EQ(kept.PlainArticle(i), fresh.PlainArticle(i)) << what << " record " << i;
        ASSERT_EQ(kept.RecordsCarrying(kept.Field(i, 0)), fresh.RecordsCarrying(fresh.Field(i, 0)))
            << what << " record " << i;
    }
    ASSERT_EQ(kept.OtherLineCount(), fresh.OtherLineCount()) << what;
    for (size_t i = 0; i < kept.OtherLineCount(); ++i)
        ASSERT_EQ(kept.OtherLine(i), fresh.OtherLine(i)) << what << " line " << i;
    EXPECT_EQ(kept.Damaged().unreadLines, fresh.Damaged().unreadLines) << what;
    EXPECT_EQ(kept.Damaged().crOnlyLines, fresh.Damaged().crOnlyLines) << what;
    EXPECT_EQ(kept.Damaged().badTimes, fresh.Damaged().badTimes) << what;
    EXPECT_EQ(kept.Damaged().gluedLines, fresh.Damaged().gluedLines) << what;
}

// A delete planned in the kept copy writes what the rewrite of the whole file writes and
// finds the same cuts; the copy then follows the file without a read; and the undo
// planned in that copy puts back what InsertRecords puts back. Over random logs with
// identifiers shared by several records and by damaged lines, empty lines, glued and
// badly timed records, and a last line with or without its line end.
TEST_F(SentenceLogTest, ADeleteAndItsUndoInTheKeptCopyWriteWhatTheWalkWrites) {
    using qv::records::CutRecord;
    const std::string rec = "\t1\tn\t3\t\t0\t0\t0\t0\t0\t";
    const std::string pieces[] = {
        "100" + rec + "5\r\n", "200" + rec + "7\r\n", "300" + rec + "-2\r\n",
        "300\t1\tn\t4\t\t1\t0\t0\t0\t0\t1\r\n",     // the same identifier, executed
        "200\tdamaged\r\n",                        // an other line carrying an identifier
        "\r\n", "broken\r\n", "cr\ronly\r\n",
        "x1" + rec + "1\r\n",                      // a bad time
        "400\t1\tn\r3\t\t0\t0\t0\t0\t0\t2\r\n",    // glued
        "500\t123\tn\t3\t\t0\t0\t0\t0\t0\t9\r\r\n",  // CR before CR LF
    };
    const std::string ids[] = {"100", "200", "300", "400", "500", "x1", "broken", "600"};
    const SentenceLog log("test.log");
    std::mt19937 random(19);
    int inCopy = 0;
    for (int round = 0; round < 60; ++round) {
        std::string before;
        const int lines = 1 + static_cast<int>(random() % 9);
        for (int i = 0; i < lines; ++i) before += pieces[random() % std::size(pieces)];
        if (round % 3 == 1) before += "700\ttorn";
        for (const std::string& id : ids) {
            for (const size_t which : {qv::records::kEveryRecord, size_t{0}, size_t{1}}) {
                const std::string what = "round " + std::to_string(round) + " id " + id +
                                         " which " + std::to_string(static_cast<long>(which));
                WriteBytes("test.log", before);
                SentenceLog::Contents copy;
                ASSERT_EQ(log.Read(copy), ReadStatus::Ok);
                const SentenceLog::Rewrite walked =
                    SentenceLog::RewriteBytes(before, id, SentenceLog::Change::Drop, which);
                const SentenceLog::Rewrite planned = log.PlanDelete(id, which, &copy);
                ASSERT_EQ(planned.matched, walked.matched) << what;
                if (walked.matched == 0) continue;
                EXPECT_EQ(planned.droppedPoints, walked.droppedPoints) << what;
                const std::vector<CutRecord> cuts = qv::records::CutsOf(before, id, which);
                ASSERT_EQ(planned.cuts.size(), cuts.size()) << what;
                for (size_t k = 0; k < cuts.size(); ++k) {
                    EXPECT_EQ(planned.cuts[k].line, cuts[k].line) << what;
                    EXPECT_EQ(planned.cuts[k].anchor, cuts[k].anchor) << what;
                    EXPECT_EQ(planned.cuts[k].nth, cuts[k].nth) << what;
                    EXPECT_EQ(planned.cuts[k].points, cuts[k].points) << what;
                }
                ASSERT_FALSE(planned.dropped.empty()) << what;
                std::string written;
                for (const std::string_view piece : SentenceLog::Pieces(planned)) written += piece;
                ASSERT_EQ(written, walked.bytes) << what;

                WriteBytes("test.log", written);
                copy.RemoveRecords(planned.dropped, qv::io::StampOf("test.log"));
                ExpectSameAsRead(copy, what + " after the delete");

                const std::string restored = qv::records::InsertRecords(written, cuts);
                std::vector<SentenceLog::Contents::Insertion> insertions;
                if (!SentenceLog::InsertionsIn(copy, cuts, insertions)) continue;
                ++inCopy;
                std::string back;
                for (const std::string_view piece : SentenceLog::Pieces(copy, insertions))
                    back += piece;
                ASSERT_EQ(back, restored) << what;
                WriteBytes("test.log", back);
                copy.InsertLines(insertions, qv::io::StampOf("test.log"));
                ExpectSameAsRead(copy, what + " after the undo");
            }
        }
    }
    EXPECT_GT(inCopy, 0) << "no undo was planned in the copy";
}

// A delete is planned in the copy only where each record ends with CR LF, as only then
// is every other line written back as it stands; the undo only where each record goes
// back by its anchor or at the end.
TEST_F(SentenceLogTest, ADeleteOrUndoThatNeedsTheWalkIsPlannedByIt) {
    const std::string a = ExampleLine("5"), b = ExampleLine("6"), c = ExampleLine("7");
    const SentenceLog log("test.log");
    struct Case {
        const char* what;
        std::string before;
        const char* id;
        bool deleteInCopy, undoInCopy;
    } cases[] = {
        {"the newest", a + b + c, "7", true, true},
        {"one in the middle", a + b + c, "6", true, true},
        {"the first of several", a + b + c + a, "5", true, true},
        {"a record ended by a bare LF", a + "6\t12\tn\t3\t\t0\t0\t0\t0\t0\t9\n" + c, "7", false, false},
        {"before a torn last line", a + b + "8\ttorn", "6", true, true},
        {"the last before a torn tail's end", a + "8\ttorn", "5", true, true},
    };
    for (const Case& t : cases) {
        WriteBytes("test.log", t.before);
        SentenceLog::Contents copy;
        ASSERT_EQ(log.Read(copy), ReadStatus::Ok);
        const SentenceLog::Rewrite planned = log.PlanDelete(t.id, qv::records::kEveryRecord, &copy);
        EXPECT_EQ(!planned.dropped.empty(), t.deleteInCopy) << t.what;
        if (planned.dropped.empty()) continue;
        std::string written;
        for (const std::string_view piece : SentenceLog::Pieces(planned)) written += piece;
        WriteBytes("test.log", written);
        copy.RemoveRecords(planned.dropped, qv::io::StampOf("test.log"));
        std::vector<SentenceLog::Contents::Insertion> insertions;
        EXPECT_EQ(SentenceLog::InsertionsIn(copy, planned.cuts, insertions), t.undoInCopy) << t.what;
    }
}

}  // namespace

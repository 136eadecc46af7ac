// Reading the log and the ledger a block at a time: the lines are those of a read of the
// whole file, and the history index made from them is the one made from the log's
// contents, damaged lines and lines across the blocks' edges included.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "history/HistoryIndex.h"
#include "history/HistoryQuery.h"
#include "records/LineBlocks.h"
#include "records/SentenceLog.h"
#include "tests/support/TestFiles.h"

namespace {

using qv::history::HistoryIndex;
using qv::test::WriteBytes;

struct SeenLine {
    std::string text, raw;
    bool terminated;
    bool operator==(const SeenLine&) const = default;
};

std::vector<SeenLine> Whole(std::string_view bytes) {
    std::vector<SeenLine> lines;
    qv::ForEachLine(bytes, [&](const qv::Line& l) {
        lines.push_back({std::string(l.text), std::string(l.raw), l.terminated});
    });
    return lines;
}

std::vector<SeenLine> InBlocks(const std::string& path, qv::io::ReadStatus& status) {
    std::vector<SeenLine> lines;
    status = qv::records::ForEachLineInBlocks(path, [&](const qv::Line& l) {
        lines.push_back({std::string(l.text), std::string(l.raw), l.terminated});
    });
    return lines;
}

constexpr size_t kBlock = 1 << 20;  // the reader's block

// Lines of n bytes (line end included) up to about size bytes.
std::string Filler(size_t size, size_t n) {
    std::string out;
    while (out.size() + n <= size) out += std::string(n - 2, 'x') + "\r\n";
    return out;
}

class LineBlocks : public qv::test::InTempDir {};

TEST_F(LineBlocks, LinesAreThoseOfAWholeRead) {
    const struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"one line without its end", "abc"},
        {"CR LF, bare LF, a lone CR, an empty line", "a\r\nb\nc\rd\n\r\n\n"},
        {"a CR LF parted by the block's edge", Filler(kBlock - 1, 100) + "\r\nz\r\n"},
        {"a line across the block's edge", Filler(kBlock - 50, 100) + std::string(120, 'y') + "\r\nq"},
        {"a line three blocks long", "a\n" + std::string(3 * kBlock + 7, 'L') + "\r\nb\r\n"},
        {"a last line without its end, blocks long", "a\n" + std::string(2 * kBlock + 3, 'T')},
        {"ends exactly at the block's edge", Filler(kBlock, 64)},
    };
    for (const Case& c : cases) {
        WriteBytes("f", c.bytes);
        qv::io::ReadStatus status;
        const std::vector<SeenLine> lines = InBlocks("f", status);
        EXPECT_EQ(status, qv::io::ReadStatus::Ok) << c.what;
        EXPECT_TRUE(lines == Whole(c.bytes)) << c.what;
    }
}

TEST_F(LineBlocks, WhatCannotBeReadVisitsNothing) {
    qv::io::ReadStatus status;
    EXPECT_TRUE(InBlocks("missing", status).empty());
    EXPECT_EQ(status, qv::io::ReadStatus::Missing);
    WriteBytes("empty", "");
    EXPECT_TRUE(InBlocks("empty", status).empty());
    EXPECT_EQ(status, qv::io::ReadStatus::Empty);
    ASSERT_EQ(::mkdir("folder", 0755), 0);
    qv::io::IoError error;
    EXPECT_EQ(qv::records::ForEachLineInBlocks("folder", [](const qv::Line&) { FAIL(); }, &error),
              qv::io::ReadStatus::Unreadable);
    EXPECT_TRUE(error.Failed());
    ASSERT_EQ(::mkfifo("fifo", 0644), 0);
    EXPECT_TRUE(InBlocks("fifo", status).empty()) << "never waits on a FIFO";
    EXPECT_EQ(status, qv::io::ReadStatus::Unreadable);
}

// The index read in blocks against the index built from the contents of one read.
void ExpectSameIndex(const std::string& path, const char* what) {
    SentenceLog::Contents contents;
    SentenceLog(path).Read(contents);
    HistoryIndex whole;
    whole.Build(contents);
    HistoryIndex blocks;
    ASSERT_NE(blocks.Read(path), qv::io::ReadStatus::Unreadable) << what;
    EXPECT_EQ(blocks.issues.unreadLines, whole.issues.unreadLines) << what;
    EXPECT_EQ(blocks.issues.crOnlyLines, whole.issues.crOnlyLines) << what;
    EXPECT_EQ(blocks.issues.badTimes, whole.issues.badTimes) << what;
    EXPECT_EQ(blocks.issues.gluedLines, whole.issues.gluedLines) << what;
    ASSERT_EQ(blocks.Size(), whole.Size()) << what;
    for (size_t i = 0; i < whole.Size(); ++i) {
        ASSERT_EQ(blocks.Time(i), whole.Time(i)) << what << " record " << i;
        ASSERT_EQ(blocks.Executed(i), whole.Executed(i)) << what << " record " << i;
        ASSERT_EQ(blocks.Values(i), whole.Values(i)) << what << " record " << i;
        ASSERT_EQ(blocks.Article(i).number, whole.Article(i).number) << what << " record " << i;
        ASSERT_EQ(blocks.Article(i).name, whole.Article(i).name) << what << " record " << i;
    }
    EXPECT_EQ(blocks.FirstTime(), whole.FirstTime()) << what;
    EXPECT_EQ(blocks.LastTime(), whole.LastTime()) << what;
}

class HistoryRead : public qv::test::InTempDir {};

TEST_F(HistoryRead, TheIndexIsTheOneMadeFromTheWholeLog) {
    ExpectSameIndex(QV_TEST_DATA "/history/test.log", "the fixture log");

    // Records and every kind of damaged line, many times over, so that each lies across
    // a block's edge somewhere.
    const std::string record = "1700000000\t3\tname\t20\td\t0\t1\t2\t3\t4\t5\r\n";
    const std::string kinds[] = {
        record,
        "1700000100\t4\tother\t10\td\t1\t0\t0\t0\t0\t2\n",          // bare LF
        "17000x0200\t3\tname\t20\td\t0\t1\t2\t3\t4\t5\r\n",        // a time that is no number
        "1700000300\t3\tna\rme\t20\td\t0\t1\t2\t3\t4\t5\r\n",      // a CR inside
        "too\tfew\tfields\r\n",
        "lone\rCR\r\n",
        "\r\n",
        "\n",
        "  1700000400\t5\tblank time\t7\td\tx\t0\t0\t0\t0\t1\r\n",  // any mark but 0 is done
        "1700000500\t6\tmore\t1\td\t0\t1\t1\t1\t1\t1\textra\tfields\r\n",  // a hand edit
        "1700000600\t6\tone field short\t1\td\t0\t1\t1\t1\t1\r\n",
    };
    std::string log;
    for (size_t i = 0; log.size() < 3 * kBlock; ++i) log += kinds[(i * 7 + i / 9) % std::size(kinds)];
    log += record.substr(0, 20);  // a torn last line
    WriteBytes("test.log", log);
    ExpectSameIndex("test.log", "a damaged log of three blocks");
}

TEST_F(HistoryRead, ALogThatCannotBeReadLeavesTheIndexEmpty) {
    HistoryIndex index;
    WriteBytes("test.log", "1700000000\t3\tname\t20\td\t0\t1\t2\t3\t4\t5\r\n");
    ASSERT_EQ(index.Read("test.log"), qv::io::ReadStatus::Ok);
    ASSERT_EQ(index.Size(), 1u);
    ASSERT_EQ(::mkdir("folder", 0755), 0);
    qv::io::IoError error;
    EXPECT_EQ(index.Read("folder", &error), qv::io::ReadStatus::Unreadable);
    EXPECT_TRUE(error.Failed());
    EXPECT_EQ(index.Size(), 0u);
    EXPECT_FALSE(index.issues.Any());
    EXPECT_EQ(index.Read("missing"), qv::io::ReadStatus::Missing);
    EXPECT_EQ(index.Size(), 0u);
}

}  // namespace

namespace {

// Sorting by each column both ways gives the rows a stable sort by that column gives,
// whether the rows are already in its order (a log in time order) or not.
TEST_F(HistoryRead, SortingAgreesWithAStableSortInOrderOrNot) {
    using namespace qv::history;
    const struct Case {
        const char* what;
        std::string log;
    } cases[] = {
        {"in time order, equal times",
         "100\t3\tb\t20\td\t0\t1\t2\t3\t4\t5\r\n100\t1\ta\t20\td\t1\t1\t2\t3\t4\t5\r\n"
         "200\t3\tb\t10\td\t0\t0\t2\t3\t4\t5\r\n300\t2\tc\t30\td\t1\t1\t0\t3\t4\t9\r\n"
         "300\t2\tc\t30\td\t1\t1\t0\t3\t4\t9\r\n"},
        {"a clock set back", "300\t1\ta\t5\td\t0\t1\t1\t1\t1\t1\r\n100\t2\tb\t5\td\t1\t1\t1\t1\t1\t1\r\n"
                             "200\t1\ta\t7\td\t0\t2\t1\t1\t1\t2\r\n200\t2\tb\t5\td\t1\t1\t1\t1\t1\t1\r\n"},
    };
    for (const Case& c : cases) {
        WriteBytes("test.log", c.log);
        HistoryIndex index;
        ASSERT_EQ(index.Read("test.log"), qv::io::ReadStatus::Ok);
        for (int column = 0; column < kColumnCount; ++column) {
            for (bool descending : {false, true}) {
                // The key as the table shows it: names by their bytes.
                const auto key = [&](std::uint32_t r) -> std::string {
                    const SentenceValues& v = index.Values(r);
                    const std::int64_t numbers[] = {index.Time(r), index.Article(r).number, 0,
                                                    v.total, index.Executed(r), v.units[0],
                                                    v.units[1], v.units[2], v.units[3], v.points};
                    if (column == static_cast<int>(Column::Name)) return index.Article(r).name;
                    char text[32];
                    std::snprintf(text, sizeof text, "%020lld",
                                  static_cast<long long>(numbers[column]) + 1000000000000LL);
                    return text;
                };
                Rows expected = Apply(index, {});
                std::stable_sort(expected.begin(), expected.end(), [&](auto a, auto b) {
                    return descending ? key(a) > key(b) : key(a) < key(b);
                });
                Rows rows = Apply(index, {});
                SortRows(index, rows, static_cast<Column>(column), descending);
                EXPECT_EQ(rows, expected) << c.what << ", column " << column
                                          << (descending ? " descending" : " ascending");
            }
        }
    }
}

}  // namespace

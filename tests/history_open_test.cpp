// What the history window reads as it opens, read the quick way: the numbers of the log
// and of the ledger are those of the general readers, whatever their form, and the pages
// mapped ahead of the growing index leave every byte as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "history/HistoryIndex.h"
#include "history/PagesAhead.h"
#include "records/Ledger.h"
#include "records/LogIssues.h"
#include "text/Numbers.h"
#include "tests/support/TestFiles.h"

namespace {

using qv::history::HistoryIndex;

class HistoryOpen : public qv::test::InTempDir {};

// Each number field of a record in an odd form: the index holds what ReadInt64 makes of
// it (the article number held to 32 bits), and a time that is no number leaves the
// record out and is counted.
TEST_F(HistoryOpen, LogNumbersReadAsTheGeneralReaderReadsThem) {
    const struct Case {
        const char* time;
        const char* number;
        const char* figure;  // put in every sentence figure, each with a different tail
    } cases[] = {
        {"1700000000", "3", "12"},
        {"  1700000001", " 4", " 12"},                   // blanks before
        {"+1700000002", "+5", "+7"},                     // a plus sign
        {"-5", "-3", "-7"},                               // below zero
        {"0001700000003", "007", "00012"},               // leading zeros
        {"123456789012345678", "2147483647", "123456789012345678"},    // 18 digits
        {"1234567890123456789", "2147483648", "1234567890123456789"},  // 19 digits
        {"99999999999999999999", "99999999999", "99999999999999999999"},     // too long
        {"1700000004", "-99999999999", "-99999999999999999999"},             // too low
        {"1700000005", "6x", "12x"},                     // a tail that is no digit
        {"1700000006", "", ""},                          // empty
        {"1700000007", "x", "x1"},                       // no number at all
        {"17000x0008", "3", "1"},                        // not a time: left out
        {"", "3", "1"},                                  // no time
        {" -1", "3", "1"},                               // a blank before the sign
        {"- 1", "3", "1"},                               // a blank after it
        {"1700000009 ", "3", "1"},                       // a blank after the time
    };
    std::string log;
    std::vector<const Case*> records;
    size_t badTimes = 0;
    for (const Case& c : cases) {
        const std::string f = c.figure;
        // total, distribution, mark, four units, points: each figure its own variant
        log += std::string(c.time) + "\t" + c.number + "\tname\t" + f + "\td\t0\t" + f + "\t" + f +
               "0\t" + f + "\t" + f + "\t" + f + "\r\n";
        if (IsDecisionTime(c.time))
            records.push_back(&c);
        else
            ++badTimes;
    }
    qv::test::WriteBytes("test.log", log);
    HistoryIndex index;
    ASSERT_EQ(index.Read("test.log"), qv::io::ReadStatus::Ok);
    EXPECT_EQ(index.issues.badTimes, badTimes);
    ASSERT_EQ(index.Size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        const Case& c = *records[i];
        const std::string f = c.figure;
        SCOPED_TRACE(std::string("time \"") + c.time + "\" number \"" + c.number + "\" figure \"" +
                     f + "\"");
        EXPECT_EQ(index.Time(i), qv::ReadInt64(c.time));
        EXPECT_EQ(index.Article(i).number, qv::ReadInt32(c.number));
        const qv::history::SentenceValues& v = index.Values(i);
        EXPECT_EQ(v.total, qv::ReadInt64(f));
        EXPECT_EQ(v.units[0], qv::ReadInt64(f));
        EXPECT_EQ(v.units[1], qv::ReadInt64(f + "0"));
        EXPECT_EQ(v.units[2], qv::ReadInt64(f));
        EXPECT_EQ(v.units[3], qv::ReadInt64(f));
        EXPECT_EQ(v.points, qv::ReadInt64(f));
    }
}

// Records name their article by number and name text together: the same number with
// another name, or written another way, is another article, and a name that comes back
// is the article seen first with it, whatever came between.
TEST_F(HistoryOpen, EachArticleTextIsOneArticleInOrderOfFirstUse) {
    const struct Case {
        const char* number;
        const char* name;
        size_t article;  // index into Articles()
    } cases[] = {
        {"7", "a", 0},  {"7", "a", 0},    {"7", "b", 1},    {"7", "a", 0},
        {"007", "a", 2}, {"7", "a", 0},   {"8", "a", 3},    {"7", "b", 1},
        {"-1", "n", 4}, {"-1", "n", 4},   {"99999", "h", 5}, {"99999", "h", 5},
        {"4095", "e", 6}, {"4096", "e", 7}, {"4095", "e", 6}, {" 7", "a", 8},
        {"7", "ab", 9}, {"7", "a", 0},    {"", "x", 10},     {"0", "x", 11}, {"", "x", 10},
    };
    std::string log;
    for (const Case& c : cases)
        log += std::string("1700000000\t") + c.number + "\t" + c.name + "\t1\td\t0\t0\t0\t0\t0\t1\r\n";
    qv::test::WriteBytes("test.log", log);
    HistoryIndex index;
    ASSERT_EQ(index.Read("test.log"), qv::io::ReadStatus::Ok);
    ASSERT_EQ(index.Size(), std::size(cases));
    ASSERT_EQ(index.Articles().size(), 12u);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(std::string("record ") + std::to_string(i));
        EXPECT_EQ(index.ArticleId(i), cases[i].article);
        EXPECT_EQ(index.Article(i).number, qv::ReadInt32(cases[i].number));
        EXPECT_EQ(index.Article(i).name, cases[i].name);
    }
}

// Sentence values are kept once per distinct set, numbered in order of first use, however
// many sets there are and however they come back.
TEST_F(HistoryOpen, EachSetOfSentenceValuesIsKeptOnce) {
    constexpr int kSets = 300;
    const auto figures = [](int set) {  // sets that differ in one figure only, too
        return std::vector<std::int64_t>{set % 7, set / 7, set % 3, -set, set * 1000003LL, set};
    };
    std::string log;
    std::vector<int> sets;
    for (int round = 0; round < 3; ++round) {
        for (int set = 0; set < kSets; ++set) {
            const int s = round == 1 ? kSets - 1 - set : (set * 37) % kSets;
            const auto f = figures(s);
            log += "1700000000\t1\ta\t" + std::to_string(f[0]) + "\td\t0\t" + std::to_string(f[1]) +
                   "\t" + std::to_string(f[2]) + "\t" + std::to_string(f[3]) + "\t" +
                   std::to_string(f[4]) + "\t" + std::to_string(f[5]) + "\r\n";
            sets.push_back(s);
        }
    }
    qv::test::WriteBytes("test.log", log);
    HistoryIndex index;
    ASSERT_EQ(index.Read("test.log"), qv::io::ReadStatus::Ok);
    ASSERT_EQ(index.Size(), sets.size());
    EXPECT_EQ(index.ValuesCount(), static_cast<size_t>(kSets));
    std::vector<std::uint32_t> idOf(kSets);
    for (size_t i = 0; i < sets.size(); ++i) {
        const auto f = figures(sets[i]);
        const qv::history::SentenceValues& v = index.Values(i);
        ASSERT_EQ(v.total, f[0]) << i;
        ASSERT_EQ((std::vector<std::int64_t>{v.units[0], v.units[1], v.units[2], v.units[3]}),
                  (std::vector<std::int64_t>{f[1], f[2], f[3], f[4]}))
            << i;
        ASSERT_EQ(v.points, f[5]) << i;
        // The first round names each set for the first time, in its order; later rounds
        // find the same number for the same set.
        if (i < static_cast<size_t>(kSets)) {
            ASSERT_EQ(index.ValuesId(i), i) << i;
            idOf[sets[i]] = index.ValuesId(i);
        }
        ASSERT_EQ(index.ValuesId(i), idOf[sets[i]]) << i;
    }
}

// A ledger's figures are whole numbers of at most 18 digits, with a minus sign or none;
// any other form makes the line no entry.
TEST(HistoryOpenLedger, LedgerNumbersAreWholeNumbersOrTheLineIsRefused) {
    const struct Case {
        const char* text;
        bool read;
        std::int64_t value;
    } cases[] = {
        {"0", true, 0},
        {"-0", true, 0},
        {"15", true, 15},
        {"-15", true, -15},
        {"000012", true, 12},
        {"999999999999999999", true, 999999999999999999},
        {"-999999999999999999", true, -999999999999999999},
        {"1000000000000000000", false, 0},  // 19 digits
        {"-1000000000000000000", false, 0},
        {"", false, 0},
        {"-", false, 0},
        {"+5", false, 0},
        {" 5", false, 0},
        {"5 ", false, 0},
        {"1-2", false, 0},
        {"--1", false, 0},
        {"1/", false, 0},
        {"x", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        const std::string n = c.text;
        // The same text as time, as each figure and as each unit.
        const std::string lines[] = {
            n + "\tcredit\t\t\t9\t0\t9",
            "1700000000\tcredit\t\t\t" + n + "\t0\t9",
            "1700000000\tcredit\t\t\t9\t" + n + "\t9",
            "1700000000\tcredit\t\t\t9\t0\t" + n,
            "1700000000\treport\t\t" + n + "/0/0/0\t-8\t5\t0",
            "1700000000\treport\t\t0/0/0/" + n + "\t-8\t5\t0",
        };
        for (size_t l = 0; l < std::size(lines); ++l) {
            const auto e = Ledger::FromLine(lines[l]);
            ASSERT_EQ(e.has_value(), c.read) << lines[l];
            if (!e) continue;
            const std::int64_t got[] = {e->time, e->asked, e->before, e->after,
                                        (*e->units)[0], (*e->units)[3]};
            EXPECT_EQ(got[l], c.value) << lines[l];
        }
    }
}

// Mapping ahead changes no byte: not those the vector holds, not those around its room,
// over growth in place and over the move to new room.
TEST(PagesAhead, KeepsEveryByteAsItWas) {
    struct Entry {
        std::uint64_t a, b;
    };
    std::vector<Entry> v;
    v.reserve(1000);  // too small: the vector moves as it grows past it
    qv::history::PagesAhead<Entry> ahead;
    for (std::uint64_t i = 0; i < 1400000; ++i) {  // to about 22 MB, several runs of mapping
        if (i == 200000) v.reserve((48 << 20) / sizeof(Entry));  // room for a large log
        v.push_back({i, ~i});
        ahead.Keep(v);
    }
    for (std::uint64_t i = 0; i < v.size(); ++i) {
        ASSERT_EQ(v[i].a, i);
        ASSERT_EQ(v[i].b, ~i);
    }
    // Ranges that start and end inside pages: the bytes of those pages stay.
    std::vector<unsigned char> bytes(5 << 20);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 1);
    for (const auto& [from, size] : {std::pair<size_t, size_t>{1, 3 << 20}, {4095, 4097},
                                    {100, 10}, {3 << 20, (2 << 20) - 1}}) {
        qv::history::PreferHugePages(bytes.data() + from, size);
        qv::history::MapPagesNow(bytes.data() + from, size);
    }
    for (size_t i = 0; i < bytes.size(); ++i)
        ASSERT_EQ(bytes[i], static_cast<unsigned char>(i * 7 + 1)) << i;
}

}  // namespace

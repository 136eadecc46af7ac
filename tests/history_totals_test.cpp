// The totals of the shown rows are those of adding record by record, held at the ends of
// the range, whether the rows share a few sets of values or each has its own, and where
// the sums would pass the ends.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "history/HistoryIndex.h"
#include "history/HistoryQuery.h"
#include "tests/support/TestFiles.h"
#include "text/Numbers.h"

namespace {

using namespace qv::history;

Totals OneByOne(const HistoryIndex& index, const Rows& rows) {
    Totals t;
    t.sentences = rows.size();
    for (std::uint32_t r : rows) {
        const SentenceValues& v = index.Values(r);
        ++(index.Executed(r) ? t.executed : t.notExecuted);
        t.total = qv::SaturatingAdd(t.total, v.total);
        t.points = qv::SaturatingAdd(t.points, v.points);
        for (int k = 0; k < kImplementCount; ++k) t.units[k] = qv::SaturatingAdd(t.units[k], v.units[k]);
    }
    return t;
}

class HistoryTotals : public qv::test::InTempDir {};

TEST_F(HistoryTotals, AreThoseOfAddingOneByOne) {
    const std::string big = "4611686018427387904";  // 2^62: two of them reach the top
    using Values = std::array<std::string, 7>;     // total, mark, units 1-4, points
    const struct Case {
        const char* what;
        std::vector<Values> values;  // cycled over 200 records
    } cases[] = {
        {"small figures", {{"20", "0", "1", "2", "3", "4", "5"}, {"-7", "1", "0", "0", "1", "0", "-2"},
                           {"5", "x", "9", "9", "9", "9", "9"}}},
        {"past the top", {{big, "1", big, "0", "0", "0", big}, {"1", "0", "1", "1", "1", "1", "1"}}},
        {"past the bottom", {{"-" + big, "0", "0", "-" + big, "0", "0", "0"}}},
        {"back and forth past the top",
         {{big, "0", "0", "0", "0", "0", "0"}, {big, "0", "0", "0", "0", "0", "0"},
          {"-" + big, "1", "0", "0", "0", "0", "0"}}},
    };
    for (const Case& c : cases) {
        for (bool shared : {true, false}) {  // a few sets of values, or one per record
            std::string log;
            for (size_t i = 0; i < 200; ++i) {
                Values v = c.values[i % c.values.size()];
                if (!shared) v[5] = std::to_string(i);
                log += std::to_string(1700000000 + i) + "\t3\tname\t" + v[0] + "\td\t" + v[1];
                for (size_t f = 2; f < v.size(); ++f) log += "\t" + v[f];
                log += "\r\n";
            }
            qv::test::WriteBytes("test.log", log);
            HistoryIndex index;
            ASSERT_EQ(index.Read("test.log"), qv::io::ReadStatus::Ok) << c.what;
            ASSERT_EQ(index.Size(), 200u) << c.what;
            for (Filter::Execution execution : {Filter::Execution::All, Filter::Execution::Executed}) {
                Filter filter;
                filter.execution = execution;
                const Rows rows = Apply(index, filter);
                const Totals got = Sum(index, rows), want = OneByOne(index, rows);
                EXPECT_EQ(got.sentences, want.sentences) << c.what;
                EXPECT_EQ(got.executed, want.executed) << c.what;
                EXPECT_EQ(got.notExecuted, want.notExecuted) << c.what;
                EXPECT_EQ(got.total, want.total) << c.what << (shared ? ", shared" : ", own");
                EXPECT_EQ(got.points, want.points) << c.what << (shared ? ", shared" : ", own");
                EXPECT_EQ(got.units, want.units) << c.what << (shared ? ", shared" : ", own");
            }
        }
    }
}

}  // namespace

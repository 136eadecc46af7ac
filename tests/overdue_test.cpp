#include "execution/Overdue.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/support/TestFiles.h"
#include "text/FileIo.h"

namespace {

using qv::test::ReadBytes;
using qv::test::WriteBytes;

constexpr std::int64_t kNow = 1'700'000'000;
constexpr std::int64_t kDay = 86400;

// A log record decided at `time` with sentence `total`, executed or not.
std::string Rec(const std::string& time, int total, bool executed) {
    return time + "\t12\tname\t" + std::to_string(total) + "\tA:1 \t" + (executed ? "1" : "0") +
           "\t1\t0\t0\t0\t0\r\n";
}
std::string Ago(std::int64_t seconds) { return std::to_string(kNow - seconds); }

class OverdueTest : public qv::test::InTempDir {};

TEST_F(OverdueTest, SummaryAndTextFollowTheLogTheBalanceAndTheLimits) {
    struct Case {
        const char* what;
        std::optional<std::string> log;      // none: no test.log
        std::optional<std::string> balance;  // none: no user.dat
        OverdueRule rule;
        bool tell;
        size_t overdue;
        std::string text;
    } cases[] = {
        {"an empty folder has nothing to tell", std::nullopt, std::nullopt, {}, false, 0,
         "知らせることはありません（未執行の判決0件）"},
        {"the oldest of three is past the days: all three are told",
         Rec(Ago(5 * kDay + 60), 20, false) + Rec(Ago(kDay), 15, false) +
             Rec(Ago(10), 10, false) + Rec(Ago(30 * kDay), 99, true),
         std::nullopt, OverdueRule{3, std::nullopt}, true, 1,
         "未執行の判決が3件あります（量刑計45ポイント、最も古いものは5日前）"},
        {"exactly the days old is not yet overdue",
         Rec(Ago(3 * kDay), 7, false), std::nullopt, OverdueRule{3, std::nullopt}, false, 0,
         "知らせることはありません（未執行の判決1件、最も古いものは3日前）"},
        {"one second more is",
         Rec(Ago(3 * kDay + 1), 7, false), std::nullopt, OverdueRule{3, std::nullopt}, true, 1,
         "未執行の判決が1件あります（量刑計7ポイント、最も古いものは3日前）"},
        {"executed sentences are never overdue", Rec(Ago(400 * kDay), 7, true), std::nullopt,
         OverdueRule{0, std::nullopt}, false, 0, "知らせることはありません（未執行の判決0件）"},
        {"a time from another computer's future clock counts as today",
         Rec(Ago(-5 * kDay), 7, false), std::nullopt, OverdueRule{0, std::nullopt}, false, 0,
         "知らせることはありません（未執行の判決1件、最も古いものは今日）"},
        {"a time that is not a number is not 1970",
         Rec("\xEF\xBB\xBF" + Ago(kDay), 7, false), std::nullopt, OverdueRule{0, std::nullopt},
         false, 0, "知らせることはありません（未執行の判決1件）"},
        {"damaged lines and a record without its line end are not sentences",
         "garbage\r\n" + Rec(Ago(9 * kDay), 4, false).substr(0, 30), std::nullopt,
         OverdueRule{1, std::nullopt}, false, 0, "知らせることはありません（未執行の判決0件）"},
        {"a balance above its limit is told", std::nullopt,
         std::string("quorvel\t1\tuser\t120\t0\t0\r\n"), OverdueRule{3, 100}, true, 0,
         "ポイント残高が120ポイントあります（100ポイントを超えています）"},
        {"a balance at its limit is not", std::nullopt,
         std::string("quorvel\t1\tuser\t100\t0\t0\r\n"), OverdueRule{3, 100}, false, 0,
         "知らせることはありません（未執行の判決0件、ポイント残高100ポイント）"},
        {"a balance without a limit is never told", std::nullopt,
         std::string("quorvel\t1\tuser\t99999\t0\t0\r\n"), OverdueRule{3, std::nullopt}, false,
         0, "知らせることはありません（未執行の判決0件、ポイント残高99999ポイント）"},
        {"a balance file too short to hold one is no balance", std::nullopt,
         std::string("quorvel\t1"), OverdueRule{3, 0}, false, 0,
         "知らせることはありません（未執行の判決0件）"},
        {"a balance told for itself still names the young sentences",
         Rec(Ago(10), 3, false), std::string("a\tb\tc\t0050\te\tf"), OverdueRule{3, 10}, true,
         0,
         "未執行の判決が1件あります（量刑計3ポイント、最も古いものは今日）\n"
         "ポイント残高が50ポイントあります（10ポイントを超えています）"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::unlink("test.log");
        ::unlink("user.dat");
        if (c.log) WriteBytes("test.log", *c.log);
        if (c.balance) WriteBytes("user.dat", *c.balance);
        const OverdueCheck check = CheckOverdue("test.log", "user.dat", kNow, c.rule);
        ASSERT_TRUE(check.ok);
        EXPECT_EQ(check.summary.Tell(), c.tell);
        EXPECT_EQ(check.summary.overdue, c.overdue);
        EXPECT_EQ(OverdueText(check.summary, c.rule), c.text);
    }
}

// The program may hold the folder and the log for as long as it runs; the check only
// reads, so it neither waits for them nor leaves anything behind.
TEST_F(OverdueTest, ReadsPastTheLocksOfARunningProgramAndWritesNothing) {
    const std::string log = Rec(Ago(8 * kDay), 30, false);
    WriteBytes("test.log", log);
    WriteBytes("user.dat", "quorvel\t1\tuser\t5\t0\t0\r\n");
    qv::io::FolderLock folder;
    ASSERT_TRUE(folder.Acquire("."));
    const int fd = ::open("test.log", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    const std::string before = qv::test::ListDir();

    const OverdueCheck check = CheckOverdue("test.log", "user.dat", kNow, OverdueRule{7, {}});
    ::close(fd);
    ASSERT_TRUE(check.ok);
    EXPECT_EQ(check.summary.overdue, 1u);
    EXPECT_EQ(check.summary.balance, 5);
    EXPECT_EQ(qv::test::ListDir(), before);
    EXPECT_EQ(ReadBytes("test.log"), log);
}

TEST_F(OverdueTest, AFileThatCannotBeReadFailsTheCheckNamingIt) {
    struct Case {
        const char* what;
        const char* path;
        bool fifo;  // else a folder in its place
    } cases[] = {
        {"a FIFO as the log is not waited on", "test.log", true},
        {"a folder as the log", "test.log", false},
        {"a FIFO as the balance", "user.dat", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::unlink("test.log");
        ::unlink("user.dat");
        ::rmdir("test.log");
        ASSERT_EQ(c.fifo ? ::mkfifo(c.path, 0600) : ::mkdir(c.path, 0700), 0);
        const OverdueCheck check = CheckOverdue("test.log", "user.dat", kNow, OverdueRule{});
        EXPECT_FALSE(check.ok);
        EXPECT_EQ(check.error.path, c.path);
        ::unlink(c.path);
        ::rmdir(c.path);
    }
}

}  // namespace

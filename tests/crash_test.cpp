// A process killed at any moment of a save leaves each file exactly old or exactly new.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "records/PointBalance.h"
#include "records/SentenceLog.h"
#include "rulebook/RuleBook.h"
#include "tests/support/TestFiles.h"
#include "text/Numbers.h"

namespace {

using qv::test::ReadBytes;

std::int64_t BalanceOf(const std::string& bytes) {
    size_t at = 0;
    for (int tab = 0; tab < 3; ++tab) at = bytes.find('\t', at) + 1;
    return qv::ReadInt64(std::string_view(bytes).substr(at));
}

class CrashConsistency : public qv::test::InTempDir {
protected:
    // Runs write in a child, over and over, and kills it after `delay`; then the file must
    // hold one of the allowed contents.
    void KillDuring(const std::function<void()>& write, std::chrono::microseconds delay) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (;;) write();
        }
        std::this_thread::sleep_for(delay);
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
};

TEST_F(CrashConsistency, RuleBookSave) {
    // Two books of a few megabytes that differ everywhere.
    auto makeBook = [](char fill) {
        auto book = std::make_unique<CRuleBook>();
        book->SetFileName("test.dat");
        book->SetClock([] { return qv::Seconds{1700000000}; });
        for (int n = 1; n <= 400; ++n) {
            CRule r;
            r.SetNumber(n);
            r.SetName(std::string(8000, fill));
            book->AddRule(r);
        }
        return book;
    };
    auto a = makeBook('a');
    auto b = makeBook('b');
    ASSERT_TRUE(a->SaveFile());
    const std::string old = ReadBytes("test.dat");
    ASSERT_TRUE(b->SaveFile());
    const std::string fresh = ReadBytes("test.dat");
    ASSERT_TRUE(a->SaveFile());

    int points = 0;
    for (int step = 0; step < 40; ++step) {
        bool flip = false;
        KillDuring([&] { (flip = !flip) ? b->SaveFile() : a->SaveFile(); },
                   std::chrono::microseconds(500 + step * 997));
        const std::string now = ReadBytes("test.dat");
        EXPECT_TRUE(now == old || now == fresh)
            << "kill point " << step << ": a mixed file of " << now.size() << " bytes";
        ++points;
    }
    RecordProperty("kill_points", points);
}

TEST_F(CrashConsistency, BalanceRewrite) {
    const std::string start = "a\tb\tc\t1000000\te\t" + std::string(2'000'000, 'f');
    qv::test::WriteBytes("user.dat", start);
    for (int step = 0; step < 30; ++step) {
        const std::string before = ReadBytes("user.dat");
        const auto balance = BalanceOf(before);
        KillDuring([] { PointBalance("user.dat").DebitReport(1); },
                   std::chrono::microseconds(300 + step * 1301));
        const std::string after = ReadBytes("user.dat");
        // Whatever the child managed, the file is one whole record with the tail intact.
        EXPECT_EQ(after.substr(0, 6), "a\tb\tc\t") << "kill point " << step;
        EXPECT_EQ(after.size() - after.find("\te\t"), start.size() - start.find("\te\t"))
            << "kill point " << step;
        EXPECT_LE(BalanceOf(after), balance);
    }
}

TEST_F(CrashConsistency, LogRewrite) {
    std::string log;
    for (int i = 0; i < 60000; ++i)
        log += std::to_string(1700000000 + i % 500) + "\t1\tX\t30\tA:3 \t0\t3\t0\t0\t0\t3\r\n";
    qv::test::WriteBytes("test.log", log);
    SentenceLog file("test.log");
    const std::string marked =
        SentenceLog::RewriteBytes(log, "1700000000", SentenceLog::Change::MarkExecuted).bytes;
    for (int step = 0; step < 30; ++step) {
        bool flip = false;
        KillDuring([&] { file.Write(file.PlanMark("1700000000", flip = !flip)); },
                   std::chrono::microseconds(400 + step * 1103));
        const std::string now = ReadBytes("test.log");
        EXPECT_TRUE(now == log || now == marked) << "kill point " << step << ": a mixed log";
    }
}

}  // namespace

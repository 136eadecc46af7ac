// A process killed at any moment of a save leaves each file exactly old or exactly new.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "execution/DeleteSentence.h"
#include "execution/Undo.h"
#include "records/BalanceBook.h"
#include "records/Ledger.h"
#include "records/PointBalance.h"
#include "records/Repair.h"
#include "records/SentenceLog.h"
#include "records/Trash.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "tests/support/SampleVerdict.h"
#include "tests/support/TestFiles.h"
#include "text/Numbers.h"
#include "trial/Verdict.h"
#include "records/DataFolder.h"

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

// The two-file actions, killed anywhere between their first and last write, and then
// the next start: the log and the balance agree again, and nothing is left behind.
class TwoFileKills : public CrashConsistency {
protected:
    static constexpr std::int64_t kStart = 1000000;
    const std::string kId = "1700000000";

    void Plant(bool withRecord) {
        std::string log;
        log.reserve(15'000'000);
        for (int i = 0; i < 300000; ++i)
            log += std::to_string(1600000000 + i) + "\t1\tX\t30\tA:3 \t0\t3\t0\t0\t0\t3\r\n";
        if (withRecord) log += kId + "\t12\tX\t29\tA:12 \t0\t12\t0\t0\t0\t9\r\n";
        qv::test::WriteBytes("test.log", log);
        // A long tail makes the balance's rewrite take a while too.
        qv::test::WriteBytes("user.dat", "a\tb\tc\t" + std::to_string(kStart) + "\te\t" +
                                             std::string(3'000'000, 'f'));
        std::filesystem::remove("intent.dat");
    }
    bool LogHasRecord() { return ReadBytes("test.log").find(kId + "\t12") != std::string::npos; }

    // Kills action at points spread over its run time; after each, start-up repairs and
    // check sees the files. Returns how many kills found the action half done.
    int KillAndRepair(bool withRecord, const std::function<void()>& action,
                      const std::function<void(int step)>& check) {
        Plant(withRecord);
        const auto t0 = std::chrono::steady_clock::now();
        action();
        const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - t0);
        int halfDone = 0;
        for (int step = 0; step < 24; ++step) {
            Plant(withRecord);
            pid_t pid = ::fork();
            if (pid == 0) {
                action();
                ::_exit(0);
            }
            std::this_thread::sleep_for(took * step / 20);
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            if (qv::test::Exists("intent.dat")) ++halfDone;
            RepairAtStart(DataFolder::DataOnly("test.log", "user.dat"));
            check(step);
            EXPECT_FALSE(qv::test::Exists("intent.dat")) << "kill point " << step;
            EXPECT_EQ(qv::test::ListDir(), "test.log\nuser.dat\n") << "kill point " << step;
        }
        return halfDone;
    }
};

TEST_F(TwoFileKills, DeleteIsFinishedOrUndoneAtTheNextStart) {
    const int halfDone = KillAndRepair(
        true, [&] { DeleteSentence(SentenceLog("test.log"), PointBalance("user.dat"), kId); },
        [&](int step) {
            const std::int64_t balance = BalanceOf(ReadBytes("user.dat"));
            if (LogHasRecord())
                EXPECT_EQ(balance, kStart) << "kill point " << step << ": listed but debited";
            else
                EXPECT_EQ(balance, kStart - 9) << "kill point " << step << ": gone, not debited";
        });
    RecordProperty("kills_between_the_files", halfDone);
}

TEST_F(TwoFileKills, DecisionIsFinishedOrUndoneAtTheNextStart) {
    CInfo info;
    info.SetLogPath("test.log");
    info.SetBalancePath("user.dat");
    const CVerdict v = qv::test::SampleVerdict();
    const int halfDone = KillAndRepair(
        false, [&] { DecideVerdict(v, info, 1700000000); },
        [&](int step) {
            const std::int64_t balance = BalanceOf(ReadBytes("user.dat"));
            if (LogHasRecord())
                EXPECT_EQ(balance, kStart + 9) << "kill point " << step << ": logged, not credited";
            else
                EXPECT_EQ(balance, kStart) << "kill point " << step << ": credited, not logged";
        });
    RecordProperty("kills_between_the_files", halfDone);
}

// The same kills with the ledger, the trash and the backups switched on, as the program
// runs: after the next start's repair the ledger explains the balance (its last figure
// is the file's, never a difference to ask about), a sentence is in the log or in the
// trash and never in both or neither, and no intent is left.
class LedgerKills : public TwoFileKills {
protected:
    void SetUp() override {
        TwoFileKills::SetUp();
        AttachFolder(info_, DataFolder());
    }
    void PlantAll(bool withRecord) {
        Plant(withRecord);
        qv::test::WriteBytes("user.ldg", "1\topen\t\t\t" + std::to_string(kStart) + "\t0\t" +
                                             std::to_string(kStart) + "\r\n");
        std::filesystem::remove("test.trs");
        std::filesystem::remove_all("backup");
    }
    size_t InTrash() {
        Trash::Contents trash;
        Trash("test.trs").Read(trash);
        size_t n = 0;
        for (const Trash::Entry& e : trash.entries) n += e.payload.starts_with(kId + "\t");
        EXPECT_TRUE(trash.unreadLines.empty());
        return n;
    }
    // Kills action at points spread over its run time; returns how many kills found it
    // half done (an intent left).
    int KillRepairAndCheck(bool withRecord, const std::function<void()>& action,
                           const std::function<void(int step)>& check) {
        PlantAll(withRecord);
        const auto t0 = std::chrono::steady_clock::now();
        action();
        const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - t0);
        int halfDone = 0;
        for (int step = 0; step < 24; ++step) {
            PlantAll(withRecord);
            pid_t pid = ::fork();
            if (pid == 0) {
                action();
                ::_exit(0);
            }
            std::this_thread::sleep_for(took * step / 20);
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            if (qv::test::Exists("intent.dat")) ++halfDone;
            RepairAtStart(DataFolder(), [] { return qv::Seconds{5}; });
            EXPECT_FALSE(qv::test::Exists("intent.dat")) << "kill point " << step;
            const auto ledger = Ledger("user.ldg").CheckAgainst(PointBalance("user.dat"), 9);
            EXPECT_EQ(ledger.result, Ledger::Check::Result::Agrees) << "kill point " << step;
            EXPECT_EQ(ledger.unreadLines, 0u) << "kill point " << step;
            check(step);
        }
        return halfDone;
    }
    CInfo info_;
};

TEST_F(LedgerKills, DeleteKeepsLogTrashBalanceAndLedgerTogether) {
    const int halfDone = KillRepairAndCheck(
        true,
        [&] { DeleteSentence(DataFolder(), kId); },
        [&](int step) {
            const std::int64_t balance = BalanceOf(ReadBytes("user.dat"));
            const bool listed = LogHasRecord();
            EXPECT_EQ(InTrash(), listed ? 0u : 1u) << "kill point " << step;
            EXPECT_EQ(balance, listed ? kStart : kStart - 9) << "kill point " << step;
        });
    RecordProperty("kills_between_the_files", halfDone);
}

TEST_F(LedgerKills, ADeleteAndItsUndoKeepEverythingTogether) {
    const int halfDone = KillRepairAndCheck(
        true,
        [&] {
            qv::execution::ReportSession session(info_);
            session.Delete(kId);
            session.Undo();
        },
        [&](int step) {
            const std::int64_t balance = BalanceOf(ReadBytes("user.dat"));
            const bool listed = LogHasRecord();
            EXPECT_EQ(InTrash(), listed ? 0u : 1u) << "kill point " << step;
            EXPECT_EQ(balance, listed ? kStart : kStart - 9) << "kill point " << step;
            if (listed) {
                // Back where it stood, with its bytes: the last line of the log.
                const std::string log = ReadBytes("test.log");
                EXPECT_TRUE(log.ends_with(kId + "\t12\tX\t29\tA:12 \t0\t12\t0\t0\t0\t9\r\n"))
                    << "kill point " << step;
            }
        });
    RecordProperty("kills_between_the_files", halfDone);
}

TEST_F(LedgerKills, AReportAndItsUndoAreBookedOnce) {
    const int halfDone = KillRepairAndCheck(
        false,
        [&] {
            qv::execution::ReportSession session(info_);
            session.Report({{3, 0, 0, 0}}, 7);
            session.Undo();
        },
        [&](int step) {
            const std::int64_t balance = BalanceOf(ReadBytes("user.dat"));
            EXPECT_TRUE(balance == kStart || balance == kStart - 7) << "kill point " << step;
        });
    RecordProperty("kills_between_the_files", halfDone);
}

TEST_F(LedgerKills, ADecisionIsCreditedAndBookedOnce) {
    const CVerdict v = qv::test::SampleVerdict();
    const int halfDone = KillRepairAndCheck(
        false, [&] { DecideVerdict(v, info_, 1700000000); },
        [&](int step) {
            const std::int64_t balance = BalanceOf(ReadBytes("user.dat"));
            EXPECT_EQ(balance, LogHasRecord() ? kStart + 9 : kStart) << "kill point " << step;
        });
    RecordProperty("kills_between_the_files", halfDone);
}

}  // namespace

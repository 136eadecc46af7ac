// A kill at every file-changing call of a journal commit and of bringing the files up to
// the journals (before the call, after it, and with a write cut in half), then a start:
// the action is whole or absent, the files are the fold of the journals, nothing temporary
// is left, and a second start changes nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "records/DataFolder.h"
#include "records/JournalFolder.h"
#include "tests/support/KillAt.h"
#include "tests/support/TestFiles.h"

namespace {

using qv::records::JournalFolder;
using qv::records::JournalLine;
using qv::test::KillMode;
using Kind = JournalLine::Kind;

JournalLine Decide(qv::Seconds t, int points) {
    return {{}, 0, t, Kind::Decide, {"1", "x", std::to_string(points), "", "0", "0", "0", "0",
                                     std::to_string(points), "why"}};
}

class JournalKilled : public qv::test::InTempDir {
protected:
    // The folder in use on this computer, and another computer's journal beside it.
    void Plant() {
        for (const auto& e : std::filesystem::directory_iterator("."))
            std::filesystem::remove_all(e.path());
        qv::test::WriteBytes("test.dat", "qvrule\t1\tid1\t5\tA\t10\tB\t5\tC\t7\tD\t10\r\n");
        qv::test::WriteBytes("user.dat", "a\tb\tc\t100\te\tf");
        JournalFolder here(DataFolder(), "@here", [] { return qv::Seconds{1700000000}; });
        ASSERT_TRUE(here.EnsureBase(false));
        ASSERT_TRUE(here.Commit({Decide(1700000001, 5), Decide(1700000002, 7)}));
        ASSERT_TRUE(here.Start());
        JournalFolder other(DataFolder(), "@other", [] { return qv::Seconds{1700000003}; });
        // Its lines arrive later, by sync: kept aside until the action delivers them.
        ASSERT_TRUE(other.Commit({Decide(1700000003, 11)}));
        std::filesystem::rename("journal/other.jnl", "arriving");
    }
    std::map<std::string, std::string> Snapshot() {
        std::map<std::string, std::string> files;
        for (const auto& e : std::filesystem::recursive_directory_iterator("."))
            if (e.is_regular_file()) files[e.path().string()] = qv::test::ReadBytes(e.path().string());
        return files;
    }
    void Check(const std::string& where, size_t before, size_t added) {
        SCOPED_TRACE(where);
        JournalFolder here(DataFolder(), "@here");
        ASSERT_TRUE(here.Start());
        const auto first = Snapshot();
        ASSERT_TRUE(here.Start());
        EXPECT_EQ(Snapshot(), first) << "the second start changed a file";
        for (const auto& [path, bytes] : first)
            EXPECT_TRUE(path.find(".tmp-") == std::string::npos && path.find(".new-") == std::string::npos)
                << path << " left behind";
        size_t lines = 0;
        for (const auto& j : here.Listing().journals) {
            lines += j.lines.size();
            EXPECT_TRUE(j.refused.empty()) << j.device;
        }
        EXPECT_TRUE(lines == before || lines == before + added) << lines << " lines";
        qv::records::ViewBytes now;
        ASSERT_TRUE(here.ReadViews(now));
        EXPECT_EQ(now, here.Folded());
    }
    // also: a further check after each kill and start.
    void KillThroughout(const std::function<void()>& action, size_t added, bool deliver,
                        const std::function<void()>& also = nullptr) {
        Plant();
        const size_t before = 3;
        auto run = [&] {
            if (deliver) std::filesystem::rename("arriving", "journal/other.jnl");
            action();
        };
        const int calls = qv::test::CountChangingCalls(run);
        ASSERT_GT(calls, 0);
        RecordProperty("calls", calls);
        for (int n = 1; n <= calls; ++n)
            for (KillMode mode : {KillMode::Before, KillMode::After, KillMode::HalfWrite}) {
                Plant();
                if (deliver) std::filesystem::rename("arriving", "journal/other.jnl");
                qv::test::RunKilledAt(action, n, mode);
                Check("call " + std::to_string(n) + " of " + std::to_string(calls) + ", mode " +
                          std::to_string(static_cast<int>(mode)),
                      before + (deliver ? 1 : 0), added);
                if (also) also();
                if (HasFailure()) return;
            }
    }
};

TEST_F(JournalKilled, ACommitAndItsFilesAreWholeOrAbsent) {
    KillThroughout([] {
        JournalFolder here(DataFolder(), "@here", [] { return qv::Seconds{1700000010}; });
        JournalLine report{{}, 0, 0, Kind::Report, {"1/0/0/0", "4"}};
        if (here.Commit({Decide(1700000010, 3), report})) here.Start();
    }, 2, false);
}

// A record something else wrote into the log is taken in as a line before the files are
// brought up: killed anywhere, the record is still in the log after the next start.
TEST_F(JournalKilled, TakingInARecordWrittenOutsideNeverLosesIt) {
    const std::string outside = "1700000005\t1\tx\t9\t\t0\t0\t0\t0\t0\t2\r\n";
    KillThroughout([&] {
        if (qv::test::ReadBytes("test.log").find(outside) == std::string::npos)
            qv::test::WriteBytes("test.log", qv::test::ReadBytes("test.log") + outside);
        JournalFolder here(DataFolder(), "@here");
        here.Start();
    }, 1, false, [&] {
        EXPECT_NE(qv::test::ReadBytes("test.log").find(outside), std::string::npos) << "the record is gone";
    });
}

TEST_F(JournalKilled, TakingInAnotherComputersLinesIsWholeOrAbsent) {
    KillThroughout([] {
        JournalFolder here(DataFolder(), "@here");
        here.Start();
    }, 0, true);
}

}  // namespace

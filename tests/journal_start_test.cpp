// What the program does with a folder's journals at start-up and when it comes to the
// front: a folder without journals is left alone; this computer's first start takes the
// files in as its base; later starts read only the journals' ends while nothing moved;
// another computer's lines reach the files; records and articles something else added to
// the files are kept, once, even when they are another computer's decision whose line
// has not arrived yet.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "records/DataFolder.h"
#include "records/JournalFolder.h"
#include "records/Journaling.h"
#include "rulebook/Info.h"
#include "tests/support/SampleVerdict.h"
#include "tests/support/TestFiles.h"
#include "trial/Verdict.h"

namespace {

using qv::records::JournalFolder;
using qv::records::JournalLine;
using qv::records::Journaling;
using qv::test::ReadBytes;
using qv::test::WriteBytes;
using Kind = JournalLine::Kind;

constexpr char kBook[] = "qvrule\t1\tid1\t5\tA\t10\tB\t5\tC\t7\tD\t10\r\n";
constexpr char kRecord[] = "1700000100\t1\tx\t9\t\t0\t0\t0\t0\t0\t9\r\n";
constexpr char kArticle[] =
    "7\t1700000000\t1700000000\tname\ttext\tremark\t5\t1\t1\t1\t1\t0\t0\t0\r\n";

JournalLine Decide(qv::Seconds t, int points) {
    return {{}, 0, t, Kind::Decide,
            {"1", "x", "9", "", "0", "0", "0", "0", std::to_string(points), "why"}};
}

class JournalStart : public qv::test::InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        // This computer's stamp lives in its state folder: one of the test's own.
        std::filesystem::create_directories("state");
        ::setenv("XDG_STATE_HOME", (Dir() / "state").c_str(), 1);
        ::setenv("QUORVEL_DEVICE", "here", 1);
        std::filesystem::create_directories("data");
        WriteBytes("data/test.dat", kBook);
        WriteBytes("data/user.dat", "a\tb\tc\t100\te\tf");
    }
    void TearDown() override {
        ::unsetenv("XDG_STATE_HOME");
        ::unsetenv("QUORVEL_DEVICE");
        InTempDir::TearDown();
    }
    static Journaling& Here() { return Journaling::Of(DataFolder("data")); }
    static Journaling::Followed Follow() {
        Journaling::Followed f = Here().Follow(false);
        EXPECT_TRUE(f.ok) << f.error.path;
        return f;
    }
    // Another computer's lines, as its journal arrives by sync.
    static void Arrive(std::vector<JournalLine> lines) {
        JournalFolder other(DataFolder("data"), "@there", [] { return qv::Seconds{1700000200}; });
        ASSERT_TRUE(other.Commit(std::move(lines)));
    }
    // The files are the fold of the journals, and a further start changes nothing.
    static void ExpectSettled() {
        JournalFolder g(DataFolder("data"), "@here");
        ASSERT_TRUE(g.Load());
        qv::records::ViewBytes now;
        ASSERT_TRUE(g.ReadViews(now));
        EXPECT_EQ(now, g.Folded());
        EXPECT_FALSE(Follow().moved);
    }
};

TEST_F(JournalStart, AFolderWithoutJournalsIsLeftAsItWas) {
    const Journaling::Followed f = Follow();
    EXPECT_FALSE(f.moved);
    EXPECT_FALSE(f.baseTaken);
    EXPECT_FALSE(std::filesystem::exists("data/journal"));
    EXPECT_EQ(ReadBytes("data/user.dat"), "a\tb\tc\t100\te\tf");
}

TEST_F(JournalStart, TheFirstStartTakesTheBaseAndLaterOnesReadOnlyTheEndsUntilALineArrives) {
    std::filesystem::create_directories("data/journal");
    Journaling::Followed f = Follow();
    EXPECT_TRUE(f.baseTaken);
    EXPECT_TRUE(f.written.empty()) << "the base is the files: nothing to write";
    EXPECT_EQ(ReadBytes("data/user.dat"), "a\tb\tc\t100\te\tf");
    EXPECT_FALSE(Follow().moved);

    Arrive({Decide(1700000100, 9)});
    f = Follow();
    EXPECT_TRUE(f.moved);
    EXPECT_EQ(ReadBytes("data/test.log"), kRecord);
    EXPECT_EQ(ReadBytes("data/user.dat"), "a\tb\tc\t109\te\tf");
    ExpectSettled();
}

TEST_F(JournalStart, AnActionLeavesTheFilesStampedAndItsLineInTheJournal) {
    std::filesystem::create_directories("data/journal");
    Follow();
    CInfo info;
    AttachFolder(info, DataFolder("data"));
    const Decision d = DecideVerdict(qv::test::SampleVerdict(9, "why"), info, 1700000300);
    ASSERT_EQ(d.status, Decision::Status::Ok);
    EXPECT_FALSE(Follow().moved) << "the action stamped what it wrote";
    std::vector<qv::records::LineRef> refs;
    ASSERT_TRUE(Here().SentenceRefs(d.id, true, refs));
    ASSERT_EQ(refs.size(), 1u);
    EXPECT_EQ(refs[0].origin, "@here");
    ExpectSettled();
}

// Something else wrote to the files: what it added is kept as journal lines, so the next
// start, on this computer or another, does not take it away.
TEST_F(JournalStart, RecordsAndArticlesAddedOutsideAreTakenInOnce) {
    std::filesystem::create_directories("data/journal");
    Follow();
    WriteBytes("data/test.log", kRecord);
    WriteBytes("data/test.dat", std::string(kBook) + kArticle);
    const Journaling::Followed f = Follow();
    EXPECT_TRUE(f.moved);
    EXPECT_EQ(f.taken.records, 1u);
    EXPECT_EQ(f.taken.articles, 1u);
    EXPECT_EQ(ReadBytes("data/test.log"), kRecord);
    EXPECT_NE(ReadBytes("data/test.dat").find(kArticle), std::string::npos);
    EXPECT_EQ(ReadBytes("data/user.dat"), "a\tb\tc\t100\te\tf") << "a found record credits nothing";
    ExpectSettled();
}

// A sync tool may bring another computer's log before its journal: the record is kept
// from the log, and when the decide's line arrives the sentence is still there once,
// credited once.
TEST_F(JournalStart, ARecordThatArrivesBeforeItsLineCountsOnce) {
    std::filesystem::create_directories("data/journal");
    Follow();
    WriteBytes("data/test.log", kRecord);  // the other computer's log, by sync
    EXPECT_EQ(Follow().taken.records, 1u);
    Arrive({Decide(1700000100, 9)});
    Follow();
    EXPECT_EQ(ReadBytes("data/test.log"), kRecord);
    EXPECT_EQ(ReadBytes("data/user.dat"), "a\tb\tc\t109\te\tf");
    ExpectSettled();
}

// conflicts/ stays within its budget: parking a copy removes the oldest copies beyond it,
// never the one parked now, never a link or what it leads to.
TEST_F(JournalStart, ConflictCopiesStayWithinTheirBudget) {
    std::filesystem::create_directories("data/journal");
    std::filesystem::create_directories("data/conflicts");
    std::filesystem::create_directories("outside");
    WriteBytes("outside/keep", "keep");
    std::filesystem::create_symlink(Dir() / "outside/keep", "data/conflicts/link");
    WriteBytes("data/conflicts/oldest", std::string(6, 'a'));
    WriteBytes("data/conflicts/older", std::string(6, 'b'));
    const auto age = [](const char* path, int days) {
        std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() -
                                                   std::chrono::hours(24 * days));
    };
    age("data/conflicts/oldest", 3);
    age("data/conflicts/older", 2);
    Follow();
    Here().Folder().SetConflictBudget(10);
    WriteBytes("data/test.sync-conflict-20261211-101500-ABCDEF1.log", "");
    const Journaling::Followed f = Follow();
    ASSERT_EQ(f.parked.size(), 1u);
    EXPECT_FALSE(qv::test::Exists("data/conflicts/oldest")) << "over the budget: the oldest goes";
    EXPECT_TRUE(qv::test::Exists("data/conflicts/older"));
    EXPECT_TRUE(qv::test::Exists("data/conflicts/test.sync-conflict-20261211-101500-ABCDEF1.log"));
    EXPECT_TRUE(std::filesystem::is_symlink("data/conflicts/link"));
    EXPECT_EQ(ReadBytes("outside/keep"), "keep");
    Here().Folder().SetConflictBudget(0);
}

}  // namespace

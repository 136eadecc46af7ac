// The fold of the journals against what the actions themselves write: the real decision,
// marks, deletes, point reports, their undo and restores from the trash, each committing
// its own journal line. After every step the folded files must be the files the actions
// wrote, byte for byte, so a computer that brings its files up to the journals changes
// nothing of its own work.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "execution/Undo.h"
#include "records/DataFolder.h"
#include "records/JournalFolder.h"
#include "records/Trash.h"
#include "rulebook/Info.h"
#include "tests/support/SampleVerdict.h"
#include "tests/support/TestFiles.h"
#include "trial/Verdict.h"

namespace {

using qv::records::JournalFolder;
using qv::records::JournalLine;
using qv::records::LineRef;
using Kind = JournalLine::Kind;

// The folder's journals, folded and set against the files the actions wrote.
class Folded {
public:
    explicit Folded(qv::Clock clock) : folder_(DataFolder(), "@pc", std::move(clock)) {}

    void Start() {
        ASSERT_TRUE(folder_.EnsureBase(false));
        ASSERT_TRUE(folder_.Load());
    }
    void ExpectFilesAreTheFold(const std::string& step) {
        ASSERT_TRUE(folder_.Load());
        EXPECT_EQ(folder_.Notes().waiting, 0u) << step;
        qv::records::ViewBytes now;
        ASSERT_TRUE(folder_.ReadViews(now));
        const qv::records::ViewBytes& folded = folder_.Folded();
        EXPECT_EQ(folded.log, now.log) << step;
        EXPECT_EQ(folded.balance, now.balance) << step;
        EXPECT_EQ(folded.ledger, now.ledger) << step;
        EXPECT_EQ(folded.trash, now.trash) << step;
        EXPECT_EQ(folded.reasons, now.reasons) << step;
        EXPECT_EQ(folded.marks, now.marks) << step;
        EXPECT_EQ(folded.book, now.book) << step;
    }

private:
    JournalFolder folder_;
};

class JournalActions : public qv::test::InTempDir {};

TEST_F(JournalActions, EveryActionsFilesAreTheFoldOfItsLine) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    for (const auto& e : std::filesystem::directory_iterator("."))
        std::filesystem::remove_all(e.path());
    qv::test::WriteBytes("test.dat", qv::test::ReadBytes(QV_TEST_DATA "/../../examples/test.dat"));
    qv::test::WriteBytes("user.dat", "a\tb\tc\t20\te\tf");
    ::setenv("QUORVEL_DEVICE", "pc", 1);  // the tag the actions write is the journal's
    CInfo info;
    AttachFolder(info, DataFolder());
    qv::Seconds now = 1765000000;
    const qv::Clock clock = [&now] { return now; };
    Folded journal(clock);
    journal.Start();
    journal.ExpectFilesAreTheFold("start");

    std::mt19937 rng(seed);
    std::vector<std::string> ids;
    std::vector<LineRef> reports;
    for (int step = 0; step < 120; ++step) {
        now += rng() % 3;  // seconds often shared
        const std::string name = "seed " + std::to_string(seed) + " step " + std::to_string(step);
        const unsigned what = rng() % 8;
        qv::execution::ReportSession session(info, clock);
        if (what < 3 || ids.empty()) {
            const CVerdict v = qv::test::SampleVerdict(rng() % 12, "why\r\nline " + std::to_string(step));
            const Decision d = DecideVerdict(v, info, now);
            ASSERT_EQ(d.status, Decision::Status::Ok) << name;
            ids.push_back(d.id);
        } else if (what < 5) {
            const std::string& id = ids[rng() % ids.size()];
            const bool executed = rng() % 2;
            if (!session.Mark(id, executed).Ok()) continue;  // deleted since
        } else if (what < 6) {
            const std::string id = ids[rng() % ids.size()];
            if (!session.Delete(id).Ok()) continue;
            if (rng() % 2 == 0) {  // and undone at once
                ASSERT_TRUE(session.Undo().Ok()) << name;
            }
        } else if (what < 7) {
            const std::int64_t points = 1 + rng() % 15;
            if (!session.Report({{points, 0, 0, 0}}, points).Ok()) continue;
            if (rng() % 2 == 0) {
                ASSERT_TRUE(session.Undo().Ok()) << name;
            }
        } else {
            Trash::Contents trash;
            Trash("test.trs").Read(trash);
            if (trash.entries.empty()) continue;
            const Trash::Entry entry = trash.entries[rng() % trash.entries.size()];
            const std::string id = entry.payload.substr(0, entry.payload.find('\t'));
            if (!session.RestoreFromTrash({&entry, 1}).Ok()) continue;
        }
        journal.ExpectFilesAreTheFold(name);
        if (HasFailure()) return;
    }
  }
}

}  // namespace

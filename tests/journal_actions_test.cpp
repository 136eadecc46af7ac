// The fold of the journals against what the actions themselves write: the real decision,
// marks, deletes, point reports, their undo and restores from the trash, each recorded
// as the journal line it stands for. After every step the folded files must be the files
// the actions wrote, byte for byte, so a computer that brings its files up to the
// journals changes nothing of its own work.
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

// Writes the journal line each action stands for, as the actions will once the journal
// is their commit.
class Recorder {
public:
    explicit Recorder(qv::Clock clock) : folder_(DataFolder(), "@pc", std::move(clock)) {}

    void Start() {
        ASSERT_TRUE(folder_.EnsureBase(false));
        ASSERT_TRUE(folder_.Load());
    }
    void Decide(const CVerdict& v, qv::Seconds at) {
        const SentenceRecord r = v.ToRecord(at);
        JournalLine line{{}, 0, at, Kind::Decide, {}};
        for (size_t f : {1, 2, 3, 4, 6, 7, 8, 9, 10}) line.fields.push_back(r.fields[f]);
        const std::string& text = v.verdictText;
        for (size_t from = 0;;) {
            const size_t end = text.find("\r\n", from);
            line.fields.push_back(text.substr(from, end - from));
            if (end == std::string::npos) break;
            from = end + 2;
        }
        Commit(line);
    }
    void On(Kind kind, const std::string& id, qv::Seconds at, const char* flag = nullptr) {
        const LineRef ref = RefOf(id);
        JournalLine line{{}, 0, at, kind, {ref.origin, ref.n}};
        if (flag) line.fields.emplace_back(flag);
        Commit(line);
    }
    LineRef Report(const std::array<std::int64_t, 4>& u, std::int64_t points, qv::Seconds at) {
        const std::string units = std::to_string(u[0]) + "/" + std::to_string(u[1]) + "/" +
                                  std::to_string(u[2]) + "/" + std::to_string(u[3]);
        Commit({{}, 0, at, Kind::Report, {units, std::to_string(points)}});
        const auto& own = folder_.Listing().journals.at(0);
        return own.Ref(own.lines.size() - 1);
    }
    void Unreport(const LineRef& report, qv::Seconds at) {
        Commit({{}, 0, at, Kind::Unreport, {report.origin, report.n}});
    }
    // The folded files, compared with the folder's own.
    void ExpectFilesAreTheFold(const std::string& step) {
        ASSERT_TRUE(folder_.Load());
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
    LineRef RefOf(const std::string& id) {
        EXPECT_TRUE(folder_.Load());
        for (const auto& s : folder_.Sentences())
            if (s.id == id) return s.ref;
        ADD_FAILURE() << "no sentence " << id;
        return {};
    }
    void Commit(JournalLine line) {
        ASSERT_TRUE(folder_.Commit({std::move(line)}));
        ASSERT_TRUE(folder_.Load());
    }
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
    Recorder journal(clock);
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
            journal.Decide(v, now);
            ids.push_back(d.id);
        } else if (what < 5) {
            const std::string& id = ids[rng() % ids.size()];
            const bool executed = rng() % 2;
            if (!session.Mark(id, executed).Ok()) continue;  // deleted since
            journal.On(Kind::Mark, id, now, executed ? "1" : "0");
        } else if (what < 6) {
            const std::string id = ids[rng() % ids.size()];
            if (!session.Delete(id).Ok()) continue;
            journal.On(Kind::Delete, id, now);
            if (rng() % 2 == 0) {  // and undone at once
                ASSERT_TRUE(session.Undo().Ok()) << name;
                journal.On(Kind::Restore, id, now);
            }
        } else if (what < 7) {
            const std::int64_t points = 1 + rng() % 15;
            if (!session.Report({{points, 0, 0, 0}}, points).Ok()) continue;
            const LineRef report = journal.Report({{points, 0, 0, 0}}, points, now);
            if (rng() % 2 == 0) {
                ASSERT_TRUE(session.Undo().Ok()) << name;
                journal.Unreport(report, now);
            }
        } else {
            Trash::Contents trash;
            Trash("test.trs").Read(trash);
            if (trash.entries.empty()) continue;
            const Trash::Entry entry = trash.entries[rng() % trash.entries.size()];
            const std::string id = entry.payload.substr(0, entry.payload.find('\t'));
            if (!session.RestoreFromTrash({&entry, 1}).Ok()) continue;
            journal.On(Kind::Restore, id, now);
        }
        journal.ExpectFilesAreTheFold(name);
        if (HasFailure()) return;
    }
  }
}

}  // namespace

// Undo in the execution report: deleted records come back where they stood with their
// exact bytes, points come back exactly as taken, and through a long random run with
// faults injected the ledger keeps adding up to the balance.
#include "execution/Undo.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>

#include "records/Ledger.h"
#include "tests/support/FaultInjection.h"
#include "tests/support/SampleVerdict.h"
#include "tests/support/TestFiles.h"
#include "text/Numbers.h"
#include "trial/Verdict.h"
#include "records/DataFolder.h"

namespace {

using qv::test::ReadBytes;
using qv::test::WriteBytes;
using namespace qv::execution;
using namespace qv::records;

std::string Rec(std::string_view id, int points, std::string_view flag = "0") {
    return std::string(id) + "\t1\tX\t30\tA:3 \t" + std::string(flag) + "\t3\t0\t0\t0\t" +
           std::to_string(points);
}

TEST(UndoBytes, CutRecordsGoBackWhereTheyStood) {
    struct Case {
        const char* what;
        std::string log;
        std::string id;
    };
    const std::string a = Rec("100", 1), b = Rec("200", 2), c = Rec("300", 3), d = Rec("200", 4);
    const Case cases[] = {
        {"the first", a + "\r\n" + b + "\r\n" + c + "\r\n", "100"},
        {"the middle", a + "\r\n" + b + "\r\n" + c + "\r\n", "200"},
        {"the last", a + "\r\n" + b + "\r\n" + c + "\r\n", "300"},
        {"two apart sharing an id", a + "\r\n" + b + "\r\n" + c + "\r\n" + d + "\r\n", "200"},
        {"two in a row", a + "\r\n" + b + "\r\n" + d + "\r\n" + c + "\r\n", "200"},
        {"before a damaged line", a + "\r\n" + b + "\r\nbroken\r\n" + c + "\r\n", "200"},
        {"the only one", b + "\r\n", "200"},
        {"before a torn last line", a + "\r\n" + b + "\r\n" + "300\tpart", "200"},
        {"an anchor id seen twice", c + "\r\n" + b + "\r\n" + c + "\r\n", "200"},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.what);
        const auto cut = SentenceLog::RewriteBytes(t.log, t.id, SentenceLog::Change::Drop);
        const auto cuts = CutsOf(t.log, t.id);
        ASSERT_EQ(cuts.size(), cut.matched);
        EXPECT_EQ(InsertRecords(cut.bytes, cuts), t.log);
    }
}

TEST(UndoBytes, WithTheFollowingLineGoneTheTimeDecides) {
    const std::string log = Rec("100", 1) + "\r\n" + Rec("300", 3) + "\r\n";
    const CutRecord back{Rec("200", 2), "250", 1, 2};  // its anchor was deleted since
    EXPECT_EQ(InsertRecords(log, {&back, 1}),
              Rec("100", 1) + "\r\n" + Rec("200", 2) + "\r\n" + Rec("300", 3) + "\r\n");
    const CutRecord last{Rec("400", 2), "", 5, 2};
    EXPECT_EQ(InsertRecords("1\tbroken", {&last, 1}), "1\tbroken\r\n" + Rec("400", 2) + "\r\n");
}

TEST(UndoBytes, MarksGoBackAsTheyWere) {
    const std::string log = Rec("100", 1, "1") + "\r\n" + Rec("100", 1, "0") + "\n" + "odd\r\n";
    const auto flags = MarksOf(log, "100");
    ASSERT_EQ(flags, (std::vector<std::string>{"1", "0"}));
    const auto marked = SentenceLog::RewriteBytes(log, "100", SentenceLog::Change::MarkExecuted);
    EXPECT_EQ(SetMarks(marked.bytes, "100", flags),
              Rec("100", 1, "1") + "\r\n" + Rec("100", 1, "0") + "\r\nodd\r\n");
}

TEST(UndoBytes, EachDebitTakesWhatTheFloorLeaves) {
    const std::int64_t points[] = {4, 0, 9, 3};
    EXPECT_EQ(TakenEach(10, points), (std::vector<std::int64_t>{4, 0, 6, 0}));
    const std::int64_t one[] = {3};
    EXPECT_EQ(TakenEach(-5, one), (std::vector<std::int64_t>{-5})) << "a floor that raises";
}

class UndoFiles : public qv::test::InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        AttachFolder(info_, DataFolder());
    }
    std::int64_t Balance() {
        std::vector<std::string> f;
        EXPECT_EQ(PointBalance("user.dat").Read(f), PointBalance::Status::Ok);
        return f.size() > 3 ? qv::ReadInt64(f[3]) : -1;
    }
    qv::Clock clock_ = [] { return qv::Seconds{1765341000}; };
    CInfo info_;
};

TEST_F(UndoFiles, ADeleteUndoneGivesBackTheBytesAndExactlyThePointsTaken) {
    const std::string log =
        Rec("100", 4) + "\r\n" + Rec("200", 9) + "\r\n" + Rec("300", 1) + "\r\n";
    WriteBytes("test.log", log);
    WriteBytes("user.dat", "a\tb\tc\t5\te\tf");
    ReportSession session(info_, clock_);
    ASSERT_TRUE(session.Delete("200").Ok());
    EXPECT_EQ(Balance(), 0) << "9 asked, 5 taken";
    Trash::Contents trash;
    ASSERT_EQ(Trash("test.trs").Read(trash), qv::io::ReadStatus::Ok);
    ASSERT_EQ(trash.entries.size(), 1u);
    EXPECT_EQ(trash.entries[0].payload, Rec("200", 9));
    EXPECT_EQ(trash.entries[0].points, 5);
    EXPECT_EQ(trash.entries[0].anchor, "300");

    ASSERT_EQ(session.NextUndo(), ReportSession::Kind::Delete);
    ASSERT_TRUE(session.Undo().Ok());
    EXPECT_EQ(ReadBytes("test.log"), log);
    EXPECT_EQ(Balance(), 5) << "not 9";
    Trash("test.trs").Read(trash);
    EXPECT_TRUE(trash.entries.empty()) << "back in the log, out of the trash";
    EXPECT_FALSE(session.CanUndo());
    EXPECT_EQ(session.Undo().result, Outcome::Result::NothingToUndo);
    // The log was backed up before each rewrite.
    EXPECT_EQ(Backups("backup").List().size(), 4u) << "log and balance, twice";
}

TEST_F(UndoFiles, AReportAndAMarkUndoneOneAtATimeNewestFirst) {
    const std::string log = Rec("100", 4) + "\r\n";
    WriteBytes("test.log", log);
    WriteBytes("user.dat", "a\tb\tc\t5\te\tf\r\n");
    ReportSession session(info_, clock_);
    ASSERT_TRUE(session.Mark("100", true).Ok());
    ASSERT_TRUE(session.Report({{8, 0, 0, 0}}, 8).Ok());
    EXPECT_EQ(Balance(), 0);
    ASSERT_EQ(session.NextUndo(), ReportSession::Kind::Report);
    ASSERT_TRUE(session.Undo().Ok());
    EXPECT_EQ(Balance(), 5);
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t5\te\tf\r\n");
    ASSERT_TRUE(session.Undo().Ok());
    EXPECT_EQ(ReadBytes("test.log"), log);
    Ledger::Contents ledger;
    ASSERT_EQ(Ledger("user.ldg").Read(ledger), qv::io::ReadStatus::Ok);
    ASSERT_EQ(ledger.entries.size(), 3u);
    EXPECT_EQ(ledger.entries[1].kind, Ledger::Kind::Report);
    EXPECT_EQ(ledger.entries[1].asked, -8);
    EXPECT_EQ(ledger.entries[2].kind, Ledger::Kind::Undo);
    EXPECT_EQ(ledger.entries[2].asked, 5);
    EXPECT_EQ(ledger.entries[2].after, 5);
}

// A new sentence in the second of one waiting in the trash takes the next second: put
// back, the two keep apart, and one 執行 or 削除 acts on one of them alone.
TEST_F(UndoFiles, ASentenceInTheTrashKeepsItsSecondFromTheNextDecision) {
    WriteBytes("user.dat", "a\tb\tc\t0\te\tf");
    const qv::Seconds second = 1765341000;
    const Decision first = DecideVerdict(qv::test::SampleVerdict(4), info_, second);
    ReportSession session(info_, clock_);
    ASSERT_TRUE(session.Delete(first.id).Ok());
    const Decision next = DecideVerdict(qv::test::SampleVerdict(4), info_, second);
    EXPECT_NE(next.id, first.id);
    Trash::Contents trash;
    Trash("test.trs").Read(trash);
    ASSERT_TRUE(session.RestoreFromTrash(trash.entries).Ok());
    SentenceLog::Contents log;
    ASSERT_EQ(SentenceLog("test.log").Read(log), qv::io::ReadStatus::Ok);
    ASSERT_EQ(log.RecordCount(), 2u);
    EXPECT_EQ(log.RecordsCarrying(first.id).size(), 1u);
    ASSERT_TRUE(session.Mark(first.id, true).Ok());
    ASSERT_EQ(SentenceLog("test.log").Read(log), qv::io::ReadStatus::Ok);
    EXPECT_EQ(log.Field(log.RecordsCarrying(next.id).at(0), SentenceRecord::kExecuted), "0");
}

// A trash entry (forged, or from a damaged copy) claiming more points than its sentence
// carries gives back only the sentence's own.
TEST_F(UndoFiles, ARestoreGivesBackNoMoreThanTheSentencesPoints) {
    WriteBytes("test.log", Rec("100", 4) + "\r\n");
    WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    WriteBytes("test.trs", "1\tlog\t500\t1000000\t\t1\t" + Rec("200", 2) + "\r\n");
    ReportSession session(info_, clock_);
    Trash::Contents trash;
    Trash("test.trs").Read(trash);
    ASSERT_TRUE(session.RestoreFromTrash(trash.entries).Ok());
    EXPECT_EQ(Balance(), 12);
}

// The log replaced while the window was open (a sync tool brought the other computer's
// copy, which still holds the deleted sentence): undoing the delete would put it in twice.
TEST_F(UndoFiles, AnUndoAfterTheLogCameBackWithTheSentenceMakesNoTwin) {
    const std::string log = Rec("100", 4) + "\r\n" + Rec("200", 2) + "\r\n";
    WriteBytes("test.log", log);
    WriteBytes("user.dat", "a\tb\tc\t50\te\tf");
    ReportSession session(info_, clock_);
    ASSERT_TRUE(session.Delete("100").Ok());
    WriteBytes("test.log", Rec("100", 4, "1") + "\r\n" + Rec("200", 2) + "\r\n");
    EXPECT_EQ(session.Undo().result, Outcome::Result::AlreadyBack);
    EXPECT_EQ(ReadBytes("test.log"), Rec("100", 4, "1") + "\r\n" + Rec("200", 2) + "\r\n");
    EXPECT_EQ(Balance(), 46);
}

TEST_F(UndoFiles, RestoringFromTheTrashTakesTheUndoOffTheStack) {
    WriteBytes("test.log", Rec("100", 4) + "\r\n" + Rec("200", 2) + "\r\n");
    WriteBytes("user.dat", "a\tb\tc\t50\te\tf");
    ReportSession session(info_, clock_);
    ASSERT_TRUE(session.Delete("100").Ok());
    Trash::Contents trash;
    Trash("test.trs").Read(trash);
    ASSERT_TRUE(session.RestoreFromTrash(trash.entries).Ok());
    EXPECT_EQ(ReadBytes("test.log"), Rec("100", 4) + "\r\n" + Rec("200", 2) + "\r\n");
    EXPECT_EQ(Balance(), 50);
    EXPECT_FALSE(session.CanUndo()) << "undoing it again would put it in twice";
}

TEST_F(UndoFiles, EachFailingCallOfADeleteOrItsUndoLeavesBothFilesAsTheyWere) {
    const std::string log = Rec("100", 4) + "\r\n" + Rec("200", 9) + "\r\n";
    const std::string balance = "a\tb\tc\t20\te\tf";
    SentenceLog::Contents copy;  // the report window's copy, for the steps that use it
    struct Step {
        const char* name;
        std::function<void(ReportSession&)> prepare;
        std::function<Outcome(ReportSession&)> run;
    };
    const Step steps[] = {
        {"delete", [](ReportSession&) {}, [](ReportSession& s) { return s.Delete("200"); }},
        {"undo of a delete", [](ReportSession& s) { ASSERT_TRUE(s.Delete("200").Ok()); },
         [](ReportSession& s) { return s.Undo(); }},
        {"undo of a report",
         [](ReportSession& s) {
             ASSERT_TRUE(s.Report({{1, 2, 3, 4}}, 30).Ok());
         },
         [](ReportSession& s) { return s.Undo(); }},
        // The same through the window's copy of the log, as the report window does them.
        {"delete planned in the window's copy",
         [&](ReportSession&) { ASSERT_EQ(SentenceLog("test.log").Read(copy), qv::io::ReadStatus::Ok); },
         [&](ReportSession& s) {
             Outcome o = s.Delete("200", kEveryRecord, &copy);
             if (o.Ok()) {
                 EXPECT_FALSE(o.deletion->dropped.empty()) << "not planned in the copy";
             }
             return o;
         }},
        {"undo planned in the window's copy",
         [&](ReportSession& s) {
             ASSERT_EQ(SentenceLog("test.log").Read(copy), qv::io::ReadStatus::Ok);
             const Outcome o = s.Delete("200", kEveryRecord, &copy);
             ASSERT_TRUE(o.Ok());
             copy.RemoveRecords(o.deletion->dropped, o.deletion->logStamp);
         },
         [&](ReportSession& s) {
             Outcome o = s.Undo(&copy);
             if (o.Ok()) {
                 EXPECT_FALSE(o.inserted.empty()) << "not planned in the copy";
             }
             return o;
         }},
    };
    for (const Step& step : steps) {
        auto fresh = [&] {
            std::filesystem::remove_all("backup");
            std::filesystem::remove("test.trs");
            std::filesystem::remove("intent.dat");
            WriteBytes("user.ldg", "1\topen\t\t\t20\t0\t20\r\n");
            WriteBytes("test.log", log);
            WriteBytes("user.dat", balance);
        };
        fresh();
        int calls = 0;
        {
            ReportSession s(info_, clock_);
            step.prepare(s);
            calls = qv::test::FaultInjection::CountCalls([&] { return step.run(s).Ok(); });
        }
        for (int failing = 1; failing <= calls; ++failing) {
            fresh();
            ReportSession s(info_, clock_);
            step.prepare(s);
            const std::string logBefore = ReadBytes("test.log");
            const std::int64_t balanceBefore = Balance();
            Outcome o;
            std::string failed;
            {
                qv::test::FaultInjection inject(failing, ENOSPC);
                o = step.run(s);
                failed = inject.FailedCall();
            }
            SCOPED_TRACE(std::string(step.name) + ": call " + std::to_string(failing) + " (" +
                         failed + ")");
            const auto check = Ledger("user.ldg").CheckAgainst(PointBalance("user.dat"), 1);
            if (!o.Ok()) {
                EXPECT_EQ(ReadBytes("test.log"), logBefore);
                EXPECT_EQ(Balance(), balanceBefore);
                EXPECT_TRUE(o.restored);
                // A delete has nothing on the stack before it.
                EXPECT_TRUE(s.CanUndo() || std::string(step.name).starts_with("delete"));
                EXPECT_NE(check.result, Ledger::Check::Result::Differs);
            } else {
                // Done (a failure after the last data write, such as closing the intent
                // entry, is settled at the next start); the ledger either explains the
                // balance or the check finds the difference.
                EXPECT_EQ(check.result, o.effects.ledgered ? Ledger::Check::Result::Agrees
                                                   : Ledger::Check::Result::Differs);
            }
        }
    }
}

// A thousand decisions, reports, deletes, marks and undos, one in five with a file call
// failing somewhere inside; whenever the check finds a difference the user accepts the
// file's figure. At the end the ledger is one unbroken chain whose changes add up to the
// balance in user.dat, and every undone delete gave back exactly what it took.
TEST_F(UndoFiles, ARandomThousandStepsWithFaultsKeepTheLedgerAddingUp) {
    WriteBytes("user.dat", "a\tb\tc\t0\te\tf\r\n");
    std::mt19937 random(20261210);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    qv::Seconds now = 1765341000;
    qv::Clock clock = [&now] { return now; };
    ReportSession session(info_, clock);
    const Ledger ledger("user.ldg");
    const PointBalance balanceFile("user.dat");
    int faults = 0, differences = 0, undone = 0;
    struct Taken {
        std::int64_t taken;
        std::string logBefore;
        bool logExact;
    };
    std::vector<Taken> takens;  // mirrors the session's stack

    for (int step = 0; step < 1000; ++step) {
        now += 1 + pick(5000);
        SentenceLog::Contents contents;
        SentenceLog("test.log").Read(contents);
        const std::string logBefore = ReadBytes("test.log");
        const std::int64_t before = Balance();
        const int action = pick(10);
        enum { None, Pushed, Undone, Gone } what = None;
        // One step in five has one of its file calls fail.
        auto inject = pick(5) == 0
                          ? std::make_unique<qv::test::FaultInjection>(1 + pick(14), ENOSPC)
                          : nullptr;
        if (action < 3) {
            CVerdict v;
            v.articleNumber = 1;
            v.articleName = "X";
            v.total = 10;
            v.points = pick(3) == 0 ? 0 : 1 + pick(30);
            v.countsText = "1\t0\t0\t0\t" + std::to_string(v.points);
            DecideVerdict(v, info_, now);
        } else if (action < 5 && contents.RecordCount() > 0) {
            const std::string id(contents.Field(pick(static_cast<int>(contents.RecordCount())), 0));
            if (session.Delete(id).Ok()) what = Pushed;
        } else if (action < 6) {
            if (session.Report({{pick(9), 0, pick(9), 0}}, 1 + pick(40)).Ok()) what = Pushed;
        } else if (action < 7 && contents.RecordCount() > 0) {
            const std::string id(contents.Field(pick(static_cast<int>(contents.RecordCount())), 0));
            if (session.Mark(id, pick(2) == 0).Ok()) what = Pushed;
        } else if (session.CanUndo()) {
            const Outcome o = session.Undo();
            // NotFound: its sentence was deleted since, nothing is left to undo.
            if (o.Ok()) what = Undone;
            if (o.result == Outcome::Result::NotFound) what = Gone;
        }
        const bool injected = inject && !inject->FailedCall().empty();
        inject.reset();
        faults += injected;

        if (action < 3 && ReadBytes("test.log") != logBefore)
            for (Taken& t : takens) t.logExact = false;
        if (what == Pushed) takens.push_back({before - Balance(), logBefore, true});
        if (what == Gone) takens.pop_back();
        if (what == Undone) {
            ASSERT_FALSE(takens.empty());
            const Taken t = takens.back();
            takens.pop_back();
            EXPECT_EQ(Balance() - before, t.taken) << "step " << step << ": exactly what was taken";
            if (t.logExact) {
                EXPECT_EQ(ReadBytes("test.log"), t.logBefore) << "step " << step;
            }
            ++undone;
        }

        const auto check = ledger.CheckAgainst(balanceFile, now);
        if (check.result == Ledger::Check::Result::Differs) {
            EXPECT_TRUE(injected) << "step " << step << ": a difference without a fault";
            ++differences;
            ASSERT_TRUE(ledger.RecordAdjustment(check.ledgerBalance, check.fileBalance, now));
        } else {
            ASSERT_TRUE(check.result == Ledger::Check::Result::Agrees ||
                        check.result == Ledger::Check::Result::Started)
                << "step " << step;
        }
        ASSERT_EQ(takens.empty(), !session.CanUndo()) << "step " << step;
    }

    Ledger::Contents contents;
    ASSERT_EQ(ledger.Read(contents), qv::io::ReadStatus::Ok);
    EXPECT_TRUE(contents.unreadLines.empty());
    std::int64_t sum = 0, last = 0;
    for (const Ledger::Entry& e : contents.entries) {
        EXPECT_EQ(e.before, last) << "an unbroken chain";
        sum += e.after - e.before;
        last = e.after;
    }
    EXPECT_EQ(sum, Balance());
    EXPECT_GT(faults, 50);
    EXPECT_GT(undone, 50);
    RecordProperty("faults", faults);
    RecordProperty("differences", differences);
}

// A real disk that fills up while the execution report works: every action either goes
// through or leaves the log and the balance as they were, the ledger explains the balance
// or the check finds the one difference a missing line left, and no sentence is lost
// (each is in the log or in the trash).
TEST_F(UndoFiles, ASmallDiskThatFillsUpLosesNothing) {
    const qv::test::SmallDisk disk("small", "size=96k");
    if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    AttachFolder(info_, DataFolder("small"));
    std::string log;
    std::vector<std::string> ids;
    for (int i = 0; i < 40; ++i) {
        ids.push_back(std::to_string(1700000000 + i));
        log += Rec(ids.back(), 1 + i % 7) + "\r\n";
    }
    WriteBytes("small/test.log", log);
    WriteBytes("small/user.dat", "a\tb\tc\t100\te\tf");
    const Ledger ledger("small/user.ldg");
    const PointBalance balanceFile("small/user.dat");
    ASSERT_EQ(ledger.CheckAgainst(balanceFile, 1).result, Ledger::Check::Result::Started);
    ReportSession session(info_, clock_);
    bool owed = false;  // a ledger line is missing since an action said so
    int failures = 0;
    for (int step = 0; step < 120; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        // The disk fills a little more at every step.
        {
            std::FILE* filler = std::fopen("small/filler", "ab");
            ASSERT_NE(filler, nullptr);
            const std::string chunk(1500, 'z');
            std::fwrite(chunk.data(), 1, chunk.size(), filler);
            std::fclose(filler);
        }
        SentenceLog::Contents contents;
        SentenceLog("small/test.log").Read(contents);
        const std::string logBefore = ReadBytes("small/test.log");
        const std::string balanceBefore = ReadBytes("small/user.dat");
        Outcome o;
        switch (step % 4) {
            case 0:
                if (contents.RecordCount() == 0) continue;
                o = session.Delete(contents.Field(contents.RecordCount() - 1, 0));
                break;
            case 1:
                o = session.Report({{2, 0, 0, 0}}, 2);
                break;
            case 2:
                o = session.Undo();
                break;
            default:
                if (contents.RecordCount() == 0) continue;
                o = session.Mark(contents.Field(0, 0), step % 8 == 3);
                break;
        }
        if (!o.Ok() && o.result != Outcome::Result::NotFound &&
            o.result != Outcome::Result::NothingToUndo) {
            ++failures;
            EXPECT_EQ(ReadBytes("small/test.log"), logBefore);
            EXPECT_EQ(ReadBytes("small/user.dat"), balanceBefore);
            EXPECT_TRUE(o.restored);
        }
        if (o.Ok() && !o.effects.ledgered) owed = true;
        const auto check = ledger.CheckAgainst(balanceFile, 2);
        if (check.result == Ledger::Check::Result::Differs) {
            EXPECT_TRUE(owed) << "a difference no action told of";
            if (ledger.RecordAdjustment(check.ledgerBalance, check.fileBalance, 3)) owed = false;
        } else {
            EXPECT_EQ(check.result, Ledger::Check::Result::Agrees);
            owed = false;
        }
    }
    EXPECT_GT(failures, 0) << "the disk did fill up";
    // Nothing lost: every sentence is in the log or in the trash.
    std::filesystem::remove("small/filler");
    const std::string finalLog = ReadBytes("small/test.log");
    Trash::Contents trash;
    ASSERT_NE(Trash("small/test.trs").Read(trash), qv::io::ReadStatus::Unreadable);
    for (const std::string& id : ids) {
        bool found = finalLog.find(id + "\t") != std::string::npos;
        for (const Trash::Entry& e : trash.entries)
            found = found || e.payload.starts_with(id + "\t");
        EXPECT_TRUE(found) << id;
    }
}

}  // namespace

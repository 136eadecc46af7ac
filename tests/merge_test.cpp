// Conflict copies: the names the sync tools give them, and their merge into the folder's
// files record by record.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <set>

#include "records/ConflictCopies.h"
#include "records/Ledger.h"
#include "records/Marks.h"
#include "records/Merge.h"
#include "records/PointBalance.h"
#include "records/Repair.h"
#include "records/SentenceLog.h"
#include "records/Trash.h"
#include "tests/support/ConflictFixture.h"
#include "tests/support/TestFiles.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace {

using qv::records::ConflictCopyOf;
using qv::records::FolderBytes;
using qv::records::MergeBytes;
using qv::records::MergeCounts;
using qv::test::ReadBytes;
using qv::test::WriteBytes;

TEST(ConflictNames, EachToolsNamesAndTheirNearMisses) {
    struct Case {
        const char* base;
        const char* name;
        const char* tool;  // nullptr: no copy of base
    };
    const Case cases[] = {
        {"test.log", "test.sync-conflict-20261210-154501-ABCDEF1.log", "Syncthing"},
        {"user.ldg", "user.sync-conflict-20261210-154501-Q7XK2LM.ldg", "Syncthing"},
        {"test.log", "test (Taro's conflicted copy 2026-12-10).log", "Dropbox"},
        {"test.log", "test (Taro's conflicted copy 2026-12-10 (1)).log", "Dropbox"},
        {"test.log", "test (Taro's conflicted copy 2026-12-10) (2).log", "Dropbox"},
        {"test.log", "test (Taro\xE2\x80\x99s conflicted copy 2026-12-10).log", "Dropbox"},
        {"test.trs", "test (conflicted copy 2026-12-10 154501).trs", "Nextcloud / ownCloud"},
        {"test.rsn", "test (conflicted copy taro 2026-12-10 154501).rsn", "Nextcloud / ownCloud"},
        {"user.dat", "user_conflict-20261210-154501.dat", "ownCloud (older)"},
        {"test.dat", "test_conflict-20261210-154501.dat", "ownCloud (older)"},
        // Near misses.
        {"test.log", "test.log", nullptr},
        {"test.log", "test.sync-conflict-20261210-154501-ABCDEF1.dat", nullptr},  // test.dat's
        {"test.log", "test.sync-conflict-2026121-154501-ABCDEF1.log", nullptr},   // 7 digits
        {"test.log", "test.sync-conflict-20261210-154501-.log", nullptr},         // no device
        {"test.log", "test.sync-conflict-20261210-154501-ABCDEF1.log.tmp", nullptr},
        {"test.log", "~syncthing~test.log.tmp", nullptr},
        {"test.log", "test (Taro's copy 2026-12-10).log", nullptr},
        {"test.log", "test (Taro's conflicted copy 2026-12-10) (x).log", nullptr},
        {"test.log", "test (Taro's conflicted copy 12-10).log", nullptr},
        {"test.log", "test (conflicted copy 2026-12-10).log", nullptr},  // no time
        {"test.log", "test(conflicted copy 2026-12-10 154501).log", nullptr},
        {"test.log", "test_conflict-20261210.log", nullptr},
        {"test.log", "xtest_conflict-20261210-154501.log", nullptr},
        {"test.log", "test_conflict-20261210-154501.log.bak", nullptr},
        {"user.dat", "user.sync-conflict-20261210-154501-ABCDEF1.ldg", nullptr},
    };
    for (const Case& c : cases) {
        const auto* p = ConflictCopyOf(c.base, c.name);
        if (c.tool == nullptr)
            EXPECT_EQ(p, nullptr) << c.name << " taken for a copy of " << c.base;
        else
            EXPECT_TRUE(p != nullptr && std::string(p->tool) == c.tool)
                << c.name << ": " << (p ? p->tool : "none");
    }
}

class MergeFiles : public qv::test::InTempDir {};

TEST_F(MergeFiles, TheFinderListsRegularCopiesPerFile) {
    for (const char* name :
         {"test.log", "test.sync-conflict-20261210-154501-ABCDEF1.log",
          "test_conflict-20261210-154501.dat", "user (conflicted copy 2026-12-10 154501).ldg",
          "test (conflicted copy 2026-12-10).log", "notes.sync-conflict-20261210-154501-A.txt"})
        WriteBytes(name, "x\r\n");
    std::filesystem::create_directory("test_conflict-20261210-154501.log");  // a folder
    // A sync tool writes its copies as files: a link under a copy's name (synced in from
    // the other computer, say) could lead anywhere, and a FIFO would never end a read.
    WriteBytes("elsewhere", "x\r\n");
    std::filesystem::create_symlink("elsewhere", "test.sync-conflict-20261210-154501-ABCDEF1.rsn");
    ASSERT_EQ(::mkfifo("test.sync-conflict-20261210-154501-ABCDEF1.trs", 0600), 0);
    const auto copies = qv::records::FindConflictCopies(DataFolder());
    ASSERT_EQ(copies.size(), 3u);
    EXPECT_EQ(copies[0].of, "test.dat");
    EXPECT_EQ(copies[1].name, "test.sync-conflict-20261210-154501-ABCDEF1.log");
    EXPECT_EQ(copies[1].of, "test.log");
    EXPECT_EQ(copies[2].of, "user.ldg");
}

// One record line of the log: time, article name and mark.
std::string Record(std::int64_t time, const char* name, const char* mark, int points = 2) {
    return qv::Decimal(time) + "\t12\t" + name + "\t29\tA:12 \t" + mark + "\t12\t0\t0\t0\t" +
           std::to_string(points) + "\r\n";
}

TEST(MergeRecords, MarksTakeTheLaterEventAndExecutedWhereNothingSays) {
    struct Case {
        const char* what;
        const char* ours;
        const char* theirs;
        std::string events;  // both journals' lines
        const char* merged;
    };
    const Case cases[] = {
        {"no event: executed wins", "0", "1", "", "1"},
        {"no event, ours executed", "1", "0", "", "1"},
        {"cleared there later", "1", "0", "10\t100\t1\t@a\r\n20\t100\t0\t@b\r\n", "0"},
        {"set there later", "0", "1", "10\t100\t0\t@a\r\n20\t100\t1\t@b\r\n", "1"},
        {"cleared here later", "0", "1", "30\t100\t0\t@a\r\n20\t100\t1\t@b\r\n", "0"},
        {"an event of another sentence", "0", "1", "30\t101\t0\t@a\r\n", "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FolderBytes ours, theirs;
        ours.log = Record(100, "X", c.ours);
        theirs.log = Record(100, "X", c.theirs);
        ours.marks = c.events;
        MergeCounts counts;
        const FolderBytes out = MergeBytes(ours, theirs, 999, nullptr, counts);
        EXPECT_EQ(out.log, Record(100, "X", c.merged));
        EXPECT_EQ(counts.marks, std::string(c.ours) == c.merged ? 0u : 1u);
    }
}

TEST(MergeRecords, UnionInOrderDeletesStayAndAClashTakesTheNextFreeSecond) {
    FolderBytes ours, theirs;
    ours.log = Record(100, "S", "0") + Record(110, "S", "0") + "damaged line\r\n" +
               Record(200, "A", "0") + Record(300, "A", "0");
    theirs.log = Record(100, "S", "0") + Record(150, "B", "0") +
                 Record(200, "B", "0") + Record(201, "B", "0") + Record(400, "B", "0");
    // We deleted their 150 after it came over once; they deleted our shared 110.
    ours.trash = "1\tlog\t500\t2\t\t0\t" + Record(150, "B", "0").substr(0, Record(150, "B", "0").size() - 2) + "\r\n";
    theirs.trash = "1\tlog\t450\t2\t\t0\t" + Record(110, "S", "0").substr(0, Record(110, "S", "0").size() - 2) + "\r\n";
    ours.reasons = "200\tours\r\n";
    theirs.reasons = "200\ttheirs\r\n400\tlater\r\n";
    MergeCounts counts;
    const FolderBytes out = MergeBytes(ours, theirs, 999, nullptr, counts);
    // Their 200 clashes with ours: the next free second is 202 (201 is taken too).
    EXPECT_EQ(out.log, Record(100, "S", "0") + "damaged line\r\n" + Record(200, "A", "0") +
                           Record(201, "B", "0") + Record(202, "B", "0") +
                           Record(300, "A", "0") + Record(400, "B", "0"));
    EXPECT_EQ(counts.records, 3u);
    EXPECT_EQ(counts.deletes, 1u);
    EXPECT_EQ(counts.renumbered, 1u);
    EXPECT_EQ(out.reasons, "200\tours\r\n202\ttheirs\r\n400\tlater\r\n");
    // Both trash entries, their serial 1 renumbered.
    const Trash::Contents trash = Trash::Parse(out.trash);
    ASSERT_EQ(trash.entries.size(), 2u);
    EXPECT_EQ(trash.entries[0].serial, 1);
    EXPECT_EQ(trash.entries[1].serial, 2);
    // Merged again: nothing more.
    MergeCounts again;
    FolderBytes twice = MergeBytes(out, theirs, 999, nullptr, again);
    EXPECT_EQ(twice.log, out.log);
    EXPECT_EQ(again.records, 0u);
}

// A sentence moved off a taken second never lands on one a trash entry holds: put back,
// that one would share its identifier.
TEST(MergeRecords, AClashSkipsTheSecondsTheTrashHolds) {
    FolderBytes ours, theirs;
    ours.log = Record(100, "S", "0");
    ours.trash = "1\tlog\t500\t2\t\t0\t" + Record(101, "T", "0").substr(0, Record(101, "T", "0").size() - 2) + "\r\n";
    theirs.log = Record(100, "B", "0");
    MergeCounts counts;
    const FolderBytes out = MergeBytes(ours, theirs, 999, nullptr, counts);
    EXPECT_EQ(out.log, Record(100, "S", "0") + Record(102, "B", "0"));
}

// A binary or hand-made copy of the log brings none of its broken records into ours.
TEST(MergeRecords, RecordsThatBreakTheLogsRulesAreNamedNotTaken) {
    FolderBytes ours, theirs;
    ours.log = Record(100, "S", "0");
    const std::string nul = std::string("300\t12\tx") + '\0' + "y\t29\t\t0\t12\t0\t0\t0\t2\r\n";
    theirs.log = Record(100, "S", "0") + "-5\t12\tS\t29\tA:12 \t0\t12\t0\t0\t0\t2\r\n" +
                 "200\t12\tS\t29\tA:12 \t0\t12\t0\t0\t0\t-1000000\r\n" + nul +
                 Record(400, "B", "0");
    MergeCounts counts;
    const FolderBytes out = MergeBytes(ours, theirs, 999, nullptr, counts);
    EXPECT_EQ(out.log, Record(100, "S", "0") + Record(400, "B", "0"));
    EXPECT_EQ(counts.records, 1u);
    EXPECT_EQ(counts.refused, 3u);
}

std::string RuleLine(int number, qv::Seconds updated, const char* text) {
    return std::to_string(number) + "\t1\t" + std::to_string(updated) + "\tN\t" + text +
           "\tR\t30\t10\t10\t1\t0\t0\t0\t1\r\n";
}
std::string Header(const char* imp1) {
    return std::string("qvrule\t1\tid1\t5\t") + imp1 + "\t10\tB\t10\tC\t10\tD\t10\r\n";
}

TEST(MergeRecords, ArticlesByLaterUpdateDeletesAfterTheLastChangeAndImplementsAsked) {
    FolderBytes ours, theirs;
    ours.book = Header("A") + RuleLine(1, 100, "old") + RuleLine(2, 300, "mine") +
                RuleLine(3, 100, "kept") + RuleLine(4, 500, "changed after") + RuleLine(6, 100, "x");
    theirs.book = Header("P") + RuleLine(1, 200, "newer") + RuleLine(2, 250, "older") +
                  RuleLine(5, 100, "new there") + RuleLine(7, 100, "deleted here");
    // They deleted 3 (after our last change) and 4 (before it); we deleted 7 after theirs.
    theirs.trash = "1\trule\t150\t0\t\t0\t" + RuleLine(3, 100, "kept").substr(0, RuleLine(3, 100, "kept").size() - 2) +
                   "\r\n2\trule\t400\t0\t\t0\t" + RuleLine(4, 50, "x").substr(0, RuleLine(4, 50, "x").size() - 2) +
                   "\r\n3\trule\t150\t0\t\t0\t" + RuleLine(6, 100, "x").substr(0, RuleLine(6, 100, "x").size() - 2) + "\r\n";
    ours.trash = "1\trule\t150\t0\t\t0\t" + RuleLine(7, 100, "deleted here").substr(0, RuleLine(7, 100, "deleted here").size() - 2) + "\r\n";
    for (bool keepTheirs : {false, true}) {
        SCOPED_TRACE(keepTheirs);
        MergeCounts counts;
        qv::records::Implements shownOurs, shownTheirs;
        const FolderBytes out = MergeBytes(
            ours, theirs, 999,
            [&](const qv::records::Implements& a, const qv::records::Implements& b) {
                shownOurs = a;
                shownTheirs = b;
                return keepTheirs;
            },
            counts);
        EXPECT_EQ(out.book, Header(keepTheirs ? "P" : "A") + RuleLine(1, 200, "newer") +
                                RuleLine(2, 300, "mine") + RuleLine(4, 500, "changed after") +
                                RuleLine(5, 100, "new there"));
        EXPECT_EQ(counts.articles, 4u);  // 1 taken, 5 added, 3 and 6 deleted
        EXPECT_TRUE(counts.implementsDiffered);
        EXPECT_EQ(counts.keptOwnImplements, !keepTheirs);
        EXPECT_EQ(shownOurs.names[0], "A");
        EXPECT_EQ(shownTheirs.names[0], "P");
    }
    MergeCounts counts;
    const FolderBytes out = MergeBytes(ours, theirs, 999, nullptr, counts);
    EXPECT_TRUE(counts.keptOwnImplements) << "without anyone to ask, ours stay";
}

TEST(MergeRecords, TheBalanceIsTheReplayOfBothSidesWithTheFloor) {
    const std::string shared = "1\topen\t\t\t10\t0\t10\t@s\r\n2\tcredit\t2\t\t5\t10\t15\t@s\r\n";
    FolderBytes ours, theirs;
    // Ours: a report of 20 at 10 (floor: 15 -> 0), a credit of 4 at 30.
    ours.ledger = shared + "10\treport\t\t20/0/0/0\t-20\t15\t0\t@a\r\n30\tcredit\t30\t\t4\t0\t4\t@a\r\n";
    ours.balance = "a\tb\tc\t4\te\tf";
    ours.log = Record(30, "A", "0", 4);
    // Theirs: a credit of 9 at 5, a delete of 2 at 40.
    theirs.ledger = shared + "5\tcredit\t5\t\t9\t15\t24\t@b\r\n40\tdelete\t2\t\t-2\t24\t22\t@b\r\n";
    theirs.balance = "a\tb\tc\t22\te\tf";
    theirs.log = Record(5, "B", "0", 9);  // the sentence their credit books
    MergeCounts counts;
    const FolderBytes out = MergeBytes(ours, theirs, 999, nullptr, counts);
    // 15 +9 (5) = 24, -20 (10) = 4, +4 (30) = 8, -2 (40) = 6.
    EXPECT_EQ(out.balance, "a\tb\tc\t6\te\tf");
    EXPECT_EQ(counts.points, 2);
    const Ledger::Contents c = Ledger::Parse(out.ledger);
    ASSERT_EQ(c.merged.size(), 2u);
    EXPECT_EQ(c.merged[0].device, "@b");
    ASSERT_FALSE(c.entries.empty());
    EXPECT_EQ(c.entries.back().kind, Ledger::Kind::Merge);
    EXPECT_EQ(c.entries.back().before, 4);
    EXPECT_EQ(c.entries.back().after, 6);
    // Old lines without a tag still read; the merged ones carry theirs.
    EXPECT_TRUE(Ledger::FromLine("2\tcredit\t2\t\t5\t10\t15"));
    EXPECT_NE(out.ledger.find("5\tcredit\t5\t\t9\t15\t24\t@b\tmerged\r\n"), std::string::npos);
    // Both sides having merged each other: nothing changes any more.
    FolderBytes theirsMerged = theirs;
    MergeCounts unused;
    theirsMerged = MergeBytes(theirs, ours, 999, nullptr, unused);
    EXPECT_EQ(theirsMerged.balance, "a\tb\tc\t6\te\tf");
    MergeCounts again;
    const FolderBytes twice = MergeBytes(out, theirsMerged, 1000, nullptr, again);
    EXPECT_EQ(twice.balance, out.balance);
}

// A copy's ledger that books points no sentence of its own carries (1,000,000 for a
// sentence of 2) is not replayed into the balance; a trash entry claiming more than its
// sentence's points gives back no more than them (see UndoFiles).
TEST(MergeRecords, BookingsNoSentenceBearsOutAreNotCounted) {
    const std::string shared = "1\topen\t\t\t10\t0\t10\t@s\r\n";
    FolderBytes ours, theirs;
    ours.ledger = shared;
    ours.balance = "a\tb\tc\t10\te\tf";
    theirs.log = Record(200, "B", "0", 2) + Record(300, "B", "0", 3);
    theirs.ledger = shared + "200\tcredit\t200\t\t1000000\t10\t1000010\t@b\r\n" +
                    "300\tcredit\t300\t\t3\t1000010\t1000013\t@b\r\n" +
                    "310\tundo\t999\t\t500\t1000013\t1000513\t@b\r\n";
    theirs.balance = "a\tb\tc\t1000513\te\tf";
    MergeCounts counts;
    const FolderBytes out = MergeBytes(ours, theirs, 999, nullptr, counts);
    EXPECT_EQ(out.balance, "a\tb\tc\t13\te\tf");
    EXPECT_EQ(counts.refusedBookings, 2u);
}

// The two computers' folders, made once for all naming patterns.
class TwoComputers : public qv::test::InTempDir {
protected:
    struct Made {
        qv::test::Start start;
        qv::test::SideDone a, b;
    };
    Made made_;

    void MakeSides() {
        made_.start = qv::test::PlantStart("start");
        std::filesystem::copy("start", "A", std::filesystem::copy_options::recursive);
        std::filesystem::copy("start", "B", std::filesystem::copy_options::recursive);
        made_.a = qv::test::ActApart(
            "A", made_.start, {"A", "A", 10, 37, 5, 3, 2, false, {40, 1000}, {0, 1}, {2}});
        made_.b = qv::test::ActApart(
            "B", made_.start, {"B", "B", 50, 23, 4, 2, 1, true, {7}, {0, 3}, {4}});
    }

    static std::map<std::string, std::string> Snapshot(const std::string& dir) {
        std::map<std::string, std::string> files;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
            if (e.is_regular_file()) files[e.path().string()] = ReadBytes(e.path().string());
        return files;
    }
};

TEST_F(TwoComputers, OneStartMergesEveryPatternAndASecondChangesNothing) {
    MakeSides();
    ASSERT_FALSE(HasFailure());
    std::vector<qv::test::BalanceEvent> events = made_.a.events;
    events.insert(events.end(), made_.b.events.begin(), made_.b.events.end());
    const std::int64_t replayed = qv::test::Replay(made_.start.balance, events);
    std::set<std::string> deleted(made_.a.deleted.begin(), made_.a.deleted.end());
    deleted.insert(made_.b.deleted.begin(), made_.b.deleted.end());

    for (size_t pattern = 0; pattern < qv::records::ConflictPatterns().size(); ++pattern) {
        SCOPED_TRACE(qv::records::ConflictPatterns()[pattern].tool);
        qv::test::LayConflicts("start", "A", "B", "F", pattern);
        std::vector<std::string> copies;
        for (const auto& e : std::filesystem::directory_iterator("F"))
            if (e.path().filename().string().find("onflict") != std::string::npos)
                copies.push_back(e.path().filename().string());
        EXPECT_EQ(copies.size(), 6u) << "log, balance, ledger, trash, reasons, marks";

        const DataFolder folder("F");
        RepairAtStart(folder);
        const auto outcome = qv::records::MergeConflicts(folder, nullptr, [] { return qv::Seconds{1766000000}; });
        ASSERT_EQ(outcome.result, qv::records::MergeOutcome::Result::Merged);
        EXPECT_TRUE(outcome.unreadable.empty());
        EXPECT_EQ(outcome.merged.size(), copies.size());
        for (const std::string& copy : copies) {
            EXPECT_FALSE(qv::test::Exists("F/" + copy)) << copy;
            EXPECT_TRUE(qv::test::Exists("F/conflicts/" + copy)) << copy;
        }

        // The log: every sentence once, in decision order, none that was deleted.
        const std::string log = ReadBytes("F/test.log");
        std::map<std::string, int> seen;
        std::int64_t last = 0;
        size_t records = 0;
        qv::ForEachLine(log, [&](const qv::Line& line) {
            ASSERT_TRUE(SentenceLog::IsRecord(line)) << line.text;
            const std::string id(line.text.substr(0, line.text.find('\t')));
            ++seen[id];
            EXPECT_GE(qv::ReadInt64(id), last) << "out of order";
            last = qv::ReadInt64(id);
            ++records;
        });
        EXPECT_EQ(records, qv::test::kStartRecords + 37u + 23u - deleted.size());
        for (const auto& [id, n] : seen) EXPECT_EQ(n, 1) << id;
        for (const std::string& id : deleted) EXPECT_EQ(seen.count(id), 0u) << id << " came back";
        EXPECT_EQ(outcome.counts.records, 23u - 1u);  // B's, less the one it deleted
        EXPECT_EQ(outcome.counts.renumbered, 1u);
        EXPECT_EQ(seen.count(qv::Decimal(qv::test::kApartTime + 1)), 1u)
            << "B's sentence of A's first second takes the next one";
        // Executed on either side: executed here.
        for (const auto* side : {&made_.a, &made_.b})
            for (const std::string& id : side->executed) {
                if (deleted.count(id) != 0) continue;
                const size_t at = log.find(id + "\t12\t");
                ASSERT_NE(at, std::string::npos) << id;
                EXPECT_EQ(*qv::FieldAt(std::string_view(log).substr(at, log.find('\r', at) - at), 5), "1") << id;
            }

        // The balance is both sides' actions replayed; the ledger explains it.
        std::vector<std::string> fields;
        ASSERT_EQ(PointBalance("F/user.dat").Read(fields), PointBalance::Status::Ok);
        EXPECT_EQ(qv::ReadInt64(fields[3]), replayed);
        const auto check = Ledger("F/user.ldg").CheckAgainst(PointBalance("F/user.dat"), 9);
        EXPECT_EQ(check.result, Ledger::Check::Result::Agrees);
        EXPECT_EQ(check.unreadLines, 0u);
        Ledger::Contents ledger;
        ASSERT_EQ(Ledger("F/user.ldg").Read(ledger), qv::io::ReadStatus::Ok);
        EXPECT_EQ(ledger.merged.size(), 23u + 2u + 1u) << "B's credits, deletes and report";
        EXPECT_EQ(ledger.entries.back().kind, Ledger::Kind::Merge);
        for (const Ledger::Entry& e : ledger.merged) EXPECT_EQ(e.device, "@B");
        // The deletes in the trash, B's article edit in the book.
        const std::string trash = ReadBytes("F/test.trs");
        for (const std::string& id : deleted)
            EXPECT_NE(trash.find("\t" + id + "\t"), std::string::npos) << id;
        EXPECT_NE(ReadBytes("F/test.dat").find("edited on B"), std::string::npos);

        // A second start changes nothing.
        const auto after = Snapshot("F");
        RepairAtStart(folder);
        const auto again = qv::records::MergeConflicts(folder);
        EXPECT_EQ(again.result, qv::records::MergeOutcome::Result::Nothing);
        EXPECT_EQ(Snapshot("F"), after);
        if (HasFailure()) return;
    }
}

}  // namespace

namespace {

// Hostile and unlucky names around the merge: a staging folder that is a link must never
// have what it leads to emptied, and a copy's name with a line end is moved like any other.
TEST_F(MergeFiles, StagingThroughALinkIsNeverEmptiedAndOddNamesAreMoved) {
    WriteBytes("test.dat", ReadBytes(QV_TEST_DATA "/../../examples/test.dat"));
    WriteBytes("user.dat", "a\tb\tc\t20\te\tf");
    WriteBytes("test.log", Record(1765000000, "x", "0"));
    std::filesystem::create_directories("outside");
    for (const char* name : {"plan", "log", "precious"}) WriteBytes(std::string("outside/") + name, "keep");
    std::filesystem::create_directory("conflicts");
    std::filesystem::create_directory_symlink("../outside", "conflicts/.merging");
    const std::string odd = "test (conflicted copy a\nb 2026-12-10 154501).log";
    WriteBytes(odd, Record(1765000000, "x", "0") + Record(1765000100, "y", "0"));

    const DataFolder folder;
    RepairAtStart(folder);
    const auto outcome = qv::records::MergeConflicts(folder);
    for (const char* name : {"plan", "log", "precious"})
        EXPECT_EQ(ReadBytes(std::string("outside/") + name), "keep") << name;
    // The link is no staging folder: the merge says it failed and changed nothing.
    EXPECT_EQ(outcome.result, qv::records::MergeOutcome::Result::Failed);
    EXPECT_EQ(ReadBytes("test.log"), Record(1765000000, "x", "0"));

    std::filesystem::remove("conflicts/.merging");
    const auto again = qv::records::MergeConflicts(folder);
    ASSERT_EQ(again.result, qv::records::MergeOutcome::Result::Merged);
    EXPECT_EQ(again.merged, std::vector<std::string>{odd});
    EXPECT_FALSE(qv::test::Exists(odd));
    EXPECT_TRUE(qv::test::Exists("conflicts/" + odd));
    EXPECT_EQ(ReadBytes("test.log"), Record(1765000000, "x", "0") + Record(1765000100, "y", "0"));
    EXPECT_TRUE(qv::records::FindConflictCopies(folder).empty());
}

}  // namespace

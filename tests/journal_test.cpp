// One journal per computer: its lines, their checks, the append, and the fold that
// makes every other file from the journals.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include <gtest/gtest.h>

#include "records/DataFolder.h"
#include "records/Fold.h"
#include "records/JournalFolder.h"
#include "records/Journal.h"
#include "records/Ledger.h"
#include "records/Trash.h"
#include "support/FaultInjection.h"
#include "support/TestFiles.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace {

using qv::records::Fold;
using qv::records::FoldNotes;
using qv::records::JournalLine;
using qv::records::JournalRead;
using qv::records::Journals;
using qv::records::LineFault;
using qv::records::LineRef;
using qv::records::ParseJournalLine;
using qv::records::ViewBytes;
using qv::records::JournalNameOf;
using Kind = JournalLine::Kind;

// One simulated computer: its own journal, lines made as the program would append them.
struct Computer {
    explicit Computer(std::string t) : tag(std::move(t)) { journal.device = tag; }
    std::string tag;
    JournalRead journal;

    LineRef Add(Kind kind, qv::Seconds time, std::vector<std::string> fields) {
        JournalLine line{tag, journal.NextSeq(), time, kind, std::move(fields)};
        // Every line goes through its text, as it would through the file.
        EXPECT_TRUE(journal.Add(line)) << line.ToText();
        return line.Ref();
    }
    LineRef Decide(qv::Seconds t, int article, int points, int total = 0) {
        total = std::max(total, points);
        return Add(Kind::Decide, t, {std::to_string(article), "name", std::to_string(total),
                                     "", "0", "0", "0", "0", std::to_string(points), "why"});
    }
    void Act(Kind kind, qv::Seconds t, const LineRef& target) { Add(kind, t, {target.origin, target.n}); }
    void Mark(qv::Seconds t, const LineRef& target, bool executed) {
        Add(Kind::Mark, t, {target.origin, target.n, executed ? "1" : "0"});
    }
    LineRef Report(qv::Seconds t, int points) { return Add(Kind::Report, t, {"0/0/0/0", std::to_string(points)}); }
};

ViewBytes FoldOf(const std::vector<const Computer*>& computers, const ViewBytes* base = nullptr,
                 FoldNotes* notes = nullptr) {
    std::vector<JournalRead> journals;
    for (const Computer* c : computers) journals.push_back(c->journal);
    return Fold(journals, [&](const std::string&) { return base ? std::optional(*base) : std::nullopt; },
                notes);
}

std::int64_t BalanceOf(const ViewBytes& v) {
    std::vector<std::string_view> f;
    qv::SplitFields(v.balance, f);
    return f.size() > 3 ? qv::ReadInt64(f[3]) : 0;
}

std::vector<std::string> IdsOf(std::string_view bytes, bool trash) {
    std::vector<std::string> ids;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        if (!line.terminated) return;
        std::vector<std::string_view> f;
        qv::SplitFields(line.text, f);
        if (!trash && f.size() >= 11) ids.emplace_back(f[0]);
        if (trash && f.size() >= 7 && f[1] == "log") ids.emplace_back(f[6]);
    });
    return ids;
}

std::string Hex(std::uint32_t v) {
    char out[9];
    std::snprintf(out, sizeof out, "%08x", v);
    return out;
}

// ---- lines ----

TEST(JournalLines, RoundTripAndEveryKindsFieldRules) {
    struct Case {
        Kind kind;
        std::vector<std::string> fields;
        bool ok;
    };
    const std::vector<Case> cases = {
        {Kind::Decide, {"12", "name", "29", "A:12 ", "12", "0", "0", "0", "9", "line 1", ""}, true},
        {Kind::Decide, {"12", "name", "29", "", "0", "0", "0", "0", "30"}, false},  // points > total
        {Kind::Decide, {"0", "name", "29", "", "0", "0", "0", "0", "9"}, false},    // article 0
        {Kind::Decide, {"12", "name", "-5", "", "0", "0", "0", "0", "0"}, false},
        {Kind::Decide, {"12", "name", "2147483648", "", "0", "0", "0", "0", "0"}, false},
        {Kind::Decide, {"12", "name", "007", "", "0", "0", "0", "0", "0"}, false},  // not as written
        {Kind::Mark, {"@pc", "3", "1"}, true},
        {Kind::Mark, {"@pc", "3", "2"}, false},
        {Kind::Mark, {"#0123456789abcdef", "t4", "0"}, true},
        {Kind::Delete, {"@pc", "0"}, false},
        {Kind::Delete, {"pc", "1"}, false},
        {Kind::Report, {"1/2/3/4", "10"}, true},
        {Kind::Report, {"1/2/3", "10"}, false},
        {Kind::Report, {"1/2/3/4", "-1000000"}, false},
        {Kind::Unrule, {"10000"}, false},
        {Kind::Adjust, {"-3"}, true},
        {Kind::Rule, {"6", "1", "2", "n", "t", "r", "10", "10", "10", "1", "1", "1", "1", "1", "new"}, true},
        {Kind::Rule, {"6", "1", "2", "n", "t", "r", "x", "10", "10", "1", "1", "1", "1", "1", "edit"}, false},
        {Kind::Rule, {"6", "1", "2", "n", "t", "r", "10", "10", "10", "1", "1", "1", "1", "1"}, false},
        {Kind::Purge, {"@pc", "3"}, true},
        {Kind::PurgeRule, {"6", "1700000000"}, true},
        {Kind::Implements, {"A", "10", "B", "5", "C", "7", "D", "10"}, true},
        {Kind::Base, {"0123456789abcdef", "data"}, true},
    };
    for (const Case& c : cases) {
        JournalLine line{"@pc", 7, 1700000000, c.kind, c.fields};
        const std::string text = line.ToText();
        ASSERT_TRUE(text.ends_with("\r\n"));
        LineFault fault = LineFault::Ok;
        auto parsed = ParseJournalLine(text.substr(0, text.size() - 2), &fault);
        EXPECT_EQ(parsed.has_value(), c.ok) << text;
        if (c.ok) {
            EXPECT_EQ(parsed->fields, c.fields);
            EXPECT_EQ(parsed->seq, 7);
            EXPECT_EQ(parsed->device, "@pc");
        } else {
            EXPECT_EQ(fault, LineFault::Fields) << text;
        }
    }
}

TEST(JournalLines, TheChecksumIsCrc32cOnEveryPath) {
    EXPECT_EQ(qv::records::Crc32c("123456789"), 0xE3069283u);
    EXPECT_EQ(qv::records::Crc32c(""), 0u);
    // Long enough for the eight-byte steps, with a tail.
    EXPECT_EQ(qv::records::Crc32c(std::string(1000, 'a') + "xyz"), qv::records::Crc32c(std::string(1000, 'a') + "xyz"));
}

TEST(JournalLines, DamagedBytesAreRefusedAndNamed) {
    const std::string good = JournalLine{"@pc", 1, 5, Kind::Adjust, {"26"}}.ToText();
    const std::string body = good.substr(0, good.size() - 2);
    struct Case {
        std::string line;
        LineFault fault;
    };
    std::string flipped = body;
    flipped[flipped.find("26")] = '9';
    std::string nul = body;
    nul.insert(5, 1, '\0');
    const std::vector<Case> cases = {
        {flipped, LineFault::Checksum},
        {nul, LineFault::Bytes},
        {body + "\x7f", LineFault::Bytes},
        {"qj2" + body.substr(3, body.size() - 13) + "\t~" + Hex(qv::records::Crc32c("qj2" + body.substr(3, body.size() - 13))),
         LineFault::Framing},
        {"qj1\t@pc\t1\t5\tadjust\t26", LineFault::Framing},  // no checksum
        {"garbage", LineFault::Framing},
    };
    for (const Case& c : cases) {
        LineFault fault = LineFault::Ok;
        EXPECT_FALSE(ParseJournalLine(c.line, &fault).has_value());
        EXPECT_EQ(fault, c.fault);
    }
}

TEST(JournalLines, AJournalHoldsOnlyItsOwnDevicesLinesInOrder) {
    JournalRead read;
    read.device = "@pc";
    const std::string bytes = JournalLine{"@pc", 1, 5, Kind::Adjust, {"1"}}.ToText() +
                              JournalLine{"@other", 2, 5, Kind::Adjust, {"2"}}.ToText() +
                              JournalLine{"@pc", 1, 6, Kind::Adjust, {"3"}}.ToText() +  // seen twice
                              JournalLine{"@pc", 3, 6, Kind::Adjust, {"4"}}.ToText() + "qj1\t@pc\t4";
    Journals::Parse(bytes, 0, read);
    ASSERT_EQ(read.lines.size(), 2u);
    EXPECT_EQ(read.Field(read.lines[1], 0), "4");
    ASSERT_EQ(read.refused.size(), 2u);
    EXPECT_EQ(read.refused[0].fault, LineFault::WrongFile);
    EXPECT_EQ(read.tornBytes, 9);
    EXPECT_EQ(read.NextSeq(), 4);
}

// ---- the files ----

class JournalFiles : public qv::test::InTempDir {};

TEST_F(JournalFiles, AppendCutsATornTailAndReadsBack) {
    Journals journals(".");
    const std::string one = JournalLine{"@pc", 1, 5, Kind::Adjust, {"1"}}.ToText();
    const std::string two = JournalLine{"@pc", 2, 6, Kind::Adjust, {"2"}}.ToText();
    ASSERT_TRUE(journals.Append("@pc", one, {}));
    // A kill in the middle of the next append.
    qv::test::WriteBytes("journal/pc.jnl", one + two.substr(0, 9));
    ASSERT_TRUE(journals.Append("@pc", two, {}));
    EXPECT_EQ(qv::test::ReadBytes("journal/pc.jnl"), one + two);

    Journals::Listing listing;
    ASSERT_TRUE(journals.ReadAll(listing));
    ASSERT_EQ(listing.journals.size(), 1u);
    EXPECT_EQ(listing.journals[0].device, "@pc");
    EXPECT_EQ(listing.journals[0].lines.size(), 2u);
}

TEST_F(JournalFiles, NeverWritesThroughALinkAFifoOrAFolder) {
    std::filesystem::create_directory("journal");
    std::filesystem::create_directory("outside");
    qv::test::WriteBytes("outside/victim", "keep");
    std::filesystem::create_symlink("../outside/victim", "journal/link.jnl");
    ASSERT_EQ(::mkfifo("journal/fifo.jnl", 0600), 0);
    std::filesystem::create_directory("journal/dir.jnl");
    Journals journals(".");
    const std::string line = JournalLine{"@link", 1, 5, Kind::Adjust, {"1"}}.ToText();
    qv::io::IoError error;
    EXPECT_FALSE(journals.Append("@link", line, {}, &error));
    EXPECT_FALSE(journals.Append("@fifo", JournalLine{"@fifo", 1, 5, Kind::Adjust, {"1"}}.ToText(), {}));
    EXPECT_FALSE(journals.Append("@dir", JournalLine{"@dir", 1, 5, Kind::Adjust, {"1"}}.ToText(), {}));
    EXPECT_EQ(qv::test::ReadBytes("outside/victim"), "keep");

    Journals::Listing listing;
    ASSERT_TRUE(journals.ReadAll(listing));
    EXPECT_TRUE(listing.journals.empty());
    EXPECT_EQ(listing.skipped, (std::vector<std::string>{"dir.jnl", "fifo.jnl", "link.jnl"}));

    // A journal folder that is itself a link is not written through either.
    std::filesystem::remove_all("journal");
    std::filesystem::create_directory_symlink("outside", "journal");
    EXPECT_FALSE(journals.Append("@pc", JournalLine{"@pc", 1, 5, Kind::Adjust, {"1"}}.ToText(), {}));
    EXPECT_FALSE(qv::test::Exists("outside/pc.jnl"));
}

TEST_F(JournalFiles, AFailedAppendLeavesTheJournalAsItWas) {
    Journals journals(".");
    const std::string one = JournalLine{"@pc", 1, 5, Kind::Adjust, {"1"}}.ToText();
    ASSERT_TRUE(journals.Append("@pc", one, {}));
    const std::string two = JournalLine{"@pc", 2, 6, Kind::Adjust, {"2"}}.ToText();
    const int calls = qv::test::FaultInjection::CountCalls([&] {
        qv::test::WriteBytes("journal/pc.jnl", one);
        return journals.Append("@pc", two, {});
    });
    ASSERT_GT(calls, 0);
    for (int failing = 1; failing <= calls; ++failing) {
        qv::test::WriteBytes("journal/pc.jnl", one);
        bool ok = false;
        {
            qv::test::FaultInjection fault(failing, ENOSPC);
            ok = journals.Append("@pc", two, {});
        }
        const std::string now = qv::test::ReadBytes("journal/pc.jnl");
        if (ok) EXPECT_EQ(now, one + two) << failing;
        else EXPECT_EQ(now, one) << failing;
    }
}

// ---- the fold ----

TEST(JournalFold, ASentenceItsMarkItsDeleteAndRestoreWriteTheFilesFormats) {
    Computer pc("@pc");
    const LineRef s = pc.Decide(1000, 12, 9, 29);
    pc.Mark(1001, s, true);
    FoldNotes notes;
    ViewBytes v = FoldOf({&pc}, nullptr, &notes);
    EXPECT_EQ(v.log, "1000\t12\tname\t29\t\t1\t0\t0\t0\t0\t9\r\n");
    EXPECT_EQ(v.balance, "quorvel\t1\tuser\t9\t0\t0\r\n");
    EXPECT_EQ(v.reasons, "1000\twhy\r\n");
    EXPECT_EQ(v.marks, "1001\t1000\t1\t@pc\r\n");
    EXPECT_EQ(v.ledger, "1000\topen\t\t\t0\t0\t0\t@pc\r\n1000\tcredit\t1000\t\t9\t0\t9\t@pc\r\n");

    pc.Act(Kind::Delete, 1002, s);
    v = FoldOf({&pc});
    EXPECT_EQ(v.log, "");
    // The delete's debit ends the balance record with one more line end.
    EXPECT_EQ(v.balance, "quorvel\t1\tuser\t0\t0\t0\r\n\r\n");
    EXPECT_EQ(v.trash, "1\tlog\t1002\t9\t\t0\t1000\t12\tname\t29\t\t1\t0\t0\t0\t0\t9\r\n");
    // The trash says where each went back as it stood when deleted: before a line that
    // followed it, or at the end by its line number.
    const LineRef later = pc.Decide(1001, 3, 1);
    pc.Act(Kind::Restore, 1002, s);
    pc.Act(Kind::Delete, 1002, s);
    pc.Act(Kind::Delete, 1002, later);
    const Trash::Contents trash = Trash::Parse(FoldOf({&pc}).trash);
    ASSERT_EQ(trash.entries.size(), 2u);
    EXPECT_EQ(trash.entries[0].anchor, "1001");
    EXPECT_EQ(trash.entries[0].nth, 1);
    EXPECT_EQ(trash.entries[1].anchor, "");
    EXPECT_EQ(trash.entries[1].nth, 0);

    // Back as the restore puts them: s, the line that followed it gone and none decided
    // later, at the end; then later at its line number, 0, before it.
    pc.Act(Kind::Restore, 1003, s);
    pc.Act(Kind::Restore, 1003, later);
    v = FoldOf({&pc});
    EXPECT_EQ(v.log,
              "1001\t3\tname\t1\t\t0\t0\t0\t0\t0\t1\r\n1000\t12\tname\t29\t\t1\t0\t0\t0\t0\t9\r\n");
    EXPECT_EQ(BalanceOf(v), 10);
    EXPECT_EQ(v.trash, "");
}

TEST(JournalFold, TwoComputersDeletingApartKeepEveryDeleteAndTakeThePointsOnce) {
    // The desktop deletes a sentence, the laptop another, the desktop marks a third.
    Computer desk("@desk"), lap("@lap");
    const LineRef a = desk.Decide(100, 1, 5), b = desk.Decide(110, 2, 7), c = desk.Decide(120, 3, 11);
    desk.Act(Kind::Delete, 200, a);
    lap.Act(Kind::Delete, 210, b);
    lap.Act(Kind::Delete, 215, a);  // the laptop deletes the same one again, unaware
    desk.Mark(220, c, true);
    FoldNotes notes;
    const ViewBytes v = FoldOf({&desk, &lap}, nullptr, &notes);
    EXPECT_EQ(IdsOf(v.log, false), (std::vector<std::string>{"120"}));
    EXPECT_EQ(IdsOf(v.trash, true).size(), 2u);
    EXPECT_EQ(BalanceOf(v), 11);
    EXPECT_EQ(notes.noEffect, 1u);
    // Folding again, or with the journals listed the other way round, gives the same files.
    EXPECT_EQ(FoldOf({&lap, &desk}), v);
}

TEST(JournalFold, ARestoreOnOneComputerHoldsWhileTheOtherDeletes) {
    Computer desk("@desk"), lap("@lap");
    const LineRef a = desk.Decide(100, 1, 50), b = desk.Decide(110, 2, 50);
    desk.Act(Kind::Delete, 120, a);
    desk.Act(Kind::Delete, 121, b);
    desk.Act(Kind::Restore, 130, a);  // restored on the desktop
    lap.Act(Kind::Delete, 131, a);    // the laptop deletes it again, later
    lap.Act(Kind::Restore, 132, b);
    const ViewBytes v = FoldOf({&desk, &lap});
    // The laptop's delete came after the restore in time: it holds; b is back.
    EXPECT_EQ(IdsOf(v.log, false), (std::vector<std::string>{"110"}));
    EXPECT_EQ(BalanceOf(v), 50);
}

TEST(JournalFold, AReportCutAtZeroAndUndoneGivesBackOnlyWhatItTook) {
    Computer desk("@desk"), lap("@lap");
    desk.Decide(100, 1, 10);
    const LineRef report = desk.Report(200, 30);  // takes 10, the floor swallows 20
    lap.Decide(250, 2, 9);                        // 9 credited on the other computer
    desk.Act(Kind::Unreport, 300, report);
    const ViewBytes v = FoldOf({&desk, &lap});
    EXPECT_EQ(BalanceOf(v), 19);
}

TEST(JournalFold, LinesNamingASentenceNotYetHereWaitForIt) {
    // The laptop's clock is behind: its delete of the desktop's sentence has an earlier
    // time, and the desktop's journal may not have arrived at all yet.
    Computer desk("@desk"), lap("@lap");
    const LineRef a = desk.Decide(1000, 1, 8);
    lap.Act(Kind::Delete, 900, a);
    FoldNotes notes;
    ViewBytes v = FoldOf({&lap}, nullptr, &notes);
    EXPECT_EQ(notes.waiting, 1u);
    EXPECT_EQ(v.log, "");
    v = FoldOf({&desk, &lap}, nullptr, &notes);
    EXPECT_EQ(notes.waiting, 0u);
    EXPECT_EQ(v.log, "");
    EXPECT_EQ(IdsOf(v.trash, true), (std::vector<std::string>{"1000"}));
    EXPECT_EQ(BalanceOf(v), 0);
}

TEST(JournalFold, NoIdentifierIsEverGivenTwiceTheTrashCounted) {
    Computer pc("@pc"), other("@other");
    const LineRef a = pc.Decide(500, 1, 1);
    pc.Act(Kind::Delete, 500, a);
    pc.Decide(500, 1, 1);      // the same second, the first still in the trash
    other.Decide(500, 2, 1);   // and another computer in that second too
    pc.Act(Kind::Restore, 501, a);
    const ViewBytes v = FoldOf({&pc, &other});
    std::vector<std::string> ids = IdsOf(v.log, false);
    EXPECT_EQ(ids.size(), 3u);
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), 3u);
}

TEST(JournalFold, ASampleFolderJoiningBringsNoStateOfItsOwn) {
    ViewBytes real;
    real.book = "qvrule\t1\tid1\t5\tA\t10\tB\t5\tC\t7\tD\t10\r\n";
    real.log = "100\t1\tx\t9\t\t0\t0\t0\t0\t0\t9\r\n";
    real.balance = "a\tb\tc\t526\te\tf";
    ViewBytes sample;
    sample.book = real.book;
    sample.balance = "quorvel\t1\tuser\t0\t0\t0\r\n";
    const std::string realHash = qv::records::BaseHash(real), sampleHash = qv::records::BaseHash(sample);
    ASSERT_NE(realHash, sampleHash);
    Computer desk("@desk"), lap("@lap");
    lap.Add(Kind::Base, 10, {sampleHash, "sample"});
    desk.Add(Kind::Base, 50, {realHash, "data"});
    lap.Decide(60, 1, 4);
    std::vector<JournalRead> journals{desk.journal, lap.journal};
    FoldNotes notes;
    const ViewBytes v = Fold(journals, [&](const std::string& h) {
        return std::optional(h == realHash ? real : sample);
    }, &notes);
    EXPECT_TRUE(notes.sampleIgnored);
    EXPECT_EQ(BalanceOf(v), 530);
    EXPECT_EQ(IdsOf(v.log, false), (std::vector<std::string>{"100", "60"}));
    // Unchanged parts of the base keep their bytes.
    EXPECT_EQ(v.book, real.book);
}

TEST(JournalFold, ABaseRoundTripsThroughItsFileAndADamagedOneIsRefused) {
    ViewBytes base;
    base.log = "1\t2\r\n";
    base.balance = "x\ty\tz\t1\t\t\r\n";
    base.trash = "no line end";
    const std::string text = qv::records::BaseToText(base);
    EXPECT_EQ(qv::records::BaseFromText(text), base);
    EXPECT_FALSE(qv::records::BaseFromText(text.substr(0, text.size() - 3)).has_value());
    EXPECT_FALSE(qv::records::BaseFromText(text + "x").has_value());
}

TEST(JournalFold, ArticlesAddedChangedDeletedAndTwoUnderOneNumber) {
    auto rule = [](int n, int created, const char* name, const char* mode = "new") {
        return std::vector<std::string>{std::to_string(n), std::to_string(created), "9", name, "t", "r",
                                        "10", "10", "10", "1", "1", "1", "1", "1", mode};
    };
    Computer desk("@desk"), lap("@lap");
    desk.Add(Kind::Implements, 10, {"A", "10", "B", "5", "C", "7", "D", "10"});
    desk.Add(Kind::Rule, 20, rule(6, 20, "desk"));
    lap.Add(Kind::Rule, 25, rule(6, 25, "lap"));  // the same number on the other computer
    desk.Add(Kind::Rule, 30, rule(7, 30, "seven"));
    desk.Add(Kind::Unrule, 40, {"7"});
    lap.Add(Kind::Rule, 26, rule(6, 26, "lap", "edit"));  // an edit replaces in place
    const ViewBytes v = FoldOf({&desk, &lap});
    EXPECT_EQ(v.book, "qvrule\t1\tid1\t40\tA\t10\tB\t5\tC\t7\tD\t10\r\n"
                      "6\t26\t9\tlap\tt\tr\t10\t10\t10\t1\t1\t1\t1\t1\r\n");
    // Neither the article replaced under its number nor the one deleted is lost.
    Trash::Contents trash = Trash::Parse(v.trash);
    ASSERT_EQ(trash.entries.size(), 2u);
    EXPECT_EQ(trash.entries[0].payload.substr(0, 5), "6\t20\t");
    EXPECT_EQ(trash.entries[1].payload.substr(0, 5), "7\t30\t");
}

// The trash numbers its entries one past the highest it holds, and an entry removed for
// good frees its sentence's second, as the trash file and the decision have always done.
TEST(JournalFold, TrashSerialsAndPurgedSecondsFollowTheTrashFile) {
    Computer pc("@pc");
    const LineRef a = pc.Decide(100, 1, 1);
    pc.Act(Kind::Delete, 101, a);
    pc.Act(Kind::Restore, 102, a);
    pc.Act(Kind::Delete, 103, a);
    EXPECT_EQ(Trash::Parse(FoldOf({&pc}).trash).entries.at(0).serial, 1);
    pc.Act(Kind::Purge, 104, a);
    pc.Act(Kind::Restore, 105, a);  // too late: gone for good
    const LineRef b = pc.Decide(100, 1, 1);
    const ViewBytes v = FoldOf({&pc});
    EXPECT_EQ(v.trash, "");
    EXPECT_EQ(IdsOf(v.log, false), (std::vector<std::string>{"100"}));
    EXPECT_EQ(BalanceOf(v), 1);
    pc.Add(Kind::Rule, 110, {"6", "110", "110", "n", "t", "r", "10", "10", "10", "1", "1", "1", "1", "1", "new"});
    pc.Add(Kind::Unrule, 120, {"6"});
    EXPECT_EQ(Trash::Parse(FoldOf({&pc}).trash).entries.size(), 1u);
    pc.Add(Kind::PurgeRule, 130, {"6", "120"});
    EXPECT_EQ(FoldOf({&pc}).trash, "");
    (void)b;
}

// Random actions on 2 to 4 computers, each acting on what has reached it so far; lines
// reach the others in random rounds. Every computer folds the same files once all has
// arrived, every sentence is in the log or the trash exactly once under an identifier
// nobody else has, and the ledger adds up.
TEST(JournalFold, RandomActionsOnSeveralComputersAgreeOnceEverythingArrived) {
    for (unsigned seed = 1; seed <= 60; ++seed) {
        std::mt19937 rng(seed);
        const size_t count = 2 + seed % 3;
        std::vector<Computer> computers;
        for (size_t i = 0; i < count; ++i) computers.emplace_back("@c" + std::to_string(i));
        // seen[i][j]: how many of computer j's lines computer i has.
        std::vector<std::vector<size_t>> seen(count, std::vector<size_t>(count, 0));
        std::vector<LineRef> decided;
        qv::Seconds clock = 1000;
        for (int step = 0; step < 80; ++step) {
            const size_t i = rng() % count;
            Computer& c = computers[i];
            clock += rng() % 3;  // seconds often shared
            const qv::Seconds skew = static_cast<qv::Seconds>(i) * ((seed % 2) ? 5 : 0);
            std::vector<LineRef> known;
            for (const LineRef& r : decided)
                for (size_t j = 0; j < count; ++j)
                    if (r.origin == computers[j].tag && std::stoll(r.n) <= static_cast<long long>(
                            seen[i][j] ? computers[j].journal.lines[seen[i][j] - 1].seq : 0))
                        known.push_back(r);
            const unsigned what = rng() % 10;
            if (what < 4 || known.empty()) {
                decided.push_back(c.Decide(clock - skew, 1 + rng() % 3, rng() % 20, 25));
            } else if (what < 6) {
                c.Act(Kind::Delete, clock - skew, known[rng() % known.size()]);
            } else if (what < 7) {
                c.Act(Kind::Restore, clock - skew, known[rng() % known.size()]);
            } else if (what < 9) {
                c.Mark(clock - skew, known[rng() % known.size()], rng() % 2);
            } else {
                c.Report(clock - skew, 1 + rng() % 10);
            }
            seen[i][i] = c.journal.lines.size();
            if (rng() % 4 == 0) {  // a sync round: one computer catches up with another
                const size_t to = rng() % count, from = rng() % count;
                seen[to][from] = computers[from].journal.lines.size();
            }
        }
        // Everything arrives everywhere; each computer lists the journals its own way.
        std::vector<const Computer*> order;
        for (const Computer& c : computers) order.push_back(&c);
        const ViewBytes first = FoldOf(order);
        std::shuffle(order.begin(), order.end(), rng);
        ASSERT_EQ(FoldOf(order), first) << "seed " << seed;

        std::vector<std::string> ids = IdsOf(first.log, false), trashed = IdsOf(first.trash, true);
        ids.insert(ids.end(), trashed.begin(), trashed.end());
        EXPECT_EQ(ids.size(), decided.size()) << "seed " << seed;
        EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), ids.size()) << "seed " << seed;

        const Ledger::Contents ledger = Ledger::Parse(first.ledger);
        ASSERT_FALSE(ledger.entries.empty());
        EXPECT_TRUE(ledger.unreadLines.empty());
        for (size_t k = 1; k < ledger.entries.size(); ++k)
            EXPECT_EQ(ledger.entries[k].before, ledger.entries[k - 1].after) << "seed " << seed;
        EXPECT_EQ(*ledger.Last(), BalanceOf(first)) << "seed " << seed;
    }
}

}  // namespace

// ---- a folder whose truth is its journals ----

namespace {

// A folder's seven files, for comparing two folders. A file these tests' folders lack
// reads as empty: they carry the journals between folders, where a sync tool would carry
// every file (an emptied trash included).
std::string FolderFiles(const std::string& dir) {
    std::string all;
    for (const char* name : {"test.dat", "test.log", "user.dat", "user.ldg", "test.trs", "test.rsn", "test.mrk"}) {
        const std::string path = dir + "/" + name;
        all += std::string(name) + ":" + (qv::test::Exists(path) ? qv::test::ReadBytes(path) : "") + "\n";
    }
    return all;
}

using qv::records::JournalFolder;

class JournalFolders : public qv::test::InTempDir {
protected:
    static void Plant(const std::string& dir, const std::string& balance) {
        std::filesystem::create_directories(dir);
        qv::test::WriteBytes(dir + "/test.dat", "qvrule\t1\tid1\t5\tA\t10\tB\t5\tC\t7\tD\t10\r\n"
                                                "1\t1\t1\tx\ty\tz\t10\t10\t10\t0\t0\t0\t0\t10\r\n");
        qv::test::WriteBytes(dir + "/user.dat", balance);
    }
    static JournalLine DecideLine(qv::Seconds t, int points) {
        return {{}, 0, t, Kind::Decide, {"1", "x", std::to_string(points), "", "0", "0", "0", "0",
                                         std::to_string(points), "why"}};
    }
    // A sync tool's delivery: the other folder's journal files and bases, copied over.
    static void Deliver(const std::string& from, const std::string& to) {
        std::filesystem::create_directories(to + "/journal");
        for (const auto& e : std::filesystem::directory_iterator(from + "/journal"))
            std::filesystem::copy_file(e.path(), to + "/journal/" + e.path().filename().string(),
                                       std::filesystem::copy_options::overwrite_existing);
    }
    static std::string Files(const std::string& dir) { return FolderFiles(dir); }
};

TEST_F(JournalFolders, ABaseOnceThenEachCommitBringsTheFilesUp) {
    Plant("A", "a\tb\tc\t526\te\tf");
    JournalFolder a{DataFolder("A"), "@desk", [] { return qv::Seconds{1000}; }};
    ASSERT_TRUE(a.EnsureBase(false));
    ASSERT_TRUE(a.EnsureBase(false));  // a second start adds nothing
    ASSERT_TRUE(a.Load());
    EXPECT_EQ(a.Listing().journals.at(0).lines.size(), 1u);
    std::vector<std::string> written;
    ASSERT_TRUE(a.BringViewsUp(&written));
    EXPECT_TRUE(written.empty()) << "the base is what the files hold";

    ASSERT_TRUE(a.Commit({DecideLine(1700000000, 7)}));
    ASSERT_TRUE(a.Load());
    ASSERT_TRUE(a.BringViewsUp(&written));
    EXPECT_EQ(qv::test::ReadBytes("A/test.log"), "1700000000\t1\tx\t7\t\t0\t0\t0\t0\t0\t7\r\n");
    EXPECT_EQ(qv::test::ReadBytes("A/user.dat"), "a\tb\tc\t533\te\tf");
}

TEST_F(JournalFolders, TwoComputersAndASampleJoinerEndByteIdentical) {
    Plant("A", "a\tb\tc\t526\te\tf");
    Plant("B", "quorvel\t1\tuser\t0\t0\t0\r\n");  // set up with the samples, started once
    JournalFolder a{DataFolder("A"), "@desk"}, b{DataFolder("B"), "@lap"};
    ASSERT_TRUE(a.EnsureBase(false));
    ASSERT_TRUE(b.EnsureBase(true));
    ASSERT_TRUE(a.Commit({DecideLine(1700000000, 7)}));
    ASSERT_TRUE(b.Commit({DecideLine(1700000000, 3)}));  // the same second, apart
    Deliver("A", "B");
    Deliver("B", "A");
    for (JournalFolder* f : {&a, &b}) {
        ASSERT_TRUE(f->Load());
        ASSERT_TRUE(f->BringViewsUp());
        EXPECT_TRUE(f->Notes().sampleIgnored);
    }
    EXPECT_EQ(Files("A"), Files("B"));
    EXPECT_EQ(qv::test::ReadBytes("A/user.dat"), "a\tb\tc\t536\te\tf") << "526 stays, both credits count";
}

TEST_F(JournalFolders, NothingIsWrittenWhileANamedBaseIsMissingOrForged) {
    Plant("A", "a\tb\tc\t526\te\tf");
    JournalFolder a{DataFolder("A"), "@desk"};
    ASSERT_TRUE(a.EnsureBase(false));
    // The journal arrived on the other computer, its base not yet.
    std::filesystem::create_directories("B/journal");
    std::filesystem::copy_file("A/journal/desk.jnl", "B/journal/desk.jnl");
    Plant("B", "x\tx\tx\t1\tx\tx");
    const std::string before = Files("B");
    JournalFolder b{DataFolder("B"), "@lap"};
    ASSERT_TRUE(b.Load());
    EXPECT_EQ(b.Notes().missingBases.size(), 1u);
    EXPECT_FALSE(b.BringViewsUp());
    // A base whose bytes are not the ones its name stands for is no base either.
    for (const auto& e : std::filesystem::directory_iterator("A/journal"))
        if (e.path().extension() == ".snap")
            qv::test::WriteBytes("B/journal/" + e.path().filename().string(),
                                 qv::records::BaseToText(ViewBytes{"forged", "", "a\tb\tc\t1000000\te\tf", "", "", "", ""}));
    ASSERT_TRUE(b.Load());
    EXPECT_FALSE(b.BringViewsUp());
    EXPECT_EQ(Files("B"), before);
}

}  // namespace

// ---- computers sharing a folder through a sync tool ----

namespace {

// 2 to 4 computers, each with a copy of the folder, act apart and exchange files the way
// sync tools do: a journal arrives whole or only up to part of its last lines, a base
// whole, and a file both rewrote (a view) with one winner, the other left beside it as a
// conflict copy under one of the tools' names. After every round each computer starts
// (brings its files up to the journals it has); once everything has arrived all hold
// byte-identical files, every sentence is once in the log or the trash under an identifier
// nobody else has, the ledger adds up, and nothing outside the folders was touched.
class SyncedFolders : public qv::test::InTempDir {
protected:
    static void CopyFile(const std::filesystem::path& from, const std::filesystem::path& to,
                         size_t bytes = std::string::npos) {
        if (!std::filesystem::exists(from)) return;
        std::string data = qv::test::ReadBytes(from.string());
        qv::test::WriteBytes(to.string(), data.substr(0, std::min(bytes, data.size())));
    }
    static std::string Files(const std::string& dir) { return FolderFiles(dir); }
    // One sync of from into to: every journal and base, and the views with a winner.
    static void Sync(const std::string& from, const std::string& to, std::mt19937& rng, bool whole) {
        static const char* kCopyNames[] = {"test.sync-conflict-20261211-101500-ABCDEF1.log",
                                           "test (conflicted copy 2026-12-11 101500).log",
                                           "test_conflict-20261211-101500.log"};
        std::filesystem::create_directories(to + "/journal");
        for (const auto& e : std::filesystem::directory_iterator(from + "/journal")) {
            const std::string name = e.path().filename().string();
            const std::string own = to + "/journal/" + name;
            if (name.ends_with(".jnl") && JournalNameOf(ThisOf(to)) == name) continue;  // its own
            const size_t size = std::filesystem::file_size(e.path());
            const size_t have = std::filesystem::exists(own) ? std::filesystem::file_size(own) : 0;
            if (have >= size && name.ends_with(".jnl")) continue;
            // Part of a journal may arrive before the rest, even mid-line.
            CopyFile(e.path(), own, whole || !name.ends_with(".jnl") ? size : have + rng() % (size - have + 1));
        }
        if (rng() % 2 == 0) {
            CopyFile(to + "/test.log", to + "/" + kCopyNames[rng() % 3]);
            CopyFile(from + "/test.log", to + "/test.log");
            CopyFile(from + "/user.dat", to + "/user.dat");
        }
    }
    static std::string ThisOf(const std::string& dir) { return "@" + dir; }
};

TEST_F(SyncedFolders, RandomRoundsOnSeveralComputersEndByteIdentical) {
    std::filesystem::create_directories("outside");
    qv::test::WriteBytes("outside/keep", "keep");
    for (unsigned seed = 1; seed <= 12; ++seed) {
        std::mt19937 rng(seed);
        const size_t count = 2 + seed % 3;
        std::vector<std::string> names;
        for (size_t i = 0; i < count; ++i) {
            names.push_back("c" + std::to_string(seed) + "x" + std::to_string(i));
            std::filesystem::create_directories(names.back());
            qv::test::WriteBytes(names.back() + "/test.dat", "qvrule\t1\tid1\t5\tA\t10\tB\t5\tC\t7\tD\t10\r\n");
            // The first computer holds real data; the others start from the samples.
            qv::test::WriteBytes(names.back() + "/user.dat",
                                 i == 0 ? "a\tb\tc\t526\te\tf" : "quorvel\t1\tuser\t0\t0\t0\r\n");
        }
        qv::Seconds clock = 1700000000;
        size_t decided = 0;
        for (size_t i = 0; i < count; ++i) {
            JournalFolder f{DataFolder(names[i]), ThisOf(names[i]), [&] { return clock; }};
            ASSERT_TRUE(f.EnsureBase(i != 0));
        }
        for (int round = 0; round < 25; ++round) {
            const size_t i = rng() % count;
            clock += rng() % 3;
            JournalFolder f{DataFolder(names[i]), ThisOf(names[i]), [&] { return clock; }};
            ASSERT_TRUE(f.Load());
            std::vector<qv::records::FoldedSentence> known = f.Sentences();
            std::erase_if(known, [](const auto& s) { return s.ref.origin[0] == '#'; });
            const unsigned what = rng() % 6;
            JournalLine line{{}, 0, clock, Kind::Decide,
                             {"1", "x", "9", "", "0", "0", "0", "0", std::to_string(rng() % 10), "why"}};
            if (what >= 2 && !known.empty()) {
                const auto& s = known[rng() % known.size()];
                line.kind = what == 2 ? Kind::Delete : what == 3 ? Kind::Restore : Kind::Mark;
                line.fields = {s.ref.origin, s.ref.n};
                if (line.kind == Kind::Mark) line.fields.push_back(rng() % 2 ? "1" : "0");
            } else if (what == 5) {
                line.kind = Kind::Report;
                line.fields = {"1/0/0/0", std::to_string(1 + rng() % 5)};
            }
            decided += line.kind == Kind::Decide;
            ASSERT_TRUE(f.Commit({line}));
            const size_t from = rng() % count, to = rng() % count;
            if (from != to) Sync(names[from], names[to], rng, false);
            for (const std::string& n : {names[from], names[to]}) {
                JournalFolder g{DataFolder(n), ThisOf(n)};
                // Nothing is written while a base has not arrived; then the start waits.
                g.Start();
            }
        }
        // Everything arrives everywhere.
        for (size_t a = 0; a < count; ++a)
            for (size_t b = 0; b < count; ++b)
                if (a != b) Sync(names[a], names[b], rng, true);
        for (const std::string& n : names) {
            JournalFolder g{DataFolder(n), ThisOf(n)};
            ASSERT_TRUE(g.Start()) << n;
        }
        const std::string first = Files(names[0]);
        for (const std::string& n : names) EXPECT_EQ(Files(n), first) << "seed " << seed << " " << n;
        std::vector<std::string> ids = IdsOf(qv::test::ReadBytes(names[0] + "/test.log"), false),
                                 trashed = IdsOf(qv::test::ReadBytes(names[0] + "/test.trs"), true);
        ids.insert(ids.end(), trashed.begin(), trashed.end());
        EXPECT_EQ(ids.size(), decided) << "seed " << seed;
        EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), ids.size()) << "seed " << seed;
        const Ledger::Contents ledger = Ledger::Parse(qv::test::ReadBytes(names[0] + "/user.ldg"));
        for (size_t k = 1; k < ledger.entries.size(); ++k)
            EXPECT_EQ(ledger.entries[k].before, ledger.entries[k - 1].after) << "seed " << seed;
        if (HasFailure()) return;
    }
    EXPECT_EQ(qv::test::ReadBytes("outside/keep"), "keep");
}

}  // namespace

namespace {

// A sync tool's copies of the files, once the journals are folded: a copy that holds
// nothing the journals lack goes to conflicts/ and is named; one that holds something of
// its own (an edit made outside the program) stays where the user finds it.
TEST_F(JournalFolders, CopiesThatHoldNothingNewAreParkedOthersStay) {
    Plant("A", "a\tb\tc\t526\te\tf");
    JournalFolder a{DataFolder("A"), "@desk", [] { return qv::Seconds{1000}; }};
    ASSERT_TRUE(a.EnsureBase(false));
    ASSERT_TRUE(a.Commit({DecideLine(1700000000, 7), DecideLine(1700000100, 3)}));
    ASSERT_TRUE(a.Start());
    const std::string log = qv::test::ReadBytes("A/test.log");
    const std::string first = log.substr(0, log.find('\n') + 1), second = log.substr(log.find('\n') + 1);
    struct Copy {
        std::string name, bytes;
        bool parked;
    };
    const std::vector<Copy> copies = {
        // The other computer's view before the second sentence, under another second.
        {"test.sync-conflict-20261211-101500-ABCDEF1.log", "1699999999" + first.substr(10), true},
        {"test (conflicted copy 2026-12-11 101500).log", second + first, true},
        {"test_conflict-20261211-101500.log", first + "1800000000\t1\tx\t9\t\t0\t0\t0\t0\t0\t9\r\n", false},
        // The other files are made from the journals: their copies, whatever they hold.
        {"user.sync-conflict-20261211-101500-ABCDEF1.dat", "a\tb\tc\t533\te\tf", true},
        {"user.sync-conflict-20261211-101500-ABCDEF1.ldg", "anything\r\n", true},
    };
    for (const Copy& c : copies) qv::test::WriteBytes("A/" + c.name, c.bytes);
    std::vector<std::string> parked;
    ASSERT_TRUE(a.Start(nullptr, nullptr, &parked));
    for (const Copy& c : copies) {
        EXPECT_EQ(qv::test::Exists("A/" + c.name), !c.parked) << c.name;
        EXPECT_EQ(qv::test::Exists("A/conflicts/" + c.name), c.parked) << c.name;
        EXPECT_EQ(std::count(parked.begin(), parked.end(), c.name), c.parked ? 1 : 0) << c.name;
    }
}

}  // namespace

namespace {

// A computer whose clock runs an hour behind pays off points it saw credited on another:
// its report comes after the credit it saw, whatever its clock says, so it takes them.
TEST_F(JournalFolders, ALineComesAfterEveryLineItsWriterHadSeenWhateverTheClocks) {
    Plant("A", "a\tb\tc\t0\te\tf");
    JournalFolder a{DataFolder("A"), "@desk", [] { return qv::Seconds{1700000000}; }};
    ASSERT_TRUE(a.EnsureBase(false));
    ASSERT_TRUE(a.Commit({DecideLine(1700000000, 10)}));
    Deliver("A", "B");
    JournalFolder b{DataFolder("B"), "@lap", [] { return qv::Seconds{1700000000 - 3600}; }};
    ASSERT_TRUE(b.Commit({JournalLine{{}, 0, 0, Kind::Report, {"10/0/0/0", "10"}}}));
    Deliver("B", "A");
    for (JournalFolder* f : {&a, &b}) ASSERT_TRUE(f->Start());
    EXPECT_EQ(qv::test::ReadBytes("A/user.dat"), "a\tb\tc\t0\te\tf");
    EXPECT_EQ(FolderFiles("A"), FolderFiles("B"));
    const Ledger::Contents ledger = Ledger::Parse(qv::test::ReadBytes("A/user.ldg"));
    ASSERT_EQ(ledger.entries.size(), 3u);
    EXPECT_EQ(ledger.entries[2].kind, Ledger::Kind::Report);
    EXPECT_EQ(ledger.entries[2].before, 10) << "the report took the points it was made for";
}

}  // namespace

namespace {

// A real small disk that fills up: a commit that does not fit leaves the journal as it
// was, and the files as the journal had them; nothing half-written remains.
TEST_F(JournalFolders, AFullDiskKeepsTheJournalAndTheFilesWhole) {
    const qv::test::SmallDisk disk("small", "size=64k");
    if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    Plant("small", "a\tb\tc\t526\te\tf");
    JournalFolder folder{DataFolder("small"), "@desk", [] { return qv::Seconds{1000}; }};
    ASSERT_TRUE(folder.EnsureBase(false));
    ASSERT_TRUE(folder.Commit({DecideLine(1700000000, 7)}));
    ASSERT_TRUE(folder.Start());
    const std::string journal = qv::test::ReadBytes("small/journal/desk.jnl");
    const std::string files = FolderFiles("small");
    // A verdict text far larger than the disk.
    JournalLine big = DecideLine(1700000100, 3);
    big.fields.back() = std::string(256 * 1024, 'x');
    qv::io::IoError error;
    EXPECT_FALSE(folder.Commit({big}, &error));
    EXPECT_EQ(error.err, ENOSPC);
    EXPECT_EQ(qv::test::ReadBytes("small/journal/desk.jnl"), journal);
    ASSERT_TRUE(folder.Start());
    EXPECT_EQ(FolderFiles("small"), files);
    // Room again: the next commit goes in whole.
    ASSERT_TRUE(folder.Commit({DecideLine(1700000200, 2)}));
    ASSERT_TRUE(folder.Start());
    EXPECT_NE(qv::test::ReadBytes("small/test.log").find("1700000200\t"), std::string::npos);
    for (const auto& e : std::filesystem::recursive_directory_iterator("small"))
        EXPECT_EQ(e.path().string().find(".tmp-"), std::string::npos) << e.path();
}

}  // namespace

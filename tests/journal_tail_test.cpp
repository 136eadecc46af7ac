// Journals read from where they are needed: the ledger's last figure from its last line,
// a verdict text found by its identifier, a decision's free second from the log's end,
// and the marks of 執行 / 未執行 written where they stand.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "execution/Undo.h"
#include "records/Backups.h"
#include "records/DataFolder.h"
#include "records/FileTail.h"
#include "records/Intent.h"
#include "records/Ledger.h"
#include "records/Reasons.h"
#include "records/SentenceLog.h"
#include "rulebook/Info.h"
#include "tests/support/TestFiles.h"

namespace {

using qv::io::ReadStatus;
using qv::test::ReadBytes;
using qv::test::WriteBytes;

class JournalTail : public qv::test::InTempDir {};

std::string LedgerLine(int time, int after) {
    return std::to_string(time) + "\tcredit\t" + std::to_string(time) + "\t\t1\t" +
           std::to_string(after - 1) + "\t" + std::to_string(after) + "\r\n";
}

// Every line once, from the last back, with its offset and line end as a forward split
// finds them: wherever a read block parts a line, a line is longer than a block, or the
// file ends without one.
TEST_F(JournalTail, LinesReadBackwardAreTheLinesOfTheFile) {
    std::string varied;
    for (int i = 0; i < 3000; ++i)
        varied += std::string(static_cast<size_t>(i * 37 % 301), static_cast<char>('a' + i % 26)) +
                  (i % 3 == 0 ? "\n" : "\r\n");
    const struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"lines of every length over several blocks", varied},
        {"the same without a last line end", varied + "torn"},
        {"a line longer than two blocks", "a\r\n" + std::string(150000, 'x') + "\r\nb\r\n"},
        {"one line without a line end", "only"},
        {"empty lines", "\r\n\n\r\n"},
        {"a block edge right after a line end", std::string(65535, 'y') + "\n" + "z\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes("lines.txt", c.bytes);
        struct Seen {
            std::string raw;
            std::int64_t at;
            bool operator==(const Seen&) const = default;
        };
        std::vector<Seen> expected;
        for (size_t at = 0; at < c.bytes.size();) {
            const size_t lf = c.bytes.find('\n', at);
            const size_t next = lf == std::string::npos ? c.bytes.size() : lf + 1;
            expected.push_back({c.bytes.substr(at, next - at), static_cast<std::int64_t>(at)});
            at = next;
        }
        std::reverse(expected.begin(), expected.end());
        qv::records::ReadOnlyFile file;
        ASSERT_EQ(file.Open("lines.txt"), ReadStatus::Ok);
        std::vector<Seen> seen;
        ASSERT_TRUE(qv::records::ForEachLineBackward(file, [&](const qv::Line& line, std::int64_t at) {
            seen.push_back({std::string(line.raw), at});
            return true;
        }));
        EXPECT_TRUE(seen == expected) << seen.size() << " lines against " << expected.size();
        // Stopped early, it has visited the newest lines only; a walk begun inside a
        // visit reads the same lines as a walk of its own.
        size_t visits = 0;
        std::vector<Seen> inner;
        ASSERT_TRUE(qv::records::ForEachLineBackward(file, [&](const qv::Line& line, std::int64_t at) {
            const std::string raw(line.raw);
            if (visits == 0) {
                EXPECT_TRUE(qv::records::ForEachLineBackward(file, [&](const qv::Line& l, std::int64_t a) {
                    inner.push_back({std::string(l.raw), a});
                    return true;
                }));
            }
            EXPECT_EQ(raw, expected[visits].raw);
            EXPECT_EQ(at, expected[visits].at);
            return ++visits < 2;
        }));
        EXPECT_EQ(visits, std::min<size_t>(2, expected.size()));
        EXPECT_TRUE(inner == expected);
    }
}

// The last line's figure, or the whole read's where the last line is no entry.
TEST_F(JournalTail, TheLedgersLastFigureIsItsLastWholeEntry) {
    std::string many;
    for (int i = 1; i <= 5000; ++i) many += LedgerLine(i, i);  // past a read block
    const struct Case {
        const char* what;
        std::string bytes;
        std::optional<std::int64_t> last;
        bool fullRead;
        size_t unread;
    } cases[] = {
        {"many lines", many, 5000, false, 0},
        {"lines ended by LF alone", "1\topen\t\t\t7\t0\t7\n2\tcredit\t2\t\t1\t7\t8\n", 8, false, 0},
        {"a torn tail", many + "5001\tcredit\t5001\t\t1\t5000\t50", 5000, true, 1},
        {"a garbage last line", many + "garbage\r\n", 5000, true, 1},
        {"an empty last line", many + "\r\n", 5000, true, 0},
        {"one line", LedgerLine(1, 3), 3, false, 0},
        {"no entry at all", "garbage\r\n", std::nullopt, true, 1},
        {"a line longer than a block", LedgerLine(1, 3) + std::string(70000, 'x') + "\r\n" +
                                           LedgerLine(2, 4), 4, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes("user.ldg", c.bytes);
        const Ledger ledger("user.ldg");
        std::optional<Ledger::Entry> last;
        bool fullRead = false;
        size_t unread = 0;
        ASSERT_EQ(ledger.LastEntry(last, nullptr, &fullRead, &unread), ReadStatus::Ok);
        EXPECT_EQ(last ? std::optional<std::int64_t>(last->after) : std::nullopt, c.last);
        EXPECT_EQ(fullRead, c.fullRead);
        EXPECT_EQ(unread, c.unread);
        Ledger::Contents whole;
        ledger.Read(whole);
        EXPECT_EQ(whole.Last(), c.last) << "the same figure as the whole read";
    }
    std::filesystem::remove("user.ldg");
    std::optional<std::int64_t> none = 1;
    EXPECT_EQ(Ledger("user.ldg").LastBalance(none), ReadStatus::Missing);
    EXPECT_FALSE(none);
    std::filesystem::create_directory("folder.ldg");
    EXPECT_EQ(Ledger("folder.ldg").LastBalance(none), ReadStatus::Unreadable);
}

// Found by identifier with a few short reads: the same texts as a look at every line.
TEST_F(JournalTail, AVerdictTextIsFoundByItsIdentifier) {
    std::string bytes;
    std::vector<std::string> ids;
    for (int i = 0; i < 30000; ++i) {
        std::string id = std::to_string(1600000000 + i * 7);
        if (i % 1000 == 17) {  // a second decision within the same second
            bytes += id + "\tthe first of two\tline 2\r\n";
        }
        if (i == 20000) {  // a clock set back a little: a few entries out of order
            bytes += std::to_string(1600000000 + i * 7 - 70) + "\tset back\n";
            ids.push_back(std::to_string(1600000000 + i * 7 - 70));
        }
        bytes += id + "\ttext of " + id + "\r\n\tafter an empty line\r\n";
        ids.push_back(id);
    }
    bytes += "torn\ttail";
    WriteBytes("test.rsn", bytes);
    const SentenceReasons reasons("test.rsn");
    std::vector<SentenceReasons::Entry> all;
    ASSERT_EQ(reasons.ReadAll(all), ReadStatus::Ok);
    std::vector<std::string> probes = {"1599999999", "1700000000", "torn", "x\ty", ""};
    for (size_t i = 0; i < ids.size(); i += 97) probes.push_back(ids[i]);
    for (size_t i = 17; i < 30000; i += 1000) probes.push_back(std::to_string(1600000000 + i * 7));
    probes.push_back(ids.back());
    probes.push_back(ids.front());
    probes.push_back(std::to_string(1600000000 + 20000 * 7 - 70));
    for (const std::string& id : probes) {
        std::vector<std::string> expected, found;
        for (const auto& e : all)
            if (e.id == id) expected.push_back(e.text);
        ASSERT_EQ(reasons.Find(id, found), ReadStatus::Ok) << id;
        EXPECT_EQ(found, expected) << id;
    }
}

// The first free second, from the log's end; every record only when the clock went back.
TEST_F(JournalTail, ADecisionsFreeSecondComesFromTheLogsEnd) {
    const auto rec = [](const std::string& id) { return id + "\t1\tY\t5\t\t0\t0\t0\t0\t0\t5\r\n"; };
    const struct Case {
        const char* what;
        std::string log;
        std::int64_t t, free;
    } cases[] = {
        {"an empty log", "", 100, 100},
        {"the newest is earlier", rec("90") + rec("95"), 100, 100},
        {"two decisions in that second already", rec("90") + rec("100") + rec("101"), 100, 102},
        {"a torn tail is no record", rec("90") + "100\t1\tY", 100, 100},
        {"the clock went back past a used second", rec("100") + rec("200") + rec("150"), 100, 101},
        {"set back onto a second used further up", rec("99") + rec("100") + rec("120") + rec("50"),
         99, 101},
        {"a line that is no record", rec("100") + "garbage\r\n", 100, 101},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes("test.log", c.log);
        std::int64_t t = c.t, size = -1;
        SentenceLog("test.log").FreeSecond(t, size);
        EXPECT_EQ(t, c.free);
        EXPECT_EQ(size, static_cast<std::int64_t>(c.log.size()));
    }
}

TEST(IntentMark, AMarkEntryReadsBackAndOlderEntriesStillRead) {
    IntentEntry e;
    e.kind = IntentEntry::Kind::Mark;
    e.id = "1700000000";
    e.logSize = 4096;
    e.bytes = {{120, '0', '1'}, {4000, '1', '0'}};
    const std::string line = e.ToLine();
    EXPECT_EQ(line, "mark\t1700000000\t4096\t120:48:49,4000:49:48\r\n");
    const auto back = IntentEntry::FromLine(line.substr(0, line.size() - 2));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->kind, IntentEntry::Kind::Mark);
    EXPECT_EQ(back->id, e.id);
    EXPECT_EQ(back->logSize, 4096);
    EXPECT_EQ(back->bytes, e.bytes);
    for (const char* bad : {"mark\t1\t10\t", "mark\t1\t10\t5:48", "mark\t1\t10\t5:48:300",
                            "mark\t1\t-1\t5:48:49", "mark\t1\t10\t5:48:49,"})
        EXPECT_FALSE(IntentEntry::FromLine(bad)) << bad;
    // The lines of before stay what they were.
    EXPECT_TRUE(IntentEntry::FromLine("decide\t1700000000\t4\t120\t20"));
    EXPECT_TRUE(IntentEntry::FromLine("delete\t1700000000\t4\t20\t16\t3,4"));
}

class MarkInPlace : public qv::test::InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        AttachFolder(info_, DataFolder());
        for (int i = 0; i < 50; ++i) log_ += std::to_string(1600000000 + i) + "\t1\tY\t5\tA:1 \t0\t1\t0\t0\t0\t5\r\n";
        WriteBytes("test.log", log_);
        WriteBytes("user.dat", "a\tb\tc\t5\te\tf\r\n");
    }
    static ino_t Inode(const std::string& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_ino;
    }
    static std::vector<std::string> Kept() {
        std::vector<std::string> names;
        for (const auto& v : Backups("backup").List()) names.push_back(v.name);
        return names;
    }
    // The offset of record i's mark.
    size_t MarkOf(int i) const {
        size_t at = log_.find(std::to_string(1600000000 + i) + "\t");
        for (int tab = 0; tab < 5; ++tab) at = log_.find('\t', at) + 1;
        return at;
    }
    CInfo info_;
    std::string log_;
    qv::Clock clock_ = [] { return qv::Seconds{1800000000}; };
};

TEST_F(MarkInPlace, AMarkIsOneByteInTheSameFileAndACopyIsKeptOncePerDay) {
    const ino_t inode = Inode("test.log");
    qv::execution::ReportSession session(info_, clock_);
    SentenceLog::Contents copy;
    ASSERT_EQ(SentenceLog("test.log").Read(copy), ReadStatus::Ok);
    ASSERT_TRUE(session.Mark("1600000003", true, &copy, &copy).Ok());
    std::string expected = log_;
    expected[MarkOf(3)] = '1';
    EXPECT_EQ(ReadBytes("test.log"), expected);
    EXPECT_EQ(Inode("test.log"), inode) << "written where it stands";
    EXPECT_EQ(copy.Bytes(), expected) << "the window's copy follows";
    EXPECT_TRUE(copy.StillMatches("test.log"));
    EXPECT_FALSE(qv::test::Exists("intent.dat"));
    ASSERT_EQ(Kept().size(), 1u) << "a copy before the first write";
    EXPECT_NE(Inode("backup/" + Kept()[0]), inode) << "a copy, never a link";
    EXPECT_EQ(ReadBytes("backup/" + Kept()[0]), log_);

    ASSERT_TRUE(session.Mark("1600000007", true).Ok());  // without a copy: the log is read
    expected[MarkOf(7)] = '1';
    EXPECT_EQ(ReadBytes("test.log"), expected);
    EXPECT_EQ(Kept().size(), 1u) << "once a session";
    qv::execution::ReportSession later(info_, clock_);
    ASSERT_TRUE(later.Mark("1600000009", true).Ok());
    expected[MarkOf(9)] = '1';
    EXPECT_EQ(Kept().size(), 1u) << "once a day";
    EXPECT_EQ(ReadBytes("backup/" + Kept()[0]), log_) << "the copy does not change with the log";

    // Undone newest first, each the reverse of its bytes, the copy set back too.
    ASSERT_TRUE(later.Undo().Ok());
    expected[MarkOf(9)] = '0';
    EXPECT_EQ(ReadBytes("test.log"), expected);
    ASSERT_TRUE(session.Undo().Ok());
    ASSERT_TRUE(session.Undo(&copy).Ok());
    EXPECT_EQ(ReadBytes("test.log"), log_);
    EXPECT_EQ(Inode("test.log"), inode);
    EXPECT_FALSE(qv::test::Exists("intent.dat"));
}

// A log large enough for its copy to be felt is copied in the background as the window
// opens; the first mark waits for that copy, which is the log as it was before any byte
// was written in place, in a file of its own. Once a day still.
TEST_F(MarkInPlace, ALargeLogIsCopiedAheadAndTheFirstMarkWaitsForIt) {
    std::string big = log_;
    while (big.size() < (size_t{9} << 20))
        big += "1700000000\t1\tY\t5\tA:1 \t0\t1\t0\t0\t0\t5\r\n";
    WriteBytes("test.log", big);
    const ino_t inode = Inode("test.log");
    std::string expected = big;
    {
        qv::execution::ReportSession session(info_, clock_);
        session.KeepLogAhead();
        ASSERT_TRUE(session.Mark("1600000003", true).Ok());
        expected[MarkOf(3)] = '1';
        EXPECT_EQ(ReadBytes("test.log"), expected);
        EXPECT_EQ(Inode("test.log"), inode) << "written where it stands";
        ASSERT_EQ(Kept().size(), 1u);
        EXPECT_NE(Inode("backup/" + Kept()[0]), inode) << "a copy, never a link";
        EXPECT_EQ(ReadBytes("backup/" + Kept()[0]), big) << "taken before the mark";
    }
    {
        // The same day: nothing is copied again, by the window or by its mark.
        qv::execution::ReportSession session(info_, clock_);
        session.KeepLogAhead();
        ASSERT_TRUE(session.Mark("1600000004", true).Ok());
        EXPECT_EQ(Kept().size(), 1u);
    }
    // A window closed before its copy is done waits for it: nothing is left half-written.
    const qv::Clock nextDay = [] { return qv::Seconds{1800000000 + 86400}; };
    {
        qv::execution::ReportSession session(info_, nextDay);
        session.KeepLogAhead();
    }
    ASSERT_EQ(Kept().size(), 2u);
    for (const std::string& name : Kept()) EXPECT_EQ(ReadBytes("backup/" + name).size(), big.size());
}

TEST_F(MarkInPlace, WhatCannotBeWrittenInPlaceIsRewrittenAsBefore) {
    const std::string bareLf = "1700000000\t1\tY\t5\tA:1 \t0\t1\t0\t0\t0\t5\n";
    const struct Case {
        const char* what;
        std::string log, after;
        bool link;
    } cases[] = {
        {"a record ended by a bare LF gets its CR", log_ + bareLf,
         log_ + "1700000000\t1\tY\t5\tA:1 \t1\t1\t0\t0\t0\t5\r\n", false},
        {"a mark of two bytes", log_ + "1700000000\t1\tY\t5\tA:1 \t00\t1\t0\t0\t0\t5\r\n",
         log_ + "1700000000\t1\tY\t5\tA:1 \t1\t1\t0\t0\t0\t5\r\n", false},
        {"a log with a second name", log_ + "1700000000\t1\tY\t5\tA:1 \t0\t1\t0\t0\t0\t5\r\n",
         log_ + "1700000000\t1\tY\t5\tA:1 \t1\t1\t0\t0\t0\t5\r\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove("other.log");
        WriteBytes("test.log", c.log);
        if (c.link) std::filesystem::create_hard_link("test.log", "other.log");
        qv::execution::ReportSession session(info_, clock_);
        ASSERT_TRUE(session.Mark("1700000000", true).Ok());
        EXPECT_EQ(ReadBytes("test.log"), c.after);
        if (c.link) {
            EXPECT_EQ(ReadBytes("other.log"), c.after) << "the other name stays the same file";
        }
        EXPECT_FALSE(qv::test::Exists("intent.dat"));
    }
    // A log the user marked read-only is refused as before, even for root.
    WriteBytes("test.log", log_);
    std::filesystem::permissions("test.log", std::filesystem::perms::owner_read |
                                                 std::filesystem::perms::group_read);
    qv::execution::ReportSession session(info_, clock_);
    EXPECT_EQ(session.Mark("1600000001", true).result,
              qv::execution::Outcome::Result::LogWriteFailed);
    EXPECT_EQ(ReadBytes("test.log"), log_);
    EXPECT_FALSE(qv::test::Exists("intent.dat"));
}

// Two records with one identifier: every one, or the which-th alone.
TEST_F(MarkInPlace, EveryRecordOfAnIdentifierOrTheOneOfItsRow) {
    const std::string two = "1700000000\t1\tY\t5\tA:1 \t0\t1\t0\t0\t0\t5\r\n";
    WriteBytes("test.log", two + log_ + two);
    qv::execution::ReportSession session(info_, clock_);
    ASSERT_TRUE(session.Mark("1700000000", true, nullptr, nullptr, 1).Ok());
    std::string second = two;
    second[second.find("\t0\t")+1] = '1';
    EXPECT_EQ(ReadBytes("test.log"), two + log_ + second);
    ASSERT_TRUE(session.Mark("1700000000", true).Ok());
    EXPECT_EQ(ReadBytes("test.log"), second + log_ + second);
    ASSERT_TRUE(session.Undo().Ok());
    EXPECT_EQ(ReadBytes("test.log"), two + log_ + second);
    EXPECT_EQ(session.Mark("1799999999", true).result, qv::execution::Outcome::Result::NotFound);
}

}  // namespace

namespace {

// A replacement whose rename fails after the version was linked leaves no version that
// is the live file itself: a mark written in place later would change it too.
TEST_F(MarkInPlace, AVersionLinkedForAFailedReplacementGoes) {
    static int (*const fail)(const char*, const char*) = [](const char*, const char*) {
        errno = EIO;
        return -1;
    };
    qv::io::SysCalls failing = qv::io::RealSysCalls();
    failing.rename = fail;
    qv::io::SetSysCalls(&failing);
    bool written = true;
    {
        const Backups::OnReplace keep(Backups("backup", clock_), "test.log");
        written = qv::io::WriteFileAtomic("test.log", "replaced\r\n");
    }
    qv::io::SetSysCalls(nullptr);
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadBytes("test.log"), log_);
    for (const std::string& name : Kept())
        EXPECT_NE(Inode("backup/" + name), Inode("test.log")) << name << " is the live log";
    struct stat st {};
    ASSERT_EQ(::stat("test.log", &st), 0);
    EXPECT_EQ(st.st_nlink, 1u);
}

}  // namespace

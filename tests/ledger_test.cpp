// The balance ledger and the trash: their lines, damaged files read as far as they go,
// the check against user.dat, and bookings that keep the ledger adding up.
#include "records/Ledger.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "records/BalanceBook.h"
#include "records/DataFolder.h"
#include "records/Trash.h"
#include "tests/support/FaultInjection.h"
#include "tests/support/TestFiles.h"

namespace {

using qv::test::ReadBytes;
using qv::test::WriteBytes;

qv::Clock At(qv::Seconds t) {
    return [t] { return t; };
}

TEST(LedgerLine, ReadsBackWhatItWritesAndRefusesTheRest) {
    Ledger::Entry report{1700000000, Ledger::Kind::Report, "", {{3, 0, 2, 0}}, -8, 5, 0};
    EXPECT_EQ(Ledger::ToLine(report), "1700000000\treport\t\t3/0/2/0\t-8\t5\t0\r\n");
    Ledger::Entry credit{1700000001, Ledger::Kind::Credit, "1700000001", {}, 9, 0, 9};
    // Lines of this version carry the computer's tag; merged ones say so after it.
    Ledger::Entry tagged{1700000002, Ledger::Kind::Merge, "", {}, 4, 9, 13, "@pc-1"};
    Ledger::Entry merged{1700000003, Ledger::Kind::Delete, "5", {}, -2, 13, 11, "@B", true};
    EXPECT_EQ(Ledger::ToLine(merged), "1700000003\tdelete\t5\t\t-2\t13\t11\t@B\tmerged\r\n");
    for (const Ledger::Entry& e : {report, credit, tagged, merged}) {
        std::string line = Ledger::ToLine(e);
        line.resize(line.size() - 2);
        const auto back = Ledger::FromLine(line);
        ASSERT_TRUE(back) << line;
        EXPECT_EQ(Ledger::ToLine(*back), Ledger::ToLine(e));
    }
    const char* bad[] = {
        "1700000000\tcredit\t\t\t9\t0",           // six fields
        "1700000000\tcredit\t\t\t9\t0\t9\tx",     // eight, the eighth no device tag
        "1700000000\tcredit\t\t\t9\t0\t9\t@",     // an empty tag
        "1700000000\tcredit\t\t\t9\t0\t9\t@a b",  // a blank in it
        "1700000000\tcredit\t\t\t9\t0\t9\t@a\tx",  // nine, the ninth not "merged"
        "1700000000\tcredit\t\t\t9\t0\t9\t@a\tmerged\tx",  // ten
        "1700000000\tgift\t\t\t9\t0\t9",          // unknown kind
        "1700000000\tcredit\t\t\t9\t0\t9x",       // a torn number
        "1700000000\treport\t\t3/0/2\t-8\t5\t0",  // three units
        "\tcredit\t\t\t9\t0\t9",                  // no time
        "1700000000\tcredit\t\t\t9\t0\t99999999999999999999",
    };
    for (const char* line : bad) EXPECT_FALSE(Ledger::FromLine(line)) << line;
}

TEST(LedgerLine, ADamagedLedgerIsReadAsFarAsItGoes) {
    const std::string bytes =
        "1\topen\t\t\t10\t0\t10\r\n"
        "garbage line\r\n"
        "\r\n"
        "2\tcredit\t2\t\t5\t10\t15\n"       // a bare LF reads alike
        "3\treport\t\t1/0/0/0\t-1\t15\t1";  // torn: no line end
    const Ledger::Contents c = Ledger::Parse(bytes);
    ASSERT_EQ(c.entries.size(), 2u);
    EXPECT_EQ(c.Last(), 15);
    ASSERT_EQ(c.unreadLines.size(), 2u);
    EXPECT_EQ(c.unreadLines[0], "garbage line\r\n");
    EXPECT_EQ(c.unreadLines[1], "3\treport\t\t1/0/0/0\t-1\t15\t1");
}

// Files written under a known device tag.
class LedgerFiles : public qv::test::InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        ::setenv("QUORVEL_DEVICE", "t1", 1);
    }
    void TearDown() override {
        ::unsetenv("QUORVEL_DEVICE");
        InTempDir::TearDown();
    }
};

TEST_F(LedgerFiles, TheCheckStartsAMissingLedgerAndFindsADifference) {
    WriteBytes("user.dat", "a\tb\tc\t120\te\tf\r\n");
    const Ledger ledger("user.ldg");
    const PointBalance balance("user.dat");
    auto check = ledger.CheckAgainst(balance, 100);
    EXPECT_EQ(check.result, Ledger::Check::Result::Started);
    EXPECT_EQ(ReadBytes("user.ldg"), "100\topen\t\t\t120\t0\t120\t@t1\r\n");
    EXPECT_EQ(ledger.CheckAgainst(balance, 101).result, Ledger::Check::Result::Agrees);

    WriteBytes("user.dat", "a\tb\tc\t150\te\tf\r\n");  // a hand edit
    check = ledger.CheckAgainst(balance, 102);
    EXPECT_EQ(check.result, Ledger::Check::Result::Differs);
    EXPECT_EQ(check.ledgerBalance, 120);
    EXPECT_EQ(check.fileBalance, 150);
    ASSERT_TRUE(ledger.RecordAdjustment(check.ledgerBalance, check.fileBalance, 103));
    EXPECT_EQ(ledger.CheckAgainst(balance, 104).result, Ledger::Check::Result::Agrees);
    EXPECT_EQ(ReadBytes("user.ldg"),
              "100\topen\t\t\t120\t0\t120\t@t1\r\n103\tadjust\t\t\t30\t120\t150\t@t1\r\n");

    // No balance file: nothing to check, nothing written.
    std::filesystem::remove("user.dat");
    EXPECT_EQ(ledger.CheckAgainst(balance, 105).result, Ledger::Check::Result::NoBalance);
    // A damaged ledger keeps its unreadable lines and is counted.
    WriteBytes("user.dat", "a\tb\tc\t150\te\tf");
    WriteBytes("user.ldg", ReadBytes("user.ldg") + "torn\tline");
    check = ledger.CheckAgainst(balance, 106);
    EXPECT_EQ(check.result, Ledger::Check::Result::Agrees);
    EXPECT_EQ(check.unreadLines, 1u);
    // A context without a ledger checks nothing and writes nothing.
    EXPECT_EQ(Ledger("").CheckAgainst(balance, 107).result, Ledger::Check::Result::Agrees);
}

TEST_F(LedgerFiles, BookingsShowTheFloorAndTakeOverADifference) {
    WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    const BalanceBook book(DataFolder(), At(50));
    EXPECT_TRUE(book.Credit("1700000000", 9).Ok());
    const Booking report = book.Report({{20, 0, 0, 0}}, 25);
    EXPECT_EQ(report.figures.before, 19);
    EXPECT_EQ(report.figures.after, 0);          // 6 points swallowed by the floor
    WriteBytes("user.dat", "a\tb\tc\t7\te\tf");  // edited behind the ledger's back
    const Booking credit = book.Credit("1700000002", 1);
    ASSERT_TRUE(credit.effects.adjusted);
    EXPECT_EQ(credit.effects.adjusted->before, 0);
    EXPECT_EQ(credit.effects.adjusted->after, 7);
    EXPECT_EQ(ReadBytes("user.ldg"),
              "50\topen\t\t\t10\t0\t10\t@t1\r\n"
              "50\tcredit\t1700000000\t\t9\t10\t19\t@t1\r\n"
              "50\treport\t\t20/0/0/0\t-25\t19\t0\t@t1\r\n"
              "50\tadjust\t\t\t7\t0\t7\t@t1\r\n"
              "50\tcredit\t1700000002\t\t1\t7\t8\t@t1\r\n");
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t8\te\tf");
}

TEST_F(LedgerFiles, EachFailingCallOfABookingLeavesTheBalanceExplainedOrTheDifferenceFound) {
    WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    const BalanceBook book(DataFolder().WithoutBackups(), At(50));
    ASSERT_TRUE(book.Credit("1", 1).Ok());
    const std::string ledger = ReadBytes("user.ldg");
    const int all = qv::test::FaultInjection::CountCalls([&] { return book.Credit("2", 1).Ok(); });
    int unledgered = 0;
    for (int failing = 1; failing <= all; ++failing) {
        WriteBytes("user.dat", "a\tb\tc\t11\te\tf");
        WriteBytes("user.ldg", ledger);
        std::filesystem::remove("intent.dat");
        Booking b;
        std::string failed;
        {
            qv::test::FaultInjection inject(failing, ENOSPC);
            b = book.Credit("2", 1);
            failed = inject.FailedCall();
        }
        SCOPED_TRACE(std::to_string(failing) + " " + failed);
        const auto check = Ledger("user.ldg").CheckAgainst(PointBalance("user.dat"), 60);
        if (!b.Ok()) {
            // Not booked at all: both files as they were.
            EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t11\te\tf");
            EXPECT_EQ(ReadBytes("user.ldg"), ledger);
            EXPECT_EQ(check.result, Ledger::Check::Result::Agrees);
        } else if (!b.effects.ledgered) {
            ++unledgered;
            EXPECT_EQ(ReadBytes("user.ldg"), ledger) << "no half line";
            EXPECT_EQ(check.result, Ledger::Check::Result::Differs);
            EXPECT_EQ(check.ledgerBalance, 11);
            EXPECT_EQ(check.fileBalance, 12);
        } else {
            EXPECT_EQ(check.result, Ledger::Check::Result::Agrees);
        }
    }
    EXPECT_GT(unledgered, 0) << "the ledger's own calls were among them";
}

TEST(TrashLine, ReadsBackWhatItWritesPayloadTabsIncluded) {
    const Trash::Entry e{7,
                         Trash::Kind::LogRecord,
                         1700000000,
                         9,
                         "1700000005",
                         2,
                         "1700000001\t12\tX\t29\tA:12 \t0\t12\t0\t0\t0\t9"};
    const std::string line = Trash::ToLine(e);
    EXPECT_EQ(line,
              "7\tlog\t1700000000\t9\t1700000005\t2\t1700000001\t12\tX\t29\tA:12 "
              "\t0\t12\t0\t0\t0\t9\r\n");
    const Trash::Contents c = Trash::Parse(line + "broken\r\n" + "8\trule\t1\t0\t\t0\t3\t0\t0\tN");
    ASSERT_EQ(c.entries.size(), 1u);
    EXPECT_EQ(c.entries[0].payload, e.payload);
    EXPECT_EQ(c.entries[0].anchor, "1700000005");
    EXPECT_EQ(c.entries[0].nth, 2);
    EXPECT_EQ(c.unreadLines.size(), 2u) << "a broken line and a torn last line";
}

class TrashFiles : public qv::test::InTempDir {};

TEST_F(TrashFiles, AppendGivesSerialsAndRemoveKeepsEverythingElse) {
    WriteBytes("test.trs", "odd line\r\n");
    const Trash trash("test.trs");
    std::vector<Trash::Entry> first{{0, Trash::Kind::LogRecord, 5, 3, "", 0, "1\ta\tb"},
                                    {0, Trash::Kind::Article, 5, 0, "", 0, "3\t0\t0\tN"}};
    ASSERT_TRUE(trash.Append(first));
    EXPECT_EQ(first[0].serial, 1);
    EXPECT_EQ(first[1].serial, 2);
    std::vector<Trash::Entry> second{{0, Trash::Kind::LogRecord, 6, 0, "", 0, "2\tc"}};
    ASSERT_TRUE(trash.Append(second));
    EXPECT_EQ(second[0].serial, 3);
    const std::int64_t gone[] = {1, 3};
    ASSERT_TRUE(trash.Remove(gone));
    EXPECT_EQ(ReadBytes("test.trs"), "odd line\r\n2\trule\t5\t0\t\t0\t3\t0\t0\tN\r\n");

    // Under each failing call of a removal the trash stays as it was.
    const std::string before = ReadBytes("test.trs");
    const std::int64_t two[] = {2};
    const int calls = qv::test::FaultInjection::CountCalls([&] { return trash.Remove(two); });
    for (int failing = 1; failing <= calls; ++failing) {
        WriteBytes("test.trs", before);
        qv::test::FaultInjection inject(failing, EIO);
        EXPECT_FALSE(trash.Remove(two)) << failing;
        inject.Stop();
        EXPECT_EQ(ReadBytes("test.trs"), before) << failing;
    }
}

}  // namespace

#include "records/PointBalance.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "execution/DeleteSentence.h"
#include "tests/support/FaultInjection.h"
#include "tests/support/TestFiles.h"
#include "text/FileIo.h"

namespace {

using Status = PointBalance::Status;
using qv::test::ReadBytes;
using qv::test::WriteBytes;

class PointBalanceTest : public qv::test::InTempDir {};

TEST_F(PointBalanceTest, EachOperationRewritesTheRecordByteForByte) {
    const PointBalance balance("user.dat");
    using Op = std::function<Status()>;
    const Op credit9 = [&] { return balance.Credit(9); };
    const Op report4 = [&] { return balance.DebitReport(4); };
    const Op report15 = [&] { return balance.DebitReport(15); };
    const Op delete4 = [&] { return balance.DebitDelete(4); };
    const Op delete1 = [&] { return balance.DebitDelete(1); };
    struct Case {
        const char* what;
        std::string before;
        std::vector<Op> ops;
        std::string after;
    } cases[] = {
        {"credit, no line end added", "a\tb\tc\t10\te\tf", {credit9}, "a\tb\tc\t19\te\tf"},
        {"report debit", "a\tb\tc\t10\te\tf", {report4}, "a\tb\tc\t6\te\tf"},
        {"report debit floors at 0", "a\tb\tc\t10\te\tf", {report15}, "a\tb\tc\t0\te\tf"},
        {"delete debit adds a line end", "a\tb\tc\t10\te\tf", {delete4}, "a\tb\tc\t6\te\tf\r\n"},
        {"and one more each time",
         "a\tb\tc\t10\te\tf",
         {delete4, delete1},
         "a\tb\tc\t5\te\tf\r\n\r\n"},
        {"a stored line end stays part of field 5",
         "a\tb\tc\t10\te\tf\r\n",
         {credit9, report4},
         "a\tb\tc\t15\te\tf\r\n"},
        {"0012 reads as 12", "a\tb\tc\t0012\te\tf", {credit9}, "a\tb\tc\t21\te\tf"},
        {"a credit adds to a negative balance",
         "a\tb\tc\t-20\te\tf",
         {credit9},
         "a\tb\tc\t-11\te\tf"},
        {"further fields are kept",
         "a\tb\tc\t10\te\tf\tg\th\r\n",
         {delete4},
         "a\tb\tc\t6\te\tf\tg\th\r\n\r\n"},
        {"Shift-JIS fields untouched",
         qv::test::Sjis("名前\tb\tc\t10\t備考\t末尾\r\n"),
         {report4},
         qv::test::Sjis("名前\tb\tc\t6\t備考\t末尾\r\n")},
    };
    for (const auto& c : cases) {
        WriteBytes("user.dat", c.before);
        for (const auto& op : c.ops) EXPECT_EQ(op(), Status::Ok) << c.what;
        EXPECT_EQ(ReadBytes("user.dat"), c.after) << c.what;
    }
}

TEST_F(PointBalanceTest, ReadGivesTheFieldsAsStored) {
    WriteBytes("user.dat", "a\tb\tc\t0012\te\tf\r\n");
    std::vector<std::string> fields;
    ASSERT_EQ(PointBalance("user.dat").Read(fields), Status::Ok);
    EXPECT_EQ(fields, (std::vector<std::string>{"a", "b", "c", "0012", "e", "f\r\n"}));

    WriteBytes("user.dat", "a\tb\tc\t7");
    EXPECT_EQ(PointBalance("user.dat").Read(fields), Status::Ok) << "four fields show a balance";
    EXPECT_EQ(fields[3], "7");
    WriteBytes("user.dat", "a\tb\tc");
    EXPECT_EQ(PointBalance("user.dat").Read(fields), Status::Short);
    WriteBytes("user.dat", "");
    EXPECT_EQ(PointBalance("user.dat").Read(fields), Status::Short);
    EXPECT_EQ(PointBalance("none.dat").Read(fields), Status::Missing);
}

TEST_F(PointBalanceTest, AMissingFileIsCreatedByACreditOnly) {
    const PointBalance balance("user.dat");
    EXPECT_EQ(balance.DebitReport(3), Status::Missing);
    EXPECT_EQ(balance.DebitDelete(3), Status::Missing);
    EXPECT_FALSE(qv::test::Exists("user.dat"));
    ASSERT_EQ(balance.Credit(9), Status::Ok);
    EXPECT_EQ(ReadBytes("user.dat"), "quorvel\t1\tuser\t9\t0\t0\r\n");
}

TEST_F(PointBalanceTest, ShortOrUnwritableFilesAreRefusedAndLeftAlone) {
    const PointBalance balance("user.dat");
    for (const char* bytes : {"", "a\tb\tc\t10\te", "no tabs at all"}) {
        WriteBytes("user.dat", bytes);
        EXPECT_EQ(balance.Credit(9), Status::Short) << bytes;
        EXPECT_EQ(balance.DebitReport(4), Status::Short) << bytes;
        EXPECT_EQ(balance.DebitDelete(4), Status::Short) << bytes;
        EXPECT_EQ(ReadBytes("user.dat"), bytes);
    }

    WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    chmod("user.dat", 0444);
    EXPECT_EQ(balance.Credit(9), Status::WriteFailed);
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t10\te\tf");
}

TEST_F(PointBalanceTest, SeveralDeleteDebitsAreBookedAsOneWrite) {
    WriteBytes("user.dat", "a\tb\tc\t20\te\tf");
    const std::vector<std::int64_t> points{9, 15, 2};
    std::string before;
    ASSERT_EQ(PointBalance("user.dat").DebitDeleteEach(points, &before), Status::Ok);
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t0\te\tf\r\n\r\n\r\n")
        << "as three DebitDelete calls: 20-9=11, 11-15 floors at 0, 0-2 stays 0";
    EXPECT_EQ(before, "a\tb\tc\t20\te\tf");
    EXPECT_TRUE(PointBalance("user.dat").PutBack(before));
    EXPECT_EQ(ReadBytes("user.dat"), before);
}

// Deleting a sentence: the log and the balance together.
class DeleteSentenceTest : public qv::test::InTempDir {
protected:
    DeleteOutcome Delete(const char* id) {
        return DeleteSentence(SentenceLog("test.log"), PointBalance("user.dat"), id);
    }
};

const std::string kRecA = "1\t1\ta\t9\tA:1 \t0\t1\t0\t0\t0\t9\r\n";
const std::string kRecB = "2\t1\tb\t9\tA:1 \t1\t1\t0\t0\t0\t0\r\n";
const std::string kRecC = "1\t2\tc\t4\t\t0\t0\t0\t0\t0\t5\n";

TEST_F(DeleteSentenceTest, DebitsEachDroppedRecordsPointsThenRewritesTheLog) {
    using Result = DeleteOutcome::Result;
    struct Case {
        const char* what;
        std::string balanceBefore;
        const char* id;
        Result result;
        size_t deleted;
        std::string balanceAfter;
        std::string logAfter;
    } cases[] = {
        {"20 - 9 - 5 = 6, shared identifier", "a\tb\tc\t20\te\tf", "1", Result::Deleted, 2,
         "a\tb\tc\t6\te\tf\r\n\r\n", kRecB},
        {"5 - 9 floors at 0", "a\tb\tc\t5\te\tf", "1", Result::Deleted, 2,
         "a\tb\tc\t0\te\tf\r\n\r\n", kRecB},
        {"points 0 leaves the balance untouched", "a\tb\tc\t20\te\tf", "2", Result::Deleted, 1,
         "a\tb\tc\t20\te\tf", kRecA + "1\t2\tc\t4\t\t0\t0\t0\t0\t0\t5\r\n"},
        {"no such record: nothing written", "a\tb\tc\t20\te\tf", "3", Result::NotFound, 0,
         "a\tb\tc\t20\te\tf", kRecA + kRecB + kRecC},
    };
    for (const auto& c : cases) {
        WriteBytes("test.log", kRecA + kRecB + kRecC);
        WriteBytes("user.dat", c.balanceBefore);
        DeleteOutcome outcome = Delete(c.id);
        EXPECT_EQ(outcome.result, c.result) << c.what;
        EXPECT_EQ(outcome.deleted, c.deleted) << c.what;
        EXPECT_EQ(ReadBytes("user.dat"), c.balanceAfter) << c.what;
        EXPECT_EQ(ReadBytes("test.log"), c.logAfter) << c.what;
    }
}

TEST_F(DeleteSentenceTest, ADebitThatCannotBeMadeLeavesBothFilesUntouched) {
    const std::string log = kRecA + kRecB;
    struct Case {
        const char* what;
        const char* balance;  // nullptr: missing
        PointBalance::Status status;
    } cases[] = {
        {"missing balance", nullptr, Status::Missing},
        {"short balance", "a\tb\tc\t20", Status::Short},
        {"empty balance", "", Status::Short},
    };
    for (const auto& c : cases) {
        std::filesystem::remove("user.dat");
        if (c.balance) WriteBytes("user.dat", c.balance);
        WriteBytes("test.log", log);
        DeleteOutcome outcome = Delete("1");
        EXPECT_EQ(outcome.result, DeleteOutcome::Result::BalanceFailed) << c.what;
        EXPECT_EQ(outcome.balance, c.status) << c.what;
        EXPECT_EQ(ReadBytes("test.log"), log) << c.what;
        EXPECT_EQ(ReadBytes("user.dat"), c.balance ? c.balance : "<missing>") << c.what;
    }

    // A record without points needs no balance at all.
    std::filesystem::remove("user.dat");
    WriteBytes("test.log", log);
    EXPECT_EQ(Delete("2").result, DeleteOutcome::Result::Deleted);
    EXPECT_EQ(ReadBytes("test.log"), kRecA);
}

TEST_F(DeleteSentenceTest, ALogThatCannotBeWrittenGetsTheBalancePutBack) {
    const std::string log = kRecA + kRecB;
    WriteBytes("test.log", log);
    WriteBytes("user.dat", "a\tb\tc\t20\te\tf");
    chmod("test.log", 0444);
    DeleteOutcome outcome = Delete("1");
    EXPECT_EQ(outcome.result, DeleteOutcome::Result::LogWriteFailed);
    EXPECT_TRUE(outcome.restored);
    EXPECT_EQ(ReadBytes("test.log"), log);
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t20\te\tf");
}

TEST_F(DeleteSentenceTest, AFailingFileCallNeverLeavesHalfADelete) {
    // Whatever call fails, the two files are either both as before or both as after.
    const std::string log = kRecA + kRecB + kRecC;
    const std::string balance = "a\tb\tc\t20\te\tf";
    const std::string logAfter = kRecB;
    const std::string balanceAfter = "a\tb\tc\t6\te\tf\r\n\r\n";
    auto reset = [&] {
        WriteBytes("test.log", log);
        WriteBytes("user.dat", balance);
    };
    reset();
    const int calls = qv::test::FaultInjection::CountCalls(
        [&] { return Delete("1").result == DeleteOutcome::Result::Deleted; });
    ASSERT_GT(calls, 0);
    for (int failing = 1; failing <= calls; ++failing) {
        reset();
        qv::test::FaultInjection inject(failing, EIO);
        DeleteOutcome outcome = Delete("1");
        const std::string failed = inject.FailedCall();
        inject.Stop();
        SCOPED_TRACE("call " + std::to_string(failing) + " (" + failed + ") fails");
        EXPECT_NE(outcome.result, DeleteOutcome::Result::Deleted);
        EXPECT_EQ(ReadBytes("test.log"), log);
        EXPECT_EQ(ReadBytes("user.dat"), balance);
        EXPECT_EQ(qv::test::ListDir(), "test.log\nuser.dat\n");
    }
    reset();
    EXPECT_EQ(Delete("1").result, DeleteOutcome::Result::Deleted);
    EXPECT_EQ(ReadBytes("test.log"), logAfter);
    EXPECT_EQ(ReadBytes("user.dat"), balanceAfter);
}

}  // namespace

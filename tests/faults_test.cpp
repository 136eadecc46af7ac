// Every whole-file write and the log append, with each of their file calls failing in
// turn: the old file stays byte for byte, the failure is reported, no temporary is left.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>

#include "records/PointBalance.h"
#include "records/Reasons.h"
#include "records/SentenceLog.h"
#include "rulebook/RuleBook.h"
#include "tests/support/FaultInjection.h"
#include "tests/support/TestFiles.h"

namespace {

using qv::test::FaultInjection;
using qv::test::ReadBytes;
using qv::test::WriteBytes;

struct Operation {
    const char* name;
    const char* file;
    std::string before;  // empty: the file does not exist beforehand
    std::function<bool()> run;
};

const std::string kLog =
    "1700000000\t1\tX\t30\tA:3 \t0\t3\t0\t0\t0\t3\r\n"
    "1700000001\t2\tY\t5\t\t1\t0\t0\t0\t0\t5\n"
    "damaged\r\n";

std::vector<Operation> Operations() {
    const std::string book =
        "qvrule\t1\tid1\t0\tA\t10\tB\t5\tC\t7\tD\t10\r\n"
        "1\t1\t2\tX\tY\tZ\t30\t15\t12\t4\t3\t0\t0\t3\r\n";
    const std::string balance = "a\tb\tc\t10\te\tf\r\n";
    auto record = [] {
        SentenceRecord r;
        r.fields = {"1700000000", "1", "X", "30", "A:3 ", "0", "3", "0", "0", "0", "3"};
        return r;
    };
    return {
        {"rule book save", "test.dat", book,
         [] {
             CRuleBook b;
             b.SetFileName("test.dat");
             return b.LoadFile() && b.AddRule([] {
                 CRule r;
                 r.SetNumber(2);
                 return r;
             }()) && b.SaveFile();
         }},
        {"balance credit", "user.dat", balance,
         [] { return PointBalance("user.dat").Credit(9) == PointBalance::Status::Ok; }},
        {"balance credit creating the file", "user.dat", "",
         [] { return PointBalance("user.dat").Credit(9) == PointBalance::Status::Ok; }},
        {"balance report debit", "user.dat", balance,
         [] { return PointBalance("user.dat").DebitReport(4) == PointBalance::Status::Ok; }},
        {"balance delete debit", "user.dat", balance,
         [] { return PointBalance("user.dat").DebitDelete(4) == PointBalance::Status::Ok; }},
        {"log append", "test.log", "1\t1\tX\t30\t\t0\t0\t0\t0\t0\t0\r\npartial",
         [record] { return SentenceLog("test.log").Append(record()); }},
        {"log append creating the file", "test.log", "",
         [record] { return SentenceLog("test.log").Append(record()); }},
        {"reasons append", "test.rsn", "1\tx\r\npartial",
         [] {
             return SentenceReasons("test.rsn").Append("2", "a\r\nb") ==
                    SentenceReasons::Status::Ok;
         }},
        {"reasons append creating the file", "test.rsn", "",
         [] {
             return SentenceReasons("test.rsn").Append("2", "a\r\nb") ==
                    SentenceReasons::Status::Ok;
         }},
        {"log execute rewrite", "test.log", kLog,
         [] {
             SentenceLog log("test.log");
             return log.Write(log.PlanMark("1700000000", true));
         }},
        {"log delete rewrite", "test.log", kLog,
         [] {
             SentenceLog log("test.log");
             return log.Write(log.PlanDelete("1700000000"));
         }},
    };
}

class InjectedFaults : public qv::test::InTempDir {};

TEST_F(InjectedFaults, EachFailingCallLeavesTheOldFile) {
    int tried = 0;
    for (const Operation& op : Operations()) {
        auto reset = [&] {
            std::filesystem::remove(op.file);
            if (!op.before.empty()) WriteBytes(op.file, op.before);
        };
        reset();
        int calls = FaultInjection::CountCalls(op.run);
        ASSERT_GT(calls, 0) << op.name;
        for (int failing = 1; failing <= calls; ++failing) {
            for (int error : {ENOSPC, EIO, EACCES}) {
                reset();
                const std::string listing = qv::test::ListDir();
                FaultInjection inject(failing, error);
                bool ok = op.run();
                std::string failed = inject.FailedCall();
                inject.Stop();
                SCOPED_TRACE(std::string(op.name) + ": call " + std::to_string(failing) + " (" +
                             failed + ") fails with " + std::to_string(error));
                EXPECT_FALSE(ok);
                EXPECT_EQ(ReadBytes(op.file), op.before.empty() ? "<missing>" : op.before);
                EXPECT_EQ(qv::test::ListDir(), listing) << "a temporary file was left";
                ++tried;
            }
        }
    }
    RecordProperty("injected_faults", tried);
}

}  // namespace

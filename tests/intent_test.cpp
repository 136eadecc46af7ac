// The intent record: points a failed credit never put on the balance are remembered,
// never debited, and credited later; open actions found at start-up are settled.
#include "records/Intent.h"

#include <gtest/gtest.h>

#include "execution/DeleteSentence.h"
#include "records/DataFolder.h"
#include "records/Repair.h"
#include "rulebook/Info.h"
#include "tests/support/SampleVerdict.h"
#include "tests/support/TestFiles.h"
#include "trial/Verdict.h"

namespace {

using qv::test::ReadBytes;
using qv::test::WriteBytes;

const std::string kOther = "1600000000\t1\tY\t5\t\t0\t0\t0\t0\t0\t5\r\n";
const std::string kRecord = "1700000000\t12\tX\t29\tA:12 \t0\t12\t0\t0\t0\t9\r\n";
std::string Balance(int points) { return "q\t1\tu\t" + std::to_string(points) + "\t0\t0\r\n"; }

class Intent : public qv::test::InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        info_.SetLogPath("test.log");
        info_.SetBalancePath("user.dat");
    }
    DeleteOutcome Delete() {
        return DeleteSentence(SentenceLog("test.log"), PointBalance("user.dat"), "1700000000");
    }
    CInfo info_;
    CVerdict verdict_ = qv::test::SampleVerdict();
};

TEST_F(Intent, PointsNeverCreditedAreNeverDebited) {
    WriteBytes("test.log", kOther);
    WriteBytes("user.dat", "q\tshort");
    const Decision d = DecideVerdict(verdict_, info_, 1700000000);
    ASSERT_EQ(d.status, Decision::Status::NotCredited);
    EXPECT_EQ(ReadBytes("test.log"), kOther + kRecord) << "the record stays";
    EXPECT_EQ(ReadBytes("intent.dat"),
              "decide\t1700000000\t9\t" + std::to_string(kOther.size()) + "\t?\r\n")
        << "the points are remembered as not credited";

    // The balance file is mended; deleting the record takes nothing off.
    WriteBytes("user.dat", Balance(20));
    EXPECT_EQ(Delete().result, DeleteOutcome::Result::Deleted);
    EXPECT_EQ(ReadBytes("user.dat"), Balance(20));
    EXPECT_EQ(ReadBytes("test.log"), kOther);
    EXPECT_FALSE(qv::test::Exists("intent.dat")) << "the note goes with its record";
}

TEST_F(Intent, ARetryCreditsTheRememberedPointsOnce) {
    WriteBytes("user.dat", "q\tshort");
    ASSERT_EQ(DecideVerdict(verdict_, info_, 1700000000).status, Decision::Status::NotCredited);
    EXPECT_EQ(CreditPending(DataFolder::DataOnly("test.log", "user.dat"), "1700000000"), PointBalance::Status::Short)
        << "still broken: still remembered";
    EXPECT_TRUE(qv::test::Exists("intent.dat"));
    WriteBytes("user.dat", Balance(20));
    EXPECT_EQ(CreditPending(DataFolder::DataOnly("test.log", "user.dat"), "1700000000"), PointBalance::Status::Ok);
    EXPECT_EQ(ReadBytes("user.dat"), "q\t1\tu\t29\t0\t0\r\n");
    EXPECT_FALSE(qv::test::Exists("intent.dat"));
    EXPECT_EQ(CreditPending(DataFolder::DataOnly("test.log", "user.dat"), "1700000000"), PointBalance::Status::Ok);
    EXPECT_EQ(ReadBytes("user.dat"), "q\t1\tu\t29\t0\t0\r\n") << "not twice";
    // Now credited, a delete takes the points off again.
    EXPECT_EQ(Delete().result, DeleteOutcome::Result::Deleted);
    EXPECT_EQ(ReadBytes("user.dat"), "q\t1\tu\t20\t0\t0\r\n\r\n");
}

TEST_F(Intent, StartUpSettlesEveryOpenAction) {
    using What = StartRepair::Item::What;
    const std::string size = std::to_string(kOther.size());
    struct Case {
        const char* what;
        std::string log, balance, intent;
        std::string logAfter, balanceAfter;
        std::vector<What> told;
        std::string intentAfter = "<missing>";
    } cases[] = {
        {"decide killed before the append",
         kOther,
         Balance(20),
         "decide\t1700000000\t9\t" + size + "\t20\r\n",
         kOther,
         Balance(20),
         {What::DecideNotRecorded}},
        {"decide killed between the files",
         kOther + kRecord,
         Balance(20),
         "decide\t1700000000\t9\t" + size + "\t20\r\n",
         kOther + kRecord,
         "q\t1\tu\t29\t0\t0\r\n",
         {What::DecideCredited}},
        {"decide killed after both",
         kOther + kRecord,
         Balance(29),
         "decide\t1700000000\t9\t" + size + "\t20\r\n",
         kOther + kRecord,
         Balance(29),
         {}},
        {"a record with the same identifier before it does not count",
         kRecord,
         Balance(20),
         "decide\t1700000000\t9\t" + std::to_string(kRecord.size()) + "\t20\r\n",
         kRecord,
         Balance(20),
         {What::DecideNotRecorded}},
        {"a credit that failed, the file mended",
         kOther + kRecord,
         Balance(29),
         "decide\t1700000000\t9\t" + size + "\t?\r\n",
         kOther + kRecord,
         "q\t1\tu\t38\t0\t0\r\n",
         {What::DecideCredited}},
        {"a credit that failed, still broken",
         kOther + kRecord,
         "q\tshort",
         "decide\t1700000000\t9\t" + size + "\t?\r\n",
         kOther + kRecord,
         "q\tshort",
         {},
         "decide\t1700000000\t9\t" + size + "\t?\r\n"},
        {"delete killed before the debit",
         kOther + kRecord,
         Balance(20),
         "delete\t1700000000\t9\t20\t11\r\n",
         kOther + kRecord,
         Balance(20),
         {What::DeleteNotMade}},
        {"delete killed between the files",
         kOther + kRecord,
         "q\t1\tu\t11\t0\t0\r\n\r\n",
         "delete\t1700000000\t9\t20\t11\r\n",
         kOther,
         "q\t1\tu\t11\t0\t0\r\n\r\n",
         {What::DeleteFinished}},
        {"delete killed after both",
         kOther,
         "q\t1\tu\t11\t0\t0\r\n\r\n",
         "delete\t1700000000\t9\t20\t11\r\n",
         kOther,
         "q\t1\tu\t11\t0\t0\r\n\r\n",
         {}},
        {"a line this version does not know is kept",
         kOther,
         Balance(20),
         "ledger\t1\r\n",
         kOther,
         Balance(20),
         {},
         "ledger\t1\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes("test.log", c.log);
        WriteBytes("user.dat", c.balance);
        WriteBytes("intent.dat", c.intent);
        const StartRepair repair = RepairAtStart(DataFolder::DataOnly("test.log", "user.dat"));
        std::vector<What> told;
        for (const auto& item : repair.items) told.push_back(item.what);
        EXPECT_EQ(told, c.told);
        EXPECT_EQ(ReadBytes("test.log"), c.logAfter);
        EXPECT_EQ(ReadBytes("user.dat"), c.balanceAfter);
        EXPECT_EQ(ReadBytes("intent.dat"), c.intentAfter);
        // Told once: a second start finds nothing more to do.
        EXPECT_TRUE(RepairAtStart(DataFolder::DataOnly("test.log", "user.dat")).items.empty());
        std::filesystem::remove("intent.dat");
    }
}

TEST_F(Intent, AnEntryKilledWhileItWasWrittenIsDroppedAtStartUp) {
    const std::string entry = "delete\t1700000000\t9\t20\t11\r\n";
    struct Case {
        const char* what;
        std::string bytes;
        std::string left;  // "" : no intent file afterwards
    } cases[] = {
        {"created, nothing written", "", ""},
        {"half a line", entry.substr(0, 10), ""},
        {"a kept line and half of the next", "other\tline\r\n" + entry.substr(0, 7),
         "other\tline\r\n"},
    };
    for (const Case& c : cases) {
        WriteBytes("test.log", kOther + kRecord);
        WriteBytes("user.dat", Balance(20));
        WriteBytes("intent.dat", c.bytes);
        RepairAtStart(DataFolder::DataOnly("test.log", "user.dat"));
        EXPECT_EQ(qv::test::Exists("intent.dat"), !c.left.empty()) << c.what;
        if (!c.left.empty()) {
            EXPECT_EQ(ReadBytes("intent.dat"), c.left) << c.what;
        }
        EXPECT_EQ(ReadBytes("test.log"), kOther + kRecord) << c.what;
        EXPECT_EQ(ReadBytes("user.dat"), Balance(20)) << c.what;
    }
}

TEST_F(Intent, AnActionThatCannotWriteItsIntentDoesNotStart) {
    WriteBytes("test.log", kOther + kRecord);
    WriteBytes("user.dat", Balance(20));
    std::filesystem::create_directory("intent.dat");  // cannot be appended to
    EXPECT_EQ(Delete().result, DeleteOutcome::Result::IntentFailed);
    EXPECT_EQ(DecideVerdict(verdict_, info_, 1700000001).status, Decision::Status::NotRecorded);
    EXPECT_EQ(ReadBytes("test.log"), kOther + kRecord);
    EXPECT_EQ(ReadBytes("user.dat"), Balance(20));
}

}  // namespace

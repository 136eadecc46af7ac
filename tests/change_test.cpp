// The faults an action across several files met before there was one change engine:
// each case plants what a kill, a failed write or a forged file left, then checks what the
// next action or the next start makes of it.
#include "records/Change.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "execution/Undo.h"
#include "records/DataFolder.h"
#include "records/Repair.h"
#include "records/Trash.h"
#include "rulebook/Info.h"
#include "tests/support/SampleVerdict.h"
#include "tests/support/TestFiles.h"
#include "text/Numbers.h"
#include "trial/Verdict.h"

namespace {

using qv::test::ReadBytes;
using qv::test::WriteBytes;

const std::string kOther = "1600000000\t1\tY\t5\t\t0\t0\t0\t0\t0\t5\r\n";
const std::string kRecord = "1700000000\t12\tX\t29\tA:12 \t0\t12\t0\t0\t0\t4\r\n";
std::string Balance(int points) { return "q\t1\tu\t" + std::to_string(points) + "\t0\t0\r\n"; }
std::string BalanceNow() {
    const std::string b = ReadBytes("user.dat");
    size_t at = 0;
    for (int i = 0; i < 3; ++i) at = b.find('\t', at) + 1;
    return b.substr(at, b.find('\t', at) - at);
}

class ChangeFaults : public qv::test::InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        AttachFolder(info_, DataFolder());
    }
    CInfo info_;
    CVerdict verdict_ = qv::test::SampleVerdict(4, "text");
};

// Start-up checks every open entry against the files and cuts what kills tore.
TEST_F(ChangeFaults, StartUpChecksTheIntentAndCutsTornTails) {
    using What = StartRepair::Item::What;
    const std::string size = std::to_string(kOther.size());
    const std::string record = kRecord.substr(0, kRecord.size() - 2);
    // The mark of kRecord after kOther, as 執行 journals it.
    size_t markAt = kOther.size();
    for (int tab = 0; tab < 5; ++tab) markAt = (kOther + kRecord).find('\t', markAt) + 1;
    std::string executed = kOther + kRecord;
    executed[markAt] = '1';
    const std::string whole = std::to_string((kOther + kRecord).size());
    const auto markIntent = [&](size_t at, const std::string& logSize) {
        return "mark\t1700000000\t" + logSize + "\t" + std::to_string(at) + ":48:49\r\n";
    };
    struct Case {
        const char* what;
        std::string log, intent, trash;
        std::string logAfter, balanceAfter;
        std::vector<What> told;
        std::string trashAfter = "<missing>";
    } cases[] = {
        {"a forged decide asks 1,000,000 points for a record of 4", kOther + kRecord,
         "decide\t1700000000\t1000000\t" + size + "\t20\r\n", "", kOther + kRecord, "20",
         {What::Refused}},
        {"a decide whose record names other bytes is refused", kOther + kRecord,
         "decide\t1700000000\t4\t" + size + "\t20\t@log=" + size + "\t" + record + "X\r\n", "",
         kOther + kRecord, "20", {What::DecideNotRecorded}},
        {"a log append cut by a kill goes back to the size the intent knew",
         kOther + kRecord.substr(0, 17),
         "decide\t1700000000\t4\t" + size + "\t20\t@log=" + size + "\t" + record + "\r\n", "",
         kOther, "20", {What::DecideNotRecorded}},
        {"a whole record is credited with its own points", kOther + kRecord,
         "decide\t1700000000\t4\t" + size + "\t20\t@log=" + size + "\t" + record + "\r\n", "",
         kOther + kRecord, "24", {What::DecideCredited}},
        {"a forged delete without a trash copy removes nothing", kOther + kRecord,
         "delete\t1700000000\t4\t20\t16\r\n", "", kOther + kRecord, "20", {What::Refused}},
        {"a trash line cut by a kill is cut back before anything is appended", kOther, "",
         "1\tlog\t5\t4\t\t1\t" + record + "\r\n2\tlog\t6\t4\t\t1\t17000", kOther, "20", {},
         "1\tlog\t5\t4\t\t1\t" + record + "\r\n"},
        {"a journalled mark not yet written is finished", kOther + kRecord,
         markIntent(markAt, whole), "", executed, "20", {What::MarkFinished}},
        {"a journalled mark written before the kill is settled", executed,
         markIntent(markAt, whole), "", executed, "20", {}},
        {"a mark journalled for a log of another size writes nothing", kOther + kRecord,
         markIntent(markAt, whole + "0"), "", kOther + kRecord, "20", {What::Refused}},
        {"a mark whose offset is no mark of that sentence writes nothing", kOther + kRecord,
         markIntent(markAt - 2, whole), "", kOther + kRecord, "20", {What::Refused}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove("test.trs");
        WriteBytes("test.log", c.log);
        WriteBytes("user.dat", Balance(20));
        if (!c.intent.empty()) WriteBytes("intent.dat", c.intent);
        if (!c.trash.empty()) WriteBytes("test.trs", c.trash);
        const StartRepair repair = RepairAtStart(DataFolder(), [] { return qv::Seconds{7}; });
        std::vector<What> told;
        for (const auto& item : repair.items) told.push_back(item.what);
        EXPECT_EQ(told, c.told);
        EXPECT_EQ(ReadBytes("test.log"), c.logAfter);
        EXPECT_EQ(BalanceNow(), c.balanceAfter);
        EXPECT_EQ(ReadBytes("test.trs"), c.trashAfter);
        EXPECT_FALSE(qv::test::Exists("intent.dat"));
        // The second start changes nothing.
        EXPECT_TRUE(RepairAtStart(DataFolder()).items.empty());
        EXPECT_EQ(ReadBytes("test.log"), c.logAfter);
        std::filesystem::remove("user.ldg");
    }
}

// Two decisions within one second get two identifiers, and a row acts on itself alone
// even where the log already holds two records with one identifier.
TEST_F(ChangeFaults, OneIdentifierNamesOneSentence) {
    WriteBytes("test.log", kOther);
    WriteBytes("user.dat", Balance(20));
    const Decision first = DecideVerdict(verdict_, info_, 1700000000);
    const Decision second = DecideVerdict(verdict_, info_, 1700000000);
    EXPECT_EQ(first.id, "1700000000");
    EXPECT_EQ(second.id, "1700000001");
    EXPECT_EQ(BalanceNow(), "28");
    // Each kept its verdict text, inside its own change.
    EXPECT_EQ(ReadBytes("test.rsn"), "1700000000\ttext\r\n1700000001\ttext\r\n");

    WriteBytes("test.log", kOther + kRecord + kRecord);
    WriteBytes("user.dat", Balance(20));
    qv::execution::ReportSession session(info_);
    EXPECT_TRUE(session.Mark("1700000000", true, nullptr, nullptr, 1).Ok());
    const std::string marked = kRecord.substr(0, kRecord.find("\t0\t12")) + "\t1\t12\t0\t0\t0\t4\r\n";
    EXPECT_EQ(ReadBytes("test.log"), kOther + kRecord + marked);
    EXPECT_TRUE(session.Delete("1700000000", 1).Ok());
    EXPECT_EQ(ReadBytes("test.log"), kOther + kRecord) << "the other record stays";
    EXPECT_EQ(BalanceNow(), "16") << "one record's points taken";
}

// A restore whose trash line cannot be taken out keeps its intent, and the entry cannot
// be put back a second time meanwhile.
TEST_F(ChangeFaults, ATrashEntryIsRestoredAtMostOnce) {
    WriteBytes("test.log", kOther + kRecord);
    WriteBytes("user.dat", Balance(20));
    qv::execution::ReportSession session(info_);
    ASSERT_TRUE(session.Delete("1700000000").Ok());
    Trash::Contents trash;
    ASSERT_EQ(Trash("test.trs").Read(trash), qv::io::ReadStatus::Ok);
    ASSERT_EQ(trash.entries.size(), 1u);
    // The trash cannot be rewritten: a folder stands where its temporary file would go.
    const std::string kept = ReadBytes("test.trs");
    std::filesystem::remove("test.trs");
    std::filesystem::create_directory("test.trs");
    qv::execution::ReportSession fresh(info_);
    const qv::execution::Outcome first = fresh.RestoreFromTrash(trash.entries);
    EXPECT_TRUE(first.Ok());
    EXPECT_EQ(ReadBytes("test.log"), kOther + kRecord);
    for (int again = 0; again < 2; ++again) {
        const qv::execution::Outcome more = fresh.RestoreFromTrash(trash.entries);
        EXPECT_EQ(more.result, qv::execution::Outcome::Result::Pending);
    }
    EXPECT_EQ(ReadBytes("test.log"), kOther + kRecord) << "in the log once";
    EXPECT_EQ(BalanceNow(), "20") << "credited once";
    // Once the trash is mended, start-up takes the entry out and nothing more.
    std::filesystem::remove("test.trs");
    WriteBytes("test.trs", kept);
    RepairAtStart(DataFolder());
    EXPECT_EQ(ReadBytes("test.log"), kOther + kRecord);
    EXPECT_EQ(BalanceNow(), "20");
    ASSERT_NE(Trash("test.trs").Read(trash), qv::io::ReadStatus::Unreadable);
    EXPECT_TRUE(trash.entries.empty());
    EXPECT_FALSE(qv::test::Exists("intent.dat"));
}

// New side files take the group and mode of the log, not the umask.
TEST_F(ChangeFaults, NewSideFilesTakeTheGroupAndModeOfTheLog) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand the log to another group";
    WriteBytes("test.log", kOther + kRecord);
    WriteBytes("user.dat", Balance(20));
    ASSERT_EQ(::chown("test.log", 0, 4242), 0);
    ASSERT_EQ(::chmod("test.log", 0660), 0);
    const mode_t old = ::umask(077);
    qv::execution::ReportSession session(info_);
    const bool deleted = session.Delete("1700000000").Ok();
    ::umask(old);
    ASSERT_TRUE(deleted);
    for (const char* file : {"test.trs", "user.ldg"}) {
        struct stat st {};
        ASSERT_EQ(::stat(file, &st), 0) << file;
        EXPECT_EQ(st.st_gid, 4242u) << file;
        EXPECT_EQ(st.st_mode & 0777, 0660u) << file;
    }
}

}  // namespace

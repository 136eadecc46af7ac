// The data files as users really keep them: links into a synced folder, hard links,
// files of a shared group, FIFOs, another program on the same log, leftovers of a kill.
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <thread>

#include "execution/DeleteSentence.h"
#include "records/PointBalance.h"
#include "records/DataFolder.h"
#include "records/Repair.h"
#include "records/SentenceLog.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "tests/support/SampleVerdict.h"
#include "tests/support/TestFiles.h"
#include "text/FileIo.h"
#include "trial/Verdict.h"

namespace {

namespace fs = std::filesystem;
using qv::test::ReadBytes;
using qv::test::WriteBytes;

const std::string kRecord = "1700000000\t12\tX\t29\tA:12 \t0\t12\t0\t0\t0\t9\r\n";
const std::string kBalance = "quorvel\t1\tuser\t20\t0\t0\r\n";

SentenceRecord Record(const std::string& id) {
    SentenceRecord r;
    r.fields = {id, "12", "X", "29", "A:12 ", "0", "12", "0", "0", "0", "9"};
    return r;
}

bool IsSymlink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Runs fn in a child process; its exit code, or -1 when it has not ended within the
// time (then it is killed): a call that blocks fails the test instead of hanging it.
int InChild(const std::function<int()>& fn, std::chrono::seconds limit = std::chrono::seconds(10)) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(fn());
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

pid_t DeadPid() {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

class RealFiles : public qv::test::InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        info_.SetLogPath("test.log");
        info_.SetBalancePath("user.dat");
    }
    CInfo info_;
};

TEST_F(RealFiles, WritesThroughASymbolicLinkReachItsTargetAndTheLinkStays) {
    struct Case {
        const char* name;
        const char* file;
        std::string before;
        std::function<bool()> run;
        std::string after;
    } cases[] = {
        {"credit", "user.dat", kBalance,
         [] { return PointBalance("user.dat").Credit(9) == PointBalance::Status::Ok; },
         "quorvel\t1\tuser\t29\t0\t0\r\n"},
        {"delete debit", "user.dat", kBalance,
         [] { return PointBalance("user.dat").DebitDelete(9) == PointBalance::Status::Ok; },
         "quorvel\t1\tuser\t11\t0\t0\r\n\r\n"},
        {"log append", "test.log", kRecord,
         [] { return SentenceLog("test.log").Append(Record("1700000001")); },
         kRecord + Record("1700000001").ToLine()},
        {"log rewrite", "test.log", kRecord,
         [] {
             SentenceLog log("test.log");
             return log.Write(log.PlanMark("1700000000", true));
         },
         "1700000000\t12\tX\t29\tA:12 \t1\t12\t0\t0\t0\t9\r\n"},
    };
    fs::create_directory("synced");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string target = std::string("synced/") + c.file;
        WriteBytes(target, c.before);
        fs::remove(c.file);
        fs::create_symlink(target, c.file);
        ASSERT_TRUE(c.run());
        EXPECT_TRUE(IsSymlink(c.file)) << "the link stays a link";
        EXPECT_EQ(ReadBytes(target), c.after) << "the linked file changed";
        for (const char* folder : {".", "synced"})
            for (const auto& entry : fs::directory_iterator(folder)) {
                const std::string name = entry.path().filename().string();
                EXPECT_TRUE(name == "synced" || name == "test.log" || name == "user.dat")
                    << "made beside the link: " << name;
            }
    }
    // An absolute link into another folder, and a link to a link.
    const std::string abs = (Dir() / "synced" / "user.dat").string();
    WriteBytes(abs, kBalance);
    fs::remove("user.dat");
    fs::create_symlink(abs, "middle.dat");
    fs::create_symlink("middle.dat", "user.dat");
    ASSERT_EQ(PointBalance("user.dat").Credit(1), PointBalance::Status::Ok);
    EXPECT_EQ(ReadBytes(abs), "quorvel\t1\tuser\t21\t0\t0\r\n");
    EXPECT_TRUE(IsSymlink("user.dat") && IsSymlink("middle.dat"));
}

TEST_F(RealFiles, AHardLinkedFileKeepsItsOtherNames) {
    fs::create_directory("backup");
    WriteBytes("user.dat", kBalance);
    fs::create_hard_link("user.dat", "backup/user.dat");
    WriteBytes("test.log", kRecord);
    fs::create_hard_link("test.log", "backup/test.log");

    ASSERT_EQ(PointBalance("user.dat").Credit(9), PointBalance::Status::Ok);
    SentenceLog log("test.log");
    ASSERT_TRUE(log.Write(log.PlanDelete("1700000000")));

    for (const char* name : {"user.dat", "test.log"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(fs::hard_link_count(name), 2u);
        EXPECT_TRUE(fs::equivalent(name, std::string("backup/") + name));
    }
    EXPECT_EQ(ReadBytes("backup/user.dat"), "quorvel\t1\tuser\t29\t0\t0\r\n");
    EXPECT_EQ(fs::file_size("backup/test.log"), 0u);
    EXPECT_EQ(qv::test::ListDir(), "backup\ntest.log\nuser.dat\n") << "no copy left behind";
}

TEST_F(RealFiles, ALinkWhoseTargetIsMissingIsReportedAndNeverWrittenOver) {
    fs::create_symlink("unplugged/user.dat", "user.dat");
    fs::create_symlink("unplugged/test.log", "test.log");
    fs::create_directory("unplugged-but-there");
    fs::create_symlink("unplugged-but-there/test.dat", "test.dat");

    EXPECT_EQ(qv::io::Resolve("user.dat").kind, qv::io::Target::Kind::Dangling);
    std::vector<std::string> fields;
    EXPECT_EQ(PointBalance("user.dat").Read(fields), PointBalance::Status::Unreadable);
    EXPECT_EQ(PointBalance("user.dat").Credit(9), PointBalance::Status::Unreadable);
    SentenceLog::Contents contents;
    EXPECT_EQ(SentenceLog("test.log").Read(contents), qv::io::ReadStatus::Unreadable);
    EXPECT_FALSE(SentenceLog("test.log").Append(Record("1")));
    EXPECT_EQ(DecideVerdict(qv::test::SampleVerdict(9), info_, 1700000000).status, Decision::Status::NotRecorded);

    // The folder of the target is there: still nothing is made in the file's place.
    EXPECT_FALSE(qv::io::WriteFileAtomic("test.dat", "x"));
    EXPECT_FALSE(qv::io::AppendLine("test.dat", "x"));
    EXPECT_TRUE(fs::is_empty("unplugged-but-there"));
    for (const char* link : {"user.dat", "test.log", "test.dat"})
        EXPECT_TRUE(IsSymlink(link)) << link;
    EXPECT_FALSE(fs::exists("unplugged"));
    EXPECT_FALSE(qv::test::Exists("intent.dat"));
}

TEST_F(RealFiles, FifosAreRefusedAtOnceInsteadOfWaitingForAWriter) {
    ASSERT_EQ(::mkfifo("test.dat", 0644), 0);
    ASSERT_EQ(::mkfifo("test.log", 0644), 0);
    ASSERT_EQ(::mkfifo("user.dat", 0644), 0);
    const int code = InChild([] {
        int wrong = 0;
        std::string out;
        for (const char* name : {"test.dat", "test.log", "user.dat"}) {
            if (qv::io::ReadFile(name, out) != qv::io::ReadStatus::Unreadable) wrong |= 1;
            if (qv::io::WriteFileAtomic(name, "x")) wrong |= 2;
            if (qv::io::AppendLine(name, "x")) wrong |= 4;
            if (qv::io::Resolve(name).kind != qv::io::Target::Kind::Fifo) wrong |= 8;
        }
        CRuleBook book;
        book.SetFileName("test.dat");
        if (book.LoadFile() || book.GetLoadStatus() != CRuleBook::LoadStatus::Unreadable)
            wrong |= 16;
        if (PointBalance("user.dat").Credit(9) != PointBalance::Status::Unreadable) wrong |= 32;
        SentenceLog::Contents contents;
        if (SentenceLog("test.log").Read(contents) != qv::io::ReadStatus::Unreadable) wrong |= 64;
        return wrong;
    });
    EXPECT_EQ(code, 0) << "-1: a call waited on the FIFO";
}

TEST_F(RealFiles, ARewriteKeepsOwnerGroupModeAndAcl) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand files to other users";
    // Root rewrites a file of another user: the file stays theirs.
    WriteBytes("user.dat", kBalance);
    ASSERT_EQ(::chown("user.dat", 4321, 4322), 0);
    ASSERT_EQ(::chmod("user.dat", 0640), 0);
    // An ACL granting user 1234 rw (version 2; USER_OBJ, USER, GROUP_OBJ, MASK, OTHER).
    struct Entry {
        std::uint16_t tag, perm;
        std::uint32_t id;
    };
    struct {
        std::uint32_t version = 2;
        Entry e[5] = {
            {0x01, 6, ~0u}, {0x02, 6, 1234}, {0x04, 4, ~0u}, {0x10, 6, ~0u}, {0x20, 0, ~0u}};
    } acl;
    const bool withAcl =
        ::setxattr("user.dat", "system.posix_acl_access", &acl, sizeof acl, 0) == 0;
    char before[256] = {}, after[256] = {};
    const ssize_t beforeSize =
        withAcl ? ::getxattr("user.dat", "system.posix_acl_access", before, sizeof before) : 0;
    struct stat old {};
    ::stat("user.dat", &old);

    ASSERT_EQ(PointBalance("user.dat").Credit(9), PointBalance::Status::Ok);
    struct stat now {};
    ASSERT_EQ(::stat("user.dat", &now), 0);
    EXPECT_EQ(now.st_uid, 4321u);
    EXPECT_EQ(now.st_gid, 4322u);
    EXPECT_EQ(now.st_mode & 07777, old.st_mode & 07777);
    if (withAcl) {
        const ssize_t afterSize =
            ::getxattr("user.dat", "system.posix_acl_access", after, sizeof after);
        ASSERT_EQ(afterSize, beforeSize) << "the ACL is kept";
        EXPECT_EQ(std::memcmp(before, after, static_cast<size_t>(afterSize)), 0);
    }

    // Another member of a shared group rewrites the log: it stays the first user's.
    fs::create_directory("shared");
    ::chmod("shared", 0777);
    ::chmod(Dir().c_str(), 0711);  // the other user may pass through the test's folder
    WriteBytes("shared/test.log", kRecord);
    ASSERT_EQ(::chown("shared/test.log", 4001, 5000), 0);
    ASSERT_EQ(::chmod("shared/test.log", 0664), 0);
    const int code = InChild([] {
        const gid_t groups[] = {5000};
        if (::setgroups(1, groups) != 0 || ::setgid(5001) != 0 || ::setuid(4002) != 0) return 2;
        SentenceLog log("shared/test.log");
        return log.Write(log.PlanMark("1700000000", true)) ? 0 : 1;
    });
    ASSERT_EQ(code, 0);
    ASSERT_EQ(::stat("shared/test.log", &now), 0);
    EXPECT_EQ(now.st_uid, 4001u);
    EXPECT_EQ(now.st_gid, 5000u);
    EXPECT_EQ(now.st_mode & 07777, 0664u);
    EXPECT_EQ(ReadBytes("shared/test.log"), "1700000000\t12\tX\t29\tA:12 \t1\t12\t0\t0\t0\t9\r\n");
    EXPECT_EQ(qv::test::ListDir(), "shared\nuser.dat\n");
    EXPECT_EQ(fs::directory_entry("shared").exists() &&
                  std::distance(fs::directory_iterator("shared"), fs::directory_iterator{}),
              1);
}

TEST_F(RealFiles, StartUpRemovesTheTemporaryFilesOfProcessesThatAreGone) {
    const std::string dead = std::to_string(DeadPid());
    const std::string self = std::to_string(::getpid());
    WriteBytes("test.dat", "x");
    WriteBytes("test.log", kRecord);
    WriteBytes("user.dat", kBalance);
    fs::create_directory("elsewhere");
    WriteBytes("elsewhere/real.log", kRecord);
    fs::remove("test.log");
    fs::create_symlink("elsewhere/real.log", "test.log");
    const std::string leftovers[] = {"user.dat.tmp-" + dead + "-0", "test.dat.tmp-" + dead + "-12",
                                     "elsewhere/real.log.tmp-" + dead + "-3",
                                     "test.log.tmp-" + dead + "-4"};
    const std::string kept[] = {"user.dat.tmp-" + self + "-1", "notes.txt.tmp-" + dead + "-1",
                                "user.dat.tmp-x-1", "user.dat.tmp-" + dead};
    for (const auto& name : leftovers) WriteBytes(name, std::string(1000, 'z'));
    for (const auto& name : kept) WriteBytes(name, "keep");
    // An in-place rewrite killed midway: the synced copy completes the file.
    fs::create_hard_link("user.dat", "elsewhere/user.dat");
    WriteBytes("user.dat.new-" + dead + "-5", "quorvel\t1\tuser\t29\t0\t0\r\n");
    { std::fstream("user.dat", std::ios::in | std::ios::out | std::ios::binary) << "QUORV"; }

    const StartRepair repair = RepairAtStart(DataFolder::DataOnly("test.log", "user.dat"));
    EXPECT_EQ(repair.leftoversRemoved, 4u);
    EXPECT_EQ(repair.copiesFinished, std::vector<std::string>{"user.dat"});
    for (const auto& name : leftovers) EXPECT_FALSE(qv::test::Exists(name)) << name;
    for (const auto& name : kept) EXPECT_TRUE(qv::test::Exists(name)) << name;
    EXPECT_FALSE(qv::test::Exists("user.dat.new-" + dead + "-5"));
    EXPECT_EQ(ReadBytes("elsewhere/user.dat"), "quorvel\t1\tuser\t29\t0\t0\r\n");
    EXPECT_TRUE(fs::equivalent("user.dat", "elsewhere/user.dat"));
}

// A hook on the core's reads: the first read of a rewrite lets another program in.
std::function<void()> gDuringRead;
ssize_t HookedRead(int fd, void* buf, size_t n) {
    if (auto hook = std::exchange(gDuringRead, nullptr)) hook();
    return qv::io::RealSysCalls().read(fd, buf, n);
}

TEST_F(RealFiles, TwoFoldersLinkedToOneLogNeverLoseAnAppend) {
    fs::create_directory("a");
    fs::create_directory("b");
    WriteBytes("a/test.log", kRecord);
    fs::create_symlink("../a/test.log", "b/test.log");
    WriteBytes("a/user.dat", kBalance);
    fs::create_hard_link("a/user.dat", "b/user.dat");
    qv::io::FileLock::SetWait(std::chrono::milliseconds(300));

    // While folder a rewrites its log, the program of folder b decides a verdict.
    int appended = -1;
    gDuringRead = [&] {
        appended = InChild([] {
            qv::io::SetSysCalls(nullptr);
            CInfo b;
            b.SetLogPath("b/test.log");
            b.SetBalancePath("b/user.dat");
            const Decision d = DecideVerdict(qv::test::SampleVerdict(0), b, 1700000999);
            return d.status == Decision::Status::Ok ? 0 : d.busy ? 1 : 2;
        });
    };
    qv::io::SysCalls hooked = qv::io::RealSysCalls();
    hooked.read = HookedRead;
    qv::io::SetSysCalls(&hooked);
    SentenceLog a("a/test.log");
    const bool wrote = a.Write(a.PlanMark("1700000000", true));
    qv::io::SetSysCalls(nullptr);
    ASSERT_TRUE(wrote);
    EXPECT_EQ(appended, 1) << "0: appended while a held the log; 2: failed otherwise";
    const std::string log = ReadBytes("a/test.log");
    if (appended == 0) {
        EXPECT_NE(log.find("1700000999"), std::string::npos) << "a reported decision was wiped";
    }

    // The balance through the hard link: busy while the other name's holder has it.
    qv::io::FileLock held;
    ASSERT_TRUE(held.Acquire("a/user.dat"));
    EXPECT_EQ(InChild([] { return static_cast<int>(PointBalance("b/user.dat").Credit(1)); }),
              static_cast<int>(PointBalance::Status::Busy));
    EXPECT_EQ(InChild([] {
                  return static_cast<int>(DeleteSentence(SentenceLog("b/test.log"),
                                                         PointBalance("b/user.dat"), "1700000000")
                                              .result);
              }),
              static_cast<int>(DeleteOutcome::Result::Busy));
    held.Release();
    // Free again: the other folder's append goes in.
    EXPECT_EQ(
        InChild([] { return SentenceLog("b/test.log").Append(Record("1700001000")) ? 0 : 1; }), 0);
    EXPECT_NE(ReadBytes("a/test.log").find("1700001000"), std::string::npos);
    EXPECT_EQ(qv::test::ListDir(), "a\nb\n") << "locking leaves no file";
    qv::io::FileLock::SetWait(std::chrono::milliseconds(2000));
}

TEST_F(RealFiles, ACreditPastTheLargestBalanceIsReportedNotDropped) {
    const std::string max = std::to_string(std::numeric_limits<std::int64_t>::max());
    for (const std::string& balance :
         {max, std::to_string(std::numeric_limits<std::int64_t>::max() - 5)}) {
        SCOPED_TRACE(balance);
        const std::string bytes = "quorvel\t1\tuser\t" + balance + "\t0\t0\r\n";
        WriteBytes("user.dat", bytes);
        EXPECT_EQ(PointBalance("user.dat").Credit(9), PointBalance::Status::Overflow);
        EXPECT_EQ(ReadBytes("user.dat"), bytes);
        const Decision d = DecideVerdict(qv::test::SampleVerdict(9), info_, 1700000000);
        EXPECT_EQ(d.status, Decision::Status::NotCredited);
        EXPECT_EQ(d.balance, PointBalance::Status::Overflow);
        EXPECT_EQ(ReadBytes("user.dat"), bytes);
    }
}

TEST_F(RealFiles, ALogPast2GiBIsReadWhole) {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    long long kb = 0;
    while (meminfo >> key >> kb && key != "MemAvailable:") meminfo.ignore(100, '\n');
    if (kb < 8LL * 1024 * 1024) GTEST_SKIP() << "needs 8 GiB of free memory";
    // A sparse log: 2 GiB of one unreadable line, then two records.
    const off_t hole = (off_t{1} << 31) + 7;
    {
        std::ofstream out("test.log", std::ios::binary);
        out << "x";
    }
    ASSERT_EQ(::truncate("test.log", hole), 0);
    { std::ofstream("test.log", std::ios::binary | std::ios::app) << "\r\n" << kRecord; }
    ASSERT_TRUE(SentenceLog("test.log").Append(Record("1700000001")));

    SentenceLog::Contents contents;
    ASSERT_EQ(SentenceLog("test.log").Read(contents), qv::io::ReadStatus::Ok);
    ASSERT_EQ(contents.RecordCount(), 2u);
    EXPECT_EQ(contents.Field(1, 0), "1700000001");
}

}  // namespace

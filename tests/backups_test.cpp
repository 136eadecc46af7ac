// Backups of the data files: a hard link of the version being replaced (a copy where
// links fail), rotation, listing and restoring, with the link, the copy and the removal
// failing on purpose.
#include "records/Backups.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>


#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "tests/support/FaultInjection.h"
#include "tests/support/TestFiles.h"
#include "text/FileIo.h"

namespace {

using qv::test::Exists;
using qv::test::ReadBytes;
using qv::test::WriteBytes;

class BackupFiles : public qv::test::InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    void TearDown() override {
        Backups::SetCalls(nullptr);
        InTempDir::TearDown();
    }
    qv::Seconds now_ = 1765341000;  // 2025-12-10 04:30:00 UTC
    Backups backups_{"backup", [this] { return now_; }};
};

// Where the folder keeps one journal per computer, two computers keep versions into one
// synced backup folder: each name carries its computer, and older names still read.
TEST_F(BackupFiles, VersionsCarryTheComputerWhereTheFolderKeepsJournals) {
    ::setenv("QUORVEL_DEVICE", "desk", 1);
    std::filesystem::create_directories("journal");
    WriteBytes("test.log", "old\r\n");
    EXPECT_EQ(backups_.Keep("test.log").name, "test.log.20251210-043000.s1.desk");
    const struct {
        const char* name;
        const char* file;
        std::int64_t sequence;
        const char* device;
    } kNames[] = {
        {"test.log.20251210-043000.s1.desk", "test.log", 1, "desk"},
        {"test.log.20251210-043000.s7", "test.log", 7, ""},
        {"test.log.20251210-043000.s2.lap-top_2", "test.log", 2, "lap-top_2"},
    };
    for (const auto& n : kNames) {
        Backups::Name parsed;
        ASSERT_TRUE(Backups::ParseName(n.name, parsed)) << n.name;
        EXPECT_EQ(parsed.file, n.file) << n.name;
        EXPECT_EQ(parsed.sequence, n.sequence) << n.name;
        EXPECT_EQ(parsed.device, n.device) << n.name;
    }
    Backups::Name parsed;
    EXPECT_FALSE(Backups::ParseName("test.log.20251210-043000.desk", parsed)) << "a device needs a sequence";
    ::unsetenv("QUORVEL_DEVICE");
}

TEST_F(BackupFiles, KeepsTheReplacedVersionAsALinkThatTheAtomicWriteLeavesAlone) {
    WriteBytes("test.log", "old\r\n");
    {
        const Backups::OnReplace keep(backups_, "test.log");
        ASSERT_TRUE(qv::io::WriteFileAtomic("test.log", "new\r\n"));
        ASSERT_TRUE(keep.Kept());
        EXPECT_EQ(keep.Result().name, "test.log.20251210-043000.s1");
        EXPECT_TRUE(keep.Result().linked) << "taken right before the rename";
    }
    EXPECT_EQ(ReadBytes("backup/test.log.20251210-043000.s1"), "old\r\n");
    // The link leaves the data file with one name, so the next save still renames over
    // it instead of rewriting the backup in place.
    ASSERT_TRUE(qv::io::WriteFileAtomic("test.log", "newer\r\n"));
    EXPECT_EQ(ReadBytes("backup/test.log.20251210-043000.s1"), "old\r\n");
    // A data file with a hard link of its own is rewritten in place: its backup is a copy.
    ASSERT_EQ(::link("test.log", "other-name"), 0);
    {
        const Backups::OnReplace keep(backups_, "test.log");
        ASSERT_TRUE(qv::io::WriteFileAtomic("test.log", "newest\r\n"));
        EXPECT_EQ(keep.Result().name, "test.log.20251210-043000.s2") << "its own name";
        EXPECT_FALSE(keep.Result().linked);
    }
    EXPECT_EQ(ReadBytes("backup/test.log.20251210-043000.s2"), "newer\r\n");
    EXPECT_EQ(ReadBytes("other-name"), "newest\r\n");
    // Keeping outside a replacement copies; nothing to keep yet; no folder, no backups.
    const Backups::Keeping now = backups_.Keep("test.log");
    EXPECT_EQ(now.name, "test.log.20251210-043000.s3");
    EXPECT_FALSE(now.linked);
    EXPECT_EQ(backups_.Keep("user.dat").name, "");
    EXPECT_EQ(Backups("").Keep("test.log").name, "") << "no folder: no backups";
}

TEST_F(BackupFiles, ALinkThatFailsIsACopyAndACopyThatFailsIsReported) {
    WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    static const Backups::Calls noLinks{[](int, const char*, int, const char*, int) {
                                            errno = EXDEV;
                                            return -1;
                                        },
                                        ::unlinkat,
                                        [](const char* p, mode_t m) { return ::mkdir(p, m); }};
    Backups::SetCalls(&noLinks);
    const Backups::Keeping copied = backups_.Keep("user.dat");
    EXPECT_EQ(copied.result, Backups::Result::Kept);
    EXPECT_FALSE(copied.linked);
    EXPECT_EQ(ReadBytes("backup/" + copied.name), "a\tb\tc\t10\te\tf");

    // Every call of the copy failing in turn: reported, and no stray file in the folder.
    now_ += 1;
    const int calls = qv::test::FaultInjection::CountCalls(
        [&] { return backups_.Keep("user.dat").result == Backups::Result::Kept; });
    std::filesystem::remove_all("backup");
    for (int failing = 1; failing <= calls; ++failing) {
        qv::test::FaultInjection inject(failing, ENOSPC);
        EXPECT_EQ(backups_.Keep("user.dat").result, Backups::Result::Failed) << failing;
        inject.Stop();
        EXPECT_FALSE(Exists("backup") && !std::filesystem::is_empty("backup")) << failing;
    }
    // No folder can be made.
    static const Backups::Calls noFolder{::linkat, ::unlinkat, [](const char*, mode_t) {
                                             errno = EROFS;
                                             return -1;
                                         }};
    Backups::SetCalls(&noFolder);
    std::filesystem::remove_all("backup");
    EXPECT_EQ(backups_.Keep("user.dat").result, Backups::Result::Failed);
    EXPECT_EQ(ReadBytes("user.dat"), "a\tb\tc\t10\te\tf");
}

TEST_F(BackupFiles, ALinkedDataFileIsKeptByWhatItPointsTo) {
    std::filesystem::create_directory("real");
    WriteBytes("real/test.dat", "book\r\n");
    std::filesystem::create_symlink("real/test.dat", "test.dat");
    const Backups::Keeping k = backups_.Keep("test.dat");
    ASSERT_EQ(k.result, Backups::Result::Kept);
    EXPECT_EQ(k.name, "test.dat.20251210-043000.s1");
    EXPECT_TRUE(
        std::filesystem::is_regular_file(std::filesystem::symlink_status("backup/" + k.name)));
    EXPECT_EQ(ReadBytes("backup/" + k.name), "book\r\n");
}

TEST_F(BackupFiles, RotationKeepsTwentyAndOneADayForThirtyDays) {
    std::filesystem::create_directory("backup");
    // Four versions a day for 40 days, the newest day first; and a file of someone else.
    std::vector<std::string> names;
    for (int day = 0; day < 40; ++day) {
        for (int hour : {1, 7, 13, 19}) {
            const qv::Seconds t = now_ - day * 86400 - (now_ % 86400) + hour * 3600;
            const std::time_t s = t;
            std::tm tm{};
            ::gmtime_r(&s, &tm);
            char stamp[32];
            std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
            names.push_back(std::string("test.log.") + stamp);
            WriteBytes("backup/" + names.back(), "x");
        }
    }
    WriteBytes("backup/notes.txt", "mine");
    WriteBytes("backup/test.log.keepme", "mine");
    ASSERT_TRUE(backups_.Rotate("test.log"));
    size_t kept = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        const bool exists = Exists("backup/" + names[i]);
        kept += exists;
        const size_t day = i / 4;
        if (i < 20) {
            EXPECT_TRUE(exists) << names[i] << ": among the last 20";
        }
        if (day >= 30) {
            EXPECT_FALSE(exists) << names[i];
        }
    }
    // The last 20 are five days of four; the 25 days after each keep their newest.
    EXPECT_EQ(kept, 20u + 25u);
    for (int day = 5; day < 30; ++day)
        EXPECT_TRUE(Exists("backup/" + names[static_cast<size_t>(day * 4 + 3)]))
            << "19:00 is the newest of day " << day;
    EXPECT_TRUE(Exists("backup/notes.txt"));
    EXPECT_TRUE(Exists("backup/test.log.keepme"));

    // A removal that fails leaves that version for the next rotation and says so.
    static const Backups::Calls noUnlink{::linkat,
                                         [](int, const char*, int) {
                                             errno = EACCES;
                                             return -1;
                                         },
                                         [](const char* p, mode_t m) { return ::mkdir(p, m); }};
    WriteBytes("backup/test.log.20200101-000000", "x");
    Backups::SetCalls(&noUnlink);
    EXPECT_FALSE(backups_.Rotate("test.log"));
    EXPECT_TRUE(Exists("backup/test.log.20200101-000000"));
    Backups::SetCalls(nullptr);
    EXPECT_TRUE(backups_.Rotate("test.log"));
    EXPECT_FALSE(Exists("backup/test.log.20200101-000000"));
}

TEST_F(BackupFiles, ListAndRestoreByteForByte) {
    const std::string book =
        "qvrule\t1\tid1\t0\tA\t10\tB\t5\tC\t7\tD\t10\r\n1\t1\t2\tX\tY\tZ\t30\t15\t12\t4\t3\t0\t0\t3"
        "\r\n";
    WriteBytes("test.dat", book);
    ASSERT_EQ(backups_.Keep("test.dat").result, Backups::Result::Kept);
    ASSERT_TRUE(
        qv::io::WriteFileAtomic("test.dat", "qvrule\t1\tid1\t0\tA\t10\tB\t5\tC\t7\tD\t10\r\n"));
    now_ += 60;
    WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    ASSERT_EQ(backups_.Keep("user.dat").result, Backups::Result::Kept);

    const auto list = backups_.List();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].file, "user.dat");
    EXPECT_EQ(list[0].records, 1);
    EXPECT_EQ(list[1].file, "test.dat");
    EXPECT_EQ(list[1].time, 1765341000);
    EXPECT_EQ(list[1].size, static_cast<std::int64_t>(book.size()));
    EXPECT_EQ(list[1].records, 1) << "the header is no record";

    now_ += 60;
    const std::string replaced = ReadBytes("test.dat");
    // Each failing call of the restore leaves the file as it was.
    const int calls = qv::test::FaultInjection::CountCalls(
        [&] { return backups_.Restore(list[1], "test.dat") == Backups::RestoreResult::Restored; });
    for (int failing = 1; failing <= calls; ++failing) {
        ASSERT_TRUE(qv::io::WriteFileAtomic("test.dat", replaced));
        now_ += 1;
        qv::test::FaultInjection inject(failing, EIO);
        EXPECT_NE(backups_.Restore(list[1], "test.dat"), Backups::RestoreResult::Restored);
        inject.Stop();
        EXPECT_EQ(ReadBytes("test.dat"), replaced) << failing;
    }
    ASSERT_EQ(backups_.Restore(list[1], "test.dat"), Backups::RestoreResult::Restored);
    EXPECT_EQ(ReadBytes("test.dat"), book);
    // The version it replaced was kept first.
    bool keptReplaced = false;
    for (const auto& v : backups_.List())
        if (v.file == "test.dat" && ReadBytes("backup/" + v.name) == replaced) keptReplaced = true;
    EXPECT_TRUE(keptReplaced);
}

// Before a version of the log is put back, the window says what it does to the sentences:
// those recorded since disappear, those deleted since return; a mark set since is no
// other sentence, and a damaged line or the log's unended tail is none.
TEST_F(BackupFiles, ComparingAVersionOfTheLogCountsTheSentencesLostAndBack) {
    const auto rec = [](const char* id, char mark) {
        return std::string(id) + "\t1\tX\t12\tA:1 \t" + mark + "\t1\t0\t0\t0\t2\r\n";
    };
    struct Case {
        const char* what;
        std::string version, present;
        std::int64_t lost, back;
    } cases[] = {
        {"two recorded since", rec("100", '0'), rec("100", '0') + rec("200", '0') + rec("300", '1'), 2, 0},
        {"one marked since", rec("100", '0') + rec("200", '0'), rec("100", '1') + rec("200", '0'), 0, 0},
        {"one deleted since, one recorded", rec("100", '0') + rec("200", '0'),
         rec("100", '0') + rec("300", '0'), 1, 1},
        {"the same sentence twice, once since", rec("100", '0'), rec("100", '0') + rec("100", '0'), 1, 0},
        {"damaged lines and a torn tail count for nothing", rec("100", '0'),
         rec("100", '0') + "junk\tline\r\n" + "300\t1\tX\t12\tA:1 \t0\t1\t0\t0\t0\t2", 0, 0},
        {"no log now: every sentence returns", rec("100", '0') + rec("200", '0'), "", 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all("backup");
        WriteBytes("test.log", c.version);
        ASSERT_EQ(backups_.Keep("test.log").result, Backups::Result::Kept);
        if (c.present.empty())
            std::remove("test.log");
        else
            ASSERT_TRUE(qv::io::WriteFileAtomic("test.log", c.present));
        const auto list = backups_.List();
        ASSERT_EQ(list.size(), 1u);
        const Backups::LogChange change = backups_.CompareLog(list[0], "test.log");
        EXPECT_TRUE(change.known);
        EXPECT_EQ(change.lost, c.lost);
        EXPECT_EQ(change.back, c.back);
    }
    std::filesystem::create_directory("folder.log");
    EXPECT_FALSE(backups_.CompareLog(backups_.List()[0], "folder.log").known) << "unreadable";
}

// The clock stepped back after twenty versions: the five made since are still the newest
// (listed first, none rotated away), whatever their names say; names from before
// sequences are older than every name with one.
TEST_F(BackupFiles, AClockSteppedBackNeitherHidesNorRotatesAwayTheNewestVersions) {
    WriteBytes("test.log", "v0\r\n");
    for (int i = 1; i <= 20; ++i) {
        now_ += 3600;
        ASSERT_EQ(backups_.Keep("test.log").result, Backups::Result::Kept);
        ASSERT_TRUE(qv::io::WriteFileAtomic("test.log", "v" + std::to_string(i) + "\r\n"));
    }
    // An old name from before sequences, with a stamp later than all of them.
    WriteBytes("backup/test.log.20260101-000000", "pre\r\n");
    now_ -= 5 * 86400;  // the clock goes back five days
    std::vector<std::string> fresh;
    for (int i = 21; i <= 25; ++i) {
        now_ += 60;
        const Backups::Keeping k = backups_.Keep("test.log");
        ASSERT_EQ(k.result, Backups::Result::Kept);
        fresh.push_back(k.name);
        ASSERT_TRUE(qv::io::WriteFileAtomic("test.log", "v" + std::to_string(i) + "\r\n"));
    }
    for (const std::string& name : fresh) EXPECT_TRUE(Exists("backup/" + name)) << name;
    const auto list = backups_.List();
    ASSERT_GE(list.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(list[i].name, fresh[4 - i]) << "newest first, by sequence";
        EXPECT_EQ(ReadBytes("backup/" + list[i].name), "v" + std::to_string(24 - i) + "\r\n");
    }
    EXPECT_EQ(list.back().name, "test.log.20260101-000000") << "an unsequenced name is older";
    for (size_t i = 1; i < list.size(); ++i) EXPECT_GT(list[i - 1].sequence, list[i].sequence);
}

// Entries named like versions that the program did not make: links (to a file outside the
// folder), a FIFO, a folder, another user's file. They are never listed, restored or
// removed, and what they point to is left alone.
TEST_F(BackupFiles, OnlyTheProgramsOwnRegularFilesAreVersions) {
    std::filesystem::create_directories("backup");
    std::filesystem::create_directories("outside");
    WriteBytes("outside/secret", "not a version\r\n");
    WriteBytes("test.log", "mine\r\n");
    struct Planted {
        const char* name;
        std::function<void(const std::string&)> make;
    };
    const std::vector<Planted> planted = {
        {"test.log.20200101-000000",  // a link to a file outside, with an old stamp
         [](const std::string& p) {
             std::filesystem::create_symlink(std::filesystem::absolute("outside/secret"), p);
         }},
        {"test.log.20200102-000000.s900",  // a relative link, with a high sequence
         [](const std::string& p) { std::filesystem::create_symlink("../outside/secret", p); }},
        {"test.log.20200103-000000", [](const std::string& p) { ::mkfifo(p.c_str(), 0600); }},
        {"test.log.20200104-000000",
         [](const std::string& p) { std::filesystem::create_directory(p); }},
        {"test.log.20200105-000000",  // another user's file
         [](const std::string& p) {
             WriteBytes(p, "theirs\r\n");
             ASSERT_EQ(::chown(p.c_str(), 4321, 4321), 0);
         }},
    };
    for (const Planted& p : planted) p.make("backup/" + std::string(p.name));
    // Enough versions of the program's own that rotation removes the oldest.
    for (int i = 0; i < 25; ++i) {
        now_ += 86400 * 2;
        ASSERT_EQ(backups_.Keep("test.log").result, Backups::Result::Kept);
    }
    const std::string last = backups_.Keep("test.log").name;
    EXPECT_TRUE(last.ends_with(".s26")) << last << ": a planted sequence does not push the count";
    ASSERT_TRUE(backups_.Rotate("test.log"));
    const auto list = backups_.List();
    EXPECT_GE(list.size(), 20u);
    for (const auto& v : list) {
        EXPECT_NE(v.name.find(".s"), std::string::npos) << v.name;
        EXPECT_EQ(ReadBytes("backup/" + v.name), "mine\r\n");
    }
    for (const Planted& p : planted) {
        SCOPED_TRACE(p.name);
        const std::string path = "backup/" + std::string(p.name);
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(path)))
            << "never removed";
        Backups::Version forged{"test.log", p.name, 0, 0, 0, 0};
        EXPECT_EQ(backups_.Restore(forged, "test.log"), Backups::RestoreResult::NotAVersion);
        EXPECT_EQ(ReadBytes("test.log"), "mine\r\n");
    }
    EXPECT_EQ(ReadBytes("outside/secret"), "not a version\r\n");
}

// A backup folder that is itself a link is not used: nothing is kept in, listed from,
// rotated in or restored from where it leads, and the caller learns why.
TEST_F(BackupFiles, ABackupFolderThatIsALinkIsRefused) {
    std::filesystem::create_directories("outside");
    std::vector<std::string> theirs;
    for (int day = 1; day <= 25; ++day) {
        char name[64];
        std::snprintf(name, sizeof name, "test.log.201901%02d-000000", day);
        theirs.push_back(name);
        WriteBytes("outside/" + theirs.back(), "someone's file\r\n");
    }
    std::filesystem::create_symlink("outside", "backup");
    WriteBytes("test.log", "mine\r\n");

    EXPECT_EQ(backups_.State(), Backups::FolderState::Link);
    const Backups::Keeping k = backups_.Keep("test.log");
    EXPECT_EQ(k.result, Backups::Result::Failed);
    EXPECT_EQ(k.problem, Backups::Problem::FolderIsLink);
    {
        const Backups::OnReplace keep(backups_, "test.log");
        ASSERT_TRUE(qv::io::WriteFileAtomic("test.log", "new\r\n")) << "the save goes on";
        EXPECT_FALSE(keep.Kept());
        EXPECT_EQ(keep.Result().problem, Backups::Problem::FolderIsLink);
    }
    EXPECT_FALSE(backups_.Rotate("test.log"));
    EXPECT_TRUE(backups_.List().empty());
    const Backups::Version v{"test.log", theirs[0], 0, 0, 0, 0};
    EXPECT_EQ(backups_.Restore(v, "test.log"), Backups::RestoreResult::FolderIsLink);
    EXPECT_EQ(ReadBytes("test.log"), "new\r\n");
    for (const std::string& name : theirs) EXPECT_TRUE(Exists("outside/" + name)) << name;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("outside"),
                            std::filesystem::directory_iterator()),
              25);
}

// In a folder shared by a group, the backup folder and the copies take the data file's
// group and a mode made from its mode (the folder searchable where it is readable), not
// the umask of whoever made them.
TEST_F(BackupFiles, NewBackupsTakeTheGroupAndModeOfTheFileTheyKeep) {
    constexpr gid_t kGroup = 4242;  // a group that is not root's
    struct Case {
        mode_t file;
        mode_t folder;
    };
    for (const Case c : {Case{0660, 0770}, Case{0640, 0750}, Case{0664, 0775}}) {
        SCOPED_TRACE(c.file);
        std::filesystem::remove_all("backup");
        WriteBytes("test.log", "shared\r\n");
        ASSERT_EQ(::chown("test.log", static_cast<uid_t>(-1), kGroup), 0);
        ASSERT_EQ(::chmod("test.log", c.file), 0);
        const mode_t umask = ::umask(077);
        const Backups::Keeping copy = backups_.Keep("test.log");
        Backups::Keeping link;
        {
            const Backups::OnReplace keep(backups_, "test.log");
            EXPECT_TRUE(qv::io::WriteFileAtomic("test.log", "next\r\n"));
            link = keep.Result();
        }
        ::umask(umask);
        ASSERT_EQ(copy.result, Backups::Result::Kept);
        ASSERT_TRUE(link.linked);
        struct stat st {};
        ASSERT_EQ(::lstat("backup", &st), 0);
        EXPECT_EQ(st.st_gid, kGroup);
        EXPECT_EQ(st.st_mode & 07777, c.folder);
        for (const std::string& name : {copy.name, link.name}) {
            ASSERT_EQ(::lstat(("backup/" + name).c_str(), &st), 0);
            EXPECT_EQ(st.st_gid, kGroup) << name;
            EXPECT_EQ(st.st_mode & 07777, c.file) << name;
        }
        ASSERT_EQ(::lstat("test.log", &st), 0);
        EXPECT_EQ(st.st_gid, kGroup) << "the data file keeps its group";
    }
}

// Beyond the budget the oldest versions go first, over every file, but the newest three
// of each file always stay.
TEST_F(BackupFiles, TheFolderStaysWithinItsBudgetKeepingTheNewestThreeOfEachFile) {
    const std::string log(4000, 'l');
    WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    struct Case {
        std::int64_t budget;
        size_t logVersions;  // what is left of 12
        size_t balanceVersions;
    };
    for (const Case c : {Case{0, 12, 12},          // the default: 100 MB at least
                         Case{20'000, 4, 4},       // oldest first, whichever the file
                         Case{1, 3, 3}}) {         // the newest three whatever the budget
        SCOPED_TRACE(c.budget);
        std::filesystem::remove_all("backup");
        Backups backups("backup", [this] { return now_; });
        backups.SetBudget(c.budget);
        for (int i = 0; i < 12; ++i) {
            now_ += 60;
            WriteBytes("test.log", log + std::to_string(i));
            ASSERT_EQ(backups.Keep("user.dat").result, Backups::Result::Kept);
            ASSERT_EQ(backups.Keep("test.log").result, Backups::Result::Kept);
        }
        size_t logs = 0, balances = 0;
        std::int64_t total = 0;
        const auto list = backups.List();
        for (const auto& v : list) {
            (v.file == "test.log" ? logs : balances)++;
            total += v.size;
        }
        EXPECT_EQ(logs, c.logVersions);
        EXPECT_EQ(balances, c.balanceVersions);
        if (c.budget > 1) {
            EXPECT_LE(total, c.budget);
        }
        ASSERT_FALSE(list.empty());
        EXPECT_EQ(ReadBytes("backup/" + list[0].name), log + "11") << "the newest stays";
    }
}

// A real 12 MiB disk and a 1 MiB log: versions fill it, then every later replacement
// still goes through because the oldest versions make room; the newest three stay. When
// nothing may go, the failure says the disk is full.
TEST_F(BackupFiles, ADiskFilledByBackupsMakesRoomForTheNextWrite) {
    const qv::test::SmallDisk disk("small", "size=12m");
    if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    Backups backups("small/backup", [this] { return now_; });
    std::string bytes(1 << 20, 'x');
    WriteBytes("small/test.log", bytes);
    for (int i = 0; i < 30; ++i) {
        SCOPED_TRACE(i);
        now_ += 60;
        bytes[static_cast<size_t>(i)] = 'y';
        const Backups::OnReplace keep(backups, "small/test.log");
        qv::io::IoError error;
        ASSERT_TRUE(qv::io::WriteFileAtomic("small/test.log", bytes, &error))
            << "errno " << error.err;
        EXPECT_TRUE(keep.Kept());
    }
    EXPECT_EQ(ReadBytes("small/test.log"), bytes);
    const auto list = backups.List();
    EXPECT_GE(list.size(), Backups::kKeepAlways);
    bytes[29] = 'x';
    EXPECT_EQ(ReadBytes("small/backup/" + list[0].name), bytes) << "the newest version";

    // Only the newest three left, and a file of someone else fills the rest: the write
    // fails, and says it is the space.
    ASSERT_TRUE(backups.MakeRoom(std::int64_t{1} << 40) || list.size() == Backups::kKeepAlways);
    EXPECT_EQ(backups.List().size(), Backups::kKeepAlways);
    {
        std::FILE* filler = std::fopen("small/filler", "wb");
        ASSERT_NE(filler, nullptr);
        const std::string chunk(1 << 16, 'z');
        while (std::fwrite(chunk.data(), 1, chunk.size(), filler) == chunk.size()) {
        }
        std::fclose(filler);
    }
    qv::io::IoError error;
    EXPECT_FALSE(backups.WithRoom(
        1 << 21, [&](qv::io::IoError* e) { return qv::io::WriteFileAtomic("small/test.log", "n", e); },
        &error));
    EXPECT_TRUE(Backups::IsNoSpace(error.err)) << error.err;
    EXPECT_EQ(backups.List().size(), Backups::kKeepAlways) << "the newest three stay";
    // Room once the filler goes; WithRoom makes it from the versions when it can.
    std::filesystem::resize_file("small/filler", 0);
    EXPECT_TRUE(backups.WithRoom(
        1 << 21, [&](qv::io::IoError* e) { return qv::io::WriteFileAtomic("small/test.log", "n", e); }));
}

// The copies kept before writes in place, one a day, on a real 12 MiB disk: once they
// fill it, the oldest make room for the next, and the rotation after each copy still
// finds what it may remove (the versions listed before the room was made are gone).
TEST_F(BackupFiles, CopiesKeptBeforeWritesInPlaceMakeRoomOnAFullDisk) {
    const qv::test::SmallDisk disk("small", "size=12m");
    if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    Backups backups("small/backup", [this] { return now_; });
    backups.SetBudget(std::int64_t{6} << 20);  // rotation removes versions too
    WriteBytes("small/filler", std::string(std::size_t{5} << 20, 'z'));
    std::string bytes(1 << 20, 'x');
    for (int day = 0; day < 20; ++day) {
        SCOPED_TRACE(day);
        now_ += 86400;
        bytes[static_cast<size_t>(day)] = 'y';
        WriteBytes("small/test.log", bytes);
        const Backups::Keeping kept = backups.KeepBeforeInPlace("small/test.log");
        ASSERT_EQ(kept.result, Backups::Result::Kept) << "errno " << kept.error.err;
        EXPECT_FALSE(kept.linked);
        EXPECT_TRUE(kept.rotated);
        EXPECT_EQ(ReadBytes("small/backup/" + kept.name), bytes);
    }
    EXPECT_GE(backups.List().size(), Backups::kKeepAlways);
}

}  // namespace

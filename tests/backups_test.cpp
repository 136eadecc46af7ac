// Backups of the data files: a hard link of the version being replaced (a copy where
// links fail), rotation, listing and restoring, with the link, the copy and the removal
// failing on purpose.
#include "records/Backups.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

TEST_F(BackupFiles, KeepsTheReplacedVersionAsALinkThatTheAtomicWriteLeavesAlone) {
    WriteBytes("test.log", "old\r\n");
    {
        const Backups::OnReplace keep(backups_, "test.log");
        ASSERT_TRUE(qv::io::WriteFileAtomic("test.log", "new\r\n"));
        ASSERT_TRUE(keep.Kept());
        EXPECT_EQ(keep.Result().name, "test.log.20251210-043000");
        EXPECT_TRUE(keep.Result().linked) << "taken right before the rename";
    }
    EXPECT_EQ(ReadBytes("backup/test.log.20251210-043000"), "old\r\n");
    // The link leaves the data file with one name, so the next save still renames over
    // it instead of rewriting the backup in place.
    ASSERT_TRUE(qv::io::WriteFileAtomic("test.log", "newer\r\n"));
    EXPECT_EQ(ReadBytes("backup/test.log.20251210-043000"), "old\r\n");
    // A data file with a hard link of its own is rewritten in place: its backup is a copy.
    ASSERT_EQ(::link("test.log", "other-name"), 0);
    {
        const Backups::OnReplace keep(backups_, "test.log");
        ASSERT_TRUE(qv::io::WriteFileAtomic("test.log", "newest\r\n"));
        EXPECT_EQ(keep.Result().name, "test.log.20251210-043000-2") << "its own name";
        EXPECT_FALSE(keep.Result().linked);
    }
    EXPECT_EQ(ReadBytes("backup/test.log.20251210-043000-2"), "newer\r\n");
    EXPECT_EQ(ReadBytes("other-name"), "newest\r\n");
    // Keeping outside a replacement copies; nothing to keep yet; no folder, no backups.
    const Backups::Keeping now = backups_.Keep("test.log");
    EXPECT_EQ(now.name, "test.log.20251210-043000-3");
    EXPECT_FALSE(now.linked);
    EXPECT_EQ(backups_.Keep("user.dat").name, "");
    EXPECT_EQ(Backups("").Keep("test.log").name, "") << "no folder: no backups";
}

TEST_F(BackupFiles, ALinkThatFailsIsACopyAndACopyThatFailsIsReported) {
    WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    static const Backups::Calls noLinks{[](const char*, const char*) {
                                            errno = EXDEV;
                                            return -1;
                                        },
                                        ::unlink,
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
    static const Backups::Calls noFolder{::link, ::unlink, [](const char*, mode_t) {
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
    EXPECT_EQ(k.name, "test.dat.20251210-043000");
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
    static const Backups::Calls noUnlink{::link,
                                         [](const char*) {
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

}  // namespace

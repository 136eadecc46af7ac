#include "text/FileIo.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "tests/support/TestFiles.h"
#include "tests/support/FaultInjection.h"
#include "text/FileIo.h"

namespace {

using qv::test::InTempDir;
using qv::test::ReadBytes;
using qv::test::WriteBytes;

class FileIo : public InTempDir {};

TEST_F(FileIo, FolderLockAdmitsOneHolder) {
    const std::string before = qv::test::ListDir();
    {
        qv::io::FolderLock first;
        ASSERT_TRUE(first.Acquire("."));
        qv::io::FolderLock second;
        EXPECT_FALSE(second.Acquire(".")) << "a second holder is refused";
        EXPECT_EQ(qv::test::ListDir(), before) << "locking creates no file";
    }
    qv::io::FolderLock after;
    EXPECT_TRUE(after.Acquire(".")) << "released with its holder";
    qv::io::FolderLock missing;
    EXPECT_FALSE(missing.Acquire("no-such-folder"));
}

// A folder that cannot be opened must not be reported as "another copy is running".
TEST_F(FileIo, FolderLockTellsAHeldLockFromAFailedOpen) {
    using Result = qv::io::FolderLock::Result;
    WriteBytes("plain-file", "x");
    std::filesystem::create_directory("held");
    qv::io::FolderLock holder;
    ASSERT_EQ(holder.TryAcquire("held"), Result::Acquired);
    EXPECT_EQ(holder.WriteError(), 0);
    const struct {
        const char* folder;
        Result result;
        int error;
    } cases[] = {
        {"held", Result::Held, 0},
        {"no-such-folder", Result::Failed, ENOENT},
        {"plain-file", Result::Failed, ENOTDIR},
    };
    for (const auto& c : cases) {
        qv::io::FolderLock lock;
        EXPECT_EQ(lock.TryAcquire(c.folder), c.result) << c.folder;
        EXPECT_EQ(lock.Error(), c.error) << c.folder;
        EXPECT_NE(lock.WriteError(), 0) << c.folder << ": nothing held, nothing to write";
    }
}

// A folder on a read-only file system is found when the lock is taken, not at the first save.
TEST_F(FileIo, FolderLockSeesAReadOnlyFolder) {
    std::filesystem::create_directory("ro");
    if (::mount("tmpfs", "ro", "tmpfs", MS_RDONLY, "size=64k") != 0)
        GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    {
        qv::io::FolderLock lock;
        ASSERT_EQ(lock.TryAcquire("ro"), qv::io::FolderLock::Result::Acquired);
        EXPECT_EQ(lock.WriteError(), EROFS);
    }
    ::umount("ro");
}

TEST_F(FileIo, AppendStartsANewLineAfterADamagedLastLine) {
    WriteBytes("log", "a\r\npartial");
    ASSERT_TRUE(qv::io::AppendLine("log", "b\r\n"));
    EXPECT_EQ(ReadBytes("log"), "a\r\npartial\r\nb\r\n");
    ASSERT_TRUE(qv::io::AppendLine("new", "c\r\n"));
    EXPECT_EQ(ReadBytes("new"), "c\r\n");
}

// Tests run as root, whose open ignores the mode: the read bits decide, so a file the
// user made unreadable reads as unreadable for everyone.
TEST_F(FileIo, ReadRefusesFoldersAndFilesWithoutAnyReadBit) {
    struct Case {
        mode_t mode;
        qv::io::ReadStatus expected;
    } cases[] = {
        {0644, qv::io::ReadStatus::Ok},         {0400, qv::io::ReadStatus::Ok},
        {0004, qv::io::ReadStatus::Ok},         {0200, qv::io::ReadStatus::Unreadable},
        {0000, qv::io::ReadStatus::Unreadable},
    };
    for (const Case& c : cases) {
        WriteBytes("f", "abc");
        ASSERT_EQ(::chmod("f", c.mode), 0);
        std::string out = "untouched";
        EXPECT_EQ(qv::io::ReadFile("f", out, 100), c.expected) << std::oct << c.mode;
        EXPECT_EQ(out, c.expected == qv::io::ReadStatus::Ok ? "abc" : "untouched");
        ::chmod("f", 0644);
    }
    std::filesystem::create_directory("d");
    std::string out;
    EXPECT_EQ(qv::io::ReadFile("d", out, 100), qv::io::ReadStatus::Unreadable);
    EXPECT_EQ(qv::io::ReadFile("none", out, 100), qv::io::ReadStatus::Missing);
    ASSERT_EQ(::mkfifo("fifo", 0644), 0);
    EXPECT_EQ(qv::io::ReadFile("fifo", out, 100), qv::io::ReadStatus::Unreadable)
        << "refused without waiting for a writer";
}

}  // namespace

namespace {

// A failed call names what was attempted, the errno and the path, so the window can say
// why; a real refusal and injected faults alike.
TEST_F(FileIo, FailuresCarryTheCallTheErrorAndThePath) {
    using Op = qv::io::IoError::Op;
    std::filesystem::create_directory("d");
    WriteBytes("f", "abc");
    WriteBytes("ro", "abc");
    ::chmod("ro", 0444);
    struct Case {
        const char* what;
        int failingCall;  // 0: no injected fault
        int error;
        std::function<bool(qv::io::IoError*)> run;  // true when the call succeeded
        Op op;
        int err;
        std::string pathStart;
    } cases[] = {
        {"read a folder", 0, 0,
         [](qv::io::IoError* e) {
             std::string out;
             return qv::io::ReadFile("d", out, 100, e) == qv::io::ReadStatus::Ok;
         },
         Op::Check, EISDIR, "d"},
        {"read fails", 2, EIO,
         [](qv::io::IoError* e) {
             std::string out;
             return qv::io::ReadFile("f", out, 100, e) == qv::io::ReadStatus::Ok;
         },
         Op::Read, EIO, "f"},
        {"replace a read-only file", 0, 0,
         [](qv::io::IoError* e) { return qv::io::WriteFileAtomic("ro", "x", e); }, Op::Check,
         EACCES, "ro"},
        {"disk full while writing", 2, ENOSPC,
         [](qv::io::IoError* e) { return qv::io::WriteFileAtomic("f", "x", e); }, Op::Write,
         ENOSPC, "f.tmp-"},
        {"rename refused", 5, EACCES,
         [](qv::io::IoError* e) { return qv::io::WriteFileAtomic("f", "x", e); }, Op::Rename,
         EACCES, "f"},
        {"append not synced", 3, EIO,
         [](qv::io::IoError* e) { return qv::io::AppendLine("f", "x\r\n", e); }, Op::Sync, EIO,
         "f"},
    };
    for (const Case& c : cases) {
        qv::io::IoError error;
        bool ok = true;
        if (c.failingCall > 0) {
            qv::test::FaultInjection inject(c.failingCall, c.error);
            ok = c.run(&error);
        } else {
            ok = c.run(&error);
        }
        EXPECT_FALSE(ok) << c.what;
        EXPECT_EQ(error.op, c.op) << c.what;
        EXPECT_EQ(error.err, c.err) << c.what;
        EXPECT_EQ(error.path.rfind(c.pathStart, 0), 0u) << c.what << ": " << error.path;
        EXPECT_EQ(ReadBytes("f"), "abc") << c.what;
    }
}

}  // namespace

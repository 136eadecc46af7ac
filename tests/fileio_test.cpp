#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/TestFiles.h"
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

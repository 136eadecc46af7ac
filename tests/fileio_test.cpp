#include <gtest/gtest.h>

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

}  // namespace

#include "records/Reasons.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "records/DataFolder.h"
#include "tests/support/TestFiles.h"

namespace {

using qv::io::ReadStatus;
using qv::test::ReadBytes;
using qv::test::Sjis;
using qv::test::WriteBytes;

class ReasonsTest : public qv::test::InTempDir {};

// The worked example's verdict text.
std::string Example() {
    return Sjis(
        "A:12\r\nB:18\r\nポイント:9\r\n\r\n判決理由\r\n\r\n"
        "12条の基準は30ポイントであり、情状酌量の余地が多分にある。\r\n"
        "また、過去10日間に3回の同条文の適用があり、その合計量刑は45ポイントである。\r\n"
        "以上のことから、本件における量刑を29ポイントと決定し、規定に基づき配分した。");
}

TEST_F(ReasonsTest, AnEntryIsOneLineOfTheTextsLinesJoinedByTabs) {
    const SentenceReasons reasons("test.rsn");
    ASSERT_EQ(reasons.Append("1700000000", Example()), SentenceReasons::Status::Ok);
    EXPECT_EQ(ReadBytes("test.rsn"),
              Sjis("1700000000\tA:12\tB:18\tポイント:9\t\t判決理由\t\t"
                   "12条の基準は30ポイントであり、情状酌量の余地が多分にある。\t"
                   "また、過去10日間に3回の同条文の適用があり、その合計量刑は45ポイントである。\t"
                   "以上のことから、本件における量刑を29ポイントと決定し、規定に基づき配分した。"
                   "\r\n"));
}

// Whatever the text holds, a fresh reader (as after a restart) gets it back byte for byte.
TEST_F(ReasonsTest, TextsReadBackByteForByte) {
    const std::vector<std::string> texts = {
        Example(),
        "",
        "no line end",
        "\r\n\r\nends and starts empty\r\n",
        Sjis("表ソ能: trail bytes 0x5C"),  // CP932 second bytes that look like '\'
        "a lone CR\rinside",
        "a lone CR at the end\r",
        "CR before CR LF\r\r\n",
    };
    {
        const SentenceReasons reasons("test.rsn");
        for (size_t i = 0; i < texts.size(); ++i)
            ASSERT_EQ(reasons.Append(std::to_string(1000 + i), texts[i]),
                      SentenceReasons::Status::Ok)
                << i;
    }
    const SentenceReasons again("test.rsn");
    std::vector<SentenceReasons::Entry> all;
    ASSERT_EQ(again.ReadAll(all), ReadStatus::Ok);
    ASSERT_EQ(all.size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(all[i].id, std::to_string(1000 + i));
        EXPECT_EQ(all[i].text, texts[i]) << i;
        std::vector<std::string> found;
        ASSERT_EQ(again.Find(std::to_string(1000 + i), found), ReadStatus::Ok);
        EXPECT_EQ(found, std::vector<std::string>{texts[i]}) << i;
    }
}

TEST_F(ReasonsTest, ATextThatWouldNotReadBackIsRefusedAndNothingWritten) {
    WriteBytes("test.rsn", "1\tx\r\n");
    const SentenceReasons reasons("test.rsn");
    EXPECT_EQ(reasons.Append("2", "a\tb"), SentenceReasons::Status::Unkeepable);
    EXPECT_EQ(reasons.Append("2", "bare\nLF"), SentenceReasons::Status::Unkeepable);
    EXPECT_EQ(reasons.Append("2\t3", "x"), SentenceReasons::Status::Unkeepable);
    EXPECT_EQ(ReadBytes("test.rsn"), "1\tx\r\n");
}

TEST_F(ReasonsTest, SharedIdentifiersDamagedLinesAndAMissingFile) {
    std::vector<std::string> found{"stale"};
    EXPECT_EQ(SentenceReasons("test.rsn").Find("1", found), ReadStatus::Missing);
    EXPECT_TRUE(found.empty());

    // A line without a TAB and a last line without its line end are no entries; the next
    // append ends that line first, so the new entry is whole.
    WriteBytes("test.rsn", "1\tfirst\r\nno tab\r\n2\tother\n1\thalf");
    const SentenceReasons reasons("test.rsn");
    ASSERT_EQ(reasons.Append("1", "second"), SentenceReasons::Status::Ok);
    EXPECT_EQ(ReadBytes("test.rsn"), "1\tfirst\r\nno tab\r\n2\tother\n1\thalf\r\n1\tsecond\r\n");
    ASSERT_EQ(reasons.Find("1", found), ReadStatus::Ok);
    EXPECT_EQ(found, (std::vector<std::string>{"first", "half", "second"}))
        << "two sentences decided within one second share an identifier";
    ASSERT_EQ(reasons.Find("2", found), ReadStatus::Ok);
    EXPECT_EQ(found, std::vector<std::string>{"other"}) << "a bare LF ends a line too";
    ASSERT_EQ(reasons.Find("3", found), ReadStatus::Ok);
    EXPECT_TRUE(found.empty());
}

TEST_F(ReasonsTest, BesideTheLog) {
    EXPECT_EQ(DataFolder::DataOnly("test.log", "user.dat").ReasonsPath(), "test.rsn");
    EXPECT_EQ(DataFolder::DataOnly("dir/a.b.log", "user.dat").ReasonsPath(), "dir/a.b.rsn");
    EXPECT_EQ(DataFolder::DataOnly("journal", "user.dat").ReasonsPath(), "journal.rsn");
    EXPECT_EQ(DataFolder::DataOnly(".log", "user.dat").ReasonsPath(), ".log.rsn");
}

TEST_F(ReasonsTest, FilesThatMayNotBeWrittenAreLeftAsTheyWere) {
    // A read-only file, and a FIFO (which is never opened, so nothing blocks).
    WriteBytes("ro.rsn", "1\tx\r\n");
    ::chmod("ro.rsn", 0444);
    EXPECT_EQ(SentenceReasons("ro.rsn").Append("2", "y"), SentenceReasons::Status::WriteFailed);
    EXPECT_EQ(ReadBytes("ro.rsn"), "1\tx\r\n");
    ASSERT_EQ(::mkfifo("fifo.rsn", 0644), 0);
    EXPECT_EQ(SentenceReasons("fifo.rsn").Append("2", "y"), SentenceReasons::Status::WriteFailed);
    std::vector<std::string> found;
    EXPECT_EQ(SentenceReasons("fifo.rsn").Find("2", found), ReadStatus::Unreadable);

    // A read-only folder: no file can be created in it.
    std::filesystem::create_directory("ro");
    ::chmod("ro", 0555);
    if (::geteuid() != 0) {
        EXPECT_EQ(SentenceReasons("ro/test.rsn").Append("2", "y"),
                  SentenceReasons::Status::WriteFailed);
        EXPECT_FALSE(qv::test::Exists("ro/test.rsn"));
    }

    // Links stay links; the entry reaches the file they point to.
    WriteBytes("real.rsn", "1\tx\r\n");
    std::filesystem::create_symlink("real.rsn", "sym.rsn");
    std::filesystem::create_hard_link("real.rsn", "hard.rsn");
    EXPECT_EQ(SentenceReasons("sym.rsn").Append("2", "y"), SentenceReasons::Status::Ok);
    EXPECT_EQ(SentenceReasons("hard.rsn").Append("3", "z"), SentenceReasons::Status::Ok);
    EXPECT_TRUE(std::filesystem::is_symlink("sym.rsn"));
    EXPECT_EQ(ReadBytes("real.rsn"), "1\tx\r\n2\ty\r\n3\tz\r\n");
    EXPECT_EQ(ReadBytes("hard.rsn"), ReadBytes("real.rsn"));
}

// A disk that fills up: the entry that does not fit is taken back whole.
TEST_F(ReasonsTest, AFullDiskLeavesNoHalfEntry) {
    const qv::test::SmallDisk disk("small", "size=16k");
    if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    const SentenceReasons reasons("small/test.rsn");
    ASSERT_EQ(reasons.Append("1", Example()), SentenceReasons::Status::Ok);
    const std::string before = ReadBytes("small/test.rsn");
    const std::string big(64 * 1024, 'x');
    EXPECT_EQ(reasons.Append("2", big), SentenceReasons::Status::WriteFailed);
    EXPECT_EQ(ReadBytes("small/test.rsn"), before);
    std::vector<std::string> found;
    ASSERT_EQ(reasons.Find("1", found), ReadStatus::Ok);
    EXPECT_EQ(found, std::vector<std::string>{Example()});
}

}  // namespace

// The backups as the user meets them: 執行 on a small disk that the versions fill, the
// words when the disk is full, and a backup folder that is a link.
#include <sys/mount.h>

#include <QAction>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <cstdio>
#include <filesystem>

#include "execution/LogListForm.h"
#include "records/Backups.h"
#include "rulebook/RuleBook.h"
#include "tests/gui/GuiTest.h"
#include "records/DataFolder.h"

namespace {

using qv::test::Child;
using qv::test::ReadBytes;
using qv::test::WriteBytes;
using qv::ui::MessageBox;

class BackupsWindow : public qv::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        std::filesystem::create_directory("data");
        UseFolder();
    }
    // The rule book and the paths, in data/.
    void UseFolder() {
        WriteBytes("data/test.dat",
                   "qvrule\t1\tid1\t0\tA\t10\tB\t5\tC\t7\tD\t10\r\n"
                   "1\t1\t2\tX\tY\tZ\t30\t15\t12\t4\t3\t0\t0\t3\r\n");
        book_.SetFileName("data/test.dat");
        EXPECT_TRUE(book_.LoadFile());
        info_.SetRuleBook(&book_);
        AttachFolder(info_, DataFolder("data"));
    }
    void TearDown() override {
        if (mounted_) ::umount2("data", MNT_DETACH);
        GuiTest::TearDown();
    }
    std::unique_ptr<TLogList> Open() {
        auto window = std::make_unique<TLogList>();
        window->Init(&info_);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        return window;
    }
    CRuleBook book_;
    CInfo info_;
    bool mounted_ = false;
};

// A 12 MiB disk and a log of about 1 MiB: every 執行 keeps the version it replaces, and
// after the versions have filled the disk the oldest of them make room, so 執行 keeps
// working. When the disk is full of something else, the message says so.
TEST_F(BackupsWindow, ExecuteKeepsWorkingOnADiskTheBackupsFilledAndSaysWhenItIsFull) {
    std::filesystem::remove_all("data");
    std::filesystem::create_directory("data");
    if (::mount("tmpfs", "data", "tmpfs", 0, "size=12m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    mounted_ = true;
    UseFolder();  // the files again, on the small disk
    std::string log;
    for (int i = 0; log.size() < (1u << 20); ++i)
        log += std::to_string(1700000000 + i * 100) + "\t1\tX\t30\tA:3 \t0\t3\t0\t0\t0\t9\r\n";
    WriteBytes("data/test.log", log);
    WriteBytes("data/user.dat", "a\tb\tc\t20\te\tf");
    // Versions of the log fill most of the disk (a mark writes its byte in place and keeps
    // at most one copy of the log a day, so the marks themselves no longer fill it).
    for (int i = 0; i < 9; ++i) Backups("data/backup").Keep("data/test.log");
    const size_t kept = Backups("data/backup").List().size();
    ASSERT_GE(kept, Backups::kKeepAlways);
    auto w = Open();
    ShownTexts();
    auto* list = Child<QTableView>(w.get(), "sgList");
    for (int i = 0; i < 24; ++i) {
        SCOPED_TRACE(i);
        list->selectRow(0);
        MessageBox::QueueAnswer(true);
        const std::string before = ReadBytes("data/test.log");
        Child<QPushButton>(w.get(), "btDone")->click();
        EXPECT_EQ(ShownTexts().size(), 1) << "the question alone";
        EXPECT_NE(ReadBytes("data/test.log"), before);
    }
    EXPECT_GE(Backups("data/backup").List().size(), Backups::kKeepAlways);
    EXPECT_LE(Backups("data/backup").List().size(), kept + 1) << "not a copy per mark";

    // Something else fills the disk once only the newest three versions are left (room
    // the older ones held is made first): 執行 fails and names the full disk.
    Backups("data/backup").MakeRoom(std::int64_t{1} << 40);
    ASSERT_EQ(Backups("data/backup").List().size(), Backups::kKeepAlways);
    {
        std::FILE* filler = std::fopen("data/filler", "wb");
        ASSERT_NE(filler, nullptr);
        const std::string chunk(1 << 16, 'z');
        while (std::fwrite(chunk.data(), 1, chunk.size(), filler) == chunk.size()) {
        }
        std::fclose(filler);
    }
    const std::string before = ReadBytes("data/test.log");
    list->selectRow(0);
    MessageBox::QueueAnswer(true);
    Child<QPushButton>(w.get(), "btDone")->click();
    const QStringList shown = ShownTexts();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_TRUE(shown[1].contains(QStringLiteral("ディスクに空きがありません"))) << shown[1].toStdString();
    EXPECT_EQ(ReadBytes("data/test.log"), before);
    EXPECT_EQ(Backups("data/backup").List().size(), Backups::kKeepAlways)
        << "the newest three stay";
    w.reset();
}

// A backup folder that is a link: the window says so and lists nothing; a 執行 goes on and
// tells that no backup was kept, and why; nothing where the link leads changes.
TEST_F(BackupsWindow, ABackupFolderThatIsALinkIsRefusedAndSaidSo) {
    std::filesystem::create_directory("outside");
    WriteBytes("outside/test.log.20200101-000000", "someone's\r\n");
    std::filesystem::create_symlink("../outside", "data/backup");
    const std::string log = "1700000000\t1\tX\t30\tA:3 \t0\t3\t0\t0\t0\t9\r\n";
    WriteBytes("data/test.log", log);
    WriteBytes("data/user.dat", "a\tb\tc\t20\te\tf");
    auto w = Open();
    ShownTexts();
    MessageBox::QueueAnswer(true);
    Child<QPushButton>(w.get(), "btDone")->click();
    QStringList shown = ShownTexts();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_TRUE(shown[1].contains(QStringLiteral("シンボリックリンク"))) << shown[1].toStdString();
    EXPECT_NE(ReadBytes("data/test.log"), log) << "the mark is made";

    qv::test::WhenModalOpens([&](QWidget* window) {
        EXPECT_EQ(Child<QTableWidget>(window, "sgBackups")->rowCount(), 0);
        EXPECT_FALSE(Child<QPushButton>(window, "btRestore")->isEnabled());
        window->close();
    });
    Child<QAction>(w.get(), "acBackups")->trigger();
    shown = ShownTexts();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("シンボリックリンク"))) << shown[0].toStdString();
    EXPECT_EQ(ReadBytes("outside/test.log.20200101-000000"), "someone's\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("outside"),
                            std::filesystem::directory_iterator()),
              1);
}

}  // namespace

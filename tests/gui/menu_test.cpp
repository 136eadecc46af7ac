#include <QDesktopServices>
#include <QDir>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include "app/MenuForm.h"
#include "tests/gui/GuiTest.h"
#include "ui/Texts.h"

namespace {

using qv::test::Child;
using qv::test::GuiTest;
using qv::test::WriteBytes;

const std::string kHeaderOnly = "qvrule\t1\tid1\t0\tA\t10\tB\t5\tC\t7\tD\t10\r\n";

class MenuTest : public GuiTest {};

TEST_F(MenuTest, ShowsItsCaptionAndButtons) {
    WriteBytes("test.dat", kHeaderOnly);
    TForm1 menu;
    ASSERT_TRUE(menu.IsLoaded());
    EXPECT_TRUE(ShownTexts().isEmpty());
    EXPECT_EQ(menu.windowTitle(), QStringLiteral("Quorvel裁判所 Ver.0.91"));
    EXPECT_EQ(menu.size(), QSize(237, 452));  // grown below 終了 for 履歴・統計 and a status line

    struct Button {
        const char* name;
        const char* caption;
        int top;
    } buttons[] = {
        {"btnRule", "ル ー ル 編 集", 48}, {"btnJudge", "裁 判", 104}, {"Button1", "執行報告", 168},
        {"btGoHP", "Quorvel館へ", 232},    {"btExit", "終了", 296},
    };
    QWidget* previous = nullptr;
    for (const auto& b : buttons) {
        auto* button = Child<QPushButton>(&menu, b.name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), QString::fromUtf8(b.caption));
        // Read as the word the spread caption spells ("ルール編集").
        EXPECT_EQ(button->accessibleName(), QString::fromUtf8(b.caption).remove(QLatin1Char(' ')));
        EXPECT_EQ(button->geometry(), QRect(48, b.top, 145, 33)) << b.name;
        EXPECT_EQ(button->font().pixelSize(), 16);
        EXPECT_EQ(button->font().families().value(0), QStringLiteral("ＭＳ Ｐゴシック"));
        if (previous) {
            EXPECT_EQ(previous->nextInFocusChain(), button) << b.name;
        }
        previous = button;
    }
    EXPECT_EQ(menu.Info()->GetLogPath(), "test.log");
    EXPECT_EQ(menu.Info()->GetBalancePath(), "user.dat");
    EXPECT_EQ(menu.Info()->GetRuleBook()->RuleCount(), 0);
}

TEST_F(MenuTest, MissingOrBadRuleBookEndsWithTheMessage) {
    const QString message = QStringLiteral("データファイルが見つかりませんでした。");
    struct Case {
        const char* what;
        const char* bytes;              // nullptr: no file at all
        const char* reason;             // what the message adds after a blank line
        const char* notSaid = nullptr;  // a reason that would be wrong here
    } cases[] = {
        {"missing", nullptr, "quorvel-desktop"},
        {"empty", "", "test.dat が空です。"},
        {"wrong token", "qvrul\t1\r\n", "見出し"},
        {"UTF-8 mark", "\xEF\xBB\xBFqvrule\t1\tid1\t0\tA\t1\tB\t1\tC\t1\tD\t1\r\n", "見出し"},
        {"CR line ends", "qvrule\t1\tid1\t0\tA\t1\tB\t1\tC\t1\tD\t1\r1\t1\t2\tX\r",
         "改行がCRだけになっているため、見出しの行", "見出し（qvrule）ではありません"},
        {"header alone without its line end", "qvrule\t1\tid1\t0\tA\t1\tB\t1\tC\t1\tD\t1",
         "見出しの行（1行目）が改行で終わっていません", "見出し（qvrule）ではありません"},
        {"a folder", nullptr, "フォルダ"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all("test.dat");
        if (c.bytes) WriteBytes("test.dat", c.bytes);
        if (std::string(c.what) == "a folder") std::filesystem::create_directory("test.dat");
        const std::string before = qv::test::ListDir();
        TForm1 menu;
        EXPECT_FALSE(menu.IsLoaded()) << c.what;
        QStringList shown = ShownTexts();
        ASSERT_EQ(shown.size(), 1) << c.what;
        EXPECT_TRUE(shown[0].startsWith(message)) << c.what;
        EXPECT_TRUE(shown[0].contains(QString::fromUtf8(c.reason))) << c.what;
        // The folder and the file looked at, so the user knows where the program looked.
        EXPECT_TRUE(shown[0].contains(QStringLiteral("フォルダ: ") + QDir::currentPath()))
            << c.what;
        EXPECT_TRUE(shown[0].contains(QStringLiteral("ファイル: test.dat"))) << c.what;
        EXPECT_EQ(menu.LoadFailure(), shown[0]) << c.what << ": the same goes to stderr";
        if (c.notSaid) {
            EXPECT_FALSE(shown[0].contains(QString::fromUtf8(c.notSaid))) << c.what;
        }
        EXPECT_EQ(qv::test::ListDir(), before) << c.what << ": no file is created";
    }
}

TEST_F(MenuTest, DamagedRuleLinesAreReportedAndKept) {
    const std::string damaged =
        kHeaderOnly + "1\t1\t2\tX\tY\tZ\t30\t15\t12\t4\t3\t0\t0\t3\r\n" + "broken\tline\r\n" +
        "0\t1\t2\tX\tY\tZ\t30\t15\t12\t4\t3\t0\t0\t3\r\n" + "\r\n" + "2\t1\t2\tcut";
    WriteBytes("test.dat", damaged);
    TForm1 menu;
    ASSERT_TRUE(menu.IsLoaded());
    QStringList shown = ShownTexts();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("3 行"))) << shown[0].toStdString();
    EXPECT_EQ(menu.Info()->GetRuleBook()->RuleCount(), 1);

    ASSERT_TRUE(menu.Info()->GetRuleBook()->SaveFile());
    const std::string saved = qv::test::ReadBytes("test.dat");
    for (const char* kept : {"broken\tline\r\n", "0\t1\t2\tX", "2\t1\t2\tcut\r\n"})
        EXPECT_NE(saved.find(kept), std::string::npos) << kept;
}

TEST_F(MenuTest, ExitClosesTheMenu) {
    WriteBytes("test.dat", kHeaderOnly);
    TForm1 menu;
    menu.show();
    Child<QPushButton>(&menu, "btExit")->click();
    EXPECT_FALSE(menu.isVisible());
    EXPECT_EQ(qv::test::ReadBytes("test.dat"), kHeaderOnly);
}

// Records the addresses the desktop is asked to open, instead of starting a browser.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void Open(const QUrl& url) { opened << url; }
};

TEST_F(MenuTest, QuorvelKanOpensTheUserGuide) {
    WriteBytes("test.dat", kHeaderOnly);
    TForm1 menu;
    const QString guide = TForm1::GuidePath();
    ASSERT_FALSE(guide.isEmpty()) << "the guide is in the checkout";
    EXPECT_TRUE(guide.endsWith(QStringLiteral("/guide/index.html")));

    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "Open");
    Child<QPushButton>(&menu, "btGoHP")->click();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    EXPECT_EQ(recorder.opened, QList<QUrl>{QUrl::fromLocalFile(guide)});
    EXPECT_TRUE(ShownTexts().isEmpty());

    // Offscreen nothing can open a page: the user is told where the guide is instead.
    Child<QPushButton>(&menu, "btGoHP")->click();
    const QStringList shown = ShownTexts();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains(QDir::toNativeSeparators(guide))) << shown[0].toStdString();
}

TEST_F(MenuTest, AboutNamesVersionLicenceAndDataFolder) {
    WriteBytes("test.dat", kHeaderOnly);
    TForm1 menu;
    ASSERT_EQ(menu.actions().size(), 7)
        << "ledger, trash, backups, reminder, a separator, guide and About, in the window's "
           "context menu";
    menu.actions().back()->trigger();
    const QStringList shown = ShownTexts();
    ASSERT_EQ(shown.size(), 1);
    // Each name begins a line and stays with its value through a non-breaking space; no
    // invisible characters between the letters.
    EXPECT_EQ(qv::test::InvisibleIn(shown[0]), QString());
    for (const QString& part :
         {QStringLiteral("Quorvel裁判所 Ver.0.91（quorvel 0.91）"),
          QStringLiteral("\nライセンス:\u00a0GNU"), QStringLiteral("GPL-3.0-or-later"),
          QStringLiteral("\nデータフォルダ:\u00a0") + QDir::currentPath()})
        EXPECT_TRUE(shown[0].contains(part)) << part.toStdString();
}

// The ledger, the trash and the backups: under その他, and a key away.
TEST_F(MenuTest, OpensTheLedgerTrashAndBackupsByKeyAndByItsMoreButton) {
    WriteBytes("test.dat", kHeaderOnly);
    TForm1 menu;
    menu.show();
    menu.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&menu));
    QMenu* more = Child<QPushButton>(&menu, "btMore")->menu();
    ASSERT_NE(more, nullptr);
    QStringList items;
    for (QAction* action : more->actions())
        if (!action->isSeparator()) items << action->text();
    EXPECT_EQ(items, (QStringList{QStringLiteral("ポイント台帳…"), QStringLiteral("ごみ箱…"),
                                  QStringLiteral("バックアップ…"), QStringLiteral("リマインダー…"),
                                  QStringLiteral("利用の手引き"),
                                  QStringLiteral("Quorvel裁判所について")}));
    const struct {
        Qt::Key key;
        const char* window;
    } cases[] = {{Qt::Key_L, "TLedger"}, {Qt::Key_T, "TTrash"}, {Qt::Key_B, "TBackups"}};
    for (const auto& c : cases) {
        bool opened = false;
        qv::test::WhenModalOpens([&](QWidget* window) {
            opened = true;
            EXPECT_EQ(window->objectName(), QString::fromLatin1(c.window));
            window->close();
        });
        QTest::keyClick(&menu, c.key, Qt::ControlModifier);
        EXPECT_TRUE(QTest::qWaitFor([&] { return opened; })) << c.window;
        menu.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&menu));
    }
}

TEST_F(MenuTest, UnsavedRulesAtExitAskToSaveDiscardOrGoBack) {
    using Answer = qv::ui::MessageBox::SaveAnswer;
    const QString question = QStringLiteral(
        "ルールの変更が「test.dat」に保存されていません。\n終了する前に保存しますか？");
    struct Case {
        const char* what;
        bool byCloseBox;  // else 終了
        Answer answer;
        bool closes;
        bool saved;
    } cases[] = {
        {"back, 終了", false, Answer::Cancel, false, false},
        {"back, close box", true, Answer::Cancel, false, false},
        {"discard", false, Answer::Discard, true, false},
        {"save, close box", true, Answer::Save, true, true},
    };
    for (const Case& c : cases) {
        WriteBytes("test.dat", kHeaderOnly);
        TForm1 menu;
        menu.show();
        CRule rule;
        rule.SetNumber(1);
        ASSERT_TRUE(menu.Info()->GetRuleBook()->AddRule(rule));
        qv::ui::MessageBox::QueueSaveAnswer(c.answer);
        if (c.byCloseBox)
            menu.close();
        else
            Child<QPushButton>(&menu, "btExit")->click();
        EXPECT_EQ(ShownTexts(), QStringList{question}) << c.what;
        EXPECT_EQ(menu.isVisible(), !c.closes) << c.what;
        EXPECT_EQ(qv::test::ReadBytes("test.dat") != kHeaderOnly, c.saved) << c.what;
    }

    // Saved changes, or none: the program ends without a question.
    WriteBytes("test.dat", kHeaderOnly);
    TForm1 menu;
    menu.show();
    Child<QPushButton>(&menu, "btExit")->click();
    EXPECT_FALSE(menu.isVisible());
    EXPECT_TRUE(ShownTexts().isEmpty());
}

TEST_F(MenuTest, SavingAtExitOverAFileChangedOnDiskAsksAgain) {
    WriteBytes("test.dat", kHeaderOnly);
    TForm1 menu;
    menu.show();
    CRule rule;
    rule.SetNumber(1);
    ASSERT_TRUE(menu.Info()->GetRuleBook()->AddRule(rule));
    const std::string edited = kHeaderOnly + "9\t0\t0\tX\tY\tZ\t1\t1\t1\t1\t1\t1\t1\t1\r\n";
    WriteBytes("test.dat", edited);  // another program, meanwhile

    // Save, then refuse the overwrite: nothing is written and the program stays.
    qv::ui::MessageBox::QueueSaveAnswer(qv::ui::MessageBox::SaveAnswer::Save);
    qv::ui::MessageBox::QueueAnswer(false);
    menu.close();
    QStringList shown = ShownTexts();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_TRUE(shown[1].contains(QStringLiteral("ほかのプログラムで書き換えられています")))
        << shown[1].toStdString();
    EXPECT_TRUE(menu.isVisible());
    EXPECT_EQ(qv::test::ReadBytes("test.dat"), edited);

    qv::ui::MessageBox::QueueSaveAnswer(qv::ui::MessageBox::SaveAnswer::Save);
    qv::ui::MessageBox::QueueAnswer(true);
    menu.close();
    EXPECT_EQ(ShownTexts().size(), 2);
    EXPECT_FALSE(menu.isVisible());
    EXPECT_NE(qv::test::ReadBytes("test.dat").find("\r\n1\t"), std::string::npos);
}

}  // namespace

#include "menu_test.moc"

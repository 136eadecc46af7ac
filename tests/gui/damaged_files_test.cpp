// Damaged and hostile data files, each tried at start-up and in every window that reads
// it: the program starts, each window shows what it can and says in one box what it could
// not read, and the next write loses none of the old bytes.
#include <sys/stat.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <algorithm>
#include <filesystem>
#include <vector>

#include "app/MenuForm.h"
#include "execution/DonePointForm.h"
#include "execution/LogListForm.h"
#include "rulebook/RuleBook.h"
#include "rules/RuleEditForm.h"
#include "tests/gui/GuiTest.h"
#include "text/Numbers.h"
#include "trial/JudgeForm.h"
#include "trial/StateForm.h"
#include "ui/Texts.h"

namespace {

using qv::test::Child;
using qv::test::GuiTest;
using qv::test::ReadBytes;
using qv::test::Sjis;
using qv::test::WriteBytes;
using qv::ui::MessageBox;

enum class Damage {
    TruncatedMidLine,
    NulBytes,
    InvalidCp932,
    Utf8Bom,
    CrOnlyLineEnds,
    TenMegabyteLine,
    MillionEmptyLines,
    Folder,
    NoReadPermission,
};

const char* Name(Damage d) {
    switch (d) {
        case Damage::TruncatedMidLine:
            return "truncated mid-line";
        case Damage::NulBytes:
            return "NUL bytes";
        case Damage::InvalidCp932:
            return "invalid CP932";
        case Damage::Utf8Bom:
            return "UTF-8 byte-order mark";
        case Damage::CrOnlyLineEnds:
            return "CR-only line ends";
        case Damage::TenMegabyteLine:
            return "a 10 MB line";
        case Damage::MillionEmptyLines:
            return "a million empty lines";
        case Damage::Folder:
            return "a folder";
        case Damage::NoReadPermission:
            return "no read permission";
    }
    return "?";
}

std::string Repeat(std::string_view piece, size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

std::string CrOnly(std::string bytes) {
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        out += bytes[i] == '\n' ? '\r' : bytes[i];
    }
    return out;
}

// Puts the file in place: the bytes, or a folder, or the bytes under mode 0200 (what
// "chmod a-r" leaves of 0644).
void Plant(const std::string& path, Damage d, const std::string& bytes) {
    std::filesystem::remove_all(path);
    if (d == Damage::Folder) {
        std::filesystem::create_directory(path);
        return;
    }
    WriteBytes(path, bytes);
    if (d == Damage::NoReadPermission) {
        ASSERT_EQ(::chmod(path.c_str(), 0200), 0);
    }
}

// The file as it is now, read past its mode bits (tests run as root).
std::string Now(const std::string& path) { return ReadBytes(path); }

// A window and everything in it painted once, so a text that cannot be laid out in
// reasonable time shows up as a hang here.
void Paint(QWidget* w) { (void)w->grab(); }

const std::string kHeader = Sjis("qvrule\t1\tid1\t0\t腕立て\t10\t腹筋\t5\t背筋\t7\t縄跳び\t10\r\n");
const std::string kRule3 =
    Sjis("3\t0\t0\t暴行\t人を殴ってはならない。\t初犯は軽く\t20\t10\t10\t1\t0\t0\t0\t0\r\n");
// Everything of article 12 goes to implement 1: a decision carries no points, so the
// log's own cases leave the balance alone.
std::string Rule12(std::string_view text) {
    return "12\t0\t0\t" + Sjis("窃盗") + "\t" + std::string(text) +
           "\t\t30\t15\t12\t1\t0\t0\t0\t0\r\n";
}

// The lines after the header, empty ones left out, with field 1 (created, which a load
// stamps anew) blanked in rule lines; sorted, since a save orders rules by number.
std::vector<std::string> BodyLines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = bytes.find('\n');
    if (start == std::string::npos) return lines;
    ++start;
    while (start < bytes.size()) {
        size_t lf = bytes.find('\n', start);
        std::string line =
            bytes.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        start = lf == std::string::npos ? bytes.size() : lf + 1;
        if (line.empty()) continue;
        if (std::count(line.begin(), line.end(), '\t') == 13) {
            size_t a = line.find('\t'), b = line.find('\t', a + 1);
            line.replace(a + 1, b - a - 1, "*");
        }
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

class DamagedFiles : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        now_ = qv::SystemNow();
        rec1_ = Record(now_ - 2 * 86400, Sjis("窃盗"), "0");
        rec2_ = Record(now_ - 86400, Sjis("窃盗"), "0");
    }

    static std::string Record(qv::Seconds t, const std::string& name, const std::string& points) {
        return qv::Decimal(t) + "\t12\t" + name + "\t20\tA:5 \t0\t5\t0\t0\t0\t" + points + "\r\n";
    }

    // A rule book in memory, so the log and balance cases do not depend on test.dat.
    void UseBook() {
        book_.SetImpName(0, Sjis("腕立て"));
        book_.SetImpWeight(0, 10);
        const std::string line = Rule12(Sjis("盗んではならない。"));
        CRule rule;
        ASSERT_TRUE(rule.FromLine(std::string_view(line).substr(0, line.size() - 2)));
        book_.AddRule(rule);
        info_.SetRuleBook(&book_);
        info_.SetLogPath("test.log");
        info_.SetBalancePath("user.dat");
    }

    std::unique_ptr<TLogList> OpenList() {
        auto w = std::make_unique<TLogList>();
        w->Init(&info_);
        w->show();
        Paint(w.get());
        return w;
    }
    static QTableView* Grid(TLogList& w) { return Child<QTableView>(&w, "sgList"); }
    static int Rows(TLogList& w) { return Grid(w)->model()->rowCount(); }
    static QString Cell(TLogList& w, int row, int column) {
        return Grid(w)->model()->index(row, column).data().toString();
    }
    static QString Balance(TLogList& w) { return Child<QLabel>(&w, "pnPoint")->text(); }

    // The one box a window showed on opening ("" for none); fails on more than one.
    QString OpeningBox(const char* where) {
        const QStringList shown = ShownTexts();
        EXPECT_LE(shown.size(), 1) << where << ": " << shown.join("|").toStdString();
        return shown.value(0);
    }

    // The window showed one box holding every part, or none when parts is empty.
    template <typename Parts>
    void ExpectOpeningBox(const char* where, const Parts& parts) {
        const QString box = OpeningBox(where);
        EXPECT_EQ(box.isEmpty(), std::empty(parts)) << where << ": " << box.toStdString();
        for (const char* part : parts)
            EXPECT_TRUE(box.contains(QString::fromUtf8(part)))
                << where << ": " << part << " in " << box.toStdString();
    }

    qv::Seconds now_ = 0;
    std::string rec1_, rec2_;
    CRuleBook book_;
    CInfo info_;
};

// ---------------------------------------------------------------- test.log

struct LogCase {
    Damage damage;
    std::string bytes;
    int rows;                      // records the list shows
    std::string newest;            // the record line on row 0, which the delete removes
    std::vector<const char*> box;  // what the one box on opening the list says (none: no box)
    int history;                   // records counted by the verdict; -1: the verdict is refused
    std::vector<const char*> verdictBox;
};

TEST_F(DamagedFiles, SentenceLog) {
    UseBook();
    const std::string good = rec1_ + rec2_;
    const std::string bigName = Repeat(Sjis("長"), 5'000'000);
    const std::string bigRecord = Record(now_ - 86400, bigName, "0");
    const std::string nulRecord =
        Record(now_ - 2 * 86400, Sjis("窃盗") + std::string(1, '\0') + "x", "0");
    const std::string badRecord = Record(now_ - 2 * 86400, Sjis("窃") + "\x82", "0");
    const std::string cut = rec2_.substr(0, 20);
    const char* unread = "判決の記録として読めません";
    const std::vector<LogCase> cases = {
        {Damage::TruncatedMidLine,
         rec1_ + cut,
         1,
         rec1_,
         {"「test.log」", "1行", unread},
         1,
         {"「test.log」", "1行", "過去10日間"}},
        {Damage::NulBytes,
         nulRecord + rec2_ + std::string(64, '\0'),
         2,
         rec2_,
         {"「test.log」", "1行", unread},
         2,
         {"1行"}},
        {Damage::InvalidCp932,
         badRecord + rec2_ + "\xFF\xFE\r\n",
         2,
         rec2_,
         {"1行", unread},
         2,
         {"1行"}},
        {Damage::Utf8Bom,
         "\xEF\xBB\xBF" + good,
         2,
         rec2_,
         {"「test.log」", "1件", "時刻が数字"},
         1,
         {"1件", "時刻が数字"}},
        {Damage::CrOnlyLineEnds,
         CrOnly(good),
         0,
         "",
         {"「test.log」", "1行", unread, "CRだけ"},
         0,
         {"1行", "CRだけ"}},
        {Damage::TenMegabyteLine, rec1_ + bigRecord, 2, bigRecord, {}, 2, {}},
        {Damage::MillionEmptyLines, rec1_ + Repeat("\r\n", 1'000'000) + rec2_, 2, rec2_, {}, 2, {}},
        {Damage::Folder,
         good,
         0,
         "",
         {"「test.log」", "読み込めません", "フォルダ"},
         -1,
         {"test.log"}},
        {Damage::NoReadPermission,
         good,
         0,
         "",
         {"「test.log」", "読み込めません", "読み取り"},
         -1,
         {"test.log"}},
    };
    const std::string balance = "quorvel\t1\tuser\t10\t0\t0\r\n";
    WriteBytes("user.dat", balance);
    WriteBytes("test.dat", kHeader + kRule3 + Rule12(Sjis("盗んではならない。")));

    for (const LogCase& c : cases) {
        SCOPED_TRACE(Name(c.damage));
        Plant("test.log", c.damage, c.bytes);
        const std::string before = Now("test.log");

        {  // Start-up does not read the log.
            TForm1 menu;
            EXPECT_TRUE(menu.IsLoaded());
            EXPECT_TRUE(ShownTexts().isEmpty());
        }

        // The execution report: what it can, and one box for what it cannot.
        {
            auto w = OpenList();
            ExpectOpeningBox("list", c.box);
            EXPECT_EQ(Rows(*w), c.rows);
            EXPECT_EQ(Balance(*w), QStringLiteral("ポイント残高:10"));
            if (c.damage == Damage::TenMegabyteLine) {
                EXPECT_EQ(Cell(*w, 0, 2), QStringLiteral("12条:") +
                                              QString(qv::ui::kShownChars, QChar(0x9577)) +
                                              QStringLiteral("…"))
                    << "a huge name is cut for the screen, not in the file";
            }
            if (c.rows > 0) {
                // Executing and un-executing the newest record gives back every byte.
                MessageBox::QueueAnswer(true);
                Child<QPushButton>(w.get(), "btDone")->click();
                EXPECT_EQ(Cell(*w, 0, 4), QStringLiteral("済"));
                MessageBox::QueueAnswer(true);
                Child<QPushButton>(w.get(), "btDone")->click();
                EXPECT_EQ(Now("test.log"), before) << "execute and un-execute keep every byte";
                // Deleting it leaves every other line as it was.
                Grid(*w)->selectRow(0);
                MessageBox::QueueAnswer(true);
                Child<QPushButton>(w.get(), "btDelete")->click();
                std::string expected = before;
                expected.erase(expected.find(c.newest), c.newest.size());
                EXPECT_EQ(Now("test.log"), expected) << "the delete keeps every other line";
                EXPECT_EQ(Rows(*w), c.rows - 1);
                for (const auto& shown : MessageBox::TakeShown())
                    EXPECT_TRUE(shown.confirmation) << shown.text.toStdString();
                Plant("test.log", c.damage, c.bytes);
            }
            EXPECT_EQ(Now("user.dat"), balance);
        }

        // The verdict window reads the log for the 10-day history.
        {
            TState state;
            const bool composed = state.Init(12, 0, &info_);
            ExpectOpeningBox("verdict", c.verdictBox);
            EXPECT_EQ(composed, c.history >= 0);
            if (composed) {
                EXPECT_EQ(state.Verdict().historyCount, c.history);
                state.show();
                Paint(&state);
                Child<QPushButton>(&state, "btOK")->click();
                EXPECT_TRUE(ShownTexts().isEmpty());
                EXPECT_EQ(state.result(), QDialog::Accepted);
                const std::string after = Now("test.log");
                EXPECT_EQ(after.substr(0, before.size()), before)
                    << "a decision keeps every old byte";
                EXPECT_GT(after.size(), before.size());
            } else {
                EXPECT_EQ(Now("test.log"), before);
            }
        }
        EXPECT_EQ(Now("user.dat"), balance);
        std::filesystem::remove_all("test.log");
    }
}

// A decision over a CR-only log ends its one long line, which then reads as a single
// record with every other sentence glued into its last field. Deleting it would take
// them all: the list says so and refuses; the bytes stay.
TEST_F(DamagedFiles, ACrOnlyLogEndedByADecisionIsNotDeletedWhole) {
    UseBook();
    const std::string glued = CrOnly(rec1_ + rec2_);
    WriteBytes("test.log", glued);
    WriteBytes("user.dat", "quorvel\t1\tuser\t10\t0\t0\r\n");
    {
        TState state;
        ASSERT_TRUE(state.Init(12, 0, &info_));
        ShownTexts();
        state.show();
        Child<QPushButton>(&state, "btOK")->click();
    }
    const std::string before = Now("test.log");
    ASSERT_EQ(before.substr(0, glued.size()), glued);
    auto w = OpenList();
    const QString box = OpeningBox("list");
    EXPECT_TRUE(box.contains(QStringLiteral("CR"))) << box.toStdString();
    ASSERT_EQ(Rows(*w), 2);
    Grid(*w)->selectRow(1);
    MessageBox::QueueAnswer(true);
    Child<QPushButton>(w.get(), "btDelete")->click();
    const QStringList shown = ShownTexts();
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_TRUE(shown.back().contains(QStringLiteral("削除できません")))
        << shown.join("|").toStdString();
    EXPECT_EQ(Now("test.log"), before);
    EXPECT_EQ(Rows(*w), 2);
}

// ---------------------------------------------------------------- user.dat

struct BalanceCase {
    Damage damage;
    std::string bytes;
    const char* label;             // the balance as the list shows it
    std::vector<const char*> box;  // the box on opening the list (none: no box)
    bool writable;                 // the credit and the debits go through
};

TEST_F(DamagedFiles, PointBalance) {
    UseBook();
    const std::string good = "quorvel\t1\tuser\t10\t0\t0\r\n";
    const char* noBalance = "ポイント残高:";
    const char* ten = "ポイント残高:10";
    const std::vector<BalanceCase> cases = {
        {Damage::TruncatedMidLine,
         "quorvel\t1\tuser\t10\t0",
         ten,
         {"「user.dat」", "6つ未満"},
         false},
        {Damage::NulBytes,
         std::string("quor") + '\0' + "vel\t1\tuser\t10\t0\t0\r\n" + std::string(64, '\0'),
         ten,
         {},
         true},
        {Damage::InvalidCp932, "\x82quorvel\xFF\t1\tuser\t10\t\x81\t0\r\n", ten, {}, true},
        {Damage::Utf8Bom, "\xEF\xBB\xBF" + good, ten, {}, true},
        {Damage::CrOnlyLineEnds, CrOnly(good), ten, {}, true},
        {Damage::TenMegabyteLine,
         "quorvel\t1\tuser\t10\t0\t" + std::string(10'000'000, 'z') + "\r\n",
         ten,
         {},
         true},
        {Damage::MillionEmptyLines, good + Repeat("\r\n", 1'000'000), ten, {}, true},
        {Damage::Folder, good, noBalance, {"「user.dat」", "読み込めません", "フォルダ"}, false},
        {Damage::NoReadPermission,
         good,
         noBalance,
         {"「user.dat」", "読み込めません", "読み取り"},
         false},
    };
    // One record with 9 points: deciding it credits 9, deleting it debits 9.
    const std::string log = Record(now_ - 86400, Sjis("窃盗"), "9");
    book_.FindRule(12)->SetShare(4, 1);  // half the sentence to points
    auto withBalance = [](std::string bytes, const char* balance) {
        bytes.replace(bytes.find("\t10\t"), 4, std::string("\t") + balance + "\t");
        return bytes;
    };

    for (const BalanceCase& c : cases) {
        SCOPED_TRACE(Name(c.damage));
        Plant("user.dat", c.damage, c.bytes);
        WriteBytes("test.log", log);
        const std::string before = Now("user.dat");

        {  // Start-up does not read the balance.
            std::filesystem::remove("intent.dat");  // the last case's note of points not credited
            WriteBytes("test.dat", kHeader + kRule3);
            TForm1 menu;
            EXPECT_TRUE(menu.IsLoaded());
            EXPECT_TRUE(ShownTexts().isEmpty());
        }

        // The list shows the balance as stored and tells what is wrong with the file.
        {
            auto w = OpenList();
            ExpectOpeningBox("list", c.box);
            EXPECT_EQ(Balance(*w), QString::fromUtf8(c.label));
            EXPECT_EQ(Rows(*w), 1);

            // Deleting the record takes its 9 points off, or deletes nothing.
            MessageBox::QueueAnswer(true);
            Child<QPushButton>(w.get(), "btDelete")->click();
            const QStringList shown = ShownTexts();
            if (c.writable) {
                EXPECT_EQ(shown.size(), 1) << "the confirmation alone";
                EXPECT_EQ(Now("user.dat"), withBalance(before, "1") + "\r\n");
                EXPECT_EQ(Now("test.log"), "");
            } else {
                ASSERT_EQ(shown.size(), 2);
                EXPECT_TRUE(shown[1].contains(QStringLiteral("「user.dat」")))
                    << shown[1].toStdString();
                EXPECT_EQ(Now("user.dat"), before);
                EXPECT_EQ(Now("test.log"), log);
            }
        }

        // The point report takes 3 points off, or stays open and says why not.
        Plant("user.dat", c.damage, c.bytes);
        {
            TDonePoint report;
            report.Init(&info_);
            report.show();
            Paint(&report);
            Child<QLineEdit>(&report, "tfImp1")->setText("3");
            MessageBox::QueueAnswer(true);
            Child<QPushButton>(&report, "btOK")->click();
            const QStringList shown = ShownTexts();
            if (c.writable) {
                EXPECT_EQ(shown.size(), 1) << "the confirmation alone";
                EXPECT_EQ(report.result(), QDialog::Accepted);
                EXPECT_EQ(Now("user.dat"), withBalance(before, "7"));
            } else {
                ASSERT_EQ(shown.size(), 2);
                EXPECT_TRUE(shown[1].contains(QStringLiteral("「user.dat」")))
                    << shown[1].toStdString();
                EXPECT_TRUE(report.isVisible()) << "not closed as if booked";
                EXPECT_EQ(Now("user.dat"), before);
            }
        }

        // A decision credits its points, or keeps its record and says the points are not
        // on the balance.
        Plant("user.dat", c.damage, c.bytes);
        WriteBytes("test.log", log);
        {
            TState state;
            ASSERT_TRUE(state.Init(12, 0, &info_));
            EXPECT_TRUE(ShownTexts().isEmpty());
            ASSERT_GT(state.Verdict().points, 0);
            state.show();
            Child<QPushButton>(&state, "btOK")->click();
            const std::string credited = qv::Decimal(10 + state.Verdict().points);
            const QStringList shown = ShownTexts();
            if (c.writable) {
                EXPECT_TRUE(shown.isEmpty());
                EXPECT_EQ(Now("user.dat"), withBalance(before, credited.c_str()));
            } else {
                ASSERT_EQ(shown.size(), 1);
                EXPECT_TRUE(shown[0].contains(QStringLiteral("「user.dat」")))
                    << shown[0].toStdString();
                EXPECT_EQ(Now("user.dat"), before);
            }
            EXPECT_GT(Now("test.log").size(), log.size()) << "the record is kept either way";
        }
        std::filesystem::remove_all("user.dat");
    }
}

// ---------------------------------------------------------------- test.dat

struct BookCase {
    Damage damage;
    std::string bytes;
    bool loads;
    std::vector<const char*> box;  // the one box at start-up (none: no box)
    int rules;
};

TEST_F(DamagedFiles, RuleBook) {
    const std::string text = Sjis("盗んではならない。");
    const std::string good = kHeader + kRule3 + Rule12(text);
    const std::string rule12 = Rule12(text);
    const char* notFound = "データファイルが見つかりませんでした。";
    const std::vector<BookCase> cases = {
        {Damage::TruncatedMidLine,
         kHeader + kRule3 + rule12.substr(0, 30),
         true,
         {"test.dat", "1 行"},
         1},
        {Damage::NulBytes,
         kHeader + Sjis("3\t0\t0\t暴") + std::string(1, '\0') +
             Sjis("行\t人を殴ってはならない。\t\t20\t10\t10\t1\t0\t0\t0\t0\r\n") + rule12 +
             std::string(64, '\0'),
         true,
         {"test.dat", "1 行"},
         2},
        {Damage::InvalidCp932,
         kHeader + "3\t0\t0\t\x82\xFF\t\x81\t\t20\t10\t10\t1\t0\t0\t0\t0\r\n" + rule12,
         true,
         {},
         2},
        {Damage::Utf8Bom, "\xEF\xBB\xBF" + good, false, {notFound, "test.dat"}, 0},
        {Damage::CrOnlyLineEnds, CrOnly(good), false, {notFound, "test.dat"}, 0},
        {Damage::TenMegabyteLine,
         kHeader + kRule3 + Rule12(Repeat(text, 10'000'000 / text.size())),
         true,
         {},
         2},
        {Damage::MillionEmptyLines,
         kHeader + Repeat("\r\n", 1'000'000) + kRule3 + rule12,
         true,
         {},
         2},
        {Damage::Folder, good, false, {notFound, "test.dat", "フォルダ"}, 0},
        {Damage::NoReadPermission, good, false, {notFound, "test.dat", "読み取り"}, 0},
    };
    for (const BookCase& c : cases) {
        SCOPED_TRACE(Name(c.damage));
        Plant("test.dat", c.damage, c.bytes);
        const std::string before = Now("test.dat");
        const std::string listing = qv::test::ListDir();
        TForm1 menu;
        ExpectOpeningBox("start-up", c.box);
        ASSERT_EQ(menu.IsLoaded(), c.loads);
        if (!c.loads) {
            EXPECT_EQ(Now("test.dat"), before);
            EXPECT_EQ(qv::test::ListDir(), listing);
            std::filesystem::remove_all("test.dat");
            continue;
        }
        // Every window that shows the book shows it, and the save keeps every line.
        {
            TRuleEdit list;
            list.Init(menu.Info());
            list.show();
            Paint(&list);
            EXPECT_EQ(Child<QTableWidget>(&list, "sgRules")->rowCount(), c.rules);
            Child<QPushButton>(&list, "btSave")->click();
            EXPECT_TRUE(ShownTexts().isEmpty());
        }
        {
            TJudge judge;
            judge.Init(menu.Info());
            judge.show();
            Paint(&judge);
            EXPECT_EQ(Child<QComboBox>(&judge, "cbRule")->count(), c.rules);
        }
        EXPECT_EQ(BodyLines(Now("test.dat")), BodyLines(before)) << "the save loses no line";
        std::filesystem::remove_all("test.dat");
    }
}

}  // namespace

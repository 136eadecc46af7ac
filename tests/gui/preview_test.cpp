// The trial window's preview against the verdict window: what 提出 gives for the same
// article, level and log, now and from the moment the oldest counted application stops
// counting; the reasons for a refusal word for word; one read of the log; the timer that
// keeps it right across midnight.
#include <sys/stat.h>

#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QRegularExpression>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "app/MenuForm.h"
#include "tests/gui/GuiTest.h"
#include "tests/support/FaultInjection.h"
#include "text/Numbers.h"
#include "trial/JudgeForm.h"
#include "trial/StateForm.h"
#include "ui/Texts.h"

namespace {

using qv::test::Child;
using qv::test::Sjis;
using qv::test::WhenModalOpens;
using qv::test::WriteBytes;

constexpr qv::Seconds kDay = 86400;

// Articles 3, 12 (the worked example) and 13 (shares all 0).
const std::string kBook = Sjis(
    "qvrule\t1\tid1\t0\t腕立て\t10\t腹筋\t5\t背筋\t7\t縄跳び\t10\r\n"
    "3\t0\t0\t暴行\t人を殴ってはならない。\t\t20\t10\t10\t1\t0\t0\t0\t0\r\n"
    "12\t0\t0\t窃盗\t他人の物を盗んではならない。\t\t30\t15\t12\t4\t3\t0\t0\t3\r\n"
    "13\t0\t0\t遅刻\t遅れてはならない。\t\t10\t10\t10\t0\t0\t0\t0\t0\r\n");

struct Entry {
    qv::Seconds t;
    int article, total;
};
std::string Log(const std::vector<Entry>& entries, qv::Seconds shift = 0) {
    std::string log;
    for (const Entry& e : entries)
        log += qv::Decimal(e.t - shift) + "\t" + qv::Decimal(e.article) + "\tx\t" +
               qv::Decimal(e.total) + "\t\t0\t0\t0\t0\t0\t0\r\n";
    return log;
}

// The preview's wording of a verdict: "29ポイント（腕立て:12回 腹筋:18回 ポイント:9）",
// each count with its implement's unit.
QString Outcome(const CVerdict& v) {
    QStringList parts;
    for (const QString& entry : qv::ui::FromCp932(v.distribution).split(' ', Qt::SkipEmptyParts))
        parts << entry + qv::ui::UnitOf(entry.section(QLatin1Char(':'), 0, -2));
    if (v.points > 0) parts << QStringLiteral("ポイント:%1").arg(v.points);
    return QStringLiteral("%1ポイント（%2）")
        .arg(v.total)
        .arg(parts.isEmpty() ? QStringLiteral("配分なし") : parts.join(' '));
}

// A preview line as read out. On the screen it breaks only between a figure and the
// next, and holds no invisible characters.
QString Label(QWidget* w, const char* name) {
    auto* label = Child<QLabel>(w, name);
    EXPECT_EQ(qv::test::InvisibleIn(label->text()), QString()) << name;
    QString shown = label->text();
    shown.remove(QLatin1Char('\n'));
    EXPECT_EQ(shown.remove(QLatin1Char(' ')),
              QString(label->accessibleName()).remove(QLatin1Char(' ')))
        << name << ": the same text, broken into lines";
    return label->accessibleName();
}

class PreviewTest : public qv::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        const char* tz = std::getenv("TZ");
        hadTz_ = tz != nullptr;
        savedTz_ = tz ? tz : "";
        setenv("TZ", "UTC0", 1);
        tzset();
        WriteBytes("test.dat", kBook);
        WriteBytes("user.dat", "a\tb\tc\t10\te\tf");
    }
    void TearDown() override {
        if (hadTz_)
            setenv("TZ", savedTz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        GuiTest::TearDown();
    }

    // A trial window over the files as they stand, the article and level set.
    std::unique_ptr<TJudge> Open(TForm1& menu, int item, int level, qv::Clock clock = {}) {
        auto judge = std::make_unique<TJudge>(&menu);
        if (clock) judge->SetClock(std::move(clock));
        judge->Init(menu.Info());
        judge->show();
        Child<QComboBox>(judge.get(), "cbRule")->setCurrentIndex(item);
        Child<QSlider>(judge.get(), "tbJoujou")->setValue(level);
        return judge;
    }

    // The verdict 提出 opens in that window.
    static std::optional<CVerdict> Submit(TJudge* judge) {
        std::optional<CVerdict> verdict;
        WhenModalOpens([&](QWidget* w) {
            auto* state = qobject_cast<TState*>(w);
            ASSERT_NE(state, nullptr);
            verdict = state->Verdict();
            state->reject();
        });
        Child<QPushButton>(judge, "btSubmit")->click();
        return verdict;
    }

    // The one box with which 提出 refuses (no verdict window opens).
    QString SubmitRefused(TJudge* judge) {
        ShownTexts();
        Child<QPushButton>(judge, "btSubmit")->click();
        EXPECT_TRUE(judge->isVisible()) << "the trial stays open";
        const QStringList shown = ShownTexts();
        EXPECT_EQ(shown.size(), 1);
        return shown.value(0);
    }

    bool hadTz_ = false;
    std::string savedTz_;
};

TEST_F(PreviewTest, ShowsWhatSubmittingGivesNowAndAfterTheOldestStopsCounting) {
    const qv::Seconds now = qv::SystemNow();
    struct Case {
        const char* what;
        int item, level;
        std::vector<Entry> log;
        std::optional<qv::Seconds> oldest;  // the first counted application, if any
    } cases[] = {
        {"the worked example",
         1,
         8,
         {{now - 2 * kDay, 12, 20},
          {now - kDay, 12, 10},
          {now - kDay, 12, 15},
          {now - 30 * kDay, 12, 99},
          {now, 3, 50}},
         now - 2 * kDay},
        {"a repeat that drops out at the next midnight",
         1,
         0,
         {{now - 10 * kDay, 12, 40}, {now - 3 * kDay, 12, 10}, {now + kDay, 12, 70}},
         now - 10 * kDay},
        {"no history", 0, 5, {{now - kDay, 12, 10}}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes("test.log", Log(c.log));
        TForm1 menu;
        ASSERT_TRUE(menu.IsLoaded());
        auto judge = Open(menu, c.item, c.level);
        const QString shownNow = Label(judge.get(), "pnPreviewNow");
        const QString shownHistory = Label(judge.get(), "pnPreviewHistory");
        const QString shownAfter = Label(judge.get(), "pnPreviewAfter");
        const std::optional<CVerdict> verdict = Submit(judge.get());
        ASSERT_TRUE(verdict.has_value());
        EXPECT_EQ(shownNow, QStringLiteral("今提出すると:") + Outcome(*verdict));
        EXPECT_EQ(shownHistory,
                  verdict->historyCount > 0
                      ? QStringLiteral("過去10日間の同条文の適用:%1回、合計%2ポイント")
                            .arg(verdict->historyCount)
                            .arg(verdict->historySum)
                      : QStringLiteral("過去10日間の同条文の適用:なし"));
        if (!c.oldest) {
            EXPECT_EQ(shownAfter, QString());
            continue;
        }
        // From the moment the oldest stops counting (00:00 UTC of the 11th day after its
        // own) the history is what today's is with the log dated that many days earlier.
        const qv::Seconds stops = (*c.oldest / kDay + 11) * kDay;
        const qv::Seconds days = stops / kDay - now / kDay;
        WriteBytes("test.log", Log(c.log, days * kDay));
        auto later = Open(menu, c.item, c.level);
        const std::optional<CVerdict> afterwards = Submit(later.get());
        ASSERT_TRUE(afterwards.has_value());
        EXPECT_EQ(shownAfter,
                  QDateTime::fromSecsSinceEpoch(stops, Qt::UTC).toString("yyyy/MM/dd hh:mm") +
                      QStringLiteral("に最も古い適用が数えられなくなり、それ以後に提出すると:") +
                      Outcome(*afterwards));
    }
}

// Texts are what they look like: a name stays with its figure because lines break only
// between figures, not through invisible characters that copies and screen readers carry.
TEST_F(PreviewTest, LinesBreakBetweenFiguresWithoutInvisibleCharacters) {
    const qv::Seconds now = qv::SystemNow();
    WriteBytes("test.log", Log({{now - 2 * kDay, 12, 20}, {now - kDay, 12, 10}}));
    TForm1 menu;
    ASSERT_TRUE(menu.IsLoaded());
    auto judge = Open(menu, 1, 8);
    for (const int width : {268, 150, 90}) {
        SCOPED_TRACE(width);
        for (const char* name : {"pnPreviewNow", "pnPreviewAfter"}) {
            auto* label = Child<QLabel>(judge.get(), name);
            label->resize(width, label->height());
            const QString shown = label->text();
            ASSERT_FALSE(shown.isEmpty()) << name;
            if (width < 268) {
                EXPECT_TRUE(shown.contains(QLatin1Char('\n'))) << name;
            }
            for (const QString& figure : {QStringLiteral("腕立て:"), QStringLiteral("腹筋:"),
                                          QStringLiteral("ポイント:")}) {
                const qsizetype at = shown.indexOf(figure);
                ASSERT_GE(at, 0) << name << " " << figure.toStdString();
                // The name, its figure and its unit on one line.
                const qsizetype end = shown.indexOf(QRegularExpression(QStringLiteral("[回）]")), at);
                EXPECT_FALSE(shown.mid(at, end - at).contains(QLatin1Char('\n')))
                    << name << ": " << shown.toStdString();
            }
        }
        EXPECT_EQ(qv::test::TextsWithInvisibles(judge.get()), QStringList());
    }
}

TEST_F(PreviewTest, ARefusedTrialShowsTheReasonSubmittingGives) {
    const qv::Seconds now = qv::SystemNow();
    struct Case {
        const char* what;
        int item;
        bool unreadableLog;
    } cases[] = {
        {"shares all 0", 2, false},
        {"a log that cannot be read", 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes("test.log", Log({{now - kDay, 12, 10}}));
        ::chmod("test.log", c.unreadableLog ? 0000 : 0644);
        TForm1 menu;
        ASSERT_TRUE(menu.IsLoaded());
        auto judge = Open(menu, c.item, 3);
        const QString shown = Label(judge.get(), "pnPreviewNow");
        EXPECT_EQ(Label(judge.get(), "pnPreviewHistory"), QString());
        EXPECT_EQ(Label(judge.get(), "pnPreviewAfter"), QString());
        const QString refusal = SubmitRefused(judge.get());
        EXPECT_FALSE(refusal.isEmpty());
        EXPECT_EQ(shown, refusal);
    }
    ::chmod("test.log", 0644);
}

TEST_F(PreviewTest, TheLogIsReadOnceWhenTheWindowOpens) {
    const qv::Seconds now = qv::SystemNow();
    WriteBytes("test.log", Log({{now - kDay, 12, 10}, {now - 2 * kDay, 12, 20}}));
    TForm1 menu;
    ASSERT_TRUE(menu.IsLoaded());
    auto judge = Open(menu, 1, 0);
    const QString history = Label(judge.get(), "pnPreviewHistory");
    EXPECT_EQ(history, QStringLiteral("過去10日間の同条文の適用:2回、合計30ポイント"));
    std::filesystem::remove("test.log");
    const int calls = qv::test::FaultInjection::CountCalls([&] {
        for (int level = 0; level <= 10; ++level)
            Child<QSlider>(judge.get(), "tbJoujou")->setValue(level);
        Child<QComboBox>(judge.get(), "cbRule")->setCurrentIndex(0);
        Child<QComboBox>(judge.get(), "cbRule")->setCurrentIndex(1);
        return true;
    });
    EXPECT_EQ(calls, 0) << "no file is touched while the article and level change";
    EXPECT_EQ(Label(judge.get(), "pnPreviewHistory"), history);
    EXPECT_TRUE(Label(judge.get(), "pnPreviewNow").startsWith(QStringLiteral("今提出すると:")));
}

// 提出 takes the pass the window made of the log only while the file is as it was read: a
// log changed since is read again, so the verdict counts what is in the file now.
TEST_F(PreviewTest, SubmittingReadsTheLogAgainOnlyWhenItChanged) {
    const qv::Seconds now = qv::SystemNow();
    const std::string log = Log({{now - kDay, 12, 10}});
    struct Case {
        const char* what;
        std::string since;  // appended after the window opened
        int applications;
    } cases[] = {
        {"unchanged", "", 1},
        {"a sentence decided meanwhile", Log({{now - 2 * kDay, 12, 20}}), 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes("test.log", log);
        TForm1 menu;
        ASSERT_TRUE(menu.IsLoaded());
        auto judge = Open(menu, 1, 0);
        if (!c.since.empty()) WriteBytes("test.log", log + c.since);
        const std::optional<CVerdict> verdict = Submit(judge.get());
        ASSERT_TRUE(verdict.has_value());
        EXPECT_EQ(verdict->historyCount, c.applications);
    }
}

// Left open across 00:00 UTC, when a repeat drops out, the preview follows by itself.
TEST_F(PreviewTest, StaysRightAcrossMidnight) {
    constexpr qv::Seconds kMidnight = 19676 * kDay;  // 2023-11-15 00:00 UTC
    qv::Seconds clock = kMidnight - 5;
    WriteBytes("test.log", Log({{kMidnight - 11 * kDay + 3600, 12, 40},  // 10 days before
                                {kMidnight - 3 * kDay, 12, 10}}));
    TForm1 menu;
    ASSERT_TRUE(menu.IsLoaded());
    auto judge = Open(menu, 1, 0, [&clock] { return clock; });
    auto* timer = judge->findChild<QTimer*>(QStringLiteral("previewTimer"));
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 5000) << "set to the coming midnight";
    EXPECT_EQ(Label(judge.get(), "pnPreviewHistory"),
              QStringLiteral("過去10日間の同条文の適用:2回、合計50ポイント"));
    const QString after = Label(judge.get(), "pnPreviewAfter");
    const QString prefix =
        QStringLiteral("2023/11/15 00:00に最も古い適用が数えられなくなり、それ以後に提出すると:");
    ASSERT_TRUE(after.startsWith(prefix)) << after.toStdString();

    // A timer that fires early changes nothing and waits for the rest.
    clock = kMidnight - 1;
    timer->start(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return timer->interval() == 1000; }));
    EXPECT_EQ(Label(judge.get(), "pnPreviewAfter"), after);

    clock = kMidnight;
    timer->start(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return timer->interval() == 86400 * 1000; }));
    EXPECT_EQ(Label(judge.get(), "pnPreviewHistory"),
              QStringLiteral("過去10日間の同条文の適用:1回、合計10ポイント"));
    EXPECT_EQ(Label(judge.get(), "pnPreviewNow"),
              QStringLiteral("今提出すると:") + after.mid(prefix.size()))
        << "what was foretold is what it gives now";
}

}  // namespace

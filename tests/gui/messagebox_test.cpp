// The seam's boxes: a line ends at Japanese punctuation or a blank, never inside a word or
// a file name.
#include <QApplication>
#include <QFontMetrics>

#include "tests/gui/GuiTest.h"
#include "ui/MessageBox.h"

namespace {

TEST(MessageLines, BreakOnlyAfterPunctuation) {
    const QFontMetrics metrics(QApplication::font());
    const int em = metrics.horizontalAdvance(QChar(0x3042));
    const struct {
        const char* text;
        int chars;  // line width in full-width characters
        const char* laidOut;
    } cases[] = {
        {"設定が合いません。もう一度確認してください。", 12,
         "設定が合いません。\nもう一度確認してください。"},
        {"ファイル「/home/ユーザー/データ/test.log」を読めません。", 10,
         "ファイル「/home/ユーザー/データ/test.log」\nを読めません。"},
        {"短い文です。", 40, "短い文です。"},
        {"一行目。\n二行目、続き。", 40, "一行目。\n二行目、続き。"},
        {"区切りのない長い一続きの言葉", 5, "区切りのない長い一続きの言葉"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qv::ui::BreakMessageLines(QString::fromUtf8(c.text), metrics, c.chars * em),
                  QString::fromUtf8(c.laidOut))
            << c.text;
}

// Without a queued answer a two-choice question takes the safe choice.
TEST(MessageChoice, UnansweredTakesTheSafeChoice) {
    qv::ui::MessageBox::SetTestMode(true);
    EXPECT_FALSE(qv::ui::MessageBox::Choose(QStringLiteral("問い"), QStringLiteral("置き換える"),
                                            QStringLiteral("番号を直す")));
    qv::ui::MessageBox::QueueChoice(true);
    EXPECT_TRUE(qv::ui::MessageBox::Choose(QStringLiteral("問い"), QStringLiteral("置き換える"),
                                           QStringLiteral("番号を直す")));
    const QList<qv::ui::ShownMessage> shown = qv::ui::MessageBox::TakeShown();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown[0].caption, QStringLiteral("確認"));
    EXPECT_EQ(shown[0].buttons, (QStringList{QStringLiteral("置き換える"), QStringLiteral("番号を直す")}));
    qv::ui::MessageBox::SetTestMode(false);
}

}  // namespace

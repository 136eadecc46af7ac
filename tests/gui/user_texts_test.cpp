// Texts the user typed (article names, texts, remarks, implement names) and texts read
// from the files are data: every window shows them exactly as typed, never as markup,
// never with '&' taken for a shortcut marker, and never read as a format.
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTextDocument>
#include <functional>

#include "execution/DonePointForm.h"
#include "execution/LogListForm.h"
#include "rulebook/RuleBook.h"
#include "rules/RuleEditForm.h"
#include "rules/RuleItemForm.h"
#include "tests/gui/GuiTest.h"
#include "trial/JudgeForm.h"
#include "trial/StateForm.h"

namespace {

using qv::test::Child;
using qv::test::ReadBytes;
using qv::test::Sjis;
using qv::test::WhenModalOpens;
using qv::test::WriteBytes;
using qv::ui::MessageBox;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// Markup, an entity, a shortcut marker and a format marker.
const char* const kImplements[] = {"鞭&棒", "<b>重要</b>", "x &lt; y", "罰金%1"};
const char* const kName = "罰金%1<i>";
const char* const kText = "<b>重要</b>";
const char* const kRemark = "x &lt; y & 鞭&棒 %2";

// What a tooltip shows: Qt reads a tip as rich text when it looks like markup.
QString TipAsShown(const QString& tip) {
    if (!Qt::mightBeRichText(tip)) return tip;
    QTextDocument doc;
    doc.setHtml(tip);
    return doc.toPlainText();
}

class UserTextsTest : public qv::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        std::string header = "qvrule\t1\tid1\t0";
        for (const char* name : kImplements) header += "\t" + Sjis(name) + "\t10";
        WriteBytes("test.dat", header + "\r\n" + "12\t0\t0\t" + Sjis(kName) + "\t" + Sjis(kText) +
                                   "\t" + Sjis(kRemark) + "\t30\t10\t10\t1\t1\t1\t1\t1\r\n");
        book_.SetFileName("test.dat");
        ASSERT_TRUE(book_.LoadFile());
        info_.SetRuleBook(&book_);
        info_.SetLogPath("test.log");
        info_.SetBalancePath("user.dat");
        WriteBytes("user.dat", "a\tb\tc\t100\te\tf");
    }

    // The label shows exactly `expected`, as plain text, and says the same to a screen
    // reader and in its tip.
    static void ExpectShownAsTyped(QWidget* window, const char* name, const QString& expected) {
        auto* label = Child<QLabel>(window, name);
        if (label == nullptr) return;
        EXPECT_EQ(label->text(), expected) << name;
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << name;
        EXPECT_TRUE(label->buddy() == nullptr || !expected.contains(QLatin1Char('&')))
            << name << ": a label with a buddy takes '&' for a shortcut marker";
        if (!label->accessibleName().isEmpty()) {
            EXPECT_EQ(label->accessibleName(), expected) << name << ": read out as shown";
        }
        if (!label->toolTip().isEmpty()) {
            EXPECT_EQ(TipAsShown(label->toolTip()), expected) << name << ": tip";
        }
    }

    CRuleBook book_;
    CInfo info_;
};

TEST_F(UserTextsTest, LabelsListsAndGridsShowTheTextsExactly) {
    {
        TJudge judge;
        judge.Init(&info_);
        EXPECT_EQ(Child<QComboBox>(&judge, "cbRule")->itemText(0), U("12:") + U(kName) + U(":30"))
            << "the name is never read as a format";
        ExpectShownAsTyped(&judge, "pnState", U("条文:") + U(kText));
        ExpectShownAsTyped(&judge, "pnComment", U("備考:") + U(kRemark));
    }
    {
        TState state;
        ASSERT_TRUE(state.Init(12, 0, &info_));
        ExpectShownAsTyped(&state, "pnName", U("12条:") + U(kName));
        ExpectShownAsTyped(&state, "pnState", U(kText));
    }
    {
        CRule rule;
        rule.CopyFrom(book_.FindRule(12));
        TRuleItem item;
        item.SetRule(&rule);
        item.Init(&info_);
        for (int k = 0; k < 4; ++k)
            ExpectShownAsTyped(&item, ("pnImp" + std::to_string(k + 1)).c_str(), U(kImplements[k]));
    }
    {
        TDonePoint report;
        report.Init(&info_);
        for (int k = 0; k < 4; ++k)
            ExpectShownAsTyped(&report, ("pnImp" + std::to_string(k + 1)).c_str(),
                               U(kImplements[k]));
    }
    {
        TRuleEdit list;
        list.Init(&info_);
        auto* grid = Child<QTableWidget>(&list, "sgRules");
        EXPECT_EQ(grid->item(0, 1)->text(), U(kName));
        EXPECT_EQ(grid->item(0, 2)->text(), U(kText));
    }
    {
        WriteBytes("test.log", "1700000000\t12\t" + Sjis(kName) + "\t30\t" + Sjis("鞭&棒:3") +
                                   "\t0\t0\t0\t0\t0\t0\r\n");
        WriteBytes("user.dat", "a\tb\tc\t<b>5</b>\te\tf");
        TLogList list;
        list.Init(&info_);
        ExpectShownAsTyped(&list, "pnPoint", U("ポイント残高:<b>5</b>"));
        const QAbstractItemModel* model = Child<QTableView>(&list, "sgList")->model();
        EXPECT_EQ(model->index(0, 2).data().toString(), U("12条:") + U(kName));
        EXPECT_EQ(model->index(0, 3).data().toString(), U("鞭&棒:3"));
    }
    EXPECT_TRUE(ShownTexts().isEmpty());
}

TEST_F(UserTextsTest, QuestionsQuoteTheTextsExactly) {
    // The point report names the implements; the delete question names the article.
    TDonePoint report;
    report.Init(&info_);
    report.show();
    Child<QLineEdit>(&report, "tfImp1")->setText("3");
    Child<QLineEdit>(&report, "tfImp4")->setText("2");
    Child<QPushButton>(&report, "btOK")->click();
    EXPECT_EQ(ShownTexts(),
              QStringList{U("鞭&棒:3\r\n罰金%1:2\r\n以上合計5ポイントで報告します。")});

    TRuleEdit list;
    list.Init(&info_);
    list.show();
    Child<QPushButton>(&list, "Button1")->click();
    EXPECT_EQ(ShownTexts(), QStringList{U("12 - ") + U(kName) + U("を削除します。")});
}

TEST_F(UserTextsTest, AFileNameIsNeverReadAsAFormat) {
    // A credit that fails names both files; a '%1' in the first must stay as it is.
    info_.SetLogPath("log%1.log");
    info_.SetBalancePath("short%2.dat");
    WriteBytes("short%2.dat", "a\tb");
    TState state;
    ASSERT_TRUE(state.Init(12, 0, &info_));
    state.show();
    Child<QPushButton>(&state, "btOK")->click();
    const QStringList shown = ShownTexts();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].startsWith(U("判決は「log%1.log」に記録しましたが、")))
        << shown[0].toStdString();
    EXPECT_TRUE(shown[0].contains(U("「short%2.dat」の残高"))) << shown[0].toStdString();
}

// Every box goes through the seam; the real boxes show the text as plain text.
TEST_F(UserTextsTest, RealMessageBoxesShowPlainText) {
    const QString text = U("<b>重要</b> x &lt; y 鞭&棒");
    MessageBox::SetTestMode(false);
    struct Case {
        const char* what;
        std::function<void()> ask;
    } cases[] = {
        {"Show", [&] { MessageBox::Show(text); }},
        {"Confirm", [&] { MessageBox::Confirm(text); }},
        {"AskSave", [&] { MessageBox::AskSave(text); }},
    };
    for (const Case& c : cases) {
        bool opened = false;
        WhenModalOpens([&](QWidget* w) {
            opened = true;
            auto* box = qobject_cast<QMessageBox*>(w);
            ASSERT_NE(box, nullptr);
            auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->text(), text) << c.what;
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << c.what;
            box->reject();
        });
        c.ask();
        EXPECT_TRUE(opened) << c.what;
    }
    MessageBox::SetTestMode(true);
}

}  // namespace

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include <filesystem>
#include <functional>

#include "app/MenuForm.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "rules/ImpEditForm.h"
#include "rules/RuleEditForm.h"
#include "rules/RuleItemForm.h"
#include "tests/gui/GuiTest.h"

namespace {

using qv::test::Child;
using qv::test::GuiTest;
using qv::test::ReadBytes;
using qv::test::Sjis;
using qv::test::WriteBytes;

constexpr qv::Seconds kNow = 1700000000;
constexpr qv::Seconds kLater = 1700003600;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// Acts on the modal window the next click opens, then makes sure it is closed, so a
// failed check never leaves the test waiting on an open window.
template <typename Window>
void WhenOpens(std::function<void(Window*)> act) {
    qv::test::WhenModalOpens([act](QWidget* opened) {
        auto* window = qobject_cast<Window*>(opened);
        EXPECT_NE(window, nullptr) << "opened " << opened->metaObject()->className();
        if (window) act(window);
        if (opened->isVisible()) qobject_cast<QDialog*>(opened)->reject();
    });
}

void Click(QWidget* window, const char* button) { Child<QPushButton>(window, button)->click(); }
void Type(QWidget* window, const char* field, const QString& text) {
    Child<QLineEdit>(window, field)->setText(text);
}
QString FieldText(QWidget* window, const char* field) { return Child<QLineEdit>(window, field)->text(); }
QString LabelText(QWidget* window, const char* label) { return Child<QLabel>(window, label)->text(); }
void Slide(QWidget* window, const char* slider, int value) {
    Child<QSlider>(window, slider)->setValue(value);
}

// The grid's article rows, each as "number|name|text|base".
QStringList GridRows(QWidget* list) {
    auto* grid = Child<QTableWidget>(list, "sgRules");
    QStringList rows;
    for (int r = 0; r < grid->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < grid->columnCount(); ++c)
            cells << (grid->item(r, c) ? grid->item(r, c)->text() : QStringLiteral("<none>"));
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

void SelectRow(QWidget* list, int row) { Child<QTableWidget>(list, "sgRules")->setCurrentCell(row, 0); }

class RulesTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        book_.SetFileName("test.dat");
        book_.SetClock([] { return kNow; });
        info_.SetRuleBook(&book_);
        info_.SetLogPath("test.log");
        info_.SetBalancePath("user.dat");
        const char* names[] = {"腕立て伏せ", "腹筋", "スクワット", ""};
        const int weights[] = {5, 5, 3, 10};
        for (int i = 0; i < 4; ++i) {
            book_.SetImpName(i, Sjis(names[i]));
            book_.SetImpWeight(i, weights[i]);
        }
    }

    // An article with every field set, stored in the book.
    CRule& Store(int number, const char* name, int base) {
        CRule rule;
        rule.SetNumber(number);
        rule.SetName(Sjis(name));
        rule.SetText(Sjis("本文") + std::to_string(number));
        rule.SetRemark(Sjis("備考") + std::to_string(number));
        rule.SetUpdated(kNow - 10);
        rule.SetBase(base);
        rule.SetCumulative(15);
        rule.SetExtenuation(12);
        for (int i = 0; i < 5; ++i) rule.SetShare(i, i + 1);
        EXPECT_TRUE(book_.AddRule(rule));
        return *book_.FindRule(number);
    }

    std::map<int, CRule> Snapshot() const { return book_.Rules(); }

    CRuleBook book_;
    CInfo info_;
};

// ---------------------------------------------------------------- rule editor

TEST_F(RulesTest, RuleEditorControlsAndSliderLabels) {
    CRule rule;
    TRuleItem item;
    item.SetRule(&rule);
    item.Init(&info_);
    EXPECT_EQ(item.windowTitle(), U("ルール編集"));
    EXPECT_EQ(item.size(), QSize(354, 572));
    EXPECT_EQ(Child<QGroupBox>(&item, "GroupBox1")->title(), U("配分設定"));
    EXPECT_EQ(Child<QPushButton>(&item, "btReg")->text(), U("登録"));
    EXPECT_EQ(Child<QPushButton>(&item, "btCancel")->text(), U("取消"));
    EXPECT_EQ(LabelText(&item, "pnPt"), U("ポイント"));
    // What a screen reader announces; value labels are read with their live text.
    const char* spoken[][2] = {{"tfNo", "条の番号"}, {"tfName", "条文名"},     {"tfState", "条文"},
                               {"tfComment", "備考"}, {"tfPoint", "基準"},      {"tbRuiseki", "累積係数"},
                               {"tbJoujou", "情状係数"}, {"tbImp2", "腹筋の配分"}, {"tbImp4", "道具4の配分"},
                               {"tbPt", "ポイントの配分"}, {"btReg", "登録"},   {"pnRuiseki", ""}};
    for (const auto& [name, announced] : spoken)
        EXPECT_EQ(Child<QWidget>(&item, name)->accessibleName(), U(announced)) << name;

    struct Slider {
        const char* slider;
        int maximum;
    } sliders[] = {{"tbRuiseki", 20}, {"tbJoujou", 20}, {"tbImp1", 10}, {"tbImp2", 10},
                   {"tbImp3", 10},    {"tbImp4", 10},   {"tbPt", 10}};
    for (const auto& s : sliders) {
        auto* slider = Child<QSlider>(&item, s.slider);
        EXPECT_EQ(slider->minimum(), 0) << s.slider;
        EXPECT_EQ(slider->maximum(), s.maximum) << s.slider;
        EXPECT_EQ(slider->singleStep(), 1) << s.slider;
    }

    struct Move {
        const char* slider;
        int value;
        const char* label;
        const char* shown;
    } moves[] = {
        {"tbRuiseki", 15, "pnRuiseki", "1.5"}, {"tbRuiseki", 20, "pnRuiseki", "2.0"},
        {"tbRuiseki", 3, "pnRuiseki", "0.3"},  {"tbRuiseki", 0, "pnRuiseki", "0.0"},
        {"tbJoujou", 15, "pnJoujou", "1.5"},   {"tbJoujou", 7, "pnJoujou", "0.7"},
        {"tbImp1", 4, "pnImp1P", "4"},         {"tbImp2", 7, "pnImp2P", "7"},
        {"tbImp3", 1, "pnImp3P", "1"},         {"tbImp4", 9, "pnImp4P", "9"},
        {"tbPt", 10, "pnPtP", "10"},
    };
    for (const auto& m : moves) {
        Slide(&item, m.slider, m.value);
        EXPECT_EQ(LabelText(&item, m.label), U(m.shown)) << m.slider << " at " << m.value;
    }
}

TEST_F(RulesTest, RuleEditorShowsAnArticleClampedToItsSliders) {
    // Values straight from a file: outside the sliders' ranges.
    CRule rule;
    ASSERT_TRUE(rule.FromLine("12\t100\t200\t" + Sjis("名前\t本文\t備考") +
                              "\t-30\t35\t-1\t15\t-3\t2\t0\t10"));
    TRuleItem item;
    item.SetRule(&rule);
    item.Init(&info_);
    EXPECT_EQ(FieldText(&item, "tfNo"), "12");
    EXPECT_EQ(FieldText(&item, "tfName"), U("名前"));
    EXPECT_EQ(FieldText(&item, "tfState"), U("本文"));
    EXPECT_EQ(FieldText(&item, "tfComment"), U("備考"));
    EXPECT_EQ(FieldText(&item, "tfPoint"), "-30");
    const QString labels[] = {LabelText(&item, "pnRuiseki"), LabelText(&item, "pnJoujou"),
                              LabelText(&item, "pnImp1P"),   LabelText(&item, "pnImp2P"),
                              LabelText(&item, "pnImp3P"),   LabelText(&item, "pnImp4P"),
                              LabelText(&item, "pnPtP")};
    const QStringList expected = {"2.0", "0.0", "10", "0", "2", "0", "10"};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(labels[i], expected[i]) << i;
    // The implement names label the share rows; the nameless fourth one stays empty.
    EXPECT_EQ(LabelText(&item, "pnImp1"), U("腕立て伏せ"));
    EXPECT_EQ(LabelText(&item, "pnImp2"), U("腹筋"));
    EXPECT_EQ(LabelText(&item, "pnImp3"), U("スクワット"));
    EXPECT_EQ(LabelText(&item, "pnImp4"), QString());
}

TEST_F(RulesTest, RuleEditorRegistersEveryFieldAndStampsTheTime) {
    CRule& stored = Store(7, "遅刻", 20);
    const qv::Seconds created = stored.GetCreated();
    CRule rule;
    rule.CopyFrom(&stored);

    TRuleItem item;
    item.SetClock([] { return kLater; });
    item.SetRule(&rule);
    item.Init(&info_);
    item.show();
    Type(&item, "tfNo", U("　８ "));  // as the Japanese input method types it
    Type(&item, "tfName", U("寝坊"));
    Type(&item, "tfState", U("起きなかった。"));
    Type(&item, "tfComment", QString());
    Type(&item, "tfPoint", U("－5"));
    Slide(&item, "tbRuiseki", 20);
    Slide(&item, "tbJoujou", 0);
    const int shares[] = {10, 0, 3, 4, 7};
    const char* shareSliders[] = {"tbImp1", "tbImp2", "tbImp3", "tbImp4", "tbPt"};
    for (int i = 0; i < 5; ++i) Slide(&item, shareSliders[i], shares[i]);
    Click(&item, "btReg");

    EXPECT_EQ(item.result(), QDialog::Accepted);
    EXPECT_TRUE(ShownTexts().isEmpty());
    CRule expected;
    expected.SetNumber(8);
    expected.SetName(Sjis("寝坊"));
    expected.SetText(Sjis("起きなかった。"));
    expected.SetCreated(created);
    expected.SetUpdated(kLater);
    expected.SetBase(-5);
    expected.SetCumulative(20);
    expected.SetExtenuation(0);
    for (int i = 0; i < 5; ++i) expected.SetShare(i, shares[i]);
    EXPECT_EQ(rule, expected);
    EXPECT_EQ(book_.FindRule(7)->GetName(), Sjis("遅刻")) << "the editor writes only the copy";
}

TEST_F(RulesTest, RuleEditorRefusesWhatItCannotStore) {
    struct Case {
        const char* field;
        QString typed;
        QString message;
    } cases[] = {
        {"tfNo", "", U("'' は整数ではありません")},
        {"tfNo", "abc", U("'abc' は整数ではありません")},
        {"tfNo", U("１２a"), U("'１２a' は整数ではありません")},
        {"tfNo", "99999999999", U("'99999999999' は整数ではありません")},
        {"tfPoint", "1.5", U("'1.5' は整数ではありません")},
        {"tfPoint", "", U("'' は整数ではありません")},
        {"tfNo", "0", U("条の番号には1から9999までの整数を入れてください。")},
        {"tfNo", "10000", U("条の番号には1から9999までの整数を入れてください。")},
        {"tfName", "a\tb", U("「条文名」にタブや改行は使えません。")},
        {"tfState", U("一行目\n二行目"), U("「条文」にタブや改行は使えません。")},
        {"tfComment", "x\r", U("「備考」にタブや改行は使えません。")},
        {"tfName", U("笑顔😀"), U("「条文名」の「😀」はShift-JISで表せない文字のため使えません。")},
        {"tfComment", U("€"), U("「備考」の「€」はShift-JISで表せない文字のため使えません。")},
    };
    CRule& stored = Store(3, "遅刻", 20);
    for (const auto& c : cases) {
        CRule rule;
        rule.CopyFrom(&stored);
        const CRule before = rule;
        TRuleItem item;
        item.SetRule(&rule);
        item.Init(&info_);
        item.show();
        Type(&item, "tfName", U("新しい名前"));  // a valid change alongside the bad one
        Type(&item, c.field, c.typed);
        Click(&item, "btReg");
        EXPECT_EQ(ShownTexts(), QStringList{c.message}) << c.field << " " << c.typed.toStdString();
        EXPECT_TRUE(item.isVisible()) << c.field << ": the window stays open";
        EXPECT_EQ(item.result(), 0) << c.field;
        EXPECT_EQ(rule, before) << c.field << ": nothing is written";
    }
}

TEST_F(RulesTest, RuleEditorKeepsUntouchedBytesExactly) {
    // Bytes a Shift-JIS editor cannot give back as they were: a byte that is not CP932,
    // one of its duplicate codes (EE EF reads as the same character as FA 40), a zero.
    const std::string name = std::string("\xEE\xEF", 2) + Sjis("条");
    const std::string text = std::string("a\x81\x20z", 4);
    const std::string remark = std::string("x\0y", 3);
    CRule rule;
    rule.SetNumber(4);
    rule.SetName(name);
    rule.SetText(text);
    rule.SetRemark(remark);

    {
        TRuleItem item;
        item.SetRule(&rule);
        item.Init(&info_);
        Type(&item, "tfPoint", "9");
        Click(&item, "btReg");
        EXPECT_TRUE(ShownTexts().isEmpty());
        EXPECT_EQ(rule.GetName(), name);
        EXPECT_EQ(rule.GetText(), text);
        EXPECT_EQ(rule.GetRemark(), remark);
        EXPECT_EQ(rule.GetBase(), 9);
    }
    {
        // A field the user changed is stored as typed, the others still as they were.
        TRuleItem item;
        item.SetRule(&rule);
        Type(&item, "tfName", FieldText(&item, "tfName") + U("改"));
        Click(&item, "btReg");
        EXPECT_EQ(rule.GetName(), Sjis("ⅰ条改"));
        EXPECT_EQ(rule.GetText(), text);
        EXPECT_EQ(rule.GetRemark(), remark);
    }
    {
        // Editing the broken text itself: the character that stands for the bad byte is
        // refused, so it is never written as something else.
        TRuleItem item;
        item.SetRule(&rule);
        item.show();
        Type(&item, "tfState", FieldText(&item, "tfState") + "!");
        Click(&item, "btReg");
        EXPECT_EQ(ShownTexts(), QStringList{U("「条文」の「\uFFFD」はShift-JISで表せない文字のため使えません。")});
        EXPECT_TRUE(item.isVisible());
        EXPECT_EQ(rule.GetText(), text);
    }
}

TEST_F(RulesTest, RuleEditorCancelLeavesTheCopy) {
    CRule rule;
    rule.CopyFrom(&Store(5, "遅刻", 20));
    const CRule before = rule;
    for (bool byFrame : {false, true}) {
        TRuleItem item;
        item.SetRule(&rule);
        item.Init(&info_);
        item.show();
        Type(&item, "tfNo", "6");
        Type(&item, "tfName", U("別名"));
        Type(&item, "tfState", U("別文"));
        Type(&item, "tfComment", U("別備考"));
        Type(&item, "tfPoint", "99");
        for (const char* s : {"tbRuiseki", "tbJoujou", "tbImp1", "tbImp2", "tbImp3", "tbImp4", "tbPt"})
            Slide(&item, s, 9);
        if (byFrame)
            item.close();
        else
            Click(&item, "btCancel");
        EXPECT_EQ(item.result(), QDialog::Rejected);
        EXPECT_FALSE(item.isVisible());
        EXPECT_EQ(rule, before) << (byFrame ? "frame" : "取消");
    }
}

// ---------------------------------------------------------------- implement editor

TEST_F(RulesTest, ImplementEditorShowsTheTableAndItsLabels) {
    CRuleBook empty;
    CInfo emptyInfo;
    emptyInfo.SetRuleBook(&empty);
    TImpEdit blank;
    blank.Init(&emptyInfo);
    EXPECT_EQ(blank.windowTitle(), U("道具編集"));
    EXPECT_EQ(blank.size(), QSize(287, 243));
    EXPECT_EQ(Child<QGroupBox>(&blank, "GroupBox1")->title(), U("道具設定"));
    EXPECT_EQ(Child<QPushButton>(&blank, "btnReg")->text(), U("登録"));
    EXPECT_EQ(Child<QPushButton>(&blank, "btnCansel")->text(), U("戻る"));
    for (const char* field : {"tfImp1", "tfImp2", "tfImp3", "tfImp4"}) EXPECT_EQ(FieldText(&blank, field), "");
    EXPECT_EQ(Child<QWidget>(&blank, "tfImp3")->accessibleName(), U("道具3の名前"));
    EXPECT_EQ(Child<QWidget>(&blank, "tbImp3")->accessibleName(), U("道具3の重さ"));
    for (const char* label : {"pnImp1", "pnImp2", "pnImp3", "pnImp4"}) EXPECT_EQ(LabelText(&blank, label), "0.0");
    for (const char* slider : {"tbImp1", "tbImp2", "tbImp3", "tbImp4"}) {
        EXPECT_EQ(Child<QSlider>(&blank, slider)->minimum(), 0);
        EXPECT_EQ(Child<QSlider>(&blank, slider)->maximum(), 20);
    }

    book_.SetImpWeight(3, 35);  // from a file: beyond the slider
    TImpEdit imp;
    imp.Init(&info_);
    EXPECT_EQ(FieldText(&imp, "tfImp1"), U("腕立て伏せ"));
    EXPECT_EQ(FieldText(&imp, "tfImp3"), U("スクワット"));
    EXPECT_EQ(LabelText(&imp, "pnImp1"), "0.5");
    EXPECT_EQ(LabelText(&imp, "pnImp3"), "0.3");
    EXPECT_EQ(LabelText(&imp, "pnImp4"), "2.0");
    struct Move {
        const char* slider;
        int value;
        const char* label;
        const char* shown;
    } moves[] = {{"tbImp3", 13, "pnImp3", "1.3"}, {"tbImp1", 10, "pnImp1", "1.0"},
                 {"tbImp2", 20, "pnImp2", "2.0"}, {"tbImp4", 0, "pnImp4", "0.0"}};
    for (const auto& m : moves) {
        Slide(&imp, m.slider, m.value);
        EXPECT_EQ(LabelText(&imp, m.label), m.shown) << m.slider;
    }
}

TEST_F(RulesTest, ImplementEditorStoresAllEightOrNothing) {
    const std::string keptName = std::string("\xEE\xEF\x81", 3);  // not re-encodable as it is
    book_.SetImpName(3, keptName);
    {
        TImpEdit imp;
        imp.Init(&info_);
        Type(&imp, "tfImp2", U("背筋"));
        Slide(&imp, "tbImp1", 20);
        Slide(&imp, "tbImp3", 13);
        Click(&imp, "btnCansel");
        EXPECT_EQ(imp.result(), QDialog::Rejected);
        EXPECT_EQ(book_.GetImpName(1), Sjis("腹筋")) << "戻る stores nothing";
        EXPECT_EQ(book_.GetImpWeight(0), 5);
        EXPECT_EQ(book_.GetImpWeight(2), 3);
    }
    {
        TImpEdit imp;
        imp.Init(&info_);
        imp.show();
        Type(&imp, "tfImp2", U("背筋"));
        Type(&imp, "tfImp3", U("ラン\tジ"));
        Slide(&imp, "tbImp1", 20);
        Click(&imp, "btnReg");
        EXPECT_EQ(ShownTexts(), QStringList{U("「道具3の名前」にタブや改行は使えません。")});
        EXPECT_TRUE(imp.isVisible());
        EXPECT_EQ(book_.GetImpName(1), Sjis("腹筋")) << "a refused name stores nothing";
        EXPECT_EQ(book_.GetImpWeight(0), 5);

        Type(&imp, "tfImp3", U("ランジ"));
        Slide(&imp, "tbImp3", 13);
        Click(&imp, "btnReg");
        EXPECT_TRUE(ShownTexts().isEmpty());
        EXPECT_EQ(imp.result(), QDialog::Accepted);
    }
    const std::string names[] = {Sjis("腕立て伏せ"), Sjis("背筋"), Sjis("ランジ"), keptName};
    const int weights[] = {20, 5, 13, 10};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(book_.GetImpName(i), names[i]) << i;
        EXPECT_EQ(book_.GetImpWeight(i), weights[i]) << i;
    }
}

// ---------------------------------------------------------------- rule list

TEST_F(RulesTest, ListShowsTheArticlesInNumberOrder) {
    Store(12, "夜更かし", 15);
    Store(3, "遅刻", 20);
    Store(7, "無駄遣い", -4);
    TRuleEdit list;
    list.Init(&info_);
    list.show();  // lays the window out
    EXPECT_EQ(list.windowTitle(), U("ルール一覧"));
    EXPECT_EQ(list.size(), QSize(654, 489));
    auto* grid = Child<QTableWidget>(&list, "sgRules");
    const int widths[] = {53, 109, 376, 52};
    for (int c = 0; c < 4; ++c) EXPECT_EQ(grid->columnWidth(c), widths[c]);
    EXPECT_EQ(grid->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(GridRows(&list), (QStringList{U("3|遅刻|本文3|20"), U("7|無駄遣い|本文7|-4"),
                                            U("12|夜更かし|本文12|15")}));

    const char* buttons[][2] = {{"btAdd", "新規追加"}, {"btEdit", "編集"}, {"Button1", "削除"},
                                {"btnImp", "道具編集"}, {"btSave", "保存"}, {"btExit", "終了"}};
    int left = -1;
    for (const auto& b : buttons) {
        auto* button = Child<QPushButton>(&list, b[0]);
        EXPECT_EQ(button->text(), U(b[1]));
        EXPECT_GT(button->x(), left) << b[0] << " stands right of the one before";
        EXPECT_GT(button->y(), grid->geometry().bottom()) << b[0] << " stands under the grid";
        left = button->x();
    }

    WhenOpens<TRuleItem>([](TRuleItem* item) { EXPECT_EQ(FieldText(item, "tfNo"), "13"); });
    Click(&list, "btAdd");
    EXPECT_EQ(book_.RuleCount(), 3);
}

TEST_F(RulesTest, AddToAnEmptyBook) {
    TRuleEdit list;
    list.Init(&info_);
    EXPECT_TRUE(GridRows(&list).isEmpty());

    WhenOpens<TRuleItem>([](TRuleItem* item) {
        EXPECT_EQ(item->windowTitle(), U("ルール編集"));
        EXPECT_EQ(FieldText(item, "tfNo"), "1");
        for (const char* f : {"tfName", "tfState", "tfComment"}) EXPECT_EQ(FieldText(item, f), "") << f;
        EXPECT_EQ(FieldText(item, "tfPoint"), "0");
        for (const char* s : {"tbRuiseki", "tbJoujou", "tbImp1", "tbImp2", "tbImp3", "tbImp4", "tbPt"})
            EXPECT_EQ(Child<QSlider>(item, s)->value(), 0) << s;
        EXPECT_EQ(LabelText(item, "pnRuiseki"), "0.0");
        EXPECT_EQ(LabelText(item, "pnJoujou"), "0.0");
        for (const char* l : {"pnImp1P", "pnImp2P", "pnImp3P", "pnImp4P", "pnPtP"}) EXPECT_EQ(LabelText(item, l), "0") << l;
        EXPECT_EQ(LabelText(item, "pnImp2"), U("腹筋"));

        Type(item, "tfName", U("遅刻"));
        Type(item, "tfState", U("約束の時刻に遅れた。"));
        Type(item, "tfPoint", "20");
        Slide(item, "tbRuiseki", 10);
        Slide(item, "tbImp1", 3);
        Click(item, "btReg");
    });
    Click(&list, "btAdd");

    EXPECT_TRUE(ShownTexts().isEmpty());
    ASSERT_EQ(book_.RuleCount(), 1);
    const CRule* added = book_.FindRule(1);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->GetName(), Sjis("遅刻"));
    EXPECT_EQ(added->GetText(), Sjis("約束の時刻に遅れた。"));
    EXPECT_EQ(added->GetRemark(), "");
    EXPECT_EQ(added->GetBase(), 20);
    EXPECT_EQ(added->GetCumulative(), 10);
    EXPECT_EQ(added->GetShare(0), 3);
    EXPECT_EQ(added->GetCreated(), kNow) << "the book stamps a new number";
    EXPECT_EQ(GridRows(&list), QStringList{U("1|遅刻|約束の時刻に遅れた。|20")});
    EXPECT_EQ(ReadBytes("test.dat"), "<missing>") << "nothing is saved without 保存";
}

TEST_F(RulesTest, EmptyListEditAndDeleteReportTheEmptyCell) {
    TRuleEdit list;
    list.Init(&info_);
    for (const char* button : {"btEdit", "Button1"}) {
        Click(&list, button);
        EXPECT_EQ(ShownTexts(), QStringList{U("'' は整数ではありません")}) << button;
    }
    EXPECT_EQ(book_.RuleCount(), 0);
}

TEST_F(RulesTest, RegisteringOverAnotherArticleAsksFirst) {
    // Adding with, or editing to, the number of another article: the safe choice goes
    // back to the editor with everything typed; 置き換える replaces that article.
    struct Case {
        const char* button;
        int row;  // selected for 編集
        const char* proposed;
        QStringList after;
    } cases[] = {
        {"btAdd", 0, "8", {U("3|寝坊|本文8|0"), U("7|無駄遣い|本文7|30")}},
        {"btEdit", 1, "7", {U("3|寝坊|本文7|0"), U("7|無駄遣い|本文7|30")}},
    };
    for (const Case& c : cases) {
        book_.RemoveRule(3);
        Store(3, "遅刻", 20);
        const qv::Seconds created = Store(7, "無駄遣い", 30).GetCreated();
        TRuleEdit list;
        list.Init(&info_);
        SelectRow(&list, c.row);
        const QString question =
            U("「3条 遅刻」がすでにあります。登録すると、この条文は置き換えられます。");
        bool asked = false;
        WhenOpens<TRuleItem>([&](TRuleItem* item) {
            EXPECT_EQ(FieldText(item, "tfNo"), c.proposed);
            Type(item, "tfNo", "3");
            Type(item, "tfName", U("寝坊"));
            Type(item, "tfState", U("本文") + c.proposed);
            Type(item, "tfPoint", "0");
            qv::ui::MessageBox::QueueChoice(false);
            Click(item, "btReg");
            const QList<qv::ui::ShownMessage> shown = qv::ui::MessageBox::TakeShown();
            ASSERT_EQ(shown.size(), 1) << c.button;
            EXPECT_EQ(shown[0].text, question) << c.button;
            EXPECT_EQ(shown[0].buttons, (QStringList{U("置き換える"), U("番号を直す")}))
                << c.button << ": the buttons say the choices, never OK/キャンセル";
            asked = item->isVisible();
            EXPECT_EQ(FieldText(item, "tfNo"), "3") << c.button << ": everything typed is kept";
            EXPECT_EQ(FieldText(item, "tfName"), U("寝坊")) << c.button;
            EXPECT_EQ(book_.FindRule(3)->GetName(), Sjis("遅刻")) << c.button << ": not yet";
            qv::ui::MessageBox::QueueChoice(true);
            Click(item, "btReg");
            EXPECT_EQ(ShownTexts(), QStringList{question}) << c.button;
        });
        Click(&list, c.button);
        EXPECT_TRUE(asked) << c.button << ": Cancel keeps the editor open";
        EXPECT_EQ(GridRows(&list), c.after) << c.button;
        EXPECT_EQ(book_.FindRule(7)->GetCreated(), created) << c.button;
    }
}

TEST_F(RulesTest, EditWithAChangedNumberKeepsBoth) {
    Store(3, "遅刻", 20);
    const CRule original = Store(7, "無駄遣い", 30);
    TRuleEdit list;
    list.Init(&info_);
    SelectRow(&list, 1);
    WhenOpens<TRuleItem>([](TRuleItem* item) {
        EXPECT_EQ(FieldText(item, "tfNo"), "7");
        EXPECT_EQ(FieldText(item, "tfName"), U("無駄遣い"));
        EXPECT_EQ(LabelText(item, "pnRuiseki"), "1.5");
        EXPECT_EQ(LabelText(item, "pnPtP"), "5");
        Type(item, "tfNo", "8");
        Type(item, "tfPoint", "35");
        Click(item, "btReg");
    });
    Click(&list, "btEdit");
    EXPECT_EQ(GridRows(&list), (QStringList{U("3|遅刻|本文3|20"), U("7|無駄遣い|本文7|30"),
                                            U("8|無駄遣い|本文7|35")}));
    EXPECT_EQ(*book_.FindRule(7), original);
    const CRule* moved = book_.FindRule(8);
    EXPECT_EQ(moved->GetCumulative(), 15);
    EXPECT_EQ(moved->GetShare(4), 5);
    EXPECT_EQ(moved->GetCreated(), kNow) << "a number new to the book is stamped";
    EXPECT_GE(moved->GetUpdated(), qv::SystemNow() - 60);

    // An unchanged registration keeps `created` and renews `updated`.
    SelectRow(&list, 0);
    const qv::Seconds created = book_.FindRule(3)->GetCreated();
    WhenOpens<TRuleItem>([](TRuleItem* item) { Click(item, "btReg"); });
    Click(&list, "btEdit");
    EXPECT_EQ(book_.FindRule(3)->GetCreated(), created);
    EXPECT_GT(book_.FindRule(3)->GetUpdated(), kNow);
}

TEST_F(RulesTest, CancelInTheEditorChangesNothing) {
    Store(3, "遅刻", 20);
    Store(7, "無駄遣い", 30);
    const auto before = Snapshot();
    TRuleEdit list;
    list.Init(&info_);
    const QStringList rows = GridRows(&list);
    for (const char* button : {"btAdd", "btEdit"}) {
        WhenOpens<TRuleItem>([](TRuleItem* item) {
            Type(item, "tfNo", "3");
            Type(item, "tfName", U("別名"));
            Type(item, "tfPoint", "1");
            Slide(item, "tbPt", 10);
            Click(item, "btCancel");
        });
        Click(&list, button);
        EXPECT_EQ(Snapshot(), before) << button;
        EXPECT_EQ(GridRows(&list), rows) << button;
    }
}

TEST_F(RulesTest, DeleteAsksFirstWithTheWholeName) {
    Store(3, "遅刻", 20);
    // Longer than any fixed buffer a message might be cut to.
    std::string longName;
    for (int i = 0; i < 100; ++i) longName += "約束";
    CRule rule;
    rule.SetNumber(7);
    rule.SetName(Sjis(longName));
    book_.AddRule(rule);
    ASSERT_GT(book_.FindRule(7)->GetName().size(), 256u);

    TRuleEdit list;
    list.Init(&info_);
    SelectRow(&list, 1);
    const QString question = U("7 - ") + QString::fromStdString(longName) + U("を削除します。");

    qv::ui::MessageBox::QueueAnswer(false);
    Click(&list, "Button1");
    auto shown = qv::ui::MessageBox::TakeShown();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].caption, U("確認"));
    EXPECT_TRUE(shown[0].confirmation);
    EXPECT_EQ(shown[0].text, question);
    EXPECT_EQ(book_.RuleCount(), 2) << "Cancel keeps the article";
    EXPECT_EQ(GridRows(&list).size(), 2);

    qv::ui::MessageBox::QueueAnswer(true);
    Click(&list, "Button1");
    EXPECT_EQ(ShownTexts(), QStringList{question});
    EXPECT_EQ(book_.FindRule(7), nullptr) << "OK removes it";
    EXPECT_EQ(GridRows(&list), QStringList{U("3|遅刻|本文3|20")});
    EXPECT_EQ(Child<QTableWidget>(&list, "sgRules")->currentRow(), 0);
}

TEST_F(RulesTest, ImplementEditorFromTheList) {
    Store(3, "遅刻", 20);
    ASSERT_TRUE(book_.SaveFile());
    const std::string saved = ReadBytes("test.dat");
    TRuleEdit list;
    list.Init(&info_);
    WhenOpens<TImpEdit>([](TImpEdit* imp) {
        Type(imp, "tfImp2", U("背筋"));
        Click(imp, "btnReg");
    });
    Click(&list, "btnImp");
    EXPECT_EQ(book_.GetImpName(1), Sjis("背筋"));

    SelectRow(&list, 0);
    WhenOpens<TRuleItem>([](TRuleItem* item) { EXPECT_EQ(LabelText(item, "pnImp2"), U("背筋")); });
    Click(&list, "btEdit");
    EXPECT_EQ(ReadBytes("test.dat"), saved) << "the old name stays in the file until 保存";
}

TEST_F(RulesTest, SaveWritesTheExactBytes) {
    CRule rule;
    ASSERT_TRUE(rule.FromLine("12\t0\t1700000100\t" + Sjis("遅刻\t約束に遅れた。\t") + "\t30\t15\t12\t4\t3\t0\t0\t3"));
    book_.AddRule(rule);
    WriteBytes("test.dat", "old");
    TRuleEdit list;
    list.Init(&info_);
    Click(&list, "btSave");
    EXPECT_TRUE(ShownTexts().isEmpty());
    EXPECT_EQ(ReadBytes("test.dat"),
              "qvrule\t1\tid1\t1700000000\t" + Sjis("腕立て伏せ") + "\t5\t" + Sjis("腹筋") + "\t5\t" +
                  Sjis("スクワット") + "\t3\t\t10\r\n" + "12\t1700000000\t1700000100\t" +
                  Sjis("遅刻\t約束に遅れた。\t") + "\t30\t15\t12\t4\t3\t0\t0\t3\r\n");
}

TEST_F(RulesTest, FailedSaveIsReportedAndTheOldFileStays) {
    Store(3, "遅刻", 20);
    struct Case {
        const char* what;
        const char* path;
        bool readOnly;
    } cases[] = {{"read-only file", "test.dat", true}, {"missing folder", "gone/test.dat", false}};
    for (const auto& c : cases) {
        if (c.readOnly) {
            WriteBytes(c.path, "old bytes");
            std::filesystem::permissions(c.path, std::filesystem::perms::owner_read |
                                                     std::filesystem::perms::group_read);
        }
        book_.SetFileName(c.path);
        const std::string before = qv::test::ListDir();
        TRuleEdit list;
        list.Init(&info_);
        list.show();
        Click(&list, "btSave");
        const QStringList shown = ShownTexts();
        ASSERT_EQ(shown.size(), 1) << c.what;
        EXPECT_TRUE(shown[0].startsWith(U("ルールを「") + c.path + U("」に保存できませんでした。")))
            << c.what << ": " << shown[0].toStdString();
        EXPECT_TRUE(list.isVisible()) << c.what;
        EXPECT_EQ(ReadBytes(c.path), c.readOnly ? "old bytes" : "<missing>") << c.what;
        EXPECT_EQ(qv::test::ListDir(), before) << c.what << ": no stray file";
        EXPECT_EQ(book_.RuleCount(), 1) << c.what << ": the book in memory stays";
    }
}

TEST_F(RulesTest, SaveAsksBeforeOverwritingAFileChangedOnDisk) {
    const std::string loaded = "qvrule\t1\tid1\t0\tA\t10\tB\t5\tC\t7\tD\t10\r\n";
    const std::string edited = loaded + "9\t0\t0\tX\tY\tZ\t1\t1\t1\t1\t1\t1\t1\t1\r\n";
    struct Case {
        const char* what;
        const char* onDisk;  // nullptr: removed
        const char* said;
        bool overwrite;
    } cases[] = {
        {"rewritten, keep it", edited.c_str(), "ほかのプログラムで書き換えられています", false},
        {"rewritten, overwrite", edited.c_str(), "ほかのプログラムで書き換えられています", true},
        {"removed, make it again", nullptr, "移動または削除されています", true},
    };
    for (const Case& c : cases) {
        WriteBytes("test.dat", loaded);
        ASSERT_TRUE(book_.LoadFile());
        Store(3, "遅刻", 20);
        TRuleEdit list;
        list.Init(&info_);
        if (c.onDisk)
            WriteBytes("test.dat", c.onDisk);
        else
            std::filesystem::remove("test.dat");
        qv::ui::MessageBox::QueueAnswer(c.overwrite);
        Click(&list, "btSave");
        auto shown = qv::ui::MessageBox::TakeShown();
        ASSERT_EQ(shown.size(), 1) << c.what;
        EXPECT_TRUE(shown[0].confirmation) << c.what;
        EXPECT_TRUE(shown[0].text.startsWith(U("ルールのファイル「test.dat」は、読み込んだ後に")))
            << c.what;
        EXPECT_TRUE(shown[0].text.contains(U(c.said))) << c.what;
        const std::string now = ReadBytes("test.dat");
        EXPECT_EQ(now.find("\r\n3\t") != std::string::npos, c.overwrite) << c.what;
        if (!c.overwrite) {
            EXPECT_EQ(now, edited) << c.what << ": left as the other program wrote it";
        }
        EXPECT_EQ(book_.IsModified(), !c.overwrite) << c.what;

        // After its own save the next one asks nothing.
        if (c.overwrite) {
            Click(&list, "btSave");
            EXPECT_TRUE(ShownTexts().isEmpty()) << c.what;
        }
        book_.RemoveRule(3);
    }
}

TEST_F(RulesTest, MenuOpensTheListAndOnlySaveWritesTheFile) {
    const std::string file = "qvrule\t1\tid1\t0\t" + Sjis("腕立て伏せ") + "\t5\tB\t5\tC\t3\tD\t10\r\n" +
                             "1\t0\t0\t" + Sjis("遅刻\t本文\t備考") + "\t20\t10\t10\t3\t3\t2\t0\t2\r\n";
    WriteBytes("test.dat", file);
    TForm1 menu;
    ASSERT_TRUE(menu.IsLoaded());

    // Add an article, leave without saving, come back: it is there; the file is not touched.
    WhenOpens<TRuleEdit>([](TRuleEdit* list) {
        EXPECT_EQ(GridRows(list), QStringList{U("1|遅刻|本文|20")});
        WhenOpens<TRuleItem>([](TRuleItem* item) {
            EXPECT_EQ(LabelText(item, "pnImp1"), U("腕立て伏せ"));
            Type(item, "tfName", U("寝坊"));
            Click(item, "btReg");
        });
        Click(list, "btAdd");
        Click(list, "btExit");
    });
    Click(&menu, "btnRule");
    EXPECT_EQ(menu.Info()->GetRuleBook()->RuleCount(), 2);
    EXPECT_EQ(ReadBytes("test.dat"), file);

    WhenOpens<TRuleEdit>([](TRuleEdit* list) {
        EXPECT_EQ(GridRows(list), (QStringList{U("1|遅刻|本文|20"), U("2|寝坊||0")}));
        Click(list, "btSave");
        Click(list, "btExit");
    });
    Click(&menu, "btnRule");
    CRuleBook reread;
    reread.SetFileName("test.dat");
    ASSERT_TRUE(reread.LoadFile());
    ASSERT_NE(reread.FindRule(2), nullptr);
    EXPECT_EQ(reread.FindRule(2)->GetName(), Sjis("寝坊"));
    EXPECT_EQ(reread.GetImpName(0), Sjis("腕立て伏せ"));
    EXPECT_TRUE(ShownTexts().isEmpty());
}

}  // namespace

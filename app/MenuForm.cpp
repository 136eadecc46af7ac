#include "app/MenuForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QUrl>

#include "execution/LogListForm.h"
#include "rules/RuleEditForm.h"
#include "trial/JudgeForm.h"
#include "ui/Accessibility.h"
#include "ui/FileTexts.h"
#include "ui/MessageBox.h"
#include "ui/Texts.h"

// A placeholder under a reserved domain until the program has a home page of its own.
const QString TForm1::kHomePage = QStringLiteral("https://quorvel.example/");

namespace {
// The fixed message, and for a file that is there but unusable, what is wrong with it.
QString LoadFailureText(CRuleBook::LoadStatus status) {
    QString text = QStringLiteral("データファイルが見つかりませんでした。");
    switch (status) {
        case CRuleBook::LoadStatus::Empty:
            return text + QStringLiteral("\n\ntest.dat が空です。");
        case CRuleBook::LoadStatus::Unreadable:
            return text + QStringLiteral("\n\ntest.dat を読み込めません（フォルダであるか、読み取りが許可されていません）。");
        case CRuleBook::LoadStatus::NotARuleBook:
            return text + QStringLiteral("\n\ntest.dat の1行目がルールブックの見出し（qvrule）ではありません。");
        case CRuleBook::LoadStatus::HeaderNotEnded:
            return text + QStringLiteral(
                              "\n\ntest.dat の見出しの行（1行目）が改行で終わっていません。"
                              "見出しそのものは正しいので、テキストエディタで1行目の末尾に改行を"
                              "入れて保存し直してください。");
        case CRuleBook::LoadStatus::CrOnlyLineEnds:
            return text +
                   QStringLiteral(
                       "\n\ntest.dat の改行がCRだけになっているため、見出しの行（1行目）が"
                       "どこで終わるのか分かりません。改行をCR LFかLFにして保存し直してください。");
        default:
            return text;
    }
}
}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    setupUi(this);
    setFixedSize(size());
    move(257, 123);  // uic only sizes a top-level window
    qv::ui::SetFormFont(this, 12);
    for (QPushButton* b : {btnRule, btnJudge, Button1, btGoHP, btExit}) qv::ui::SetFormFont(b, 16);

    qv::ui::NameControls(this);

    connect(btnRule, &QPushButton::clicked, this, &TForm1::btnRuleClick);
    connect(btnJudge, &QPushButton::clicked, this, &TForm1::btnJudgeClick);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(btGoHP, &QPushButton::clicked, this, &TForm1::btGoHPClick);
    connect(btExit, &QPushButton::clicked, this, &TForm1::btExitClick);

    ruleBook_.SetFileName("test.dat");
    loaded_ = ruleBook_.LoadFile();
    if (!loaded_) {
        qv::ui::MessageBox::Show(LoadFailureText(ruleBook_.GetLoadStatus()));
    } else if (const auto unread = ruleBook_.UnreadLines().size(); unread > 0) {
        qv::ui::MessageBox::Show(
            QStringLiteral("test.dat の %1 行はルールの形式でないため読み込めませんでした。"
                           "これらの行は保存しても消えずにそのまま残ります。")
                .arg(unread));
    }
    info_.SetRuleBook(&ruleBook_);
    info_.SetLogPath("test.log");
    info_.SetBalancePath("user.dat");
}

void TForm1::btnRuleClick() {
    TRuleEdit window(this);
    window.Init(&info_);
    window.exec();
}

void TForm1::btnJudgeClick() {
    TJudge judge(this);
    judge.Init(&info_);
    judge.exec();
}

void TForm1::Button1Click() {
    TLogList window(this);
    window.Init(&info_);
    window.exec();
}

void TForm1::btGoHPClick() { QDesktopServices::openUrl(QUrl(kHomePage)); }

void TForm1::btExitClick() { close(); }

void TForm1::closeEvent(QCloseEvent* event) {
    if (loaded_ && ruleBook_.IsModified()) {
        using Answer = qv::ui::MessageBox::SaveAnswer;
        switch (qv::ui::MessageBox::AskSave(
            QStringLiteral("ルールの変更が「%1」に保存されていません。\n終了する前に保存しますか？")
                .arg(qv::ui::PathText(ruleBook_.GetFileName())),
            this)) {
            case Answer::Save:
                // Not saved (refused or failed, and told): the program stays.
                if (!TRuleEdit::SaveBook(&ruleBook_, this)) return event->ignore();
                break;
            case Answer::Discard:
                break;
            case Answer::Cancel:
                return event->ignore();
        }
    }
    QWidget::closeEvent(event);
}

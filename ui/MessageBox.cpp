#include "ui/MessageBox.h"

#include <QMessageBox>
#include <QPushButton>
#include <QQueue>

#include "ui/Texts.h"

namespace qv::ui {
namespace {
bool gTestMode = false;
QQueue<bool> gAnswers;
QQueue<MessageBox::SaveAnswer> gSaveAnswers;
QList<ShownMessage> gShown;
}  // namespace

const QString MessageBox::kConfirmCaption = QStringLiteral("確認");

void MessageBox::Show(const QString& text, QWidget* parent) {
    if (gTestMode) {
        gShown.append({kAppTitle, text, false});
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, kAppTitle, text, QMessageBox::Ok, parent);
    // A text like "<b>重要</b>" is shown as typed, not in bold.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool MessageBox::Confirm(const QString& text) {
    if (gTestMode) {
        gShown.append({kConfirmCaption, text, true});
        return gAnswers.isEmpty() ? false : gAnswers.dequeue();
    }
    QMessageBox box(QMessageBox::NoIcon, kConfirmCaption, text,
                    QMessageBox::Ok | QMessageBox::Cancel, nullptr);
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Ok;
}

MessageBox::SaveAnswer MessageBox::AskSave(const QString& text, QWidget* parent) {
    if (gTestMode) {
        gShown.append({kConfirmCaption, text, true});
        return gSaveAnswers.isEmpty() ? SaveAnswer::Cancel : gSaveAnswers.dequeue();
    }
    QMessageBox box(QMessageBox::Question, kConfirmCaption, text, QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    QPushButton* save = box.addButton(QStringLiteral("保存する"), QMessageBox::AcceptRole);
    QPushButton* discard =
        box.addButton(QStringLiteral("保存しない"), QMessageBox::DestructiveRole);
    QPushButton* back = box.addButton(QStringLiteral("戻る"), QMessageBox::RejectRole);
    box.setDefaultButton(save);
    box.setEscapeButton(back);
    box.exec();
    if (box.clickedButton() == save) return SaveAnswer::Save;
    if (box.clickedButton() == discard) return SaveAnswer::Discard;
    return SaveAnswer::Cancel;
}

void MessageBox::SetTestMode(bool on) {
    gTestMode = on;
    gAnswers.clear();
    gSaveAnswers.clear();
    gShown.clear();
}

void MessageBox::QueueAnswer(bool ok) { gAnswers.enqueue(ok); }

void MessageBox::QueueSaveAnswer(SaveAnswer answer) { gSaveAnswers.enqueue(answer); }

QList<ShownMessage> MessageBox::TakeShown() {
    QList<ShownMessage> shown;
    shown.swap(gShown);
    return shown;
}

}  // namespace qv::ui

#include "ui/MessageBox.h"

#include <QMessageBox>
#include <QQueue>

#include "ui/Texts.h"

namespace qv::ui {
namespace {
bool gTestMode = false;
QQueue<bool> gAnswers;
QList<ShownMessage> gShown;
}  // namespace

const QString MessageBox::kConfirmCaption = QStringLiteral("確認");

void MessageBox::Show(const QString& text, QWidget* parent) {
    if (gTestMode) {
        gShown.append({kAppTitle, text, false});
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, kAppTitle, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);  // paths and names are data, never markup
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

void MessageBox::SetTestMode(bool on) {
    gTestMode = on;
    gAnswers.clear();
    gShown.clear();
}

void MessageBox::QueueAnswer(bool ok) { gAnswers.enqueue(ok); }

QList<ShownMessage> MessageBox::TakeShown() {
    QList<ShownMessage> shown;
    shown.swap(gShown);
    return shown;
}

}  // namespace qv::ui

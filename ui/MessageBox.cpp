#include "ui/MessageBox.h"

#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QQueue>
#include <algorithm>

#include "ui/Texts.h"

namespace qv::ui {
namespace {
bool gTestMode = false;
QQueue<bool> gAnswers;
QQueue<MessageBox::SaveAnswer> gSaveAnswers;
QQueue<bool> gChoices;
QList<ShownMessage> gShown;

// After these a line may end: a Japanese sentence breaks at its punctuation, not inside a
// word ("合い|ません") or a file name ("test.log": Latin marks break only with a blank).
bool BreaksAfter(QChar c) {
    static const QString kAfter = QStringLiteral("、。，．！？）」』】〕・：； \u3000");
    return kAfter.contains(c);
}

QStringList Pieces(const QString& paragraph) {
    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i < paragraph.size(); ++i) {
        // A run of closing marks ("。」") stays together.
        if (BreaksAfter(paragraph.at(i)) &&
            (i + 1 == paragraph.size() || !BreaksAfter(paragraph.at(i + 1)))) {
            pieces << paragraph.mid(start, i + 1 - start);
            start = i + 1;
        }
    }
    if (start < paragraph.size()) pieces << paragraph.mid(start);
    return pieces;
}

// Wide enough for about 32 Japanese characters: a box reads as a few short lines.
int LineWidth(const QFontMetrics& metrics) {
    return metrics.horizontalAdvance(QChar(0x3042)) * 32;
}

// Shows the text laid out by BreakMessageLines and keeps the toolkit from wrapping it
// again at its own places.
void SetText(QMessageBox& box, const QString& text) {
    box.setTextFormat(Qt::PlainText);  // "<b>重要</b>" typed by the user shows as typed
    const QFontMetrics metrics(box.font());
    const QString laidOut = BreakMessageLines(text, metrics, LineWidth(metrics));
    box.setText(laidOut);
    int widest = 0;
    for (const QString& line : laidOut.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
        label->setMinimumWidth(std::min(widest + 4, LineWidth(metrics) * 2));
}
}  // namespace

QString BreakMessageLines(const QString& text, const QFontMetrics& metrics, int width) {
    QStringList lines;
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        QString line;
        for (const QString& piece : Pieces(paragraph)) {
            if (!line.isEmpty() && metrics.horizontalAdvance(line + piece) > width) {
                lines << line;
                line.clear();
            }
            line += piece;
        }
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

const QString MessageBox::kConfirmCaption = QStringLiteral("確認");

void MessageBox::Show(const QString& text, QWidget* parent) {
    if (gTestMode) {
        gShown.append({kAppTitle, text, false});
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, kAppTitle, QString(), QMessageBox::Ok, parent);
    SetText(box, text);
    box.exec();
}

void MessageBox::Warn(const QString& text, QWidget* parent) {
    if (gTestMode) {
        gShown.append({kAppTitle, text, false, true});
        return;
    }
    QMessageBox box(QMessageBox::Warning, kAppTitle, QString(), QMessageBox::Ok, parent);
    SetText(box, text);
    box.exec();
}

bool MessageBox::Confirm(const QString& text) {
    if (gTestMode) {
        gShown.append({kConfirmCaption, text, true});
        return gAnswers.isEmpty() ? false : gAnswers.dequeue();
    }
    QMessageBox box(QMessageBox::NoIcon, kConfirmCaption, QString(),
                    QMessageBox::Ok | QMessageBox::Cancel, nullptr);
    SetText(box, text);
    return box.exec() == QMessageBox::Ok;
}

MessageBox::SaveAnswer MessageBox::AskSave(const QString& text, QWidget* parent) {
    if (gTestMode) {
        gShown.append({kConfirmCaption, text, true});
        return gSaveAnswers.isEmpty() ? SaveAnswer::Cancel : gSaveAnswers.dequeue();
    }
    QMessageBox box(QMessageBox::Question, kConfirmCaption, QString(), QMessageBox::NoButton,
                    parent);
    SetText(box, text);
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

bool MessageBox::Choose(const QString& text, const QString& change, const QString& keep,
                        QWidget* parent) {
    if (gTestMode) {
        gShown.append({kConfirmCaption, text, true, false, {change, keep}});
        return gChoices.isEmpty() ? false : gChoices.dequeue();
    }
    QMessageBox box(QMessageBox::Question, kConfirmCaption, QString(), QMessageBox::NoButton,
                    parent);
    SetText(box, text);
    QPushButton* changeButton = box.addButton(change, QMessageBox::AcceptRole);
    QPushButton* keepButton = box.addButton(keep, QMessageBox::RejectRole);
    box.setDefaultButton(keepButton);
    box.setEscapeButton(keepButton);
    box.exec();
    return box.clickedButton() == changeButton;
}

void MessageBox::SetTestMode(bool on) {
    gTestMode = on;
    gAnswers.clear();
    gSaveAnswers.clear();
    gChoices.clear();
    gShown.clear();
}

void MessageBox::QueueAnswer(bool ok) { gAnswers.enqueue(ok); }

void MessageBox::QueueSaveAnswer(SaveAnswer answer) { gSaveAnswers.enqueue(answer); }

void MessageBox::QueueChoice(bool change) { gChoices.enqueue(change); }

QList<ShownMessage> MessageBox::TakeShown() {
    QList<ShownMessage> shown;
    shown.swap(gShown);
    return shown;
}

}  // namespace qv::ui

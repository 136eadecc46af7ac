#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QFontMetrics;
class QWidget;

namespace qv::ui {

struct ShownMessage {
    QString caption;
    QString text;
    bool confirmation = false;
    bool warning = false;  // shown with the warning icon
    QStringList buttons;   // a two-choice question's buttons, the safe one last
};

// Every message box of the program goes through here. Tests switch on test mode: boxes
// are then recorded instead of shown and answered from a queue set up in advance.
// Texts are shown exactly as given, never read as markup: they carry the user's texts.
class MessageBox {
public:
    static const QString kConfirmCaption;  // "確認"

    // The answers to a question about unsaved changes.
    enum class SaveAnswer { Save, Discard, Cancel };

    // Box with an OK button.
    static void Show(const QString& text, QWidget* parent = nullptr);
    // The same with the warning icon: something failed or was refused.
    static void Warn(const QString& text, QWidget* parent = nullptr);
    // OK/Cancel box captioned "確認" with no owner window; true for OK.
    static bool Confirm(const QString& text);
    // "保存する" / "保存しない" / "戻る" box captioned "確認"; closing it goes back.
    static SaveAnswer AskSave(const QString& text, QWidget* parent = nullptr);
    // A question with two real choices, each button saying what it does, captioned "確認".
    // `keep` is the safe choice: the default button, and what closing the box answers.
    // True when the user chose `change`.
    static bool Choose(const QString& text, const QString& change, const QString& keep,
                       QWidget* parent = nullptr);

    static void SetTestMode(bool on);
    // The answer to the next confirmation (OK when true). Without a queued answer a
    // confirmation in test mode is cancelled, so a stray one never changes anything.
    static void QueueAnswer(bool ok);
    // The answer to the next AskSave; without one it goes back (Cancel).
    static void QueueSaveAnswer(SaveAnswer answer);
    // The answer to the next Choose (the `change` button when true); without one the safe
    // choice is taken.
    static void QueueChoice(bool change);
    // The boxes shown since the last call, oldest first.
    static QList<ShownMessage> TakeShown();
};

// A box's text laid out in lines of at most `width` pixels, broken only after Japanese
// punctuation (、。」） …) or a blank, so that neither a word nor a file name is cut in
// two. A piece too long for a line keeps a line of its own, whole; given line ends stay.
QString BreakMessageLines(const QString& text, const QFontMetrics& metrics, int width);

}  // namespace qv::ui

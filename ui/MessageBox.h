#pragma once

#include <QList>
#include <QString>

class QWidget;

namespace qv::ui {

struct ShownMessage {
    QString caption;
    QString text;
    bool confirmation = false;
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
    // OK/Cancel box captioned "確認" with no owner window; true for OK.
    static bool Confirm(const QString& text);
    // "保存する" / "保存しない" / "戻る" box captioned "確認"; closing it goes back.
    static SaveAnswer AskSave(const QString& text, QWidget* parent = nullptr);

    static void SetTestMode(bool on);
    // The answer to the next confirmation (OK when true). Without a queued answer a
    // confirmation in test mode is cancelled, so a stray one never changes anything.
    static void QueueAnswer(bool ok);
    // The answer to the next AskSave; without one it goes back (Cancel).
    static void QueueSaveAnswer(SaveAnswer answer);
    // The boxes shown since the last call, oldest first.
    static QList<ShownMessage> TakeShown();
};

}  // namespace qv::ui

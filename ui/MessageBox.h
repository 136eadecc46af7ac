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
class MessageBox {
public:
    static const QString kConfirmCaption;  // "確認"

    // Box with an OK button.
    static void Show(const QString& text, QWidget* parent = nullptr);
    // OK/Cancel box captioned "確認" with no owner window; true for OK.
    static bool Confirm(const QString& text);

    static void SetTestMode(bool on);
    // The answer to the next confirmation (OK when true). Without a queued answer a
    // confirmation in test mode is cancelled, so a stray one never changes anything.
    static void QueueAnswer(bool ok);
    // The boxes shown since the last call, oldest first.
    static QList<ShownMessage> TakeShown();
};

}  // namespace qv::ui

#include "tests/gui/GuiTest.h"

#include <QAbstractButton>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

namespace qv::test {

void GuiTest::SetUp() {
    InTempDir::SetUp();
    qv::ui::MessageBox::SetTestMode(true);
}

void GuiTest::TearDown() {
    qv::ui::MessageBox::SetTestMode(true);  // drops what a failed test left queued
    InTempDir::TearDown();
}

QStringList GuiTest::ShownTexts() {
    QStringList texts;
    for (const auto& box : qv::ui::MessageBox::TakeShown()) texts << box.text;
    return texts;
}

namespace {
void PollForModal(std::function<void(QWidget*)> act, QWidget* before, int turnsLeft) {
    QTimer::singleShot(0, [act = std::move(act), before, turnsLeft]() mutable {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal != before) {
            act(modal);
            return;
        }
        if (turnsLeft == 0) {
            ADD_FAILURE() << "no modal window opened";
            return;
        }
        PollForModal(std::move(act), before, turnsLeft - 1);
    });
}
}  // namespace

void WhenModalOpens(std::function<void(QWidget*)> act) {
    // Polls each turn of the event loop, no sleeping, for a modal window other than the
    // one open now.
    PollForModal(std::move(act), QApplication::activeModalWidget(), 10000);
}

void CommitInput(QWidget* w, const QString& text) {
    QInputMethodEvent input;
    input.setCommitString(text);
    QApplication::sendEvent(w, &input);
}

QString InvisibleIn(const QString& text) {
    for (const char16_t c : {u'\u2060', u'\u200B', u'\uFEFF'})
        if (text.contains(QChar(c))) return QStringLiteral("U+%1").arg(int(c), 4, 16, QLatin1Char('0')).toUpper();
    return {};
}

QStringList TextsWithInvisibles(QWidget* window) {
    QStringList found;
    const auto look = [&found](const QWidget* w, const QString& what, const QString& text) {
        const QString invisible = InvisibleIn(text);
        if (!invisible.isEmpty())
            found << w->objectName() + QStringLiteral(" ") + what + QStringLiteral(": ") + invisible;
    };
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (const QWidget* w : widgets) {
        look(w, QStringLiteral("title"), w->windowTitle());
        look(w, QStringLiteral("name"), w->accessibleName());
        look(w, QStringLiteral("description"), w->accessibleDescription());
        look(w, QStringLiteral("tip"), w->toolTip());
        if (const auto* label = qobject_cast<const QLabel*>(w)) look(w, QStringLiteral("text"), label->text());
        if (const auto* button = qobject_cast<const QAbstractButton*>(w))
            look(w, QStringLiteral("text"), button->text());
        if (const auto* edit = qobject_cast<const QLineEdit*>(w)) look(w, QStringLiteral("text"), edit->text());
    }
    return found;
}

}  // namespace qv::test

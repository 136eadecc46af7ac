#include "tests/gui/GuiTest.h"

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

}  // namespace qv::test

#pragma once

#include <QApplication>
#include <QWidget>
#include <functional>
#include <ostream>

#include "tests/support/TestFiles.h"
#include "ui/MessageBox.h"

// Failed checks print texts readably rather than as UTF-16 code units.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace qv::test {

// A GUI test: its own working folder, message boxes recorded instead of shown.
class GuiTest : public InTempDir {
protected:
    void SetUp() override;
    void TearDown() override;

    // The texts of the message boxes shown since the last call.
    QStringList ShownTexts();
};

// Runs act on the modal window that the next step opens (a window opened from a click
// handler), once the event loop reaches it.
void WhenModalOpens(std::function<void(QWidget*)> act);

// The child with that objectName; fails the test when there is none.
template <typename T>
T* Child(QWidget* parent, const char* name) {
    T* child = parent ? parent->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    EXPECT_NE(child, nullptr) << "no control named " << name;
    return child;
}

// What the Japanese input method does when the user confirms 「text」: commits it to w.
void CommitInput(QWidget* w, const QString& text);

// The first invisible character that steers line breaks (word joiner, zero-width space,
// zero-width no-break space) in text, as "U+2060"; empty when there is none.
QString InvisibleIn(const QString& text);
// Every text window shows or reads out (its title, each control's text, accessible name
// and description, tip) that holds such a character, with the control's name.
QStringList TextsWithInvisibles(QWidget* window);

}  // namespace qv::test

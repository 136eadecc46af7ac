#pragma once

#include <QAccessible>

class QLabel;
class QSlider;
class QWidget;

namespace qv::ui {

// Gives every control of a window that has none an accessible name a screen reader can
// announce: a button its caption, a label its text, an input the label that names it
// (its buddy, else the label beside it on the left, else the label just above it, else
// its group's title). Call once at the end of a window's constructor.
void NameControls(QWidget* window);
// A label's name is its text, as it is now: a label given no name of its own is announced
// with its current text, so NameControls leaves labels alone.

// Tells screen readers what a widget is where the toolkit would call it a bare pane
// ("filler"): the main menu, a plain widget, is an application window; a chart view is a
// chart. Call before the widget is first asked about (in its window's constructor).
void SetAccessibleRole(QWidget* widget, QAccessible::Role role);
inline void MarkAsWindow(QWidget* window) { SetAccessibleRole(window, QAccessible::Window); }

// A slider whose position counts tenths (15 shown as 1.5) tells its value as shown.
void MarkTenths(QSlider* slider);

// A tooltip shown exactly as given, and read out as the same plain text (a tip is laid out
// as rich text, which a screen reader would otherwise get as markup).
void SetPlainTip(QWidget* widget, const QString& text);

// A status line's new text, told to screen readers as a change of its name.
void Announce(QLabel* label, const QString& text);

// A caption as a screen reader should say it: the shortcut marker gone, and the blanks of
// a letter-spaced caption ("ル ー ル 編 集") closed up.
QString SpokenCaption(const QString& caption);

}  // namespace qv::ui

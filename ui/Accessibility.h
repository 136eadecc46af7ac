#pragma once

#include <QAccessible>

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

}  // namespace qv::ui

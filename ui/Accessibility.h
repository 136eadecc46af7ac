#pragma once

class QWidget;

namespace qv::ui {

// Gives every control of a window that has none an accessible name a screen reader can
// announce: a button its caption, a label its text, an input the label that names it
// (its buddy, else the label beside it on the left, else the label just above it, else
// its group's title). Call once at the end of a window's constructor.
void NameControls(QWidget* window);
// A label's name is its text, as it is now: a label given no name of its own is announced
// with its current text, so NameControls leaves labels alone.

// Tells screen readers that `window`, a plain widget, is an application window (its role
// would otherwise be a bare pane, "filler").
void MarkAsWindow(QWidget* window);

}  // namespace qv::ui

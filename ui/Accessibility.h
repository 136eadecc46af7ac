#pragma once

class QWidget;

namespace qv::ui {

// Gives every control of a window that has none an accessible name a screen reader can
// announce: a button its caption, a label its text, an input the label that names it
// (its buddy, else the label beside it on the left, else the label just above it, else
// its group's title). Call once at the end of a window's constructor.
void NameControls(QWidget* window);

}  // namespace qv::ui

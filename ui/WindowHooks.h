#pragma once

#include <functional>

class CInfo;
class QWidget;

namespace qv::ui {

// Windows of one feature that another feature's window opens: the program hands them in
// at start-up, so feature folders need not include each other.
using WindowOpener = std::function<void(QWidget* parent, CInfo* info)>;

// The history and statistics window (履歴・統計).
void SetHistoryOpener(WindowOpener opener);
// Opens it modally over parent; does nothing when no opener was handed in.
void OpenHistory(QWidget* parent, CInfo* info);

}  // namespace qv::ui

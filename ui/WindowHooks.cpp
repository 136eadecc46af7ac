#include "ui/WindowHooks.h"

namespace qv::ui {

namespace {
WindowOpener& HistoryOpener() {
    static WindowOpener opener;
    return opener;
}
}  // namespace

void SetHistoryOpener(WindowOpener opener) { HistoryOpener() = std::move(opener); }

void OpenHistory(QWidget* parent, CInfo* info) {
    if (HistoryOpener()) HistoryOpener()(parent, info);
}

}  // namespace qv::ui

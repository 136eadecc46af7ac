#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "app/MenuForm.h"
#include "text/FileIo.h"
#include "ui/Application.h"
#include "ui/MessageBox.h"

namespace {
// Without a display Qt would abort with a toolkit trace; say what to do instead.
bool HasDisplay() {
    for (const char* var : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(var);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}
}  // namespace

int main(int argc, char** argv) {
    if (!HasDisplay()) {
        std::fprintf(stderr,
                     "quorvel: no display found (DISPLAY is not set).\n"
                     "Start it on a desktop, or without one under a virtual display:\n"
                     "  xvfb-run -a quorvel\n");
        return 2;
    }
    qv::ui::Application app(argc, argv);
    // Two instances in one folder would interleave their rewrites of the same files.
    qv::io::FolderLock lock;
    if (!lock.Acquire(".")) {
        qv::ui::MessageBox::Show(QStringLiteral(
            "このフォルダでは既にQuorvel裁判所が起動しています。\n同じデータを二つの画面で同時に扱うことはできません。"));
        return 1;
    }
    TForm1 menu;
    if (!menu.IsLoaded()) return 1;
    menu.show();
    return app.exec();
}

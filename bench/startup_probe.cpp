// Started by bench_startup: shows either the main menu (as the program does at start-up,
// in the working folder's rule book) or a bare empty window, and quits once it is shown.
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstring>

#include "app/MenuForm.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const bool bare = argc > 1 && std::strcmp(argv[1], "bare") == 0;
    QWidget empty;
    TForm1* menu = bare ? nullptr : new TForm1;
    QWidget* shown = bare ? &empty : menu;
    if (menu && !menu->IsLoaded()) return 1;
    shown->show();
    QTimer::singleShot(0, &app, &QApplication::quit);
    int rc = app.exec();
    delete menu;
    return rc;
}

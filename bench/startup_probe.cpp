// Started by bench_startup and bench_folder: shows either the main menu (as the program
// does at start-up, in the working folder's rule book, settling what a killed run left)
// or a bare empty window, and quits once it is shown. Boxes are recorded, not shown, so a
// start-up that has something to tell does not wait for a click.
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstring>

#include "app/MenuForm.h"
#include "ui/MessageBox.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const bool bare = argc > 1 && std::strcmp(argv[1], "bare") == 0;
    qv::ui::MessageBox::SetTestMode(true);
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

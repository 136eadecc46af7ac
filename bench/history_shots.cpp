// Pictures of the history window, one per chart, for looking at it on a real display:
//   xvfb-run -a -s "-screen 0 1280x800x24" build/bench/history_shots DATA_FOLDER OUT_PREFIX
//   QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 1920x1080x24" build/bench/history_shots ...
// The window opens on DATA_FOLDER (test.dat, test.log) with each chart's tab in turn.
// With a third argument, 未執行 is chosen first while the first chart is shown, so the
// other charts take the filter's figures as they are switched to.
#include <QApplication>
#include <QComboBox>
#include <QTimer>
#include <cstdio>

#include "history/HistoryForm.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "records/DataFolder.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: history_shots DATA_FOLDER OUT_PREFIX [not-executed]\n");
        return 2;
    }
    QApplication app(argc, argv);
    const std::string folder = argv[1];
    CRuleBook book;
    book.SetFileName(folder + "/test.dat");
    book.LoadFile();
    CInfo info;
    info.SetRuleBook(&book);
    AttachFolder(info, DataFolder(folder));  // the balance's past from its ledger
    THistory window;
    window.Init(&info);
    window.show();  // at its size, or as large as the screen allows (QT_SCALE_FACTOR=2)
    if (argc > 3) {
        for (int n = 0; n < 20; ++n) QApplication::processEvents();
        window.findChild<QComboBox*>("cbExecuted")->setCurrentIndex(2);
    }
    auto* charts = window.findChild<QComboBox*>("cbChart");
    for (int i = 0; i < charts->count(); ++i) {
        charts->setCurrentIndex(i);
        for (int n = 0; n < 20; ++n) QApplication::processEvents();
        const QString file = QString::fromLocal8Bit(argv[2]) + QString::number(i + 1) + ".png";
        if (!window.grab().save(file)) return 1;
        std::printf("%s\n", file.toLocal8Bit().constData());
    }
    return 0;
}

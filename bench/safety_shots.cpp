// Pictures of the execution report with the ledger, the trash and the backups windows,
// for looking at them on a real display:
//   xvfb-run -a -s "-screen 0 1280x900x24" build/bench/safety_shots DATA_FOLDER OUT_PREFIX
//   QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 1920x1080x24" build/bench/safety_shots ...
// DATA_FOLDER holds test.dat, test.log and user.dat; some sentences are deleted, a report
// made and undone, an article trashed, so every window has something to show.
#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QScreen>
#include <QTableView>
#include <cstdio>

#include "execution/BackupsForm.h"
#include "execution/LedgerForm.h"
#include "execution/LogListForm.h"
#include "execution/TrashForm.h"
#include "execution/Undo.h"
#include "records/Ledger.h"
#include "records/SentenceLog.h"
#include "records/Trash.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "records/DataFolder.h"

namespace {
void Settle() {
    for (int n = 0; n < 30; ++n) QApplication::processEvents();
}
bool Save(QWidget& w, const QString& file) {
    Settle();
    if (!w.grab().save(file)) return false;
    std::printf("%s\n", file.toLocal8Bit().constData());
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: safety_shots DATA_FOLDER OUT_PREFIX\n");
        return 2;
    }
    QApplication app(argc, argv);
    const std::string folder = argv[1];
    const QString out = QString::fromLocal8Bit(argv[2]);
    CRuleBook book;
    book.SetFileName(folder + "/test.dat");
    if (!book.LoadFile()) return 1;
    CInfo info;
    info.SetRuleBook(&book);
    AttachFolder(info, DataFolder(folder));
    Ledger(FolderOf(info).LedgerPath()).CheckAgainst(PointBalance(info.GetBalancePath()), qv::SystemNow());
    std::string shown;  // a sentence deleted and put back: it has ledger lines
    {
        // Something in every window: deletes (one undone), a report and its undo, another
        // report, an article trashed.
        qv::execution::ReportSession session(info);
        SentenceLog::Contents log;
        SentenceLog(info.GetLogPath()).Read(log);
        if (log.RecordCount() < 4) return 1;
        shown = std::string(log.Field(log.RecordCount() - 2, 0));
        session.Delete(log.Field(log.RecordCount() - 1, 0));
        session.Delete(log.Field(log.RecordCount() - 4, 0));
        session.Delete(shown);
        session.Undo();
        session.Report({{3, 0, 2, 0}}, 5);
        session.Undo();
        session.Report({{2, 0, 0, 0}}, 2);
        if (const CRule* rule = book.FindRule(book.NextNumber() - 1)) {
            std::vector<Trash::Entry> entries{
                {0, Trash::Kind::Article, qv::SystemNow(), 0, {}, 0, rule->ToLine()}};
            Trash(FolderOf(info).TrashPath()).Append(entries);
        }
    }
    TLogList report;
    report.Init(&info);
    report.show();  // placed inside the screen, as the program places it
    report.findChild<QTableView*>("sgList")->selectRow(0);  // the newest: the one put back
    if (!Save(report, out + "report.png")) return 1;

    TLedger ledger(&report);
    ledger.Init(&info, shown);
    ledger.show();
    if (!Save(ledger, out + "ledger.png")) return 1;
    // The report with the ledger over it, as the screen shows them.
    Settle();
    if (!QGuiApplication::primaryScreen()->grabWindow(0).save(out + "report-ledger.png")) return 1;
    std::printf("%s\n", (out + "report-ledger.png").toLocal8Bit().constData());
    ledger.findChild<QCheckBox*>("cbAll")->setChecked(true);
    if (!Save(ledger, out + "ledger-all.png")) return 1;
    ledger.hide();

    TTrash trash;
    trash.Init(&info);
    trash.show();
    if (!Save(trash, out + "trash.png")) return 1;
    TBackups backups;
    backups.Init(&info);
    backups.show();
    if (!Save(backups, out + "backups.png")) return 1;
    return 0;
}

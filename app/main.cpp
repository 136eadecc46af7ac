#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "app/CommandLine.h"
#include "app/Instance.h"
#include "app/MenuForm.h"
#include "history/CsvCommand.h"
#include "records/DataFolder.h"
#include "records/Merge.h"
#include "records/Repair.h"
#include "reminder/CheckCommand.h"
#include "text/FileIo.h"
#include "ui/FileTexts.h"
#include "ui/Application.h"
#include "ui/MessageBox.h"
#include "ui/Placement.h"
#include "ui/Translations.h"

namespace {
// Without a display Qt would abort with a toolkit trace; say what to do instead.
bool HasDisplay() {
    for (const char* var : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(var);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

void Print(std::FILE* to, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), to);
    if (!bytes.endsWith('\n')) std::fputc('\n', to);
    std::fflush(to);
}

// A start-up problem goes to the terminal (started from one) and into a box (started
// from the menu, where nobody reads stderr).
void Tell(const QString& text) {
    Print(stderr, QStringLiteral("quorvel: ") + text);
    qv::ui::MessageBox::Show(text);
}

void SetIdentity() {
    QCoreApplication::setOrganizationName(QStringLiteral("quorvel"));
    QCoreApplication::setApplicationName(QStringLiteral("quorvel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
}

QString FolderText(const QString& folder) {
    return QDir::toNativeSeparators(QDir::cleanPath(QDir(folder).absolutePath()));
}

// Brings the working window of this copy to the front: the open modal window, if any.
void Raise(QWidget* menu) {
    for (QWidget* window : {menu, QApplication::activeModalWidget()}) {
        if (window == nullptr) continue;
        if (window->isMinimized()) window->showNormal();
        window->raise();
        window->activateWindow();
    }
}
// quorvel --merge-conflicts [folder]: what a start would do about the sync tools'
// conflict copies, without a window. 0: merged or nothing to merge; 1: a copy could not
// be read, the files are in use or could not be written.
int RunMergeCommand(const QString& folderArg) {
    if (!folderArg.isEmpty() && ::chdir(QFile::encodeName(folderArg).constData()) != 0) {
        const int error = errno;  // before anything else can change it
        Print(stderr, QStringLiteral("quorvel: ") +
                          qv::ui::FolderUnusableText(FolderText(folderArg), error));
        return 1;
    }
    const QString shown = FolderText(QDir::currentPath());
    // A copy of the program at work in this folder merges for itself.
    qv::io::FolderLock lock;
    switch (lock.TryAcquire(".")) {
        case qv::io::FolderLock::Result::Acquired:
            break;
        case qv::io::FolderLock::Result::Held:
            Print(stderr, QStringLiteral("quorvel: ") + qv::ui::FolderInUseText(shown, false));
            return 1;
        case qv::io::FolderLock::Result::Failed:
            Print(stderr, QStringLiteral("quorvel: ") +
                              qv::ui::FolderUnusableText(shown, lock.Error()));
            return 1;
    }
    const DataFolder folder;
    const StartRepair repair = RepairAtStart(folder);
    const QString repaired =
        qv::ui::StartRepairText(repair, folder.LogPath(), folder.BalancePath());
    if (!repaired.isEmpty()) Print(stderr, QStringLiteral("quorvel: ") + repaired);
    const qv::records::MergeOutcome outcome = qv::records::MergeConflicts(folder);
    const QString told = qv::ui::MergeSummaryText(outcome, false);
    if (!told.isEmpty()) Print(stderr, QStringLiteral("quorvel: ") + told);
    const bool ok = (outcome.result == qv::records::MergeOutcome::Result::Merged ||
                     outcome.result == qv::records::MergeOutcome::Result::Nothing) &&
                    outcome.unreadable.empty();
    return ok ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
    // The command line first, without the window system, so --help and --version work
    // anywhere; the toolkit's Japanese covers the parser's own words.
    CommandLine line;
    {
        QCoreApplication core(argc, argv);
        SetIdentity();
        qv::ui::InstallToolkitTranslations();
        line = ParseCommandLine(QCoreApplication::arguments());
        TakeFolderPath(line, argc, argv);
    }
    switch (line.action) {
        case CommandLine::Action::ShowHelp:
        case CommandLine::Action::ShowVersion:
            Print(stdout, line.output);
            return 0;
        case CommandLine::Action::Fail:
            Print(stderr, line.output);
            return CommandLine::kUsageError;
        case CommandLine::Action::ExportCsv:
            // For scripts: neither a display nor the toolkit's windows are needed.
            qv::history::AnchorToWorkingFolder(line.csv);
            if (!line.folder.isEmpty() && ::chdir(line.folderPath.constData()) != 0) {
                const int error = errno;  // before anything else can change it
                Print(stderr, QStringLiteral("quorvel: ") +
                                  qv::ui::FolderUnusableText(FolderText(line.folder), error));
                return 1;
            }
            return qv::history::RunCsvExport(line.csv);
        case CommandLine::Action::Check: {
            // Run by a timer or at login: no window, and the bus needs an event loop.
            QCoreApplication core(argc, argv);
            SetIdentity();
            return RunCheck(line.folderPath);
        }
        case CommandLine::Action::MergeConflicts:
            return RunMergeCommand(line.folder);
        case CommandLine::Action::Run:
            break;
    }
    if (!HasDisplay()) {
        Print(stderr, QStringLiteral(
                          "quorvel: 画面（ディスプレイ）が見つかりません"
                          "（DISPLAY も WAYLAND_DISPLAY も設定されていません）。\n"
                          "デスクトップで起動してください。デスクトップのない機械では、"
                          "仮想ディスプレイの下で起動できます:\n"
                          "  xvfb-run -a quorvel"));
        return CommandLine::kUsageError;
    }

    qv::ui::Application app(argc, argv);
    SetIdentity();
    QGuiApplication::setDesktopFileName(QStringLiteral("quorvel"));
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/quorvel-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    qv::ui::InstallToolkitTranslations();
    qv::ui::SetRememberGeometry(true);

    if (!line.folder.isEmpty() && ::chdir(line.folderPath.constData()) != 0) {
        const int error = errno;  // before anything else can change it
        Tell(qv::ui::FolderUnusableText(FolderText(line.folder), error));
        return 1;
    }
    const QString folder = FolderText(QDir::currentPath());

    // Two copies in one folder would interleave their rewrites of the same files.
    qv::io::FolderLock lock;
    switch (lock.TryAcquire(".")) {
        case qv::io::FolderLock::Result::Acquired:
            break;
        case qv::io::FolderLock::Result::Held: {
            const bool raised = InstanceServer::AskToRaise(QDir::currentPath(), 2000,
                                                           line.openReport);
            // Asked from a reminder: the copy at work shows its report, nothing to tell.
            if (raised && line.openReport) return 0;
            Tell(qv::ui::FolderInUseText(folder, raised));
            return 1;
        }
        case qv::io::FolderLock::Result::Failed:
            Tell(qv::ui::FolderUnusableText(folder, lock.Error()));
            return 1;
    }

    TForm1 menu;
    if (!menu.IsLoaded()) return 1;  // told on stderr and in a box
    InstanceServer instance(QDir::currentPath(), [&menu](bool report) {
        Raise(&menu);
        if (report) menu.OpenReport();
    });
    instance.Listen();
    menu.show();
    // Looking stays possible in a folder that cannot be written; say so once, up front.
    if (const int error = lock.WriteError(); error != 0) {
        const QString text = qv::ui::FolderReadOnlyText(folder, error);
        Print(stderr, QStringLiteral("quorvel: ") + text);
        QTimer::singleShot(0, &menu, [&menu, text] { qv::ui::MessageBox::Show(text, &menu); });
    }
    if (line.openReport) QTimer::singleShot(0, &menu, [&menu] { menu.OpenReport(); });
    return app.exec();
}

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "history/CsvCommand.h"

// What the command line asks for. Parsed before the window system is touched, so every
// action but Run works without a display; an option that runs without windows adds an
// Action of its own here.
struct CommandLine {
    enum class Action {
        Run,          // start the program (in `folder` when one is given)
        ShowHelp,     // print `output` on stdout, exit 0
        ShowVersion,  // print `output` on stdout, exit 0
        Fail,         // print `output` on stderr, exit kUsageError
        ExportCsv,    // write `csv` from the data folder's log, no display needed
        Check,        // the reminder's check of `folder`, no display needed
        MergeConflicts,  // merge the sync tools' conflict copies in `folder`, no display
    };
    static constexpr int kUsageError = 2;

    Action action = Action::Run;
    QString folder;  // the data folder; empty for the working folder
    QByteArray folderPath;  // the same as typed, its exact bytes (a name need not be UTF-8)
    bool openReport = false;  // Run: the execution report opens at once
    QString output;
    qv::history::CsvExportRequest csv;

    bool NeedsDisplay() const { return action == Action::Run; }
};

// `arguments` as QCoreApplication::arguments() gives them, program name first.
CommandLine ParseCommandLine(const QStringList& arguments);

// Sets line.folderPath from the program's own arguments: the toolkit's arguments turn
// bytes that are not UTF-8 into U+FFFD, so the folder is taken from argv as typed.
void TakeFolderPath(CommandLine& line, int argc, char** argv);

// "quorvel 0.91", the title and the licence, as --version prints them.
QString VersionText();

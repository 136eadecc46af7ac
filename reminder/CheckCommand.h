#pragma once

#include <QByteArray>
#include <QString>

// `quorvel --check [folder]`: looks at the data folder (the working folder when none is
// given) with the reminder's limits, prints what it found on stdout and, when something
// is overdue, sends one desktop notification whose 開く starts
// `quorvel --open-report FOLDER`. Reads only: no lock is taken and nothing is written, so
// a copy of the program may be working in the folder meanwhile. Needs no display; a
// QCoreApplication must exist.
// 0 when it told or had nothing to tell, 1 for a folder or file that cannot be read.
// folder: its exact bytes (a name need not be UTF-8).
int RunCheck(const QByteArray& folder);

// How long 開く stays answered once the notification is shown.
inline constexpr int kOpenWaitMs = 30 * 60 * 1000;

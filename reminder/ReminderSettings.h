#pragma once

#include <QByteArray>
#include <QString>
#include <QTime>
#include <cstdint>

#include "execution/Overdue.h"

// The daily reminder as the user set it. Kept in the user's own configuration (QSettings:
// ~/.config/quorvel/quorvel.conf), never in the data folder, which the user may share or
// sync between computers whose reminders differ.
struct ReminderSettings {
    bool on = false;
    QTime time = QTime(20, 0);
    int days = 3;  // a sentence not executed for longer than this is overdue
    bool balanceOn = false;
    std::int64_t balanceAbove = 100;
    // The data folder the check looks at (absolute), its exact bytes: a folder's name need
    // not be UTF-8. Empty when never set.
    QByteArray folder;

    static constexpr int kMaxDays = 365;
    static constexpr std::int64_t kMaxBalance = 999999999;

    // Values out of range (a hand-edited file) are brought back into it.
    static ReminderSettings Load();
    // False when the configuration file cannot be written.
    bool Save() const;

    OverdueRule Rule() const;
};

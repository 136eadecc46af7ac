#pragma once

#include <QString>
#include <QStringList>
#include <QTime>
#include <optional>

#include "reminder/ReminderSettings.h"

// The reminder's place in the user's session: a systemd user timer and its service that
// run `quorvel --check FOLDER` daily (a run missed while the computer was off happens at
// the next login), or, where no systemd user instance runs, an XDG autostart entry that
// runs the same check at each login.
struct ReminderFiles {
    QString configHome;  // $XDG_CONFIG_HOME, else ~/.config

    static ReminderFiles ForUser();
    QString Timer() const;      // systemd/user/quorvel-check.timer
    QString Service() const;    // systemd/user/quorvel-check.service
    QString Autostart() const;  // autostart/quorvel-check.desktop
};

inline const QString kTimerUnit = QStringLiteral("quorvel-check.timer");

// The files' texts. program and folder are absolute paths as their exact bytes (a name
// need not be UTF-8): the service carries them escaped as systemd reads them back, a
// program whose path systemd would refuse to run (quotes, backslashes) started through
// /bin/sh. An autostart entry can hold UTF-8 only: nothing when a path is not.
QByteArray ServiceText(const QByteArray& program, const QByteArray& folder);
QString TimerText(QTime time);
std::optional<QString> AutostartText(const QByteArray& program, const QByteArray& folder);
// This program's own path, and the working folder's, their exact bytes.
QByteArray ProgramPath();
QByteArray WorkingFolderPath();

// How the reminder runs now, judged by the files that are there.
enum class ReminderWay { None, Timer, Autostart };
ReminderWay InstalledWay(const ReminderFiles& files);
// How a reminder turned on now would run on this computer: the timer when a systemd user
// instance answers, else the autostart entry (at each login, at no set time).
ReminderWay AvailableWay();

struct ReminderOutcome {
    bool ok = false;
    ReminderWay way = ReminderWay::None;  // how it runs after the change
    QString problem;                      // what failed, for the user; empty when ok
};

// Writes the files for the settings and enables them: the timer through
// `systemctl --user` when a user instance answers, else the autostart entry. Whatever
// the other way left behind is removed. On failure nothing of the reminder stays on.
// program: the path the check runs, its exact bytes. The timer counts as on only when
// systemd took both units (LoadState=loaded).
ReminderOutcome TurnReminderOn(const ReminderSettings& settings, const QByteArray& program,
                               const ReminderFiles& files);
// Disables the timer and removes every file of the reminder.
ReminderOutcome TurnReminderOff(const ReminderFiles& files);

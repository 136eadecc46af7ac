#pragma once

#include <QDialog>

#include "reminder/ReminderSettings.h"
#include "reminder/ReminderUnits.h"
#include "ui_ReminderForm.h"

// The daily reminder for the data folder the program works in: on or off, when, and what
// counts as worth telling. OK keeps the settings and writes (or removes) what runs the
// check: a systemd user timer, or an autostart entry where no user instance runs.
class TReminder : public QDialog, private Ui::TReminder {
    Q_OBJECT

public:
    explicit TReminder(QWidget* parent = nullptr);
    // folder: the data folder (absolute, its exact bytes); files: where the reminder's
    // files go.
    void Init(const QByteArray& folder, const ReminderFiles& files = ReminderFiles::ForUser());

private:
    void btOKClick();
    void btCheckNowClick();
    void ShowEnabled();
    // Says how the check runs on this computer; the time rests where nothing would use it.
    void ShowWay();
    ReminderSettings FromControls() const;

    QByteArray folder_;
    ReminderFiles files_;
    ReminderSettings saved_;
    ReminderWay way_ = ReminderWay::Timer;  // how turning it on would run here
};

#pragma once

#include <QDialog>

#include "rulebook/Info.h"
#include "trial/Verdict.h"
#include "ui_StateForm.h"

// The verdict window: shows a composed verdict; "決定" logs it and credits its points.
class TState : public QDialog, private Ui::TState {
    Q_OBJECT

public:
    explicit TState(QWidget* parent = nullptr);

    // Composes the verdict and fills the window. When no verdict can be composed the
    // user is told why and false returns: the window must then not be shown. read: the
    // trial window's pass over the log, used while the file is still the one it read.
    bool Init(int articleNumber, int level, CInfo* info, const TrialLog* read = nullptr);
    const CVerdict& Verdict() const { return verdict_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    // One box naming what of the log the history could not read, if anything.
    void TellUnreadLog(const SentenceLog::Contents::Damage& damage);
    void btOKClick();
    // Says why the points of decision id are not on the balance and offers to credit
    // them again, until that works or the user declines.
    void RetryCredit(const std::string& id, QString why);
    void btCanselClick();

    CVerdict verdict_;
    CInfo* info_ = nullptr;
};

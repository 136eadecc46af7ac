#pragma once

#include <QDialog>

#include "rulebook/Info.h"
#include "ui_DonePointForm.h"

// The point execution report: units executed per implement, totalled and taken off the
// point balance.
class TDonePoint : public QDialog, private Ui::TDonePoint {
    Q_OBJECT

public:
    explicit TDonePoint(QWidget* parent = nullptr);

    void Init(CInfo* info);

private:
    void btOKClick();
    void btCancelClick();

    CInfo* info_ = nullptr;
};

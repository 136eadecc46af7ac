#pragma once

#include <QDialog>
#include <optional>

#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "ui_JudgeForm.h"

// The trial window: pick an article and a mercy level, then submit for the verdict.
class TJudge : public QDialog, private Ui::TJudge {
    Q_OBJECT

public:
    explicit TJudge(QWidget* parent = nullptr);

    // Lists the rule book's articles ("number:name:base") and selects the first.
    void Init(CInfo* info);

private:
    void cbRuleChange();
    void tbJoujouChange();
    void btSubmitClick();
    void btCancelClick();

    // The article number at the head of the selected item; nothing without a ":".
    std::optional<int> SelectedNumber() const;

    CInfo* info_ = nullptr;
    CRuleBook* ruleBook_ = nullptr;
};

#pragma once

#include <QDialog>

#include "rulebook/Clock.h"
#include "rulebook/Info.h"
#include "rulebook/Rule.h"
#include "rules/KeptText.h"
#include "ui_RuleItemForm.h"

class CRuleBook;

// Edits one article. It works on the caller's working copy, handed in by SetRule, and
// writes into it only when "登録" passes every check; the rule book itself is only read
// for the implement names.
class TRuleItem : public QDialog, private Ui::TRuleItem {
    Q_OBJECT

public:
    explicit TRuleItem(QWidget* parent = nullptr);

    // Remembers the working copy and shows it. Call before Init.
    void SetRule(CRule* rule);
    // Remembers the context and labels the share rows with the implement names.
    void Init(CInfo* info);
    // Where `updated` comes from; tests pass a fixed clock.
    void SetClock(qv::Clock clock);

private:
    void tbImp1Change();
    void tbImp2Change();
    void tbImp3Change();
    void tbImp4Change();
    void tbPtChange();
    void tbRuisekiChange();
    void tbJoujouChange();
    void btRegClick();
    void btCancelClick();

    CRule* rule_ = nullptr;
    CInfo* info_ = nullptr;
    CRuleBook* ruleBook_ = nullptr;
    qv::Clock clock_;
    qv::ui::KeptText name_;
    qv::ui::KeptText text_;
    qv::ui::KeptText remark_;
};

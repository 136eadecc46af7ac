#pragma once

#include <QDialog>
#include <array>

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
    // Every slider with the label that shows its value, as a number or in tenths.
    struct SliderRow {
        QSlider* slider;
        QLabel* value;
        bool tenths;
    };
    std::array<SliderRow, 7> SliderRows() const;
    // The share sliders: implements 1..4, then the points share.
    std::array<QSlider*, CRule::kShareCount> ShareSliders() const;
    // Shows every slider's value in its label: one that does not move reports no change.
    void ShowSliderValues();
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

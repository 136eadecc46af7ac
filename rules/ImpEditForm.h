#pragma once

#include <QDialog>
#include <array>

#include "rulebook/Info.h"
#include "rules/KeptText.h"
#include "ui_ImpEditForm.h"

class CRuleBook;

// Names and weighs the four implements. "登録" stores all eight values in the rule book
// at once; "戻る" stores nothing.
class TImpEdit : public QDialog, private Ui::TImpEdit {
    Q_OBJECT

public:
    explicit TImpEdit(QWidget* parent = nullptr);

    // Remembers the context and shows the implement table of its rule book.
    void Init(CInfo* info);

private:
    // One row of the table per implement: its name, its weight slider and the label that
    // shows the weight in tenths.
    struct Row {
        QLineEdit* name;
        QSlider* weight;
        QLabel* shown;
    };
    std::array<Row, 4> Rows() const;
    void btnRegClick();
    void btnCanselClick();

    CInfo* info_ = nullptr;
    CRuleBook* ruleBook_ = nullptr;
    std::array<qv::ui::KeptText, 4> names_;
};

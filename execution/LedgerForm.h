#pragma once

#include <QDialog>
#include <string>

#include "records/Ledger.h"
#include "rulebook/Info.h"

class QCheckBox;
class QLabel;
class QTableWidget;

// The ledger window (ポイント台帳): where the balance comes from. The entries of one
// sentence (its credit, its debit, an undo), or on request the whole ledger, with the
// balance before and after each change.
class TLedger : public QDialog {
    Q_OBJECT

public:
    explicit TLedger(QWidget* parent = nullptr);

    // id: the sentence whose entries are shown first; empty: the whole ledger.
    void Init(CInfo* info, std::string id);
    void LoadList();

private:
    // A report's units per implement as the user knows them.
    QString UnitsText(const std::array<std::int64_t, 4>& units) const;
    CInfo* info_ = nullptr;
    std::string id_;
    Ledger::Contents contents_;
    QLabel* pnSum = nullptr;
    QCheckBox* cbAll = nullptr;
    QTableWidget* sgLedger = nullptr;
};

void OpenLedger(QWidget* parent, CInfo* info, const std::string& id);

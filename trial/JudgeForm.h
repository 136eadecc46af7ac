#pragma once

#include <QDialog>
#include <optional>

#include "records/SentenceLog.h"
#include "trial/Verdict.h"
#include "rulebook/Clock.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "ui_JudgeForm.h"

class QTimer;
struct TrialPreview;

// The trial window: pick an article and a mercy level, then submit for the verdict.
// Beside them, what submitting would give and when the oldest counted application of
// the article stops counting, worked out from the log as read when the window opened.
class TJudge : public QDialog, private Ui::TJudge {
    Q_OBJECT

public:
    explicit TJudge(QWidget* parent = nullptr);

    // Lists the rule book's articles ("number:name:base") and selects the first.
    void Init(CInfo* info);
    // Where the preview takes the current time from (before Init; the system clock else).
    void SetClock(qv::Clock clock) { clock_ = std::move(clock); }
    // The verdict 決定 recorded, once the window has closed; nothing when none was.
    const std::optional<CVerdict>& Decided() const { return decided_; }

private:
    void cbRuleChange();
    void tbJoujouChange();
    void btSubmitClick();
    void btCancelClick();

    // The article number at the head of the selected item; nothing without a ":".
    std::optional<int> SelectedNumber() const;

    // The preview for the article and level as set, at the clock's time; then waits for
    // the next moment it may change (the next 00:00 UTC).
    void ShowPreview();

    CInfo* info_ = nullptr;
    CRuleBook* ruleBook_ = nullptr;
    qv::Clock clock_ = qv::SystemNow;
    TrialLog log_;  // read once, when the window opens, and handed to the verdict
    QTimer* previewTimer_ = nullptr;
    std::optional<CVerdict> decided_;
};

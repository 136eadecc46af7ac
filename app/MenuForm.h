#pragma once

#include <QWidget>

#include "records/DataFolder.h"
#include "rulebook/Info.h"
#include "rulebook/RuleBook.h"
#include "ui_MenuForm.h"

// The main menu: owns the rule book and the context every window is handed.
class TForm1 : public QWidget, private Ui::TForm1 {
    Q_OBJECT

public:
    // Loads "test.dat" from the working folder; when that fails the user is told and
    // IsLoaded() is false: the caller must then end the program without showing the menu.
    explicit TForm1(QWidget* parent = nullptr);
    bool IsLoaded() const { return loaded_; }
    // What the user was told when loading failed, for the terminal too.
    const QString& LoadFailure() const { return loadFailure_; }
    CInfo* Info() { return &info_; }

    // The user guide installed with the program (or in the checkout); empty when there is
    // none. The sample rule book's folder alike.
    static QString GuidePath();
    static QString ExamplesFolder();
    // Version, licence and the data folder, as the About box shows them.
    static QString AboutText();

    void OpenGuide();
    void ShowAbout();
    // The execution report, as 執行報告 opens it; nothing while another window is open.
    void OpenReport();
    // The daily reminder's window (right click or Ctrl+R).
    void OpenReminder();

protected:
    // 終了 and the close box alike: unsaved rule changes are saved, dropped or kept open
    // as the user says.
    void closeEvent(QCloseEvent* event) override;
    // A window opened over the menu makes its last word stale: it goes.
    bool event(QEvent* event) override;

private:
    void btnRuleClick();
    void btnJudgeClick();
    void Button1Click();
    void btGoHPClick();
    void btExitClick();
    void btHistoryClick();
    // Takes in the conflict copies a sync tool left (at start-up and whenever the program
    // becomes active again, when no other window is open), tells once what came in, and
    // reads the rule book again when the merge changed it.
    // Brings the files up to the journals (what another computer did, what a kill left
    // half-written) and merges conflict copies from before the journals; says what it did.
    void MergeCopies();
    static bool HoldsOnlySamples(const DataFolder& folder);
    // The word under the buttons about what just happened (a decided verdict), told to
    // screen readers too; empty hides it.
    void Say(const QString& text);

    CRuleBook ruleBook_;
    CInfo info_;
    bool loaded_ = false;
    bool merging_ = false;
    // Watches the journals while the program runs: another computer's lines arrive.
    void WatchJournals();
    class QFileSystemWatcher* journalWatch_ = nullptr;
    class QTimer* followSoon_ = nullptr;
    QString loadFailure_;
};

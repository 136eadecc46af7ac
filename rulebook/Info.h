#pragma once

#include <string>

class CRuleBook;

// What every window is handed: the rule book and the paths of the two other files.
class CInfo {
public:
    bool SetRuleBook(CRuleBook* ruleBook) {
        ruleBook_ = ruleBook;
        return true;
    }
    bool SetLogPath(std::string path) {
        logPath_ = std::move(path);
        return true;
    }
    bool SetBalancePath(std::string path) {
        balancePath_ = std::move(path);
        return true;
    }
    // The files that keep what the three data files lose: the balance ledger, the trash
    // and the backup folder. Empty: not kept (a context that names none writes none).
    bool SetLedgerPath(std::string path) {
        ledgerPath_ = std::move(path);
        return true;
    }
    bool SetTrashPath(std::string path) {
        trashPath_ = std::move(path);
        return true;
    }
    bool SetBackupFolder(std::string path) {
        backupFolder_ = std::move(path);
        return true;
    }
    CRuleBook* GetRuleBook() const { return ruleBook_; }
    std::string GetLogPath() const { return logPath_; }
    std::string GetBalancePath() const { return balancePath_; }
    std::string GetLedgerPath() const { return ledgerPath_; }
    std::string GetTrashPath() const { return trashPath_; }
    std::string GetBackupFolder() const { return backupFolder_; }

private:
    CRuleBook* ruleBook_ = nullptr;
    std::string logPath_;
    std::string balancePath_;
    std::string ledgerPath_;
    std::string trashPath_;
    std::string backupFolder_;
};

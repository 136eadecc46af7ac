#pragma once

#include <memory>
#include <string>

class CRuleBook;
class DataFolder;

// What every window is handed: the rule book, the paths of the sentence log and of the
// point balance, and (when the program runs in a folder) that folder with the files kept
// beside the three (see records/DataFolder: FolderOf, AttachFolder).
class CInfo {
public:
    bool SetRuleBook(CRuleBook* ruleBook) {
        ruleBook_ = ruleBook;
        return true;
    }
    bool SetLogPath(std::string path) {
        logPath_ = std::move(path);
        folder_.reset();  // a folder no longer holds the log named now
        return true;
    }
    bool SetBalancePath(std::string path) {
        balancePath_ = std::move(path);
        folder_.reset();
        return true;
    }
    CRuleBook* GetRuleBook() const { return ruleBook_; }
    std::string GetLogPath() const { return logPath_; }
    std::string GetBalancePath() const { return balancePath_; }

    // Set by AttachFolder; nullptr: the log and the balance alone.
    void SetFolder(std::shared_ptr<const DataFolder> folder) { folder_ = std::move(folder); }
    const DataFolder* GetFolder() const { return folder_.get(); }

private:
    CRuleBook* ruleBook_ = nullptr;
    std::string logPath_;
    std::string balancePath_;
    std::shared_ptr<const DataFolder> folder_;
};

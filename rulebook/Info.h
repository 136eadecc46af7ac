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
    CRuleBook* GetRuleBook() const { return ruleBook_; }
    std::string GetLogPath() const { return logPath_; }
    std::string GetBalancePath() const { return balancePath_; }

private:
    CRuleBook* ruleBook_ = nullptr;
    std::string logPath_;
    std::string balancePath_;
};

#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

#include "rulebook/Clock.h"
#include "rulebook/Rule.h"
#include "text/IoError.h"

// All articles of the run, ordered by number, with the four implements.
class CRuleBook {
public:
    static constexpr int kImplementCount = 4;
    static constexpr int kMinNumber = 1;
    static constexpr int kMaxNumber = 9999;

    CRuleBook();
    CRuleBook(const CRuleBook&) = delete;
    CRuleBook& operator=(const CRuleBook&) = delete;

    bool SetFileName(std::string fileName);
    const std::string& GetFileName() const { return fileName_; }
    // The clock stamps `created` in AddRule and the header of SaveFile.
    void SetClock(qv::Clock clock);

    enum class LoadStatus { NotLoaded, Ok, Missing, Empty, Unreadable, NotARuleBook };

    // Fills the book from the file; false (book untouched) when it cannot be used.
    // Lines that are not rules are skipped, kept, and written back by SaveFile.
    bool LoadFile();
    LoadStatus GetLoadStatus() const { return loadStatus_; }
    const std::vector<std::string>& UnreadLines() const { return unreadLines_; }
    // The failed call behind an Unreadable load.
    const qv::io::IoError& GetLoadError() const { return loadError_; }
    // Writes the whole book atomically; false (old file kept) on any failure.
    bool SaveFile(qv::io::IoError* error = nullptr) const;

    bool AddRule(CRule rule);
    bool RemoveRule(int number);
    CRule* FindRule(int number);
    const CRule* FindRule(int number) const;
    int RuleCount() const { return static_cast<int>(rules_.size()); }
    int NextNumber() const;
    const std::map<int, CRule>& Rules() const { return rules_; }
    auto begin() const { return rules_.begin(); }
    auto end() const { return rules_.end(); }

    std::string GetImpName(int index) const;
    int GetImpWeight(int index) const;
    bool SetImpName(int index, std::string name);
    bool SetImpWeight(int index, double weight);

private:
    std::map<int, CRule> rules_;
    std::string fileName_;
    std::array<std::string, kImplementCount> impName_;
    std::array<int, kImplementCount> impWeight_{};
    qv::Clock clock_;
    LoadStatus loadStatus_ = LoadStatus::NotLoaded;
    qv::io::IoError loadError_;
    std::vector<std::string> unreadLines_;
};

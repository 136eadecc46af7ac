#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
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

    // HeaderNotEnded: the header is right but no line end follows it (as some editors
    // save a header alone); CrOnlyLineEnds: the lines end in CR alone, so none ends.
    enum class LoadStatus {
        NotLoaded,
        Ok,
        Missing,
        Empty,
        Unreadable,
        NotARuleBook,
        HeaderNotEnded,
        CrOnlyLineEnds
    };

    // Fills the book from the file; false (book untouched) when it cannot be used.
    // Lines that are not rules are skipped, kept, and written back by SaveFile.
    bool LoadFile();
    // Takes a whole book from bytes read as LoadFile reads the file (a version kept in the
    // backups): every article, the implements and the unread lines are replaced, and the
    // book counts as changed until it is saved. False (book untouched) as LoadFile.
    bool LoadBytes(std::string_view content);
    LoadStatus GetLoadStatus() const { return loadStatus_; }
    const std::vector<std::string>& UnreadLines() const { return unreadLines_; }
    // The failed call behind an Unreadable load.
    const qv::io::IoError& GetLoadError() const { return loadError_; }
    // Writes the whole book atomically; false (old file kept) on any failure. at: the save
    // time the header takes (the clock's when none), so a caller can note the same second.
    bool SaveFile(qv::io::IoError* error = nullptr, std::optional<qv::Seconds> at = std::nullopt);
    // The header line SaveFile writes for a save at time at, without its line end.
    std::string HeaderLine(qv::Seconds at) const;
    // The clock's time: what a save writes when given none.
    qv::Seconds Now() const { return clock_(); }

    // Whether the book holds changes that the last load or save did not see.
    bool IsModified() const { return modified_; }
    // What became of the file since this book last loaded or saved it: another program
    // may have rewritten or removed it, or it cannot be read to tell. None before the
    // first load or save.
    enum class DiskChange { None, Changed, Removed, Unreadable };
    DiskChange ChangeOnDisk() const;

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
    // The parse both loads share; whole: the articles held before are dropped.
    bool Take(std::string_view content, bool whole);

    std::map<int, CRule> rules_;
    std::string fileName_;
    std::array<std::string, kImplementCount> impName_;
    std::array<int, kImplementCount> impWeight_{};
    qv::Clock clock_;
    LoadStatus loadStatus_ = LoadStatus::NotLoaded;
    qv::io::IoError loadError_;
    std::vector<std::string> unreadLines_;
    bool modified_ = false;
    // Size and hash of the bytes last loaded or saved.
    struct Fingerprint {
        size_t size = 0;
        size_t hash = 0;
        bool operator==(const Fingerprint&) const = default;
    };
    static Fingerprint FingerprintOf(std::string_view bytes);
    std::optional<Fingerprint> onDisk_;
};

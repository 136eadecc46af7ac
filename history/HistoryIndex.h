#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/PagesAhead.h"
#include "records/LogIssues.h"
#include "records/SentenceLog.h"
#include "rulebook/Clock.h"

namespace qv::history {

inline constexpr int kImplementCount = 4;

// The numbers of one sentence. Many records share them (the same article at the same
// level gives the same sentence), so the index keeps each set once.
struct SentenceValues {
    std::int64_t total = 0;   // the sentence in points
    std::int64_t points = 0;  // its points share
    std::array<std::int64_t, kImplementCount> units{};
    bool operator==(const SentenceValues&) const = default;
};

// An article as the records name it: number and the name at the time of the decision.
struct ArticleName {
    std::int32_t number = 0;
    std::string name;      // CP932, as stored
    std::string nameUtf8;  // for the text search
};

// The sentence log reduced to what history needs, 16 bytes a record: the time, the
// article and the sentence values by id, the executed mark. Built from one read of the
// log; the log's bytes are not kept.
class HistoryIndex {
public:
    // What of the log was left out: lines that are not records and records whose time is
    // not a number are skipped; the counts are those the other windows report.
    LogReadIssues issues;

    void Build(const SentenceLog::Contents& contents);
    // The same from the log at path, read a block at a time: the log's bytes are never
    // held whole. Unreadable leaves the index empty (error says why).
    qv::io::ReadStatus Read(const std::string& path, qv::io::IoError* error = nullptr);

    size_t Size() const { return entries_.size(); }
    Seconds Time(size_t i) const { return entries_[i].time; }
    std::uint32_t ArticleId(size_t i) const { return entries_[i].article; }
    const ArticleName& Article(size_t i) const { return articles_[entries_[i].article]; }
    bool Executed(size_t i) const { return (entries_[i].sentence & kExecutedBit) != 0; }
    const SentenceValues& Values(size_t i) const {
        return values_[entries_[i].sentence & ~kExecutedBit];
    }
    // The sentence values by number: record i's are ValuesAt(ValuesId(i)).
    std::uint32_t ValuesId(size_t i) const { return entries_[i].sentence & ~kExecutedBit; }
    size_t ValuesCount() const { return values_.size(); }
    const SentenceValues& ValuesAt(std::uint32_t id) const { return values_[id]; }
    // Every distinct (number, name) the records carry, in order of first appearance.
    const std::vector<ArticleName>& Articles() const { return articles_; }
    // Distinct article numbers, ascending, each with the name of its newest record.
    std::vector<ArticleName> ArticleNumbers() const;

    std::optional<Seconds> FirstTime() const;
    std::optional<Seconds> LastTime() const;

    // Memory the index holds, for the benchmark's figures.
    size_t HeapBytes() const;

private:
    struct Builder;
    void Clear();
    // A record whose decision time has been read (a line whose time is not a number is
    // no record of the index).
    void AddRecord(Builder& builder,
                   const std::array<std::string_view, SentenceRecord::kFieldCount>& fields,
                   Seconds time);

    static constexpr std::uint32_t kExecutedBit = 0x80000000u;
    struct Entry {
        Seconds time;
        std::uint32_t article;   // index into articles_
        std::uint32_t sentence;  // index into values_, top bit = executed
    };
    std::vector<Entry> entries_;
    PagesAhead<Entry> entriesAhead_;
    std::vector<ArticleName> articles_;
    std::vector<SentenceValues> values_;
    Seconds minTime_ = 0;
    Seconds maxTime_ = 0;
};

}  // namespace qv::history

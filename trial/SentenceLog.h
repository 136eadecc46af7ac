#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/FileIo.h"
#include "text/KxString.h"
#include "text/LineWalk.h"

// One decided verdict: a line of "test.log" with 11 TAB-separated fields.
struct SentenceRecord {
    static constexpr size_t kFieldCount = 11;
    enum Field : size_t {
        kDecisionTime = 0,  // identifier, compared as text
        kArticleNumber = 1,
        kArticleName = 2,
        kTotal = 3,
        kDistribution = 4,
        kExecuted = 5,  // "0" not executed, "1" executed
        kCount1 = 6,
        kPoints = 10,
    };
    std::vector<std::string> fields;  // as stored; more than 11 only in a hand-edited line

    // The record line with its "\r\n".
    std::string ToLine() const;
};

// The one place that reads, appends to and rewrites the sentence log.
class SentenceLog {
public:
    explicit SentenceLog(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

    // Calls visit(const std::vector<std::string_view>& fields) for every record in file
    // order: a line ended by a line end with at least 11 fields. The views live only
    // during the call. A missing log reads as empty (Missing); Unreadable when it exists
    // but cannot be read.
    template <typename Visit>
    qv::io::ReadStatus ForEachRecord(Visit&& visit) const;

    // Appends one record line (see SentenceRecord::ToLine), creating the file when
    // missing; false, file unchanged, on any failure.
    bool Append(const SentenceRecord& record) const;

private:
    std::string path_;
};

template <typename Visit>
qv::io::ReadStatus SentenceLog::ForEachRecord(Visit&& visit) const {
    std::string bytes;
    qv::io::ReadStatus status = qv::io::ReadFile(path_, bytes, KxLimits::Lifted().maxSize);
    if (status != qv::io::ReadStatus::Ok) return status;
    std::vector<std::string_view> fields;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        if (!line.terminated) return;
        qv::SplitFields(line.text, fields);
        if (fields.size() >= SentenceRecord::kFieldCount) visit(fields);
    });
    return status;
}

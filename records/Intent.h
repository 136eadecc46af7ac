#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/FileIo.h"

// One open action of the intent record: what a two-file action (a decision: log append,
// then credit; a delete: debit, then log rewrite) is about to do, written before its
// first write and removed after its last.
struct IntentEntry {
    enum class Kind { Decide, Delete };
    Kind kind = Kind::Decide;
    std::string id;            // the record's identifier (decision time)
    std::int64_t points = 0;   // decide: the points to credit; delete: the debit
    std::int64_t logSize = 0;  // decide: the log's size before the append
    // Field 3 of the balance before the first write: a number, "-" when there was no
    // file, "?" when it could not be read.
    std::string balanceBefore;
    std::int64_t balanceAfter = 0;  // delete: the balance the debit leaves

    // "decide\tid\tpoints\tlogSize\tbalanceBefore\r\n" or
    // "delete\tid\tdebit\tbalanceBefore\tbalanceAfter\r\n".
    std::string ToLine() const;
    static std::optional<IntentEntry> FromLine(std::string_view line);
};

// The intent record "intent.dat" beside the sentence log: one line per open action,
// CP932 text, CR LF. A decide line that stays after its credit failed is the note that
// the record's points are not on the balance. Written and read under the log's lock.
class IntentRecord {
public:
    explicit IntentRecord(std::string path) : path_(std::move(path)) {}
    // The record beside the sentence log at logPath.
    static IntentRecord Beside(const std::string& logPath);
    const std::string& Path() const { return path_; }

    // The entries as stored (lines that are no entry are skipped here, kept on rewrite).
    qv::io::ReadStatus Read(std::vector<IntentEntry>& entries) const;

    // An entry made durable (appended and synced); closed by Close.
    struct Opened {
        std::string line;
        bool alone = false;  // the record held nothing else: closing removes the file
    };
    // False when the entry could not be made durable: the action must not start.
    bool Open(const IntentEntry& entry, Opened& opened) const;
    // Removes the opened entry, and every entry for which alsoDrop returns true.
    bool Close(const Opened& opened,
               const std::function<bool(const IntentEntry&)>& alsoDrop = nullptr) const;
    // Keeps only the entries for which keep returns true (and every line that is no entry);
    // the file goes when nothing remains.
    bool Keep(const std::function<bool(const IntentEntry&)>& keep) const;

    // The points of the decide entries for id: decided, but not on the balance. False
    // when the record exists but cannot be read (then nothing is known).
    bool UncreditedPoints(std::string_view id, std::int64_t& points) const;

private:
    std::string path_;
};

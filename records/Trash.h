#pragma once

#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rulebook/Clock.h"
#include "text/FileIo.h"

// The trash, "test.trs" beside "test.log": what was deleted, byte for byte, so it can be
// put back. CP932, CR LF, one entry a line, appended on every delete and rewritten
// (atomically, unreadable lines kept) only when entries leave it. Each line:
//   serial  kind  deletedAt  points  anchor  nth  payload
// serial: a number unique in the file; kind: "log" (a sentence record of test.log) or
// "rule" (an article line of test.dat); deletedAt: seconds since 1970; points: the points
// the delete took off the balance (0 for an article); anchor and nth: the identifier
// (first field) of the line that followed the record in the log, and which line carrying
// that identifier it was (1 = the first); when no line followed it, anchor is empty and
// nth is the line number it stood at (0 = the first line); payload:
// the deleted line without its line end, TABs included, up to the line end.
class Trash {
public:
    enum class Kind { LogRecord, Article };
    struct Entry {
        std::int64_t serial = 0;
        Kind kind = Kind::LogRecord;
        qv::Seconds deletedAt = 0;
        std::int64_t points = 0;
        std::string anchor;
        std::int64_t nth = 0;
        std::string payload;
    };
    struct Contents {
        std::vector<Entry> entries;
        std::vector<std::string> unreadLines;  // as stored, line end included
    };

    explicit Trash(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }
    bool Enabled() const { return !path_.empty(); }

    static std::string ToLine(const Entry& entry);  // with its "\r\n"
    static bool FromLine(std::string_view line, Entry& out);
    static Contents Parse(std::string_view bytes);

    // Missing or empty: no entries.
    qv::io::ReadStatus Read(Contents& out, qv::io::IoError* error = nullptr) const;
    // The seconds (identifiers) of the sentences in the trash from t on, so a new sentence
    // takes none of them; none when there is no trash or it cannot be read.
    std::set<std::int64_t> LogSecondsFrom(std::int64_t t) const;
    // The serial the next entry gets; 0 when the trash cannot be read.
    std::int64_t NextSerial(qv::io::IoError* error = nullptr) const;
    // Appends the entries in one write under the trash's lock, giving each entry whose
    // serial is 0 the next free one (written back into entries). False, trash unchanged,
    // when it cannot be read or written.
    bool Append(std::vector<Entry>& entries, qv::io::IoError* error = nullptr) const;
    // Takes the entries with these serials out for good; every other line, unreadable
    // ones included, stays byte for byte.
    bool Remove(std::span<const std::int64_t> serials, qv::io::IoError* error = nullptr) const;
    // The trash's bytes without the entries with these serials; every other line, unreadable
    // ones included, stays byte for byte.
    static std::string Without(std::string_view bytes, std::span<const std::int64_t> serials);

private:
    std::string path_;
};

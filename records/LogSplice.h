#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Taking sentence records out of the log's bytes and putting them back exactly where they
// stood, for undo, the trash and the repair of a restore a kill cut short.
namespace qv::records {

// A record cut out of the log, with what puts it back where it stood.
struct CutRecord {
    std::string line;    // the record line without its line end, byte for byte
    std::string anchor;  // first field of the line that followed it; empty: none did
    // Which line carrying anchor that was (1 = the first); with no anchor, the line
    // number it stood at (0 = the first line).
    std::int64_t nth = 0;
    std::int64_t points = 0;  // field 10 read like atol
};

// Which of the records carrying one identifier an action is about: the n-th (0 = the
// first in file order), or every one of them.
inline constexpr size_t kEveryRecord = static_cast<size_t>(-1);

// The records carrying id in content (only the which-th of them, when given), in file
// order, with their anchors as seen in the log once they are gone.
std::vector<CutRecord> CutsOf(std::string_view content, std::string_view id,
                              size_t which = kEveryRecord);

// Puts records back into content, in the order given: each before the nth line whose
// first field is its anchor, or, when that line is gone, before the first record decided
// later than itself, or at the end. A record that no line followed goes back at its line
// number (or the end). Every other byte stays.
std::string InsertRecords(std::string_view content, std::span<const CutRecord> records);

// A record line without its mark (field 5): two lines with one key are one sentence,
// executed or not.
std::string RecordKey(std::string_view line);
// The line with field f replaced by value (the line as it is when it has fewer fields).
std::string WithField(std::string_view line, size_t f, std::string_view value);

// Whether content holds a record carrying id.
bool HasRecord(std::string_view content, std::string_view id);

// Field 5 of every record carrying id, in file order.
std::vector<std::string> MarksOf(std::string_view content, std::string_view id);
// Sets field 5 of the records carrying id back to flags, in file order (records beyond
// the flags are left as they are); every other byte stays.
std::string SetMarks(std::string_view content, std::string_view id,
                     std::span<const std::string> flags);

// What each debit of a delete took from a balance that stood at before: debits apply
// one after another, each floored at 0, and a debit of 0 or less takes nothing.
std::vector<std::int64_t> TakenEach(std::int64_t before, std::span<const std::int64_t> points);

}  // namespace qv::records

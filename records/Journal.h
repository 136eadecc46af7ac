#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rulebook/Clock.h"
#include "text/IoError.h"

namespace qv::records {

// Where a line points: the journal line that made a sentence or a report (origin is its
// device tag, n its sequence number), or a record of a folder's state from before the
// journals (origin "#" and the base's hash; n the record's place in that log, 1 for the
// first record, or "t" and a trash serial for an entry that was in its trash).
struct LineRef {
    std::string origin;
    std::string n;
    bool operator==(const LineRef&) const = default;
    auto operator<=>(const LineRef&) const = default;
};

// One line of a computer's journal: every action the user takes there, appended by that
// computer alone. The folder's other files are worked out from the union of the journals
// (see Fold), so a line carries all its action needs to be replayed anywhere.
//
// As written, CP932 text ending in CR LF, fields cut at TAB:
//   qj1  device  seq  time  order  kind  field…  ~crc
// qj1 names the format; device is the writer's tag ("@" and up to 16 letters, digits, "-",
// "_"), seq counts its lines from 1, time is seconds since 1970 (UTC), order is where the
// line goes among all computers' lines: its time, or one past the highest order of every
// line its computer held when it wrote it, whichever is later (so a line never comes
// before a line its writer had seen, whatever the clocks say); crc is the CRC-32C of
// every byte before "\t~", as 8 lower-case hex digits, so a line that was cut, glued or
// garbled is told from one that was written.
struct JournalLine {
    enum class Kind {
        Base,        // hash, "data" or "sample": the folder's state before the journals
        Decide,      // article, name, total, distribution, counts 1-4, points, verdict lines…
        Mark,        // origin, n, flag ("1" executed, "0" not)
        Delete,      // origin, n: the sentence goes to the trash, its points off the balance
        Restore,     // origin, n: a deleted sentence back, with the points its delete took
        Report,      // units "u1/u2/u3/u4", points asked
        Unreport,    // origin, n of a report: the points it took back on the balance
        Rule,        // the article's line as the rule book stores it (14 fields), then "new"
                     // (added under a number believed free) or "edit"
        Purge,       // origin, n: a deleted sentence leaves the trash for good
        PurgeRule,   // article number, time of its deletion: an article leaves the trash
        Unrule,      // article number: the article goes to the trash
        Implements,  // name 1, weight 1, … name 4, weight 4
        Adjust,      // balance: the balance file's figure taken after an outside edit
        Void,        // origin, n of a line of this computer's own whose action was undone
                     // before it reached the files (a write failed): it never happened
        Found,       // identifier, mark, then a decide's fields: a record found in the log
                     // that no journal held (written there by something else); a decide of
                     // the same record, wherever it comes from, takes its place
    };
    std::string device;
    std::int64_t seq = 0;
    qv::Seconds time = 0;
    Kind kind = Kind::Adjust;
    std::vector<std::string> fields;  // the kind's own, in the order above
    std::int64_t order = 0;           // 0: the line's time

    // The line as written, CR LF included.
    std::string ToText() const;
    // The line's own reference (what a later line names it by).
    LineRef Ref() const { return {device, std::to_string(seq)}; }
    // The sentence or report a Mark, Delete, Restore or Unreport line names.
    LineRef Target() const { return {fields.at(0), fields.at(1)}; }
};

std::string_view KindToken(JournalLine::Kind kind);

// Why a line was refused; Ok for a line that may be replayed.
enum class LineFault {
    Ok,
    Torn,       // no line end: the last line of a journal cut by a kill
    Bytes,      // a NUL or another control byte, or not CP932-shaped text
    Framing,    // not "qj1", a bad device, sequence or time, an unknown kind
    Checksum,   // the bytes are not the ones written
    Fields,     // the kind's fields break the files' rules (a number out of range…)
    WrongFile,  // written by another device than the journal's own
};

// Reads one line (without its CR LF) and checks it against every field rule of the files
// it will be replayed into; nothing when refused (fault, when given, says why).
std::optional<JournalLine> ParseJournalLine(std::string_view line, LineFault* fault = nullptr);

// Whether a line of test.log (without its line end) is a record this program could have
// written: 11 fields, an identifier of plain digits, an article 1-9999, whole numbers in
// range, points within the total, a flag of "0" or "1", no control bytes. Records taken
// from outside (another computer's copy) are held to it.
bool IsSoundRecord(std::string_view line);

// The device a journal file belongs to, from its name "<tag without @>.jnl"; nothing for
// a name that is no journal.
std::optional<std::string> DeviceOfJournalName(std::string_view name);
std::string JournalNameOf(std::string_view device);

// One computer's journal as read: its whole lines, and what could not be replayed. The
// lines are kept as places in the bytes read, not as objects of their own: a fold reads
// every line of every journal, and a million small strings cost more than the reading.
struct JournalRead {
    std::string device;
    std::string bytes;  // what was read of the journal (refused lines too)
    struct Line {
        std::int64_t seq = 0;
        qv::Seconds time = 0;
        std::int64_t order = 0;
        JournalLine::Kind kind = JournalLine::Kind::Adjust;
        std::uint32_t firstField = 0;  // into fields
        std::uint32_t fieldCount = 0;
    };
    std::vector<Line> lines;  // in file order, refused lines left out
    struct Span {
        std::uint64_t at = 0;  // into bytes
        std::uint32_t size = 0;
    };
    std::vector<Span> fields;  // every line's own fields, in order
    struct Refused {
        std::int64_t offset = 0;
        LineFault fault = LineFault::Ok;
    };
    std::vector<Refused> refused;
    std::int64_t wholeSize = 0;  // bytes up to the end of the last whole line
    std::int64_t tornBytes = 0;  // bytes after it (a kill during an append)

    std::int64_t NextSeq() const { return lines.empty() ? 1 : lines.back().seq + 1; }
    std::string_view Field(const Line& line, size_t f) const {
        const Span& span = fields[line.firstField + f];
        return std::string_view(bytes).substr(span.at, span.size);
    }
    // Fields from..to-1 of a line as they stand in the journal, TABs between them.
    std::string_view Fields(const Line& line, size_t from, size_t to) const;
    LineRef Ref(size_t i) const { return {device, std::to_string(lines[i].seq)}; }
    // Line i as a line of its own (for a test, or a line named on its own).
    JournalLine Whole(size_t i) const;
    // Appends a line as the journal would hold it and reads it; false when refused.
    bool Add(const JournalLine& line);
};

// The journals of a folder, "journal/" beside the data files.
class Journals {
public:
    // The journals of the data folder dataFolder ("" or "." for the working folder).
    explicit Journals(const std::string& dataFolder);
    const std::string& Folder() const { return folder_; }
    std::string PathOf(std::string_view device) const;

    // Reads every journal in the folder, in the order of their devices. A name that is a
    // link, a FIFO or a folder is passed over and named in skipped; a journal larger than
    // maxBytes is read to that size only (the rest waits for a later read).
    struct Listing {
        std::vector<JournalRead> journals;
        std::vector<std::string> skipped;
    };
    bool ReadAll(Listing& out, qv::io::IoError* error = nullptr,
                 std::int64_t maxBytes = std::int64_t{1} << 34) const;
    // The newest line of each journal, read from its end: the highest sequence it holds
    // and the order of its newest action (0: none). Lines that are refused are passed over.
    struct End {
        std::string device;
        std::int64_t seq = 0;
        std::int64_t order = 0;
    };
    bool Ends(std::vector<End>& out, qv::io::IoError* error = nullptr) const;
    // Reads one journal's bytes from offset on (its lines after a position kept earlier).
    static bool ReadFrom(const std::string& path, std::int64_t offset, std::int64_t maxBytes,
                         JournalRead& out, qv::io::IoError* error = nullptr);
    // Parses a journal's bytes (offset: where they start in the file).
    static void Parse(std::string_view bytes, std::int64_t offset, JournalRead& out);
    // The same for bytes already at the end of out.bytes, from base on.
    static void ParseKept(std::uint64_t base, std::int64_t offset, JournalRead& out);

    // Makes the journals' folder when it is missing; one that is a link is refused.
    bool MakeFolder(qv::io::IoError* error = nullptr) const;
    // Appends this computer's lines and syncs them: the commit of an action. The journal
    // is opened without following links and only when it is a regular file; a torn tail
    // left by a kill is cut back first. like: the file whose group and mode a new journal
    // takes. False, journal as it was, on failure.
    bool Append(std::string_view device, std::string_view text, const std::string& like,
                qv::io::IoError* error = nullptr) const;
    // Cuts this computer's journal back to its last whole line; true when nothing is torn.
    bool CutTorn(std::string_view device, qv::io::IoError* error = nullptr) const;

private:
    // The journals' names that are regular files, by device; the others in skipped.
    bool List(std::vector<std::pair<std::string, std::string>>& found, std::vector<std::string>* skipped,
              qv::io::IoError* error) const;
    std::string folder_;
};

// CRC-32C (Castagnoli), the processor's own instruction where it has one.
std::uint32_t Crc32c(std::string_view bytes);

}  // namespace qv::records

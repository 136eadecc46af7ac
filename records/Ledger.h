#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/PointBalance.h"
#include "rulebook/Clock.h"
#include "text/FileIo.h"

// The ledger of the point balance, "user.ldg" beside "user.dat": one line appended for
// every change the program makes to the balance, so the balance can always be explained.
// CP932 (ASCII in practice), CR LF, never rewritten. Each line has seven TAB-separated
// fields, then the device tag of the computer that wrote it (lines of older versions have
// none), then "merged" on the lines taken over from another computer's copy of the folder:
//   time  kind  identifier  units  asked  before  after  [@device  [merged]]
// time: seconds since 1970 (UTC); kind: one of the tokens below; identifier: the
// sentence's decision time where there is one, else empty; units: the units per implement
// of a point report as "u1/u2/u3/u4", else empty; asked: the change asked for, signed
// (a debit is negative); before, after: the balance before and after, the floor at 0
// applied, so the points the floor swallowed show as asked != after - before. Merged lines
// explain the other computer's changes; the "merge" line after them books their sum, so
// the figures of the lines that are not merged still follow on from one another.
class Ledger {
public:
    enum class Kind {
        Open,    // "open": the balance found when the ledger was started
        Credit,  // "credit": a decided verdict's points
        Report,  // "report": a point execution report
        Delete,  // "delete": a deleted sentence's points taken back
        Undo,    // "undo": points given back by an undo or a restore from the trash
        Adjust,  // "adjust": the balance file's figure accepted over the ledger's
        Merge,   // "merge": another computer's changes taken in from a conflict copy
    };
    struct Entry {
        qv::Seconds time = 0;
        Kind kind = Kind::Adjust;
        std::string id;
        std::optional<std::array<std::int64_t, 4>> units;
        std::int64_t asked = 0;
        std::int64_t before = 0;
        std::int64_t after = 0;
        std::string device{};  // "@tag"; empty on lines of older versions
        bool merged = false;  // taken over from another computer's ledger
    };
    struct Contents {
        std::vector<Entry> entries;  // the lines whose figures follow on from each other
        std::vector<Entry> merged;   // the lines merged in from another computer
        // Lines that are not entries (a torn last line, a hand edit), as stored, line end
        // included. They stay in the file: the ledger is only ever appended to.
        std::vector<std::string> unreadLines;
        // The balance after the last entry; nothing when there is no entry.
        std::optional<std::int64_t> Last() const;
    };

    explicit Ledger(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }
    bool Enabled() const { return !path_.empty(); }

    static std::string_view KindToken(Kind kind);
    static std::string ToLine(const Entry& entry);  // with its "\r\n"
    // One line without its line end; nothing when it is not an entry.
    static std::optional<Entry> FromLine(std::string_view line);
    // Reads as far as the file goes; lines that are not entries are kept aside.
    static Contents Parse(std::string_view bytes);

    // A missing or empty ledger reads as no entries (Missing / Empty).
    qv::io::ReadStatus Read(Contents& out, qv::io::IoError* error = nullptr) const;
    // The last entry, read from the end of the file: its last line when that is a whole
    // entry, else (a torn tail, a last line that is no entry) the whole file is read as
    // Read does. fullRead, when given, learns whether it was, and unreadLines then counts
    // the lines that are not entries (else it stays 0).
    qv::io::ReadStatus LastEntry(std::optional<Entry>& last, qv::io::IoError* error = nullptr,
                                 bool* fullRead = nullptr, size_t* unreadLines = nullptr) const;
    // The balance after the last entry (nothing when there is none), as LastEntry reads it.
    qv::io::ReadStatus LastBalance(std::optional<std::int64_t>& last,
                                   qv::io::IoError* error = nullptr) const;
    // Appends in one write under the ledger's lock; false, ledger unchanged, on failure.
    bool Append(const Entry& entry, qv::io::IoError* error = nullptr) const;
    bool Append(const std::vector<Entry>& entries, qv::io::IoError* error = nullptr) const;

    // The balance before and after a change, the floor at 0 applied.
    struct Figures {
        std::int64_t before = 0;
        std::int64_t after = 0;
    };
    // Books one change whose entry carries its real figures: a ledger without entries
    // opens with entry.before first, and a last balance other than entry.before gets an
    // "adjust" line first (adjusted then tells from what to what), so the ledger keeps
    // adding up. Read and append under the ledger's lock.
    bool Book(const Entry& entry, std::optional<Figures>* adjusted = nullptr,
              qv::io::IoError* error = nullptr) const;
    // The lines that book entry after a ledger whose last figure is last (none: an empty
    // ledger): an "open" or "adjust" line first where needed (adjusted then tells from
    // what to what), then the entry itself.
    static std::string LinesFor(const Entry& entry, std::optional<std::int64_t> last,
                                std::optional<Figures>* adjusted = nullptr);
    // Books the entry unless the ledger's last entry is already this change (same kind,
    // identifier, before and after): a repair after a kill never books a change twice.
    bool BookOnce(const Entry& entry) const;

    // The ledger checked against the balance file as it stands.
    struct Check {
        enum class Result {
            Agrees,
            Started,         // there was no ledger: it was started with the file's figure
            Differs,         // the figures differ (a hand edit, an interrupted write)
            NoBalance,       // the balance file is missing or unusable: nothing to check
            LedgerUnusable,  // the ledger cannot be read, or could not be started
        };
        Result result = Result::Agrees;
        std::int64_t ledgerBalance = 0;
        std::int64_t fileBalance = 0;
        size_t unreadLines = 0;  // lines of the ledger that are not entries
    };
    // Starts a missing (or empty) ledger silently with an "open" entry. The ledger's figure
    // is its last line's; lines that are not entries are counted when the last line is
    // damaged and the whole ledger had to be read.
    Check CheckAgainst(const PointBalance& balance, qv::Seconds now) const;

    // Records that the balance file's figure was accepted: an "adjust" entry from the
    // ledger's figure to the file's.
    bool RecordAdjustment(std::int64_t ledgerBalance, std::int64_t fileBalance,
                          qv::Seconds now) const;

private:
    std::string path_;
};

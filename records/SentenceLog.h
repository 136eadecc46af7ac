#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/Intent.h"
#include "records/LogSplice.h"
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
    // The log as read at one moment: every record in file order and, kept aside, the
    // lines that are not records (too few fields, or the last line without its line
    // end). One buffer holds the file; lines are offsets into it, so a log of any size
    // costs one allocation plus a few bytes per line.
    class Contents {
    public:
        size_t RecordCount() const { return records_.size(); }
        // Record i's line without its line end.
        std::string_view Record(size_t i) const { return View(records_[i], true); }
        // Field f of record i as stored.
        std::string_view Field(size_t i, size_t f) const { return FieldOf(Record(i), f); }
        size_t OtherLineCount() const { return others_.size(); }
        // Non-record line i as stored, line end included.
        std::string_view OtherLine(size_t i) const { return View(others_[i], false); }

        // Field f of a line cut at TABs; empty when the line has fewer fields.
        static std::string_view FieldOf(std::string_view line, size_t f);
        // The records whose field 0 is id, in file order: found by a small key kept per
        // record, so a search touches 4 bytes a record instead of the log's lines.
        std::vector<size_t> RecordsCarrying(std::string_view id) const;
        // The key of an identifier (field 0) that RecordsCarrying looks for.
        static std::uint32_t IdKey(std::string_view id);

        // Record i's article number (field 1) when it is written as plain decimal digits
        // (at most 5 of them, below kNotPlain), found while the lines were sorted;
        // kNotPlain when the field has to be read from its text.
        static constexpr std::uint32_t kNotPlain = 0x3FFF;
        std::uint32_t PlainArticle(size_t i) const { return records_[i].article; }

        // What could not be read as records, counted while the lines were sorted.
        struct Damage {
            size_t unreadLines = 0;  // non-record lines other than empty ones
            size_t crOnlyLines = 0;  // of those, lines holding a lone CR
            size_t badTimes = 0;     // records whose decision time is not a number
            size_t gluedLines = 0;   // records holding a lone CR
        };
        const Damage& Damaged() const { return damage_; }

        // The records whose mark (field 5) is exactly "0" and their sentences (field 3)
        // added up, held at the ends of the range, found while the lines were sorted and
        // their bytes were at hand. known turns false once a mark is set in these bytes.
        struct Unmarked {
            bool known = false;
            size_t records = 0;
            std::int64_t points = 0;
        };
        const Unmarked& NotExecuted() const { return unmarked_; }

        // The whole file as read (or as last written by this program).
        std::string_view Bytes() const { return bytes_.View(); }
        // Where record i's line starts in Bytes.
        size_t RecordBegin(size_t i) const { return records_[i].begin; }
        // Where it ends, past its CR LF, in contents whose records all end with CR LF.
        size_t RecordEnd(size_t i) const { return records_[i].begin + Record(i).size() + 2; }
        // Where each line whose first field is `first` starts, records and other lines alike,
        // in file order (as a walk over the lines sees their text).
        std::vector<size_t> LinesCarrying(std::string_view first) const;
        // How many records start before offset.
        size_t RecordsBefore(size_t offset) const;

        // Bytes put in at an offset: before the line that starts there, or at the end.
        struct Insertion {
            size_t at = 0;
            std::string bytes;  // whole lines
        };
        // The records at indices (ascending) taken out where they stand, as the file now
        // written without their lines holds them: the bytes behind close up and the lines
        // move with them, so the log need not be read or sorted again. stamp: the file's
        // as written. Only for contents whose records all end with CR LF.
        void RemoveRecords(std::span<const size_t> indices, const qv::io::FileStamp& stamp);
        // The same for lines put in (insertions in order of their offsets, as written).
        // The copy grows where it lies; with no room for that it is emptied, to be read
        // again.
        void InsertLines(std::span<const Insertion> insertions, const qv::io::FileStamp& stamp);
        // Makes the room InsertLines needs beforehand; false when there is none.
        bool RoomFor(std::span<const Insertion> insertions);
        // Whether the file at path is still exactly what these contents hold: its size,
        // times and identity are those seen when it was read or written here. A log
        // edited by hand since then is read again.
        bool StillMatches(const std::string& path) const;

    private:
        friend class SentenceLog;
        friend class LogScan;
        // 8 bytes a line: a log of a million records costs 8 MB besides its bytes.
        struct Span {
            std::uint64_t begin : 38;    // logs reach at most kMaxBytes
            std::uint64_t size : 12;     // kLong: that long or longer, its end is looked for
            std::uint64_t article : 14;  // records only: see PlainArticle
        };
        static constexpr std::uint32_t kLong = 0xFFF;
        static constexpr std::uint64_t kMaxBytes = std::uint64_t{1} << 38;
        static Span MakeSpan(size_t begin, size_t size, std::uint32_t article) {
            return Span{begin, size < kLong ? size : kLong, article};
        }
        // A record's text without its line end, or another line as stored.
        std::string_view View(Span s, bool record) const { return ViewIn(bytes_.View(), s, record); }
        static std::string_view ViewIn(std::string_view all, Span s, bool record);
        void Clear();
        // Sorts the lines of bytes_ into records and others.
        void Index();
        // After the copy changed where it lies: it stands for the file as written (stamp)
        // only while their sizes agree.
        void Restamp(const qv::io::FileStamp& stamp);

        qv::io::FileBuffer bytes_;
        std::vector<Span> records_;
        std::vector<std::uint32_t> idKeys_;  // IdKey of each record's field 0
        Unmarked unmarked_;
        std::vector<Span> others_;
        Damage damage_;
        size_t bareLfRecords_ = 0;  // records ended by LF alone: a rewrite lengthens them
        qv::io::FileStamp stamp_;
    };

    // A rewrite worked out from the file as it stands; nothing is written until Write.
    struct Rewrite {
        qv::io::ReadStatus read = qv::io::ReadStatus::Missing;
        qv::io::IoError error;  // why, when read is Unreadable
        size_t matched = 0;     // records carrying the identifier
        // Field 10 (points, read like atol) of every dropped record, in file order.
        std::vector<std::int64_t> droppedPoints;
        // The dropped records with what puts each back where it stood (see CutsOf).
        std::vector<qv::records::CutRecord> cuts;
        std::string bytes;  // the whole new file, unless `marks` tells it
        // A mark that keeps every length is made in the copy planned from instead: source
        // is that copy, marks the offsets of the mark bytes to set to flag, and bytes
        // stays empty. Valid while the copy lives unchanged.
        const Contents* source = nullptr;
        std::vector<size_t> marks;
        char flag = '0';
        // A delete planned in that copy likewise: the records left out (their indices, in
        // file order), and bytes stays empty; the new file is Pieces of the rewrite.
        std::vector<size_t> dropped;
        // Another program holds the log (read is then Unreadable). Otherwise the lock on
        // the log is held from the plan until this rewrite is destroyed, so nothing can
        // be appended in between and lost by the write.
        bool busy = false;
        qv::io::FileLock lock;
    };

    explicit SentenceLog(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

    // A line is a record when it is ended by a line end and has at least 11 fields.
    static bool IsRecord(const qv::Line& line);

    // Calls visit(const std::vector<std::string_view>& fields) for every record in file
    // order. The views live only during the call. A missing log reads as empty
    // (Missing); Unreadable when it exists but cannot be read (error, when given, says why).
    template <typename Visit>
    qv::io::ReadStatus ForEachRecord(Visit&& visit, qv::io::IoError* error = nullptr) const;

    // The whole log for the list; out is emptied first. Missing and Empty give no lines;
    // a log of 256 GiB or more is Unreadable (EFBIG).
    qv::io::ReadStatus Read(Contents& out, qv::io::IoError* error = nullptr) const;

    // Every record in file order, read a piece at a time so the log is never held whole:
    // visit(text, plainArticle) sees each record's line without its line end (valid during
    // the call) and its article as Contents::PlainArticle notes it. damage counts what Read
    // counts; stamp is the file's as read, unknown when it changed meanwhile. The same
    // statuses and errors as Read; when the read fails, what visit saw is void.
    qv::io::ReadStatus ForEachRecordInPieces(
        const std::function<void(std::string_view text, std::uint32_t plainArticle)>& visit,
        Contents::Damage& damage, qv::io::FileStamp& stamp, qv::io::IoError* error = nullptr) const;

    // The first second from t on that names no record (two decisions within one second,
    // or a clock set back, would otherwise share an identifier), and the log's size. The
    // log is in decision order, so the records that may carry such a second are the
    // newest: it is read from its end back past the first record decided before t (and
    // at least 64 KiB). Only when the clock went back onto t or later among those (the
    // newest record decided after t, or one out of order) is every record looked at; a
    // clock set back further up the log than that is not seen. A missing log is Missing
    // (size 0, t free).
    qv::io::ReadStatus FreeSecond(std::int64_t& t, std::int64_t& size,
                                  qv::io::IoError* error = nullptr) const;

    // Appends one record line (see SentenceRecord::ToLine), creating the file when
    // missing, under the log's lock; false, file unchanged, on any failure (busy too).
    bool Append(const SentenceRecord& record, qv::io::IoError* error = nullptr) const;

    // Marks every record whose identifier is id executed ("1") or not executed ("0").
    // A copy that still matches the file is rewritten instead of reading it again.
    // which: only the which-th record carrying id (0 = the first in file order).
    Rewrite PlanMark(std::string_view id, bool executed, const Contents* copy = nullptr,
                     size_t which = qv::records::kEveryRecord) const;
    // Leaves out every record whose identifier is id (or only the which-th), handing back
    // their points.
    // A copy that still matches the file is planned from instead of reading it again.
    Rewrite PlanDelete(std::string_view id, size_t which = qv::records::kEveryRecord,
                       const Contents* copy = nullptr) const;
    // The new file of a rewrite planned in a copy, as pieces of the copy in order (a
    // delete's; for marks, use Write).
    static std::vector<std::string_view> Pieces(const Rewrite& rewrite);

    // The records at dropped (indices in file order) with what puts each back where it
    // stood, as CutsOf finds them in the copy's bytes, found through the copy's index.
    static std::vector<qv::records::CutRecord> CutsIn(const Contents& copy,
                                                      std::span<const size_t> dropped);
    // Where InsertRecords puts records back into a copy's bytes, as insertions at the
    // copy's offsets, found through its index; false when finding that takes a walk over
    // the bytes (an anchor gone, a record going back before the end by its line number, a
    // record that is no one line).
    static bool InsertionsIn(const Contents& copy, std::span<const qv::records::CutRecord> records,
                             std::vector<Contents::Insertion>& out);
    // The copy's bytes with insertions put in, as pieces in order.
    static std::vector<std::string_view> Pieces(const Contents& copy,
                                                std::span<const Contents::Insertion> insertions);
    // Replaces the log with the rewrite atomically; false, old file kept, on failure.
    bool Write(const Rewrite& rewrite, qv::io::IoError* error = nullptr) const;
    // The same, and then the written bytes become kept: the contents of the log as it now
    // is, without reading it back. kept is left alone when the write fails. When kept is
    // the copy the marks were planned from, they are made in it where it stands: no
    // second copy of the log is made.
    bool WriteKeeping(Rewrite&& rewrite, Contents& kept, qv::io::IoError* error = nullptr) const;

    // A mark made where it stands: the bytes it changes (offset, before, after) in a copy
    // of the log, and how many records carry id (or the which-th). False when the mark
    // cannot be made in place: a record ended by a bare LF (a rewrite would end it with CR
    // LF), a mark that is not one byte, an identifier with a TAB. Marks that already hold
    // the flag are left out of bytes.
    static bool MarkBytes(const Contents& copy, std::string_view id, bool executed, size_t which,
                          std::vector<IntentEntry::Byte>& bytes, size_t& matched);
    // Field 5 of every record carrying id in a copy, in file order (as MarksOf on its
    // bytes), found through the copy's index of records.
    static std::vector<std::string> MarksIn(const Contents& copy, std::string_view id);
    // What the file holds at each byte's offset, read with a line's worth each: the byte,
    // or -1 where that offset is not the mark of a record carrying id. size: the file's.
    qv::io::ReadStatus ReadMarks(std::string_view id, const std::vector<IntentEntry::Byte>& bytes,
                                 std::vector<int>& now, std::int64_t& size,
                                 qv::io::IoError* error = nullptr) const;
    // The bytes written in the file set in a copy too (their before, when undone); the copy
    // takes the file's new stamp, so it is still trusted.
    void SetInCopy(Contents& copy, const std::vector<IntentEntry::Byte>& bytes, bool undone) const;

    // The rewrite itself, on bytes: records are written back as their fields joined by
    // TAB and ended by "\r\n" (so a bare LF becomes CR LF); every other line is copied
    // byte for byte. A record keeps all its fields, even past the eleventh.
    enum class Change { MarkExecuted, MarkNotExecuted, Drop };
    static Rewrite RewriteBytes(std::string_view content, std::string_view id, Change change,
                                size_t which = qv::records::kEveryRecord);

private:
    Rewrite Plan(std::string_view id, Change change, const Contents* copy, size_t which) const;
    // The marks of a copy that still matches the file, set where they are; false when the
    // change would alter a length (a bare LF, a mark that is not one byte).
    static bool PlanInPlace(const Contents& copy, std::string_view id, Change change, size_t which,
                            Rewrite& r);
    // The new file of a rewrite planned in place, made whole.
    static std::string Materialize(const Rewrite& r);
    // Writes the rewrite's new file, under the log's lock.
    bool WriteLocked(const Rewrite& rewrite, std::span<const std::string_view> pieces,
                     qv::io::IoError* error) const;
    bool WriteLocked(const Rewrite& rewrite, std::string_view bytes, qv::io::IoError* error) const {
        return WriteLocked(rewrite, std::span<const std::string_view>(&bytes, 1), error);
    }
    // A delete planned in a copy through its index; false when its records do not all
    // end with CR LF (a rewrite would change a line end).
    static bool PlanDropIn(const Contents& copy, std::string_view id, size_t which, Rewrite& r);

    std::string path_;
};

template <typename Visit>
qv::io::ReadStatus SentenceLog::ForEachRecord(Visit&& visit, qv::io::IoError* error) const {
    std::string bytes;
    qv::io::ReadStatus status = qv::io::ReadFile(path_, bytes, qv::io::kWholeFile, error);
    if (status != qv::io::ReadStatus::Ok) return status;
    std::vector<std::string_view> fields;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        if (!IsRecord(line)) return;
        qv::SplitFields(line.text, fields);
        visit(fields);
    });
    return status;
}

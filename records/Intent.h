#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "text/FileIo.h"

// One open action of the intent record: what an action that writes more than one file
// is about to do, written before its first write and removed after its last, so a kill
// anywhere in between is finished or rolled back at the next start.
//   decide  (log append, credit, ledger line)
//   delete  (trash, debit, log rewrite, ledger line)
//   balance (a balance change of its own and its ledger line: a point report, its undo)
//   restore (credit given back, records put back into the log, ledger line, out of the
//            trash: the undo of a delete, a restore from the trash)
//   mark    (the executed marks of records set where they stand in the log: 執行, 未執行
//            and their undo)
//   merge   (conflict copies merged: the staged files replace the folder's, the copies
//            move into conflicts/; start-up carries the staged plan out)
struct IntentEntry {
    enum class Kind { Decide, Delete, Balance, Restore, Mark, Merge };
    Kind kind = Kind::Decide;
    std::string id;            // the record's identifier (decision time); balance: may be empty
    std::int64_t points = 0;   // decide: the credit; delete: the debit; balance, restore:
                               // the change asked for (signed)
    std::int64_t logSize = 0;  // decide: the log's size before the append
    // Field 3 of the balance before the first write: a number, "-" when there was no
    // file, "?" when it could not be read.
    std::string balanceBefore;
    std::int64_t balanceAfter = 0;  // delete, balance, restore: the balance the change leaves
    // delete, restore: the trash entries of the records (their serials), so a rollback
    // takes them out again and a restore knows what to put back.
    std::vector<std::int64_t> serials;
    std::string ledgerKind;  // balance: the ledger's token for the change ("report", "undo")
    std::string units;       // balance: the units per implement "u1/u2/u3/u4", or empty
    // The size of each file the action appends to, before its first append, by the
    // folder's short names ("log", "ldg", "trs", "rsn"): a kill that cut an append short
    // is cut back to it. Empty in entries written before sizes were kept.
    std::vector<std::pair<std::string, std::int64_t>> sizes;
    // decide: the record line the action appends (without its line end), so start-up can
    // check the log against it rather than trust the entry's figures.
    std::string record;
    // mark: each byte the action writes in the log, at its offset, with the byte it
    // replaces; logSize then holds the log's size when the marks were found.
    struct Byte {
        std::int64_t offset = 0;
        unsigned char before = 0;
        unsigned char after = 0;
        bool operator==(const Byte&) const = default;
    };
    std::vector<Byte> bytes;

    std::optional<std::int64_t> SizeOf(std::string_view shortName) const;

    // "decide\tid\tpoints\tlogSize\tbalanceBefore\r\n",
    // "delete\tid\tdebit\tbalanceBefore\tbalanceAfter[\tserials]\r\n",
    // "balance\tid\tasked\tbalanceBefore\tbalanceAfter\tledgerKind\tunits\r\n",
    // "restore\tid\tamount\tbalanceBefore\tbalanceAfter\tserials\r\n",
    // "mark\tid\tlogSize\toffset:before:after[,offset:before:after...]\r\n" (bytes as
    // decimal numbers);
    // "merge\tid\t0\t-\t0\r\n";
    // serials are decimal numbers joined by ",". Then, when known, "\t@" and the sizes
    // as "name=size" joined by ",", and for a decide "\t" and the record line.
    std::string ToLine() const;
    static std::optional<IntentEntry> FromLine(std::string_view line);
};

// The intent record "intent.dat" beside the sentence log: one line per open action,
// CP932 text, CR LF. A decide line that stays after its credit failed is the note that
// the record's points are not on the balance. Written and read under the log's lock.
class IntentRecord {
public:
    explicit IntentRecord(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

    // The entries as stored (lines that are no entry are skipped here, kept on rewrite).
    qv::io::ReadStatus Read(std::vector<IntentEntry>& entries) const;

    // An entry made durable (appended and synced); closed by Close.
    struct Opened {
        std::string line;
        bool alone = false;  // the record held nothing else: closing removes the file
    };
    // False when the entry could not be made durable: the action must not start (error,
    // when given, says which call failed on which file). like: a new record takes the
    // group and mode of that file.
    bool Open(const IntentEntry& entry, Opened& opened, qv::io::IoError* error = nullptr,
              const std::string& like = {}) const;
    // Removes the opened entry, and every entry for which alsoDrop returns true.
    bool Close(const Opened& opened,
               const std::function<bool(const IntentEntry&)>& alsoDrop = nullptr) const;
    // Keeps only the entries for which keep returns true (and every line that is no entry);
    // the file goes when nothing remains.
    bool Keep(const std::function<bool(const IntentEntry&)>& keep) const;
    // Drops what an Open killed midway left: an empty file, or a last line without its
    // line end. Its action never began, since an entry is synced before the first write.
    bool DropUnfinished() const;

    // The points of the decide entries for id: decided, but not on the balance. False
    // when the record exists but cannot be read (then nothing is known).
    bool UncreditedPoints(std::string_view id, std::int64_t& points) const;

private:
    std::string path_;
};

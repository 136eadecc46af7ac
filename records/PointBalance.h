#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "text/IoError.h"

// The point balance file "user.dat": one record of at least six TAB-separated fields,
// cut at TABs only (field 5 runs to the end of the file, line end included). Field 3 is
// the balance; every other field is kept byte for byte.
class PointBalance {
public:
    enum class Status {
        Ok,
        Missing,      // no file
        Short,        // fewer than six fields (or empty): not written
        Unreadable,   // exists but cannot be read
        WriteFailed,  // the old file is kept
        Busy,         // another program is rewriting the file: nothing written
        Overflow      // the credit would pass the largest balance: nothing written
    };
    static constexpr size_t kBalanceField = 3;
    static constexpr size_t kFieldCount = 6;

    explicit PointBalance(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

    // Every operation below takes an optional error record: for Unreadable and
    // WriteFailed it learns what was attempted, with which errno, on which path.

    // The fields as stored (field 3 unconverted, as the execution report shows it).
    // Ok needs at least four fields; Short otherwise.
    Status Read(std::vector<std::string>& fields, qv::io::IoError* error = nullptr) const;
    // Adds points (> 0) to the balance, nothing after field 5. A missing file is created
    // with six fields and the credited balance, so no credit is lost (never through a
    // link whose target is missing). A credit that would pass the largest balance is
    // refused whole (Overflow).
    Status Credit(std::int64_t points, qv::io::IoError* error = nullptr) const;
    // Takes the points of a point execution report off the balance, never below 0.
    Status DebitReport(std::int64_t points, qv::io::IoError* error = nullptr) const;
    // Takes a deleted sentence's points off the balance, never below 0; one more "\r\n"
    // follows field 5.
    Status DebitDelete(std::int64_t points, qv::io::IoError* error = nullptr) const;
    // The debits of deleting several sentences at once: the file ends up exactly as after
    // one DebitDelete per entry, in order, but is written once, so either all of them are
    // booked or none. When before is given it receives the replaced bytes (see PutBack).
    Status DebitDeleteEach(std::span<const std::int64_t> points, std::string* before = nullptr,
                           qv::io::IoError* error = nullptr) const;
    // Gives back exactly what an earlier change took: adds amount (either sign, so a debit
    // that raised a negative balance to 0 is taken back as exactly) without a floor,
    // nothing added after field 5. before, when given, receives the replaced bytes.
    Status GiveBack(std::int64_t amount, std::string* before = nullptr,
                    qv::io::IoError* error = nullptr) const;
    // Puts back the bytes a debit replaced, when the step that followed it failed.
    bool PutBack(std::string_view before, qv::io::IoError* error = nullptr) const;

    // A credit in two steps, for a caller that holds the file's lock between them: the
    // file as it is now gives the balance before ("-" without a file) and the new bytes;
    // WritePlanned then writes them.
    Status PlanCredit(std::int64_t points, std::string& balanceBefore, std::string& bytes,
                      qv::io::IoError* error = nullptr) const;
    Status WritePlanned(std::string_view bytes, qv::io::IoError* error = nullptr) const;
    // The new bytes of a debit of deleted sentences, a point report's debit or a give-back,
    // worked out under a lock the caller holds; old receives the bytes they replace.
    Status PlanDebitDeleteEach(std::span<const std::int64_t> points, std::string& old,
                               std::string& bytes, qv::io::IoError* error = nullptr) const;
    Status PlanReport(std::int64_t points, std::string& old, std::string& bytes,
                      qv::io::IoError* error = nullptr) const;
    Status PlanGiveBack(std::int64_t amount, std::string& old, std::string& bytes,
                        qv::io::IoError* error = nullptr) const;

private:
    struct Change {
        std::int64_t delta;
        bool floorAtZero;
        bool addLineEnd;
    };
    Status Rewrite(std::span<const Change> changes, std::string* before,
                   qv::io::IoError* error) const;
    Status Compute(std::span<const Change> changes, std::string& bytes, std::string* before,
                   std::string* mark, qv::io::IoError* error) const;

    std::string path_;
};

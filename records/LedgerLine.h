#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "records/Ledger.h"

namespace qv::records {

// One ledger line's fields, the texts as views into the line. For readers that walk a
// ledger of a million lines and keep only its figures: nothing is copied or allocated.
// Ledger::FromLine is this with the texts copied into an entry, so both take and refuse
// the same lines.
struct LedgerLine {
    qv::Seconds time = 0;
    Ledger::Kind kind = Ledger::Kind::Adjust;
    std::string_view id;
    bool hasUnits = false;
    std::array<std::int64_t, 4> units{};
    std::int64_t asked = 0;
    std::int64_t before = 0;
    std::int64_t after = 0;
    std::string_view device;  // empty on lines of older versions
    bool merged = false;
};

// The line's fields, without its line end; false for a line that is no entry.
bool ReadLedgerLine(std::string_view line, LedgerLine& out);

}  // namespace qv::records

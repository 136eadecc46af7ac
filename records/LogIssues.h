#pragma once

#include <cstddef>
#include <string_view>

#include "records/SentenceLog.h"

// What of the sentence log a window could not read as it stands.
struct LogReadIssues {
    size_t unreadLines = 0;  // lines that are not records (empty lines hold nothing)
    size_t crOnlyLines = 0;  // of those, lines holding a lone CR (CR-only line ends)
    size_t badTimes = 0;     // records whose decision time is not a number
    size_t gluedLines = 0;   // records holding a lone CR: other sentences may be inside
    bool Any() const { return unreadLines + badTimes + gluedLines > 0; }
};
LogReadIssues FindLogIssues(const SentenceLog::Contents& contents);

// A decision time as the program writes it: decimal digits, maybe a sign or leading blanks
// (what atol would also take). Anything else, such as a BOM before the digits, cannot be
// placed on a calendar.
bool IsDecisionTime(std::string_view field);

// A record line holding a CR: a CR-only log whose one long line got its line end from an
// append, with every sentence glued into it.
bool IsGluedRecord(std::string_view recordLine);

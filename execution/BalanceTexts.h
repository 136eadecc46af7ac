#pragma once

#include <QString>
#include <cstddef>
#include <string>
#include <string_view>

#include "execution/PointBalance.h"
#include "trial/SentenceLog.h"

namespace qv::ui {

// What went wrong with the balance file, for a message box.
QString BalanceProblemText(PointBalance::Status status, const std::string& path);

// A file path as the user knows it.
QString PathText(const std::string& path);

// Why a file that is there cannot be read: a folder, no read permission, or an error.
QString UnreadableReason(const std::string& path);

// What of the sentence log a window could not read as it stands.
struct LogReadIssues {
    size_t unreadLines = 0;  // lines that are not records (empty lines hold nothing)
    size_t crOnlyLines = 0;  // of those, lines holding a lone CR (CR-only line ends)
    size_t badTimes = 0;     // records whose decision time is not a number
    size_t gluedLines = 0;   // records holding a lone CR: other sentences may be inside
    bool Any() const { return unreadLines + badTimes + gluedLines > 0; }
};
LogReadIssues FindLogIssues(const SentenceLog::Contents& contents);

// A record line holding a CR: a CR-only log whose one long line got its line end from an
// append, with every sentence glued into it.
bool IsGluedRecord(std::string_view recordLine);

// "判決記録のファイル「path」に読めない部分があります。" and one line per kind of issue.
QString LogIssuesText(const LogReadIssues& issues, const std::string& path);

// The log exists but cannot be read.
QString LogUnreadableText(const std::string& path);

}  // namespace qv::ui

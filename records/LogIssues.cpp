#include "records/LogIssues.h"

bool IsGluedRecord(std::string_view recordLine) {
    return recordLine.find('\r') != std::string_view::npos;
}

LogReadIssues FindLogIssues(const SentenceLog::Contents& contents) {
    // Counted while the log was read: this costs nothing however long the log is.
    const SentenceLog::Contents::Damage& d = contents.Damaged();
    LogReadIssues issues;
    issues.unreadLines = d.unreadLines;
    issues.crOnlyLines = d.crOnlyLines;
    issues.badTimes = d.badTimes;
    issues.gluedLines = d.gluedLines;
    return issues;
}

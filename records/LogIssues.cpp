#include "records/LogIssues.h"

bool IsDecisionTime(std::string_view field) {
    size_t i = field.find_first_not_of(' ');
    if (i == std::string_view::npos) return false;
    if (field[i] == '-' || field[i] == '+') ++i;
    if (i == field.size()) return false;
    return field.find_first_not_of("0123456789", i) == std::string_view::npos;
}

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

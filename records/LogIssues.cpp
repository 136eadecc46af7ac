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
    LogReadIssues issues;
    for (size_t i = 0; i < contents.OtherLineCount(); ++i) {
        std::string_view line = contents.OtherLine(i);
        if (line == "\n" || line == "\r\n") continue;
        ++issues.unreadLines;
        if (line.ends_with("\r\n")) line.remove_suffix(2);
        if (line.find('\r') != std::string_view::npos) ++issues.crOnlyLines;
    }
    for (size_t i = 0; i < contents.RecordCount(); ++i) {
        if (!IsDecisionTime(contents.Field(i, SentenceRecord::kDecisionTime))) ++issues.badTimes;
        if (IsGluedRecord(contents.Record(i))) ++issues.gluedLines;
    }
    return issues;
}

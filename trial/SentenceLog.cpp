#include "trial/SentenceLog.h"

std::string SentenceRecord::ToLine() const {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += '\t';
        line += fields[i];
    }
    line += "\r\n";
    return line;
}

bool SentenceLog::Append(const SentenceRecord& record) const {
    return qv::io::AppendLine(path_, record.ToLine());
}

#include "records/Reasons.h"

#include <cerrno>

#include "text/LineWalk.h"

namespace {

// Calls visit(id, encoded) for every entry; encoded is the text with TABs for its CR LFs.
template <typename Visit>
qv::io::ReadStatus ForEachEntry(const std::string& path, qv::io::IoError* error, Visit&& visit) {
    std::string bytes;
    const qv::io::ReadStatus status = qv::io::ReadFile(path, bytes, qv::io::kWholeFile, error);
    if (status != qv::io::ReadStatus::Ok) return status;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        if (!line.terminated) return;
        const size_t tab = line.text.find('\t');
        if (tab == std::string_view::npos) return;
        visit(line.text.substr(0, tab), line.text.substr(tab + 1));
    });
    return status;
}

std::string Decode(std::string_view encoded) {
    std::string text;
    text.reserve(encoded.size() + 16);
    for (char c : encoded) {
        if (c == '\t')
            text += "\r\n";
        else
            text += c;
    }
    return text;
}

}  // namespace

SentenceReasons::Status SentenceReasons::Append(std::string_view id, std::string_view verdictText,
                                                qv::io::IoError* error) const {
    std::string line;
    if (!ToLine(id, verdictText, line)) return Status::Unkeepable;
    // Under the file's lock, as the log's own append.
    qv::io::FileLock lock;
    if (!lock.Acquire(path_)) {
        qv::io::Fail(error, qv::io::IoError::Op::Lock, path_, EWOULDBLOCK);
        return Status::WriteFailed;
    }
    return qv::io::AppendLine(path_, line, error) ? Status::Ok : Status::WriteFailed;
}

bool SentenceReasons::ToLine(std::string_view id, std::string_view verdictText, std::string& line) {
    if (id.find_first_of("\t\r\n") != std::string_view::npos) return false;
    line = std::string(id);
    line.reserve(id.size() + verdictText.size() + 4);
    line += '\t';
    for (size_t i = 0; i < verdictText.size(); ++i) {
        const char c = verdictText[i];
        if (c == '\t') return false;
        if (c == '\r' && i + 1 < verdictText.size() && verdictText[i + 1] == '\n') {
            line += '\t';
            ++i;
        } else if (c == '\n') {
            return false;
        } else {
            line += c;
        }
    }
    line += "\r\n";
    return true;
}

qv::io::ReadStatus SentenceReasons::Find(std::string_view id, std::vector<std::string>& texts,
                                         qv::io::IoError* error) const {
    texts.clear();
    return ForEachEntry(path_, error, [&](std::string_view entryId, std::string_view encoded) {
        if (entryId == id) texts.push_back(Decode(encoded));
    });
}

qv::io::ReadStatus SentenceReasons::ReadAll(std::vector<Entry>& out, qv::io::IoError* error) const {
    out.clear();
    return ForEachEntry(path_, error, [&](std::string_view entryId, std::string_view encoded) {
        out.push_back({std::string(entryId), Decode(encoded)});
    });
}

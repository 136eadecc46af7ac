#include "records/LogSplice.h"

#include <algorithm>

#include "records/SentenceLog.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace qv::records {
namespace {

std::string_view FirstField(std::string_view text) { return text.substr(0, text.find('\t')); }

bool Carries(const qv::Line& line, std::string_view id) {
    return SentenceLog::IsRecord(line) && FirstField(line.text) == id;
}

// [begin, end) of field f of a line known to have it.
std::pair<size_t, size_t> FieldBounds(std::string_view line, size_t f) {
    size_t begin = 0;
    for (size_t i = 0; i < f; ++i) begin = line.find('\t', begin) + 1;
    const size_t end = line.find('\t', begin);
    return {begin, end == std::string_view::npos ? line.size() : end};
}

}  // namespace

std::vector<CutRecord> CutsOf(std::string_view content, std::string_view id, size_t which) {
    std::vector<CutRecord> cuts;
    size_t carrying = 0;  // records carrying id so far
    size_t waiting = 0;                  // cuts still waiting for the line that follows them
    std::vector<std::string_view> kept;  // first fields of the lines that stay, so far
    std::int64_t index = 0;
    qv::ForEachLine(content, [&](const qv::Line& line) {
        const std::int64_t at = index++;
        if (Carries(line, id) && (which == kEveryRecord || carrying++ == which)) {
            CutRecord cut;
            cut.line = std::string(line.text);
            cut.nth = at;  // until a line that stays follows it
            cut.points =
                qv::ReadInt64(SentenceLog::Contents::FieldOf(line.text, SentenceRecord::kPoints));
            cuts.push_back(std::move(cut));
            ++waiting;
            return;
        }
        const std::string_view first = FirstField(line.text);
        kept.push_back(first);
        if (waiting == 0) return;
        const auto nth = std::count(kept.begin(), kept.end(), first);
        for (size_t i = cuts.size() - waiting; i < cuts.size(); ++i) {
            cuts[i].anchor = std::string(first);
            cuts[i].nth = nth;
        }
        waiting = 0;
    });
    return cuts;
}

std::string InsertRecords(std::string_view content, std::span<const CutRecord> records) {
    std::string out(content);
    for (const CutRecord& r : records) {
        const std::int64_t time = qv::ReadInt64(FirstField(r.line));
        size_t at = std::string::npos, byTime = std::string::npos;
        std::int64_t seen = 0, index = 0;
        size_t offset = 0;
        qv::ForEachLine(out, [&](const qv::Line& line) {
            const size_t here = offset;
            offset += line.raw.size();
            if (at != std::string::npos) return;
            // The last line once: back at the line number it had, or at the end.
            if (r.anchor.empty() && index++ == r.nth) at = here;
            if (!r.anchor.empty() && FirstField(line.text) == r.anchor && ++seen == r.nth)
                at = here;
            if (byTime == std::string::npos && SentenceLog::IsRecord(line) &&
                qv::ReadInt64(FirstField(line.text)) > time)
                byTime = here;
        });
        if (at == std::string::npos && !r.anchor.empty()) at = byTime;
        std::string line = r.line + "\r\n";
        if (at == std::string::npos) {
            // At the end; an unterminated last line gets its line end first, as an append
            // would give it.
            if (!out.empty() && out.back() != '\n') line.insert(0, "\r\n");
            out += line;
        } else {
            out.insert(at, line);
        }
    }
    return out;
}

std::vector<std::string> MarksOf(std::string_view content, std::string_view id) {
    std::vector<std::string> flags;
    qv::ForEachLine(content, [&](const qv::Line& line) {
        if (Carries(line, id))
            flags.emplace_back(
                SentenceLog::Contents::FieldOf(line.text, SentenceRecord::kExecuted));
    });
    return flags;
}

std::string SetMarks(std::string_view content, std::string_view id,
                     std::span<const std::string> flags) {
    std::string out;
    out.reserve(content.size() + 16);
    size_t next = 0;
    qv::ForEachLine(content, [&](const qv::Line& line) {
        if (!Carries(line, id) || next >= flags.size()) {
            out.append(line.raw);
            return;
        }
        auto [begin, end] = FieldBounds(line.text, SentenceRecord::kExecuted);
        out.append(line.raw.substr(0, begin));
        out.append(flags[next++]);
        out.append(line.raw.substr(end));
    });
    return out;
}

std::vector<std::int64_t> TakenEach(std::int64_t before, std::span<const std::int64_t> points) {
    std::vector<std::int64_t> taken;
    std::int64_t balance = before;
    for (std::int64_t p : points) {
        if (p <= 0) {
            taken.push_back(0);
            continue;
        }
        std::int64_t after = qv::SaturatingAdd(balance, -p);
        if (after < 0) after = 0;
        taken.push_back(qv::SaturatingAdd(balance, -after));
        balance = after;
    }
    return taken;
}

bool HasRecord(std::string_view content, std::string_view id) {
    bool found = false;
    qv::ForEachLine(content, [&](const qv::Line& line) { found = found || Carries(line, id); });
    return found;
}

std::string RecordKey(std::string_view line) {
    std::string key;
    size_t field = 0, start = 0;
    while (true) {
        const size_t tab = line.find('\t', start);
        const std::string_view piece =
            line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
        if (field != SentenceRecord::kExecuted) {
            key += piece;
            key += '\t';
        }
        if (tab == std::string_view::npos) break;
        start = tab + 1;
        ++field;
    }
    return key;
}

std::string WithField(std::string_view line, size_t f, std::string_view value) {
    size_t begin = 0;
    for (size_t i = 0; i < f; ++i) {
        const size_t tab = line.find('\t', begin);
        if (tab == std::string_view::npos) return std::string(line);
        begin = tab + 1;
    }
    const size_t end = line.find('\t', begin);
    std::string out(line.substr(0, begin));
    out += value;
    if (end != std::string_view::npos) out += line.substr(end);
    return out;
}

}  // namespace qv::records

#pragma once

#include <string_view>
#include <vector>

namespace qv {

// One piece of a file cut at "\n", read exactly as "replace CR LF by LF, split at LF":
// text has the one CR before the LF dropped; raw is the bytes as stored, line end
// included; terminated is false only for the piece after the last line end.
struct Line {
    std::string_view text;
    std::string_view raw;
    bool terminated;
};

// Calls visit(const Line&) for every line of content in order, then once for the piece
// after the last line end when it is not empty. No copies are made.
template <typename Visit>
void ForEachLine(std::string_view content, Visit&& visit) {
    size_t start = 0;
    while (start < content.size()) {
        size_t lf = content.find('\n', start);
        if (lf == std::string_view::npos) {
            std::string_view rest = content.substr(start);
            visit(Line{rest, rest, false});
            return;
        }
        size_t end = (lf > start && content[lf - 1] == '\r') ? lf - 1 : lf;
        visit(Line{content.substr(start, end - start), content.substr(start, lf + 1 - start),
                   true});
        start = lf + 1;
    }
}

// Cuts a line at "\t" into fields, reusing out's storage. A line without any TAB gives
// no fields at all, as the text class's split does.
inline void SplitFields(std::string_view line, std::vector<std::string_view>& out) {
    out.clear();
    size_t start = 0;
    for (size_t tab = line.find('\t'); tab != std::string_view::npos;
         tab = line.find('\t', start)) {
        out.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
    if (!out.empty()) out.push_back(line.substr(start));
}

}  // namespace qv

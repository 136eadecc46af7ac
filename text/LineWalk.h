#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstddef>
#include <optional>
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

// A line already cut out, its line end included where it has one, read as ForEachLine
// reads it.
inline Line LineOf(std::string_view raw) {
    if (raw.empty() || raw.back() != '\n') return {raw, raw, false};
    std::string_view text = raw.substr(0, raw.size() - 1);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    return {text, raw, true};
}

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
        visit(
            Line{content.substr(start, end - start), content.substr(start, lf + 1 - start), true});
        start = lf + 1;
    }
}

// The places of the first `most` TABs of line, in order, into at; how many there are, at
// most `most`. One pass, 16 bytes at a time where the processor can: the quick cut of a
// reader that sees a million lines (the cut itself stays FieldWalk's).
inline size_t FindTabs(std::string_view line, size_t* at, size_t most) {
    size_t n = 0;
    size_t i = 0;
    const char* p = line.data();
#if defined(__SSE2__)
    const __m128i tab = _mm_set1_epi8('\t');
    for (; i + 16 <= line.size() && n < most; i += 16) {
        unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), tab)));
        for (; bits != 0 && n < most; bits &= bits - 1)
            at[n++] = i + static_cast<size_t>(__builtin_ctz(bits));
    }
#endif
    for (; i < line.size() && n < most; ++i)
        if (p[i] == '\t') at[n++] = i;
    return n;
}

// The one cut of a line into fields at "\t", as the text class's split does it: a line
// without any TAB has no fields at all; otherwise n TABs give n + 1 fields. Every reader
// of a TAB-separated file (rule book, log, balance) cuts through this walk.
class FieldWalk {
public:
    explicit FieldWalk(std::string_view line)
        : line_(line), next_(line.find('\t') == std::string_view::npos ? kDone : 0) {}

    // The next field, or false after the last one.
    bool Next(std::string_view& field) {
        if (next_ == kDone) return false;
        const size_t tab = line_.find('\t', next_);
        if (tab == std::string_view::npos) {
            field = line_.substr(next_);
            next_ = kDone;
        } else {
            field = line_.substr(next_, tab - next_);
            next_ = tab + 1;
        }
        return true;
    }

private:
    static constexpr size_t kDone = std::string_view::npos;
    std::string_view line_;
    size_t next_;
};

// Cuts a line into its fields, reusing out's storage.
inline void SplitFields(std::string_view line, std::vector<std::string_view>& out) {
    out.clear();
    FieldWalk walk(line);
    for (std::string_view field; walk.Next(field);) out.push_back(field);
}

// Field f of a line (a view into it), or nullopt when the line has fewer fields.
inline std::optional<std::string_view> FieldAt(std::string_view line, size_t f) {
    FieldWalk walk(line);
    std::string_view field;
    for (size_t i = 0; i <= f; ++i)
        if (!walk.Next(field)) return std::nullopt;
    return field;
}

}  // namespace qv

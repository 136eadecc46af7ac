#pragma once

#include <initializer_list>
#include <string_view>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "text/Numbers.h"

namespace qv::fuzz {

// A line cut at its TABs into at most maxFields fields (the last one takes the rest).
inline std::vector<std::string_view> Cut(std::string_view line, size_t maxFields) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (fields.size() + 1 < maxFields) {
        const size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) break;
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

// Two spellings of the same number ("007" and "7", "-0" and "0"), or of the same list of
// numbers joined by "/" (the units of a point report).
inline bool SameNumbers(std::string_view a, std::string_view b) {
    for (;;) {
        const size_t slashA = a.find('/'), slashB = b.find('/');
        if ((slashA == std::string_view::npos) != (slashB == std::string_view::npos)) return false;
        const std::string_view pa = a.substr(0, slashA), pb = b.substr(0, slashB);
        if (pa.empty() || pb.empty() || pa.find_first_not_of("-0123456789") != pa.npos ||
            pb.find_first_not_of("-0123456789") != pb.npos || qv::ReadInt64(pa) != qv::ReadInt64(pb))
            return false;
        if (slashA == std::string_view::npos) return true;
        a.remove_prefix(slashA + 1);
        b.remove_prefix(slashB + 1);
    }
}

// A line the reader accepted, written back by the writer, says what the line said: the
// same fields byte for byte, except number fields, which may only be spelled otherwise.
inline void CheckRewritten(std::string_view line, std::string_view written, size_t maxFields,
                           std::initializer_list<size_t> numberFields) {
    if (written.size() < 2 || written.substr(written.size() - 2) != "\r\n")
        Broken("a written line does not end in CR LF");
    written.remove_suffix(2);
    if (written == line) return;
    const auto was = Cut(line, maxFields), now = Cut(written, maxFields);
    if (was.size() != now.size()) Broken("written back with other fields");
    for (size_t i = 0; i < was.size(); ++i) {
        if (was[i] == now[i]) continue;
        bool number = false;
        for (size_t n : numberFields) number |= n == i;
        if (!number || !SameNumbers(was[i], now[i])) Broken("written back with another field");
    }
}

}  // namespace qv::fuzz

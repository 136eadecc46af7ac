#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "records/DataFolder.h"

namespace qv::records {

// The names that file-sync tools give the copy of a file both computers changed while
// apart, as "test" + ".log" gives them: one row per tool, the one list of them.
struct ConflictPattern {
    const char* tool;
    // An ECMAScript pattern of the whole name; {stem} and {ext} stand for the file's name
    // before and from its last ".".
    const char* pattern;
};
const std::vector<ConflictPattern>& ConflictPatterns();
// The word every pattern's name holds.
inline constexpr std::string_view kConflictWord = "conflict";

// Which tool's conflict copy of the file base (a bare name, "test.log") the bare name
// name is; nullptr when it is none.
const ConflictPattern* ConflictCopyOf(std::string_view base, std::string_view name);

struct ConflictCopy {
    std::string path;  // the copy, in the folder
    std::string name;  // its bare name
    std::string of;    // the path of the folder's file it is a copy of
    const char* tool = "";
};
// The conflict copies beside the folder's files (the rule book, the log, the balance and
// the journals), regular files only, ordered by the file they copy, then by name.
std::vector<ConflictCopy> FindConflictCopies(const DataFolder& folder);

}  // namespace qv::records

#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "text/FileIo.h"
#include "text/IoError.h"
#include "text/LineWalk.h"

namespace qv::records {

// Hands lines the file at path a run of whole lines at a time, a block of a fixed size
// at most (a longer line whole), and last the piece after the final line end, when there
// is one (see ReadLinesInPieces).
qv::io::ReadStatus ReadLinesInBlocks(const std::string& path,
                                     const std::function<void(std::string_view lines)>& lines,
                                     qv::io::IoError* error = nullptr);

// Calls visit(line) for every line of the file at path in order, exactly as ForEachLine
// does over the whole file (the piece after the last line end comes last, not
// terminated), but reads the file in blocks of a fixed size: a journal or log of any
// length is walked without holding it whole. A line lives only during its call.
// Missing and Empty visit nothing; Unreadable where a whole read fails or refuses the
// file (error says why; lines before the failure have been visited). The visit is called
// directly, not through a function object per line: a log has a million lines.
template <typename Visit>
qv::io::ReadStatus ForEachLineInBlocks(const std::string& path, Visit&& visit,
                                       qv::io::IoError* error = nullptr) {
    return ReadLinesInBlocks(
        path, [&](std::string_view lines) { qv::ForEachLine(lines, visit); }, error);
}

}  // namespace qv::records

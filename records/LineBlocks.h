#pragma once

#include <functional>
#include <string>

#include "text/FileIo.h"
#include "text/IoError.h"
#include "text/LineWalk.h"

namespace qv::records {

// Calls visit(line) for every line of the file at path in order, exactly as ForEachLine
// does over the whole file (the piece after the last line end comes last, not
// terminated), but reads the file in blocks of a fixed size: a journal or log of any
// length is walked without holding it whole. A line lives only during its call.
// Missing and Empty visit nothing; Unreadable where a whole read fails or refuses the
// file (error says why; lines before the failure have been visited).
qv::io::ReadStatus ForEachLineInBlocks(const std::string& path,
                                       const std::function<void(const qv::Line&)>& visit,
                                       qv::io::IoError* error = nullptr);

}  // namespace qv::records

#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "text/FileIo.h"

namespace qv::io {

// ReadFile without holding the file: one buffer of pieceBytes is filled and handed to
// seen again and again, so a file of any size costs one piece of memory. The same
// refusals and errors as ReadFile; when the read fails, what seen was shown is void.
ReadStatus ReadFileInPieces(const std::string& path, size_t pieceBytes,
                            const std::function<void(std::string_view piece)>& seen,
                            IoError* error = nullptr);

// The same a run of whole lines at a time: lines is handed stretches that each end at a
// line end (a line longer than a piece is gathered first), and last the piece after the
// final line end, when there is one. On failure, what lines saw is void.
ReadStatus ReadLinesInPieces(const std::string& path, size_t pieceBytes,
                             const std::function<void(std::string_view lines)>& lines,
                             IoError* error = nullptr);

}  // namespace qv::io

#include "records/LineBlocks.h"

#include "text/FilePieces.h"

namespace qv::records {

namespace {
// Large enough that a read costs little per line, small enough to stay in the cache.
constexpr size_t kBlock = 1 << 20;
}  // namespace

qv::io::ReadStatus ReadLinesInBlocks(const std::string& path,
                                     const std::function<void(std::string_view lines)>& lines,
                                     qv::io::IoError* error) {
    return qv::io::ReadLinesInPieces(path, kBlock, lines, error);
}

}  // namespace qv::records

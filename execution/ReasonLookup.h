#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "records/DataFolder.h"
#include "text/FileIo.h"

namespace qv::execution {

// The verdict texts kept for the sentence recorded as id, oldest first (two sentences
// decided within one second share an identifier). The execution report asks for them row
// by row, as a row is shown, through here alone: the file holds several times the log's
// bytes and is never decoded whole for one record. A missing file holds no texts.
qv::io::ReadStatus KeptReasonsOf(const DataFolder& folder, std::string_view id,
                                 std::vector<std::string>& texts,
                                 qv::io::IoError* error = nullptr);

// Whether the file of kept verdict texts can be read at all, by reading at most a byte of
// it: Unreadable (error tells why) for a folder, a FIFO or a file without read permission.
qv::io::ReadStatus ProbeKeptReasons(const DataFolder& folder, qv::io::IoError* error = nullptr);

}  // namespace qv::execution

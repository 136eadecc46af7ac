#pragma once

#include <string>

class DataFolder;

namespace qv::history {

// What a file the user names for an export (CSV, a chart's image) would overwrite of the
// data folder: the name of the folder's own file ("test.log", "user.dat", …) or kept
// folder ("backup/", "journal/", …) a write to path lands on; empty when it lands
// elsewhere. Links are followed, "." and ".." resolved, and a hard link to one of the
// files counts as that file, so no spelling of a path slips through.
std::string FolderFileAt(const std::string& path, const DataFolder& folder);

}  // namespace qv::history

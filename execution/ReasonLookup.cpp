#include "execution/ReasonLookup.h"

#include "records/Reasons.h"

namespace qv::execution {

qv::io::ReadStatus KeptReasonsOf(const DataFolder& folder, std::string_view id,
                                 std::vector<std::string>& texts, qv::io::IoError* error) {
    return SentenceReasons(folder.ReasonsPath()).Find(id, texts, error);
}

qv::io::ReadStatus ProbeKeptReasons(const DataFolder& folder, qv::io::IoError* error) {
    std::string first;
    return qv::io::ReadFile(folder.ReasonsPath(), first, 1, error);
}

}  // namespace qv::execution

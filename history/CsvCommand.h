#pragma once

#include <optional>
#include <string>

namespace qv::history {

// `quorvel --export-csv FILE [--from DATE] [--to DATE] [--utf8]`, run in a data folder.
struct CsvExportRequest {
    std::string file;
    std::optional<std::string> from;  // YYYY/MM/DD or YYYY-MM-DD, local time, inclusive
    std::optional<std::string> to;    // the same; the whole day is included
    bool utf8 = false;                // UTF-8 with BOM instead of CP932
};

// Exports the sentences of the working folder's log in time order. Needs no display.
// 0 on success; otherwise a message on stderr and 1 (the files) or 2 (the request).
int RunCsvExport(const CsvExportRequest& request);

}  // namespace qv::history

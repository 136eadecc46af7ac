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

// A relative file name is where the command was typed: made absolute against the working
// folder before the program changes to the data folder.
void AnchorToWorkingFolder(CsvExportRequest& request);

// Exports the sentences of the working folder's log in time order. Needs no display.
// 0 on success; otherwise a message on stderr and 1 (the files) or 2 (the request, also
// a file that would overwrite one of the data folder's own: nothing is written then).
int RunCsvExport(const CsvExportRequest& request);

}  // namespace qv::history

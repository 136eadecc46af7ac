#pragma once

#include <array>
#include <string>
#include <string_view>

#include "history/HistoryQuery.h"
#include "text/IoError.h"

namespace qv::history {

// CP932 opens by double-click in a Japanese spreadsheet program; UTF-8 carries a BOM so
// the same programs recognise it.
enum class CsvEncoding { Cp932, Utf8Bom };

// The table as CSV: a Japanese header row, one line per row in the order given, CR LF
// after every line, fields quoted where they hold a comma, a quote or a line end.
// Implement names are CP932 (an empty one is called 道具1..4). Article and implement
// names are the user's text and go through CsvField; numbers stay bare numbers.
std::string MakeCsv(const HistoryIndex& index, const Rows& rows,
                    const std::array<std::string, kImplementCount>& implementNames,
                    CsvEncoding encoding);

// MakeCsv written to path atomically: the export of the history window and of
// --export-csv. False, with why in *error, when it cannot be written; an old file at
// path stays as it was.
bool ExportCsv(const std::string& path, const HistoryIndex& index, const Rows& rows,
               const std::array<std::string, kImplementCount>& implementNames,
               CsvEncoding encoding, qv::io::IoError* error);

// One text cell from the user, quoted and with its quotes doubled when it needs it.
// A text that a spreadsheet would take for a formula (it begins with = + - @, TAB or
// CR) gets a leading ' and is always quoted, so it opens as the text it is.
std::string CsvField(std::string_view text);

// Local time, "2003/01/05 09:07".
std::string DateTimeText(Seconds t);

}  // namespace qv::history

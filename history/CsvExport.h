#pragma once

#include <array>
#include <string>
#include <string_view>

#include "history/HistoryQuery.h"

namespace qv::history {

// CP932 opens by double-click in a Japanese spreadsheet program; UTF-8 carries a BOM so
// the same programs recognise it.
enum class CsvEncoding { Cp932, Utf8Bom };

// The table as CSV: a Japanese header row, one line per row in the order given, CR LF
// after every line, fields quoted where they hold a comma, a quote or a line end.
// Implement names are CP932 (an empty one is called 道具1..4).
std::string MakeCsv(const HistoryIndex& index, const Rows& rows,
                    const std::array<std::string, kImplementCount>& implementNames,
                    CsvEncoding encoding);

// One field, quoted and with its quotes doubled when it needs it.
std::string CsvField(std::string_view text);

// Local time, "2003/01/05 09:07".
std::string DateTimeText(Seconds t);

}  // namespace qv::history

#include "history/CsvExport.h"

#include <cstdio>
#include <ctime>

#include "text/Cp932.h"
#include "text/FileIo.h"
#include "text/Numbers.h"

namespace qv::history {

namespace {

// Fixed words of the header, converted once from the source's UTF-8.
std::string Cp932(std::string_view utf8) { return qv::Utf8ToCp932(utf8).value_or(std::string()); }

void AppendNumber(std::string& out, std::int64_t value) {
    out += ',';
    out += qv::Decimal(value);
}

}  // namespace

std::string CsvField(std::string_view text) {
    // CP932 trail bytes are 0x40 and above, so these bytes are always characters of their own.
    // The first byte of a text is always a lead byte or a character of its own.
    const bool formula = !text.empty() && std::string_view("=+-@\t\r").find(text[0]) !=
                                              std::string_view::npos;
    if (!formula && text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string out = formula ? "\"'" : "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string DateTimeText(Seconds t) {
    const std::time_t seconds = static_cast<std::time_t>(t);
    std::tm tm{};
    if (::localtime_r(&seconds, &tm) == nullptr) return {};
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min);
    return text;
}

std::string MakeCsv(const HistoryIndex& index, const Rows& rows,
                    const std::array<std::string, kImplementCount>& implementNames,
                    CsvEncoding encoding) {
    std::string out;
    out.reserve(128 + rows.size() * 64);
    out += Cp932("判決日時,条,条文名,判決ポイント,執行");
    for (int k = 0; k < kImplementCount; ++k) {
        out += ',';
        out += implementNames[k].empty() ? Cp932("道具") + std::to_string(k + 1)
                                         : CsvField(implementNames[k]);
    }
    out += ',' + Cp932("ポイント") + "\r\n";
    const std::string done = Cp932("済");
    const std::string notDone = Cp932("未");
    for (std::uint32_t r : rows) {
        const SentenceValues& v = index.Values(r);
        out += DateTimeText(index.Time(r));
        AppendNumber(out, index.Article(r).number);
        out += ',';
        out += CsvField(index.Article(r).name);
        AppendNumber(out, v.total);
        out += ',';
        out += index.Executed(r) ? done : notDone;
        for (std::int64_t u : v.units) AppendNumber(out, u);
        AppendNumber(out, v.points);
        out += "\r\n";
    }
    if (encoding == CsvEncoding::Utf8Bom) return "\xEF\xBB\xBF" + qv::Cp932ToUtf8(out);
    return out;
}

bool ExportCsv(const std::string& path, const HistoryIndex& index, const Rows& rows,
               const std::array<std::string, kImplementCount>& implementNames,
               CsvEncoding encoding, qv::io::IoError* error) {
    return qv::io::WriteFileAtomic(path, MakeCsv(index, rows, implementNames, encoding), error);
}

}  // namespace qv::history

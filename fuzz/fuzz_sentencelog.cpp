// The sentence log reader and its rewrites take any bytes without faulting; a mark
// changes only field 5 of the records with the chosen identifier, a delete drops only
// those records, records come back ended by CR LF, and every other line stays as it was.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "records/SentenceLog.h"
#include "text/Numbers.h"

namespace {

struct Split {
    std::vector<std::vector<std::string>> records;  // fields
    std::vector<std::string> others;                // raw bytes, in order
};

Split Classify(std::string_view bytes) {
    Split out;
    std::vector<std::string_view> fields;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        if (!SentenceLog::IsRecord(line)) {
            out.others.emplace_back(line.raw);
            return;
        }
        qv::SplitFields(line.text, fields);
        out.records.emplace_back(fields.begin(), fields.end());
    });
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int op = data[0] % 3;
    std::string_view content(reinterpret_cast<const char*>(data + 2), size - 2);
    const Split before = Classify(content);

    // The identifier of one of the records, or one that matches nothing.
    std::string id = "no such record";
    if (!before.records.empty()) id = before.records[data[1] % before.records.size()][0];

    // Reading through the file gives the same records and lines.
    const std::string path = qv::fuzz::WriteScratch("test.log", content);
    SentenceLog log(path);
    SentenceLog::Contents read;
    if (log.Read(read) == qv::io::ReadStatus::Ok) {
        if (read.RecordCount() != before.records.size() ||
            read.OtherLineCount() != before.others.size())
            qv::fuzz::Broken("Read sees other lines than the walk");
    }
    size_t visited = 0;
    log.ForEachRecord([&](const std::vector<std::string_view>&) { ++visited; });
    if (!content.empty() && visited != before.records.size())
        qv::fuzz::Broken("ForEachRecord count");

    const auto change = op == 0   ? SentenceLog::Change::MarkExecuted
                        : op == 1 ? SentenceLog::Change::MarkNotExecuted
                                  : SentenceLog::Change::Drop;
    const SentenceLog::Rewrite rewrite = SentenceLog::RewriteBytes(content, id, change);
    const Split after = Classify(rewrite.bytes);

    if (after.others != before.others) qv::fuzz::Broken("a line that is not a record changed");
    std::vector<std::vector<std::string>> expected;
    std::vector<std::int64_t> dropped;
    for (const auto& fields : before.records) {
        if (fields[0] != id) {
            expected.push_back(fields);
        } else if (change == SentenceLog::Change::Drop) {
            dropped.push_back(qv::ReadInt64(fields[SentenceRecord::kPoints]));
        } else {
            auto marked = fields;
            marked[SentenceRecord::kExecuted] =
                change == SentenceLog::Change::MarkExecuted ? "1" : "0";
            expected.push_back(marked);
        }
    }
    if (after.records != expected) qv::fuzz::Broken("records other than the chosen ones changed");
    if (rewrite.droppedPoints != dropped) qv::fuzz::Broken("dropped points differ");
    size_t matched = 0;
    for (const auto& fields : before.records) matched += fields[0] == id;
    if (rewrite.matched != matched) qv::fuzz::Broken("matched count");

    // Every record line of the result ends in CR LF.
    qv::ForEachLine(rewrite.bytes, [&](const qv::Line& line) {
        if (SentenceLog::IsRecord(line) &&
            line.raw.substr(line.raw.size() - std::min<size_t>(2, line.raw.size())) != "\r\n")
            qv::fuzz::Broken("a record without CR LF");
    });
    return 0;
}

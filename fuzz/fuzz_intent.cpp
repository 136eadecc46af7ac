// The intent record takes any bytes without faulting: an entry written back reads back the
// same, the record's reader sees the ended lines FromLine accepts, dropping an unfinished
// last line keeps every ended one, and keeping some entries keeps every other line.
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "records/Intent.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace {

bool Same(const IntentEntry& a, const IntentEntry& b) {
    return a.kind == b.kind && a.id == b.id && a.points == b.points && a.logSize == b.logSize &&
           a.balanceBefore == b.balanceBefore && a.balanceAfter == b.balanceAfter &&
           a.serials == b.serials && a.ledgerKind == b.ledgerKind && a.units == b.units &&
           a.sizes == b.sizes && a.record == b.record && a.bytes == b.bytes;
}

// What a missing file reads as, to compare with what was expected.
std::string Contents(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0 ? qv::fuzz::ReadScratch(path) : std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int op = data[0] % 3;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    std::vector<IntentEntry> walked;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        if (!line.terminated) return;
        const auto entry = IntentEntry::FromLine(line.text);
        if (!entry) return;
        walked.push_back(*entry);
        const std::string written = entry->ToLine();
        if (written.size() < 2 || written.substr(written.size() - 2) != "\r\n")
            qv::fuzz::Broken("a written line does not end in CR LF");
        const auto again =
            IntentEntry::FromLine(std::string_view(written).substr(0, written.size() - 2));
        if (!again || !Same(*again, *entry)) qv::fuzz::Broken("a written entry reads back otherwise");
    });

    const std::string path = qv::fuzz::WriteScratch("intent.dat", bytes);
    const IntentRecord record(path);
    std::vector<IntentEntry> read;
    if (record.Read(read) == qv::io::ReadStatus::Unreadable)
        qv::fuzz::Broken("a plain file is unreadable");
    if (read.size() != walked.size()) qv::fuzz::Broken("Read sees other entries than the walk");
    for (size_t i = 0; i < read.size(); ++i)
        if (!Same(read[i], walked[i])) qv::fuzz::Broken("Read sees other entries than the walk");

    if (op == 0) {
        // The points kept aside for one identifier: its decide entries above 0, summed.
        const std::string id = walked.empty() ? std::string("none") : walked[0].id;
        std::int64_t expected = 0;
        for (const IntentEntry& e : walked)
            if (e.kind == IntentEntry::Kind::Decide && e.id == id && e.points > 0)
                expected = qv::SaturatingAdd(expected, e.points);
        std::int64_t points = -1;
        if (!record.UncreditedPoints(id, points) || points != expected)
            qv::fuzz::Broken("uncredited points");
    } else if (op == 1) {
        if (!record.DropUnfinished()) qv::fuzz::Broken("DropUnfinished failed on a plain file");
        const size_t lastEnd = bytes.rfind('\n');
        const std::string_view whole =
            bytes.substr(0, lastEnd == std::string_view::npos ? 0 : lastEnd + 1);
        if (Contents(path) != whole) qv::fuzz::Broken("DropUnfinished took more than the torn line");
    } else if (!bytes.empty()) {  // an empty record is DropUnfinished's to remove
        // Drop the entries of one kind; every other line stays, the torn one too.
        const auto kind = static_cast<IntentEntry::Kind>(size % 4);
        if (!record.Keep([kind](const IntentEntry& e) { return e.kind != kind; }))
            qv::fuzz::Broken("Keep failed on a plain file");
        std::string expected;
        qv::ForEachLine(bytes, [&](const qv::Line& line) {
            const auto entry =
                line.terminated ? IntentEntry::FromLine(line.text) : std::nullopt;
            if (!entry || entry->kind != kind) expected.append(line.raw);
        });
        if (Contents(path) != expected) qv::fuzz::Broken("Keep changed another line");
    }
    return 0;
}

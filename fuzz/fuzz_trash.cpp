// The trash's reader takes any bytes without faulting: an entry written back reads back
// the same and says what its line said (payload byte for byte), the next serial is above
// every serial in the file, and taking one entry out leaves every other line as it was.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz/JournalLines.h"
#include "records/Trash.h"
#include "text/LineWalk.h"

namespace {

bool Same(const Trash::Entry& a, const Trash::Entry& b) {
    return a.serial == b.serial && a.kind == b.kind && a.deletedAt == b.deletedAt &&
           a.points == b.points && a.anchor == b.anchor && a.nth == b.nth &&
           a.payload == b.payload;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const Trash::Contents parsed = Trash::Parse(bytes);

    size_t entries = 0;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        Trash::Entry entry;
        if (!line.terminated || !Trash::FromLine(line.text, entry)) return;
        if (entries >= parsed.entries.size() || !Same(parsed.entries[entries], entry))
            qv::fuzz::Broken("Parse and FromLine disagree");
        ++entries;
        const std::string written = Trash::ToLine(entry);
        qv::fuzz::CheckRewritten(line.text, written, 7, {0, 2, 3, 5});
        Trash::Entry again;
        if (!Trash::FromLine(std::string_view(written).substr(0, written.size() - 2), again) ||
            !Same(again, entry))
            qv::fuzz::Broken("a written entry reads back otherwise");
    });
    if (entries != parsed.entries.size()) qv::fuzz::Broken("Parse holds more entries");

    const Trash trash(qv::fuzz::WriteScratch("test.trs", bytes));
    Trash::Contents read;
    if (trash.Read(read) == qv::io::ReadStatus::Unreadable)
        qv::fuzz::Broken("a plain file is unreadable");
    if (read.entries.size() != parsed.entries.size() || read.unreadLines != parsed.unreadLines)
        qv::fuzz::Broken("Read and Parse disagree");
    const std::int64_t next = trash.NextSerial();
    if (next < 1) qv::fuzz::Broken("no next serial");
    for (const Trash::Entry& e : parsed.entries)
        if (e.serial >= next) qv::fuzz::Broken("the next serial is taken");

    // One entry taken out (or a serial nobody has): every other line stays byte for byte.
    if (parsed.entries.empty()) return 0;
    const std::int64_t serial = parsed.entries[data[0] % parsed.entries.size()].serial;
    const std::int64_t serials[] = {serial};
    if (!trash.Remove(serials)) qv::fuzz::Broken("Remove failed on a plain file");
    std::string expected;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        Trash::Entry e;
        if (line.terminated && Trash::FromLine(line.text, e) && e.serial == serial) return;
        expected.append(line.raw);
    });
    if (qv::fuzz::ReadScratch(trash.Path()) != expected)
        qv::fuzz::Broken("Remove changed another line");
    return 0;
}

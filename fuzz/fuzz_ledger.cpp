// The ledger's reader takes any bytes without faulting: every line is an entry or kept
// aside as it was, an entry written back reads back the same and says what its line said,
// and reading through the file gives what parsing the bytes gives.
#include <cstdint>
#include <string>

#include "fuzz/JournalLines.h"
#include "records/Ledger.h"
#include "text/LineWalk.h"

namespace {

bool Same(const Ledger::Entry& a, const Ledger::Entry& b) {
    return a.time == b.time && a.kind == b.kind && a.id == b.id && a.units == b.units &&
           a.asked == b.asked && a.before == b.before && a.after == b.after;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const Ledger::Contents parsed = Ledger::Parse(bytes);

    size_t entries = 0, unread = 0;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        const auto entry = line.terminated ? Ledger::FromLine(line.text) : std::nullopt;
        if (!entry) {
            if (!line.text.empty() || !line.terminated) {
                if (unread >= parsed.unreadLines.size() || parsed.unreadLines[unread] != line.raw)
                    qv::fuzz::Broken("a line that is no entry was not kept as stored");
                ++unread;
            }
            return;
        }
        if (entries >= parsed.entries.size() || !Same(parsed.entries[entries], *entry))
            qv::fuzz::Broken("Parse and FromLine disagree");
        ++entries;
        const std::string written = Ledger::ToLine(*entry);
        qv::fuzz::CheckRewritten(line.text, written, 7, {0, 3, 4, 5, 6});
        const auto again = Ledger::FromLine(std::string_view(written).substr(0, written.size() - 2));
        if (!again || !Same(*again, *entry)) qv::fuzz::Broken("a written entry reads back otherwise");
    });
    if (entries != parsed.entries.size() || unread != parsed.unreadLines.size())
        qv::fuzz::Broken("Parse holds more than the lines");
    if (parsed.Last() != (parsed.entries.empty() ? std::nullopt
                                                 : std::optional(parsed.entries.back().after)))
        qv::fuzz::Broken("Last is not the last entry's balance");

    Ledger::Contents read;
    const Ledger ledger(qv::fuzz::WriteScratch("user.ldg", bytes));
    const auto status = ledger.Read(read);
    if (status == qv::io::ReadStatus::Unreadable) qv::fuzz::Broken("a plain file is unreadable");
    if (read.entries.size() != parsed.entries.size() ||
        read.unreadLines != parsed.unreadLines)
        qv::fuzz::Broken("Read and Parse disagree");
    // The last figure read from the file's end is the whole read's.
    std::optional<std::int64_t> last;
    if (ledger.LastBalance(last) == qv::io::ReadStatus::Unreadable)
        qv::fuzz::Broken("the last line of a plain file is unreadable");
    if (last != parsed.Last()) qv::fuzz::Broken("the last line's figure is not the last entry's");
    return 0;
}

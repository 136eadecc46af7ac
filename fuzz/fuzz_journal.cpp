// The journal reader takes any bytes without faulting: what it accepts reads back from its
// own text, and folding it (with the bytes split into two computers' journals) never
// faults, gives the same files whichever order the journals are listed in, and never puts
// a record into the log that the log's rules would refuse.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "records/Fold.h"
#include "records/Journal.h"
#include "text/LineWalk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<qv::records::JournalRead> journals(2);
    const size_t half = bytes.find("\n--\n");
    journals[0].device = "@a";
    journals[1].device = "@b";
    qv::records::Journals::Parse(bytes.substr(0, half), 0, journals[0]);
    if (half != std::string_view::npos) qv::records::Journals::Parse(bytes.substr(half + 4), 0, journals[1]);
    for (const auto& j : journals)
        for (size_t i = 0; i < j.lines.size(); ++i) {
            const qv::records::JournalLine line = j.Whole(i);
            const std::string text = line.ToText();
            const auto again = qv::records::ParseJournalLine(text.substr(0, text.size() - 2));
            if (!again || again->fields != line.fields || again->seq != line.seq)
                qv::fuzz::Broken("an accepted line does not read back from its text");
        }
    const qv::records::ViewBytes one = qv::records::Fold(journals, nullptr);
    std::swap(journals[0], journals[1]);
    if (qv::records::Fold(journals, nullptr) != one) qv::fuzz::Broken("the order of the journals matters");
    qv::ForEachLine(one.log, [](const qv::Line& line) {
        if (line.terminated && !qv::records::IsSoundRecord(line.text))
            qv::fuzz::Broken("the log got a record its rules refuse");
    });
    return 0;
}

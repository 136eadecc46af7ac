// The kept verdict texts take any bytes without faulting: Find gives the texts of one
// identifier in file order (every one of them in a file of up to 64 KiB), and every entry appended again to an empty file reads back the
// same and is stored as the line it came from.
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "records/Reasons.h"
#include "text/LineWalk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const SentenceReasons reasons(qv::fuzz::WriteScratch("test.rsn", bytes));
    std::vector<SentenceReasons::Entry> all;
    if (reasons.ReadAll(all) == qv::io::ReadStatus::Unreadable)
        qv::fuzz::Broken("a plain file is unreadable");

    // The entries are the ended lines that hold a TAB, in order.
    std::vector<std::string_view> lines;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        if (line.terminated && line.text.find('\t') != std::string_view::npos)
            lines.push_back(line.text);
    });
    if (lines.size() != all.size()) qv::fuzz::Broken("entries other than the lines with a TAB");
    if (all.empty()) return 0;

    const std::string& id = all[data[0] % all.size()].id;
    std::vector<std::string> texts;
    if (reasons.Find(id, texts) != qv::io::ReadStatus::Ok) qv::fuzz::Broken("Find failed");
    std::vector<std::string> expected;
    for (const auto& e : all)
        if (e.id == id) expected.push_back(e.text);
    // Find searches by time: within 64 KiB every entry is looked at; beyond, entries far
    // out of decision order may be missed, but nothing is ever found that is not there.
    if (bytes.size() <= 64 * 1024 && texts != expected)
        qv::fuzz::Broken("Find gives other texts than ReadAll");
    size_t next = 0;
    for (const std::string& t : texts) {
        while (next < expected.size() && expected[next] != t) ++next;
        if (next++ >= expected.size()) qv::fuzz::Broken("Find gives a text ReadAll does not");
    }

    // Appended again (a few, each append is a locked write), they come back as they were.
    const std::string copyPath = qv::fuzz::Scratch() + "/copy.rsn";
    ::unlink(copyPath.c_str());
    const SentenceReasons copy(copyPath);
    std::string stored;
    std::vector<SentenceReasons::Entry> appended;
    for (size_t i = 0; i < all.size() && appended.size() < 8; ++i) {
        const auto status = copy.Append(all[i].id, all[i].text);
        const bool idKeepable = all[i].id.find('\r') == std::string::npos;
        if (status != (idKeepable ? SentenceReasons::Status::Ok
                                  : SentenceReasons::Status::Unkeepable))
            qv::fuzz::Broken("a text read from the file cannot be kept again");
        if (!idKeepable) continue;
        appended.push_back(all[i]);
        stored.append(lines[i]);
        stored.append("\r\n");
    }
    std::vector<SentenceReasons::Entry> back;
    copy.ReadAll(back);
    if (back.size() != appended.size()) qv::fuzz::Broken("appended entries lost");
    for (size_t i = 0; i < back.size(); ++i)
        if (back[i].id != appended[i].id || back[i].text != appended[i].text)
            qv::fuzz::Broken("an appended entry reads back otherwise");
    if (qv::fuzz::ReadScratch(copyPath) != stored)
        qv::fuzz::Broken("an entry is stored otherwise than the line it came from");
    return 0;
}

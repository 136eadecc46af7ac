#include "records/Marks.h"

#include <cerrno>

#include "records/DeviceTag.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

std::string MarkJournal::ToLine(const Event& e) {
    return qv::Decimal(e.time) + '\t' + e.id + '\t' + (e.executed ? "1" : "0") + '\t' + e.device +
           "\r\n";
}

std::optional<MarkJournal::Event> MarkJournal::FromLine(std::string_view line) {
    std::vector<std::string_view> f;
    qv::SplitFields(line, f);
    if (f.size() != 4 || f[0].empty() || f[0].size() > 18 ||
        f[0].find_first_not_of("0123456789") != std::string_view::npos || f[1].empty() ||
        (f[2] != "0" && f[2] != "1") || !qv::records::IsDeviceTag(f[3]))
        return std::nullopt;
    return Event{qv::ReadInt64(f[0]), std::string(f[1]), f[2] == "1", std::string(f[3])};
}

std::vector<MarkJournal::Event> MarkJournal::Parse(std::string_view bytes) {
    std::vector<Event> events;
    qv::ForEachLine(bytes, [&](const qv::Line& line) {
        if (!line.terminated) return;
        if (auto e = FromLine(line.text)) events.push_back(std::move(*e));
    });
    return events;
}

bool MarkJournal::Append(Event event, qv::io::IoError* error) const {
    if (!Enabled()) return true;
    if (event.device.empty()) event.device = qv::records::ThisDevice();
    if (event.id.find_first_of("\t\r\n") != std::string::npos)
        return qv::io::Fail(error, qv::io::IoError::Op::Write, path_, EINVAL);
    qv::io::FileLock lock;
    if (!lock.Acquire(path_))
        return qv::io::Fail(error, qv::io::IoError::Op::Lock, path_, EWOULDBLOCK);
    return qv::io::AppendLine(path_, ToLine(event), error, qv::io::AppendMode{true, {}});
}

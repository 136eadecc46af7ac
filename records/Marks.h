#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rulebook/Clock.h"
#include "text/FileIo.h"

// The journal of marks, "test.mrk" beside "test.log": one line appended each time a
// sentence is marked executed (執行) or not executed (未執行), so that when two computers
// marked one sentence differently the later mark can be told. The log itself keeps only
// the state. CP932 (ASCII), CR LF, appended only:
//   time  identifier  flag  @device
// time: seconds since 1970 (UTC); flag: "1" executed, "0" not executed.
class MarkJournal {
public:
    struct Event {
        qv::Seconds time = 0;
        std::string id;
        bool executed = false;
        std::string device;
    };

    explicit MarkJournal(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }
    bool Enabled() const { return !path_.empty(); }

    static std::string ToLine(const Event& event);  // with its "\r\n"
    static std::optional<Event> FromLine(std::string_view line);
    // The events of whole lines, in file order; other lines are passed over.
    static std::vector<Event> Parse(std::string_view bytes);

    // Appends one event (this computer's tag when it has none) under the file's lock.
    bool Append(Event event, qv::io::IoError* error = nullptr) const;

private:
    std::string path_;
};

#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "text/FileIo.h"

// The verdict texts of decided sentences, kept beside the log ("test.log" -> "test.rsn")
// so that a sentence can still say why it was what it was. The log keeps its 11 fields;
// this file is keyed by the record's identifier (its decision time).
//
// Format: CP932, one entry per line ended by CR LF, appended and never rewritten:
//   identifier TAB line 1 TAB line 2 ... TAB line n CR LF
// where lines 1..n are the verdict text cut at its CR LFs (empty lines included), so
// joining them with CR LF gives the text back byte for byte. A line without a TAB, or the
// last one without its line end, is no entry.
class SentenceReasons {
public:
    enum class Status {
        Ok,
        Unkeepable,  // the text holds a TAB or a LF without its CR: it would not read back
        WriteFailed  // nothing was added
    };
    struct Entry {
        std::string id;
        std::string text;
    };

    explicit SentenceReasons(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

    // Adds the text of the sentence recorded as id, with the care of the log's append:
    // the file's last line is ended first, and a failed write leaves the file as it was.
    // Under the file's lock; error, when given, learns why a write failed.
    Status Append(std::string_view id, std::string_view verdictText,
                  qv::io::IoError* error = nullptr) const;

    // The entry line of a text, with its line end; false when it would not read back.
    static bool ToLine(std::string_view id, std::string_view verdictText, std::string& line);

    // Every text kept for id, oldest first (two sentences decided within one second share
    // an identifier). A missing file reads as no texts. The file is in decision order, so
    // the entries are searched for by their time with a few short reads, never read whole:
    // a window asks for one row's text when the row is chosen. Entries out of order by
    // more than a stretch of the file around the place searched (a clock set back by
    // days) are not found; an identifier that is no number is looked for in every line.
    qv::io::ReadStatus Find(std::string_view id, std::vector<std::string>& texts,
                            qv::io::IoError* error = nullptr) const;
    // Every entry in file order.
    qv::io::ReadStatus ReadAll(std::vector<Entry>& out, qv::io::IoError* error = nullptr) const;

private:
    std::string path_;
};

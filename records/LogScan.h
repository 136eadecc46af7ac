#pragma once

#include <cstddef>
#include <string_view>

#include "records/SentenceLog.h"

// Sorts the lines of a log into the records and other lines of a Contents in one pass,
// counting the damage and noting each record's article number on the way. Fed piece by
// piece as the file is read, so each piece is looked over while it is still in the cache.
class LogScan {
public:
    explicit LogScan(SentenceLog::Contents& out) : out_(out) {}

    // Sorts the complete lines of data[0, readSoFar) not sorted yet; data is where the
    // bytes lie now (the buffer that becomes out's).
    void Feed(std::string_view readSoFar);
    // Sorts the rest, the last line included even without its line end.
    void Finish(std::string_view all);

private:
    // Sorts the lines of data[from, to); to ends a line or the data.
    void Lines(std::string_view data, size_t from, size_t to);
    // Lines of data[from, to), all ending within it but perhaps the last (at the data's
    // end), looked over 64 bytes at a time.
    void Window(std::string_view data, size_t from, size_t to);
    // One line data[begin, end), end just past its LF (or the data's end), byte by byte.
    void Line(std::string_view data, size_t begin, size_t end);
    void AddRecord(std::string_view data, size_t begin, size_t textEnd, size_t tab0, size_t tab1,
                   bool crInside, bool plainTime);
    void AddOther(std::string_view data, size_t begin, size_t end);
    // A record marked "0" with its sentence: Contents::NotExecuted.
    void CountNotExecuted(std::string_view total);

    SentenceLog::Contents& out_;
    size_t done_ = 0;      // bytes sorted so far
    size_t searched_ = 0;  // bytes looked at for a line end so far
};

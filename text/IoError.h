#pragma once

#include <string>

namespace qv::io {

// Why a file call failed: what was attempted, the errno it failed with, and on which
// path. The core only records it; ui/FileTexts puts it into words.
struct IoError {
    enum class Op {
        None,   // nothing failed (or the caller passed no record)
        Check,  // looking at what the path is before opening it
        Open,
        Read,
        Write,
        Sync,
        Rename,
        Close,
        Lock,
    };
    // err of a Check that found something other than a regular file and not a folder
    // (a folder gives EISDIR, a mode without read or write bits EACCES).
    static constexpr int kNotRegular = -1;
    // err of a Read that stopped at the size ceiling: the rest could not be read.
    static constexpr int kTooLarge = -2;

    Op op = Op::None;
    int err = 0;
    std::string path;

    bool Failed() const { return op != Op::None; }
};

// Fills *error (when given) and returns false, so a failure is recorded where it is
// returned: `return Fail(error, IoError::Op::Open, path, errno);`.
inline bool Fail(IoError* error, IoError::Op op, const std::string& path, int err) {
    if (error != nullptr) *error = IoError{op, err, path};
    return false;
}

}  // namespace qv::io

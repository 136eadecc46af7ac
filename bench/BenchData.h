#pragma once

#include <string>
#include <vector>

namespace qv::bench {

// A fresh folder under /tmp for a benchmark's files; removed with the object.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
};

// A rule book file of `rules` rules in the program's format.
std::string MakeRuleBookBytes(int rules);

// A sentence log of `records` records in the program's format: decisions a minute apart
// (first time given), articles cycling through 1..300 with a Shift-JIS name, every third
// record executed. Identifiers are the decision times, so each is unique.
std::string MakeLogBytes(int records, long long firstTime = 1700000000);

void WriteFile(const std::string& path, const std::string& bytes);

// Runs a program with its output thrown away, in dir when given, as a user's `wc -l` or
// `dd` runs (starting it included); false when it failed.
bool RunQuiet(std::vector<std::string> args, const std::string& dir = {});

// A "VmRSS:"/"VmHWM:" figure of /proc/self/status in bytes (-1 when unreadable).
long long StatusBytes(const char* key);
// Hands free heap back and starts a new resident high-water mark; returns the resident size.
long long ResetPeak();

}  // namespace qv::bench

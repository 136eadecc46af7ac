#pragma once

#include <string>

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

void WriteFile(const std::string& path, const std::string& bytes);

}  // namespace qv::bench

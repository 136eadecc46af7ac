#include "history/OutputGuard.h"

#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "records/DataFolder.h"
#include "text/FileIo.h"

namespace qv::history {

namespace {

std::string RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

// Where a write to path lands, as an absolute path without links, "." or "..": the links
// of its last part followed, its folder made real. Empty when its folder is not there
// (nothing can be written then).
std::string Landing(const std::string& path) {
    const std::string target = qv::io::Resolve(path).path;
    const size_t slash = target.rfind('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return RealPath(target);
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : target.substr(0, slash);
    const std::string real = RealPath(folder);
    if (real.empty()) return {};
    return real == "/" ? real + name : real + '/' + name;
}

std::string NameIn(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && S_ISREG(sa.st_mode) &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

std::string FolderFileAt(const std::string& path, const DataFolder& folder) {
    const std::string lands = Landing(path);
    if (lands.empty()) return {};
    const std::string dir = folder.Dir().empty() ? std::string(".") : folder.Dir();
    if (lands == RealPath(dir)) return "./";
    for (const std::string& file : folder.Files()) {
        if (lands == Landing(file) || SameFile(lands, file)) return NameIn(file);
    }
    const std::vector<std::string> kept{folder.BackupFolder(), folder.ConflictFolder(), folder.JournalsPath()};
    for (const std::string& sub : kept) {
        if (sub.empty()) continue;
        const std::string real = Landing(sub);
        if (real.empty()) continue;
        if (lands == real || lands.compare(0, real.size() + 1, real + '/') == 0)
            return NameIn(sub) + '/';
    }
    return {};
}

}  // namespace qv::history

#include "tests/support/TestFiles.h"

#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "text/Cp932.h"

namespace qv::test {

void InTempDir::SetUp() {
    previous_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    std::filesystem::current_path(dir_);
}

void InTempDir::TearDown() {
    std::filesystem::current_path(previous_);
    std::error_code ec;
    // Make read-only fixtures removable again.
    for (auto& entry : std::filesystem::recursive_directory_iterator(dir_, ec))
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir_, ec);
}

void WriteBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

std::string Sjis(std::string_view utf8) {
    auto bytes = qv::Utf8ToCp932(utf8);
    if (!bytes) throw std::runtime_error("not CP932: " + std::string(utf8));
    return *bytes;
}

std::string ListDir() {
    std::vector<std::string> names;
    for (auto& entry : std::filesystem::directory_iterator("."))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string out;
    for (auto& n : names) out += n + "\n";
    return out;
}

ZoneFor::ZoneFor(const char* tz) {
    const char* before = std::getenv("TZ");
    had_ = before != nullptr;
    if (had_) previous_ = before;
    ::setenv("TZ", tz, 1);
    ::tzset();
}

ZoneFor::~ZoneFor() {
    if (had_)
        ::setenv("TZ", previous_.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

SmallDisk::SmallDisk(const std::string& folder, const char* options, unsigned long flags)
    : folder_(folder) {
    std::filesystem::create_directory(folder_);
    mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", flags, options) == 0;
}

SmallDisk::~SmallDisk() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
}

}  // namespace qv::test

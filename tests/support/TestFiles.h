#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace qv::test {

// Each test runs in a fresh empty working folder: the program's files are relative to it.
class InTempDir : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    const std::filesystem::path& Dir() const { return dir_; }

private:
    std::filesystem::path dir_;
    std::filesystem::path previous_;
};

void WriteBytes(const std::string& path, std::string_view bytes);
// The file's bytes; "<missing>" when it does not exist.
std::string ReadBytes(const std::string& path);
bool Exists(const std::string& path);
// CP932 bytes of a UTF-8 literal, so tests can be written in readable Japanese.
std::string Sjis(std::string_view utf8);
// Files in the working folder, sorted, for "nothing else was created" checks.
std::string ListDir();

// Sets the time zone for as long as it lives, then puts back the one before (or none).
class ZoneFor {
public:
    explicit ZoneFor(const char* tz);
    ~ZoneFor();
    ZoneFor(const ZoneFor&) = delete;
    ZoneFor& operator=(const ZoneFor&) = delete;

private:
    bool had_ = false;
    std::string previous_;
};

// A real small disk (a tmpfs of options such as "size=12m") mounted on a new folder for
// as long as it lives, so a test can fill it up. Mounted() is false where this process
// may not mount one: the test then skips.
class SmallDisk {
public:
    SmallDisk(const std::string& folder, const char* options, unsigned long flags = 0);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool Mounted() const { return mounted_; }

private:
    std::string folder_;
    bool mounted_ = false;
};

}  // namespace qv::test

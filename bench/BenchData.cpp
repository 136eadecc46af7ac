#include "bench/BenchData.h"

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace qv::bench {

ScratchDir::ScratchDir() {
    std::string pattern = "/tmp/quorvel-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::string MakeRuleBookBytes(int rules) {
    std::string out = "qvrule\t1\tid1\t1700000000\tA\t10\tB\t5\tC\t7\tD\t10\r\n";
    for (int n = 1; n <= rules; ++n) {
        out += std::to_string(n) +
               "\t1700000000\t1700000000\tname\tthe text of the article\tremark\t30\t15\t12"
               "\t4\t3\t0\t0\t3\r\n";
    }
    return out;
}

std::string MakeLogBytes(int records, long long firstTime) {
    const std::string name = "\x90\xde\x93\x90";  // a two-character article name in CP932
    std::string out;
    out.reserve(static_cast<size_t>(records) * 64);
    for (int i = 0; i < records; ++i) {
        const int article = 1 + i % 300;
        const int points = i % 7;
        out += std::to_string(firstTime + 60LL * i);
        out += '\t' + std::to_string(article) + '\t' + name + '\t' + std::to_string(20 + i % 40);
        out += "\tA:12 B:18 \t";
        out += (i % 3 == 0) ? '1' : '0';
        out += "\t12\t18\t0\t0\t" + std::to_string(points) + "\r\n";
    }
    return out;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

long long StatusBytes(const char* key) {
    FILE* file = std::fopen("/proc/self/status", "r");
    if (file == nullptr) return -1;
    char line[256];
    long long kb = -1;
    const size_t len = std::strlen(key);
    while (std::fgets(line, sizeof line, file) != nullptr)
        if (std::strncmp(line, key, len) == 0) kb = std::atoll(line + len);
    std::fclose(file);
    return kb * 1024;
}

long long ResetPeak() {
    ::malloc_trim(0);
    if (FILE* file = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", file);
        std::fclose(file);
    }
    return StatusBytes("VmRSS:");
}

bool RunQuiet(std::vector<std::string> args, const std::string& dir) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    pid_t pid = 0;
    int status = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0)
        ::waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace qv::bench

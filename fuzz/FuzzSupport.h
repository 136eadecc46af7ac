#pragma once

#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>

#include "text/FileIo.h"

namespace qv::fuzz {

// A folder for the target's files, made once per process.
inline const std::string& Scratch() {
    static const std::string dir = [] {
        // Durability is not what is fuzzed: skip fsync so each input runs fast.
        static qv::io::SysCalls fast = qv::io::RealSysCalls();
        fast.fsync = [](int) { return 0; };
        qv::io::SetSysCalls(&fast);
        std::string pattern = "/tmp/quorvel-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern;
    }();
    return dir;
}

inline std::string WriteScratch(const std::string& name, std::string_view bytes) {
    std::string path = Scratch() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

inline std::string ReadScratch(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Fails the run with a message that says which property broke.
[[noreturn]] inline void Broken(const char* what) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

}  // namespace qv::fuzz

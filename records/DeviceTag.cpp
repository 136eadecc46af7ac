#include "records/DeviceTag.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "text/FileIo.h"

namespace qv::records {
namespace {

constexpr size_t kMaxTag = 16;

bool TagChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           c == '-' || c == '_';
}

std::string Hashed(std::string_view text) {
    std::uint64_t h = 1469598103934665603ULL;  // FNV-1a
    for (char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    static const char kHex[] = "0123456789abcdef";
    std::string tag = "@";
    for (int i = 0; i < 8; ++i) tag += kHex[(h >> (60 - 4 * i)) & 0xF];
    return tag;
}

std::string FromMachine() {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        std::string id;
        if (qv::io::ReadFile(path, id, 256) == qv::io::ReadStatus::Ok) {
            while (!id.empty() && (id.back() == '\n' || id.back() == '\r')) id.pop_back();
            if (!id.empty()) return Hashed(id);
        }
    }
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) == 0 && host[0] != '\0') return Hashed(host);
    return "@unknown";
}

}  // namespace

std::string ThisDevice() {
    // Two instances on one computer (a sync test) tell themselves apart this way.
    if (const char* set = std::getenv("QUORVEL_DEVICE"); set != nullptr && *set != '\0') {
        std::string tag = "@";
        for (const char* p = set; *p != '\0' && tag.size() <= kMaxTag; ++p)
            if (TagChar(*p)) tag += *p;
        if (tag.size() > 1) return tag;
    }
    static const std::string machine = FromMachine();
    return machine;
}

bool IsDeviceTag(std::string_view text) {
    if (text.size() < 2 || text.size() > kMaxTag + 1 || text[0] != '@') return false;
    for (char c : text.substr(1))
        if (!TagChar(c)) return false;
    return true;
}

}  // namespace qv::records

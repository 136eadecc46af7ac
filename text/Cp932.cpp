#include "text/Cp932.h"

#include <iconv.h>

#include <cerrno>

namespace qv {
namespace {

// One converter per direction, opened on first use and reset before each conversion.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as it can; stops at the first byte it cannot convert and returns
    // how many input bytes were consumed (in.size() when all were).
    size_t Convert(std::string_view in, std::string& out) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        char buf[4096];
        while (srcLeft > 0) {
            char* dst = buf;
            size_t dstLeft = sizeof buf;
            size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(buf, static_cast<size_t>(dst - buf));
            if (rc == static_cast<size_t>(-1) && errno != E2BIG) break;
        }
        return in.size() - srcLeft;
    }

private:
    iconv_t cd_;
};

Converter& FromCp932() {
    static thread_local Converter c("UTF-8", "CP932");
    return c;
}

Converter& ToCp932() {
    static thread_local Converter c("CP932", "UTF-8");
    return c;
}

}  // namespace

std::string Cp932ToUtf8(std::string_view cp932) {
    std::string out;
    out.reserve(cp932.size() * 3 / 2);
    Converter& c = FromCp932();
    while (!cp932.empty()) {
        size_t used = c.ok() ? c.Convert(cp932, out) : 0;
        cp932.remove_prefix(used);
        if (cp932.empty()) break;
        out.append("\xEF\xBF\xBD");  // U+FFFD for the byte that is not CP932
        cp932.remove_prefix(1);
    }
    return out;
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
    Converter& c = ToCp932();
    if (!c.ok()) return std::nullopt;
    std::string out;
    out.reserve(utf8.size());
    if (c.Convert(utf8, out) != utf8.size()) return std::nullopt;
    return out;
}

}  // namespace qv

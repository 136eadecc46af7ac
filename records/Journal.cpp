#include "records/Journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

#include "records/DataFolder.h"
#include "records/DeviceTag.h"
#include "records/FileTail.h"
#include "text/FileIo.h"
#include "text/LineWalk.h"
#include "text/Numbers.h"

namespace qv::records {
namespace {

using Kind = JournalLine::Kind;
using Op = qv::io::IoError::Op;

constexpr std::string_view kFormat = "qj1";
constexpr std::string_view kSuffix = ".jnl";
constexpr std::int64_t kMaxInt32 = 2147483647;
constexpr std::int64_t kMaxTime = std::int64_t{1} << 40;
constexpr std::int64_t kMaxSeq = std::int64_t{1} << 53;

struct KindName {
    Kind kind;
    std::string_view token;
};
constexpr std::array<KindName, 15> kKinds{{
    {Kind::Base, "base"},
    {Kind::Decide, "decide"},
    {Kind::Mark, "mark"},
    {Kind::Delete, "delete"},
    {Kind::Restore, "restore"},
    {Kind::Report, "report"},
    {Kind::Unreport, "unreport"},
    {Kind::Rule, "rule"},
    {Kind::Purge, "purge"},
    {Kind::PurgeRule, "purgerule"},
    {Kind::Unrule, "unrule"},
    {Kind::Implements, "implements"},
    {Kind::Adjust, "adjust"},
    {Kind::Void, "void"},
    {Kind::Found, "found"},
}};

std::optional<Kind> KindOf(std::string_view token) {
    for (const KindName& k : kKinds)
        if (k.token == token) return k.kind;
    return std::nullopt;
}

// A whole number as the files write it: plain digits, a "-" in front where allowed, no
// leading zero but for 0 itself, within [low, high].
bool Number(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t* out = nullptr) {
    bool negative = !text.empty() && text[0] == '-';
    std::string_view digits = negative ? text.substr(1) : text;
    if (digits.empty() || digits.size() > 18 || (digits.size() > 1 && digits[0] == '0')) return false;
    std::int64_t v = 0;
    if (!qv::ReadPlainDigits(digits, v)) return false;
    if (negative) v = -v;
    if (v < low || v > high || (negative && v == 0)) return false;
    if (out) *out = v;
    return true;
}

// Text as this program writes it: no control byte but TAB, no DEL. Looked at 16 bytes at
// a time where SSE2 exists: a fold reads every line of every journal.
bool TextBytes(std::string_view line) {
    const auto* p = reinterpret_cast<const unsigned char*>(line.data());
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i below = _mm_set1_epi8(0x1F), tab = _mm_set1_epi8('\t'), del = _mm_set1_epi8(0x7F);
    for (; i + 16 <= line.size(); i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i control = _mm_andnot_si128(_mm_cmpeq_epi8(v, tab),
                                                 _mm_cmpeq_epi8(_mm_min_epu8(v, below), v));
        if (_mm_movemask_epi8(_mm_or_si128(control, _mm_cmpeq_epi8(v, del))) != 0) return false;
    }
#endif
    for (; i < line.size(); ++i)
        if ((p[i] < 0x20 && p[i] != '\t') || p[i] == 0x7F) return false;
    return true;
}

bool Ref(std::string_view origin, std::string_view n) {
    if (IsDeviceTag(origin)) return Number(n, 1, kMaxSeq);
    if (origin.size() != 17 || origin[0] != '#') return false;
    for (char c : origin.substr(1))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    if (!n.empty() && n[0] == 't') return Number(n.substr(1), 1, kMaxSeq);
    return Number(n, 1, kMaxSeq);
}

bool Units(std::string_view text) {
    size_t parts = 0;
    for (size_t start = 0;; ++parts) {
        const size_t slash = text.find('/', start);
        if (!Number(text.substr(start, slash - start), 0, kMaxInt32)) return false;
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return parts == 3;
}

bool DecideFields(std::span<const std::string_view> f) {
    if (f.size() < 9) return false;
    std::int64_t total = 0;
    if (!Number(f[0], 1, 9999) || !Number(f[2], 0, kMaxInt32, &total)) return false;
    for (size_t i = 4; i < 8; ++i)
        if (!Number(f[i], 0, kMaxInt32)) return false;
    // The points are the verdict's share of its total: never more.
    return Number(f[8], 0, total);
}

bool RuleFields(std::span<const std::string_view> f) {
    if (f.size() != 15 || !Number(f[0], 1, 9999) || (f[14] != "new" && f[14] != "edit")) return false;
    for (size_t i : {1, 2, 6, 7, 8, 9, 10, 11, 12, 13})
        if (!Number(f[i], -kMaxInt32, kMaxInt32)) return false;
    return true;
}

bool KindFields(Kind kind, std::span<const std::string_view> f) {
    switch (kind) {
        case Kind::Base:
            return f.size() == 2 && f[0].size() == 16 && (f[1] == "data" || f[1] == "sample");
        case Kind::Decide:
            return DecideFields(f);
        case Kind::Found:
            return f.size() == 11 && Number(f[0], 0, kMaxTime) && (f[1] == "0" || f[1] == "1") &&
                   DecideFields(f.subspan(2));
        case Kind::Mark:
            return f.size() == 3 && Ref(f[0], f[1]) && (f[2] == "0" || f[2] == "1");
        case Kind::Delete:
        case Kind::Restore:
        case Kind::Unreport:
        case Kind::Purge:
        case Kind::Void:
            return f.size() == 2 && Ref(f[0], f[1]);
        case Kind::Report:
            return f.size() == 2 && Units(f[0]) && Number(f[1], 1, kMaxInt32);
        case Kind::Rule:
            return RuleFields(f);
        case Kind::Unrule:
            return f.size() == 1 && Number(f[0], 1, 9999);
        case Kind::PurgeRule:
            return f.size() == 2 && Number(f[0], 1, 9999) && Number(f[1], 0, kMaxTime);
        case Kind::Implements:
            if (f.size() != 8) return false;
            for (size_t i = 1; i < 8; i += 2)
                if (!Number(f[i], -kMaxInt32, kMaxInt32)) return false;
            return true;
        case Kind::Adjust:
            return f.size() == 1 && Number(f[0], -kMaxSeq, kMaxSeq);
    }
    return false;
}

std::string Hex8(std::uint32_t v) {
    static const char kHex[] = "0123456789abcdef";
    std::string out(8, '0');
    for (int i = 7; i >= 0; --i, v >>= 4) out[i] = kHex[v & 0xF];
    return out;
}

void SyncFolder(const std::string& folder) {
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (dfd < 0) return;
    ::fsync(dfd);
    ::close(dfd);
}

}  // namespace

namespace {

// CRC-32C, eight bytes a step from tables where the processor has no instruction for it.
std::uint32_t Crc32cSoftware(std::string_view bytes) {
    static const auto tables = [] {
        std::array<std::array<std::uint32_t, 256>, 8> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0x82F63B78u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (std::uint32_t i = 0; i < 256; ++i)
            for (size_t k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    for (; n >= 8; n -= 8, p += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, p, 8);
        word ^= crc;
        crc = tables[7][word & 0xFF] ^ tables[6][(word >> 8) & 0xFF] ^ tables[5][(word >> 16) & 0xFF] ^
              tables[4][(word >> 24) & 0xFF] ^ tables[3][(word >> 32) & 0xFF] ^
              tables[2][(word >> 40) & 0xFF] ^ tables[1][(word >> 48) & 0xFF] ^ tables[0][word >> 56];
    }
    for (; n > 0; --n, ++p) crc = tables[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

#if defined(__x86_64__)
__attribute__((target("sse4.2"))) std::uint32_t Crc32cHardware(std::string_view bytes) {
    std::uint64_t crc = 0xFFFFFFFFu;
    const char* p = bytes.data();
    size_t n = bytes.size();
    for (; n >= 8; n -= 8, p += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, p, 8);
        crc = _mm_crc32_u64(crc, word);
    }
    auto c = static_cast<std::uint32_t>(crc);
    for (; n > 0; --n, ++p) c = _mm_crc32_u8(c, static_cast<unsigned char>(*p));
    return c ^ 0xFFFFFFFFu;
}
#endif

}  // namespace

std::uint32_t Crc32c(std::string_view bytes) {
#if defined(__x86_64__)
    static const bool hardware = __builtin_cpu_supports("sse4.2");
    if (hardware) return Crc32cHardware(bytes);
#endif
    return Crc32cSoftware(bytes);
}

std::string_view KindToken(Kind kind) {
    for (const KindName& k : kKinds)
        if (k.kind == kind) return k.token;
    return {};
}

std::string JournalLine::ToText() const {
    std::string out{kFormat};
    // Each part kept as a string of its own for as long as it is appended.
    const std::string seqText = std::to_string(seq), timeText = std::to_string(time),
                      orderText = std::to_string(std::max(order, time));
    for (std::string_view part : {std::string_view(device), std::string_view(seqText),
                                  std::string_view(timeText), std::string_view(orderText), KindToken(kind)}) {
        out += '\t';
        out += part;
    }
    for (const std::string& f : fields) {
        out += '\t';
        out += f;
    }
    const std::uint32_t crc = Crc32c(out);
    out += "\t~";
    out += Hex8(crc);
    out += "\r\n";
    return out;
}

namespace {

// Checks one line (without its CR LF) and, when it may be replayed, adds it to out as
// places in line's bytes, line lying at offset in out.bytes.
bool ParseInto(std::string_view line, std::uint64_t offset, JournalRead& out, LineFault* fault) {
    auto refuse = [&](LineFault why) {
        if (fault) *fault = why;
        return false;
    };
    if (!TextBytes(line)) return refuse(LineFault::Bytes);
    const size_t mark = line.rfind("\t~");
    if (mark == std::string_view::npos || line.size() - mark != 10) return refuse(LineFault::Framing);
    if (Hex8(Crc32c(line.substr(0, mark))) != line.substr(mark + 2)) return refuse(LineFault::Checksum);
    thread_local std::vector<std::string_view> f;
    qv::SplitFields(line.substr(0, mark), f);
    JournalRead::Line parsed;
    std::optional<Kind> kind = f.size() >= 6 ? KindOf(f[5]) : std::nullopt;
    if (!kind || f[0] != kFormat || !IsDeviceTag(f[1]) || !Number(f[2], 1, kMaxSeq, &parsed.seq) ||
        !Number(f[3], 0, kMaxTime, &parsed.time) || !Number(f[4], parsed.time, 2 * kMaxTime, &parsed.order))
        return refuse(LineFault::Framing);
    if (!out.device.empty() && f[1] != out.device) return refuse(LineFault::WrongFile);
    parsed.kind = *kind;
    const std::span<const std::string_view> own(f.begin() + 6, f.end());
    if (!KindFields(parsed.kind, own)) return refuse(LineFault::Fields);
    if (out.device.empty()) out.device = std::string(f[1]);
    parsed.firstField = static_cast<std::uint32_t>(out.fields.size());
    parsed.fieldCount = static_cast<std::uint32_t>(own.size());
    for (std::string_view field : own)
        out.fields.push_back({offset + static_cast<std::uint64_t>(field.data() - line.data()),
                              static_cast<std::uint32_t>(field.size())});
    out.lines.push_back(parsed);
    if (fault) *fault = LineFault::Ok;
    return true;
}

}  // namespace

std::optional<JournalLine> ParseJournalLine(std::string_view line, LineFault* fault) {
    JournalRead one;
    one.bytes = std::string(line);
    if (!ParseInto(one.bytes, 0, one, fault)) return std::nullopt;
    return one.Whole(0);
}

std::string_view JournalRead::Fields(const Line& line, size_t from, size_t to) const {
    if (from >= to) return {};
    const Span& first = fields[line.firstField + from];
    const Span& last = fields[line.firstField + to - 1];
    return std::string_view(bytes).substr(first.at, last.at + last.size - first.at);
}

JournalLine JournalRead::Whole(size_t i) const {
    const Line& l = lines[i];
    JournalLine out{device, l.seq, l.time, l.kind, {}, l.order};
    for (size_t f = 0; f < l.fieldCount; ++f) out.fields.emplace_back(Field(l, f));
    return out;
}

bool JournalRead::Add(const JournalLine& line) {
    const std::string text = line.ToText();
    const std::uint64_t at = bytes.size();
    bytes += text;
    const size_t before = lines.size();
    const bool ok = ParseInto(std::string_view(bytes).substr(at, text.size() - 2), at, *this, nullptr);
    wholeSize = static_cast<std::int64_t>(bytes.size());
    return ok && lines.size() > before;
}

bool IsSoundRecord(std::string_view line) {
    if (!TextBytes(line)) return false;
    std::vector<std::string_view> f;
    qv::SplitFields(line, f);
    if (f.size() != 11 || !Number(f[0], 0, 2 * kMaxTime) || (f[5] != "0" && f[5] != "1")) return false;
    // The fields a decide line carries: the record without its identifier and its flag.
    const std::array<std::string_view, 9> rest{f[1], f[2], f[3], f[4], f[6], f[7], f[8], f[9], f[10]};
    return DecideFields(rest);
}

std::optional<std::string> DeviceOfJournalName(std::string_view name) {
    if (name.size() <= kSuffix.size() || !name.ends_with(kSuffix)) return std::nullopt;
    std::string tag = "@" + std::string(name.substr(0, name.size() - kSuffix.size()));
    if (!IsDeviceTag(tag)) return std::nullopt;
    return tag;
}

std::string JournalNameOf(std::string_view device) {
    return std::string(device.substr(device.starts_with('@') ? 1 : 0)) + std::string(kSuffix);
}

Journals::Journals(const std::string& dataFolder) : folder_(DataFolder(dataFolder).JournalsPath()) {}

std::string Journals::PathOf(std::string_view device) const {
    return folder_ + "/" + JournalNameOf(device);
}

void Journals::Parse(std::string_view bytes, std::int64_t offset, JournalRead& out) {
    // The bytes are kept (lines refer to them); offsets in them run from where they start.
    const std::uint64_t base = out.bytes.size();
    out.bytes.append(bytes);
    ParseKept(base, offset, out);
}

void Journals::ParseKept(std::uint64_t base, std::int64_t offset, JournalRead& out) {
    const std::string_view kept = std::string_view(out.bytes).substr(base);
    size_t at = 0;
    while (at < kept.size()) {
        const size_t end = kept.find('\n', at);
        if (end == std::string_view::npos) {
            out.tornBytes = static_cast<std::int64_t>(kept.size() - at);
            break;
        }
        std::string_view line = kept.substr(at, end - at);
        const std::int64_t lineOffset = offset + static_cast<std::int64_t>(at);
        const std::uint64_t lineAt = base + at;
        at = end + 1;
        out.wholeSize = offset + static_cast<std::int64_t>(at);
        LineFault fault = LineFault::Framing;
        const size_t before = out.lines.size();
        const std::int64_t last = out.lines.empty() ? 0 : out.lines.back().seq;
        const bool ok = line.ends_with('\r') && ParseInto(line.substr(0, line.size() - 1), lineAt, out, &fault);
        // A line seen twice, or one from before a line already read, is no new action.
        if (ok && before > 0 && out.lines.back().seq <= last) {
            out.fields.resize(out.lines.back().firstField);
            out.lines.pop_back();
            fault = LineFault::Framing;
        } else if (ok) {
            continue;
        }
        out.refused.push_back({lineOffset, fault});
    }
}

bool Journals::ReadFrom(const std::string& path, std::int64_t offset, std::int64_t maxBytes,
                        JournalRead& out, qv::io::IoError* error) {
    const int fd = qv::io::Sys().open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0);
    if (fd < 0) return errno == ENOENT || qv::io::Fail(error, Op::Open, path, errno);
    struct stat st {};
    bool ok = (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) ||
              qv::io::Fail(error, Op::Check, path, qv::io::IoError::kNotRegular);
    std::string bytes;
    if (ok && st.st_size > offset) {
        const std::int64_t want = std::min<std::int64_t>(st.st_size - offset, maxBytes);
        bytes.resize(static_cast<size_t>(want));
        size_t got = 0;
        while (ok && got < bytes.size()) {
            const ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got,
                                      static_cast<off_t>(offset + static_cast<std::int64_t>(got)));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        bytes.resize(got);
    }
    qv::io::Sys().close(fd);
    if (!ok) return false;
    out.wholeSize = offset;
    if (out.bytes.empty()) {
        out.bytes = std::move(bytes);  // read once, never copied
        // About one field in ten bytes, one line in a hundred: room made once.
        out.fields.reserve(out.bytes.size() / 10);
        out.lines.reserve(out.bytes.size() / 100);
        ParseKept(0, offset, out);
    } else {
        Parse(bytes, offset, out);
    }
    return true;
}

bool Journals::List(std::vector<std::pair<std::string, std::string>>& found,
                    std::vector<std::string>* skipped, qv::io::IoError* error) const {
    DIR* dir = ::opendir(folder_.c_str());
    if (dir == nullptr) return errno == ENOENT || qv::io::Fail(error, Op::Open, folder_, errno);
    std::vector<std::pair<std::string, std::string>> all;  // device, name
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (auto device = DeviceOfJournalName(name)) all.emplace_back(*device, name);
    }
    ::closedir(dir);
    std::sort(all.begin(), all.end());
    for (auto& [device, name] : all) {
        if (qv::io::IsRegularNoFollow(folder_ + "/" + name)) found.emplace_back(std::move(device), std::move(name));
        else if (skipped) skipped->push_back(name);
    }
    return true;
}

bool Journals::Ends(std::vector<End>& out, qv::io::IoError* error) const {
    std::vector<std::pair<std::string, std::string>> found;
    if (!List(found, nullptr, error)) return false;
    for (const auto& journal : found) {
        const std::string& device = journal.first;  // named, for the walk below to see
        ReadOnlyFile file;
        const std::string path = folder_ + "/" + journal.second;
        if (file.Open(path, error) == qv::io::ReadStatus::Unreadable) return false;
        End end{device, 0, 0};
        // From the newest line back: the first whole line of the journal's own gives its
        // sequence, the first action its order (bases carry none).
        const bool read = ForEachLineBackward(file, [&](const qv::Line& line, std::int64_t) {
            if (!line.terminated) return true;
            const std::optional<JournalLine> parsed = ParseJournalLine(line.text);
            if (!parsed || parsed->device != device) return true;
            end.seq = std::max(end.seq, parsed->seq);
            if (parsed->kind == Kind::Base) return true;
            end.order = parsed->order;
            return false;
        });
        if (!read) return qv::io::Fail(error, Op::Read, path, EIO);
        out.push_back(std::move(end));
    }
    return true;
}

bool Journals::ReadAll(Listing& out, qv::io::IoError* error, std::int64_t maxBytes) const {
    std::vector<std::pair<std::string, std::string>> found;  // device, name
    if (!List(found, &out.skipped, error)) return false;
    for (const auto& [device, name] : found) {
        const std::string path = folder_ + "/" + name;
        JournalRead read;
        read.device = device;
        if (!ReadFrom(path, 0, maxBytes, read, error)) return false;
        out.journals.push_back(std::move(read));
    }
    return true;
}

bool Journals::MakeFolder(qv::io::IoError* error) const { return qv::io::MakeRealFolder(folder_, error); }

bool Journals::Append(std::string_view device, std::string_view text, const std::string& like,
                      qv::io::IoError* error) const {
    if (!MakeFolder(error)) return false;
    const std::string path = PathOf(device);
    bool missing = false;
    const bool existed = qv::io::IsRegularNoFollow(path, &missing);
    if (!existed && !missing) return qv::io::Fail(error, Op::Check, path, qv::io::IoError::kNotRegular);
    const auto& sys = qv::io::Sys();
    const int fd = sys.open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (fd < 0) return qv::io::Fail(error, Op::Open, path, errno);
    struct stat st {};
    bool ok = (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) ||
              qv::io::Fail(error, Op::Check, path, qv::io::IoError::kNotRegular);
    if (ok && !existed) qv::io::TakeGroupAndMode(fd, like);
    off_t size = st.st_size;
    char last = '\n';
    if (ok && size > 0 && ::pread(fd, &last, 1, size - 1) != 1) ok = qv::io::Fail(error, Op::Read, path, errno);
    if (ok && last != '\n') {
        size = static_cast<off_t>(qv::io::WholeLinesSize(path));
        ok = sys.ftruncate(fd, size) == 0 || qv::io::Fail(error, Op::Write, path, errno);
    }
    size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = sys.write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = qv::io::Fail(error, Op::Write, path, n < 0 ? errno : ENOSPC);
        else done += static_cast<size_t>(n);
    }
    ok = ok && (sys.fsync(fd) == 0 || qv::io::Fail(error, Op::Sync, path, errno));
    if (!ok && done > 0 && ::ftruncate(fd, size) == 0) ::fsync(fd);
    // Once synced the line is committed: a close that fails after that changes nothing.
    sys.close(fd);
    if (ok && !existed) SyncFolder(folder_);
    return ok;
}

bool Journals::CutTorn(std::string_view device, qv::io::IoError* error) const {
    const std::string path = PathOf(device);
    bool missing = false;
    if (!qv::io::IsRegularNoFollow(path, &missing)) return missing;
    // Only a journal whose last byte is no line end is read whole, to find its last one.
    ReadOnlyFile file;
    std::string last;
    if (file.Open(path, error) != qv::io::ReadStatus::Ok) return true;  // missing or empty
    if (!file.ReadAt(file.Size() - 1, 1, last)) return qv::io::Fail(error, Op::Read, path, EIO);
    if (last == "\n") return true;
    return qv::io::TruncateTo(path, qv::io::WholeLinesSize(path), error);
}

}  // namespace qv::records

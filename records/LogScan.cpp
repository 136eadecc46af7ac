#include "records/LogScan.h"

#include "text/Numbers.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace {

// Written by the program as plain decimal digits; atol would also take leading blanks.
bool IsTime(std::string_view field) {
    size_t i = field.find_first_not_of(' ');
    if (i == std::string_view::npos) return false;
    if (field[i] == '-' || field[i] == '+') ++i;
    if (i == field.size()) return false;
    return field.find_first_not_of("0123456789", i) == std::string_view::npos;
}

constexpr size_t kRecordTabs = SentenceRecord::kFieldCount - 1;

using Contents = SentenceLog::Contents;
constexpr size_t kPlainDigits = 5;

// Field 1 as a number when it is 1 to 5 decimal digits and nothing else, below kNotPlain.
std::uint32_t PlainArticle(std::string_view field) {
    if (field.empty() || field.size() > kPlainDigits) return Contents::kNotPlain;
    std::uint32_t value = 0;
    for (char c : field) {
        if (c < '0' || c > '9') return Contents::kNotPlain;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return std::min(value, Contents::kNotPlain);
}

// One bit per byte of a window: where its LFs, TABs, CRs and non-digits are.
constexpr size_t kWindow = 64 * 1024;
constexpr size_t kWords = kWindow / 64;
struct Masks {
    std::uint64_t lf[kWords];
    std::uint64_t tab[kWords];
    std::uint64_t cr[kWords];
    std::uint64_t other[kWords];  // not '0'..'9'
};

#if defined(__x86_64__) && defined(__GNUC__)
#define QV_SCAN_AVX2 1
// The same 32 bytes at a time, on processors that have AVX2 (most since 2013).
__attribute__((target("avx2"))) size_t FillWide(const char* p, size_t n, Masks& m) {
    const __m256i lf = _mm256_set1_epi8('\n'), tab = _mm256_set1_epi8('\t');
    const __m256i cr = _mm256_set1_epi8('\r');
    const __m256i zero = _mm256_set1_epi8('0'), nine = _mm256_set1_epi8(9);
    size_t w = 0;
    for (; (w + 1) * 64 <= n; ++w) {
        std::uint64_t a = 0, b = 0, c = 0, d = 0;
        for (int j = 0; j < 2; ++j) {
            const __m256i v =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + w * 64 + 32 * j));
            const int shift = 32 * j;
            a |= std::uint64_t(unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, lf)))) << shift;
            b |= std::uint64_t(unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, tab)))) << shift;
            c |= std::uint64_t(unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, cr)))) << shift;
            const __m256i digit = _mm256_sub_epi8(v, zero);
            const __m256i isDigit = _mm256_cmpeq_epi8(_mm256_min_epu8(digit, nine), digit);
            d |= std::uint64_t(unsigned(_mm256_movemask_epi8(isDigit))) << shift;
        }
        m.lf[w] = a;
        m.tab[w] = b;
        m.cr[w] = c;
        m.other[w] = ~d;
    }
    return w;
}
#endif

void Fill(const char* p, size_t n, Masks& m) {
    const size_t words = (n + 63) / 64;
    size_t w = 0;
#if defined(QV_SCAN_AVX2)
    static const bool wide = __builtin_cpu_supports("avx2");
    if (wide) w = FillWide(p, n, m);
#endif
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n'), tab = _mm_set1_epi8('\t'), cr = _mm_set1_epi8('\r');
    const __m128i zero = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9);
    for (; (w + 1) * 64 <= n; ++w) {
        std::uint64_t a = 0, b = 0, c = 0, d = 0;
        for (int j = 0; j < 4; ++j) {
            const __m128i v =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + w * 64 + 16 * j));
            const int shift = 16 * j;
            a |= std::uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)))) << shift;
            b |= std::uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, tab)))) << shift;
            c |= std::uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)))) << shift;
            const __m128i digit = _mm_sub_epi8(v, zero);
            const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(digit, nine), digit);
            d |= std::uint64_t(unsigned(_mm_movemask_epi8(isDigit))) << shift;
        }
        m.lf[w] = a;
        m.tab[w] = b;
        m.cr[w] = c;
        m.other[w] = ~d;
    }
#endif
    for (; w < words; ++w) {
        std::uint64_t a = 0, b = 0, c = 0, d = 0;
        const size_t end = std::min(n, (w + 1) * 64);
        for (size_t i = w * 64; i < end; ++i) {
            const std::uint64_t bit = std::uint64_t{1} << (i % 64);
            const char ch = p[i];
            if (ch == '\n') a |= bit;
            if (ch == '\t') b |= bit;
            if (ch == '\r') c |= bit;
            if (ch < '0' || ch > '9') d |= bit;
        }
        m.lf[w] = a;
        m.tab[w] = b;
        m.cr[w] = c;
        m.other[w] = d;
    }
}

// The first set bit at or after pos, or limit when there is none before it.
inline size_t Next(const std::uint64_t* m, size_t pos, size_t limit) {
    if (pos >= limit) return limit;
    size_t w = pos / 64;
    std::uint64_t bits = m[w] & (~std::uint64_t{0} << (pos % 64));
    const size_t last = (limit - 1) / 64;
    while (bits == 0) {
        if (++w > last) return limit;
        bits = m[w];
    }
    return std::min(limit, w * 64 + static_cast<size_t>(__builtin_ctzll(bits)));
}

// Whether any bit in [a, b) is set.
inline bool Any(const std::uint64_t* m, size_t a, size_t b) { return Next(m, a, b) < b; }

// Whether [a, b) holds at least `want` set bits.
inline bool AtLeast(const std::uint64_t* m, size_t a, size_t b, size_t want) {
    if (a >= b) return want == 0;
    size_t w = a / 64;
    const size_t last = (b - 1) / 64;
    std::uint64_t bits = m[w] & (~std::uint64_t{0} << (a % 64));
    size_t count = 0;
    for (;;) {
        if (w == last) bits &= ~std::uint64_t{0} >> (63 - (b - 1) % 64);
        // Bits cleared one at a time: a record has ten, so this stops soon either way.
        while (bits != 0) {
            if (++count >= want) return true;
            bits &= bits - 1;
        }
        if (w == last) return false;
        bits = m[++w];
    }
}

}  // namespace

void LogScan::Feed(std::string_view readSoFar) {
    // Only what came since the last look: a line of gigabytes is searched once.
    const size_t from = std::max(done_, searched_);
    searched_ = readSoFar.size();
    if (readSoFar.size() <= from) return;
    const void* lf = ::memrchr(readSoFar.data() + from, '\n', readSoFar.size() - from);
    if (lf == nullptr) return;  // no line complete yet
    Lines(readSoFar, done_,
          static_cast<size_t>(static_cast<const char*>(lf) - readSoFar.data()) + 1);
}

void LogScan::Finish(std::string_view all) {
    if (all.size() > done_) Lines(all, done_, all.size());
}

void LogScan::Lines(std::string_view data, size_t from, size_t to) {
    while (from < to) {
        size_t end = std::min(to, from + kWindow);
        if (end < to) {
            const void* lf = ::memrchr(data.data() + from, '\n', end - from);
            if (lf == nullptr) {
                // A line longer than a window: by itself.
                const void* next = std::memchr(data.data() + from, '\n', to - from);
                end = next == nullptr
                          ? to
                          : static_cast<size_t>(static_cast<const char*>(next) - data.data()) + 1;
                Line(data, from, end);
                from = end;
                continue;
            }
            end = static_cast<size_t>(static_cast<const char*>(lf) - data.data()) + 1;
        }
        Window(data, from, end);
        from = end;
    }
    done_ = to;
}

void LogScan::Window(std::string_view data, size_t from, size_t to) {
    static thread_local Masks m;
    const char* p = data.data() + from;
    const size_t n = to - from;
    Fill(p, n, m);
    size_t pos = 0;
    while (pos < n) {
        const size_t lf = Next(m.lf, pos, n);
        if (lf == n) {  // the last line, without its line end
            Line(data, from + pos, to);
            return;
        }
        if (!AtLeast(m.tab, pos, lf, kRecordTabs)) {
            AddOther(data, from + pos, from + lf + 1);
        } else {
            const size_t textEnd = lf > pos && p[lf - 1] == '\r' ? lf - 1 : lf;
            if (textEnd == lf) ++out_.bareLfRecords_;
            const size_t tab0 = Next(m.tab, pos, lf);
            const size_t tab1 = Next(m.tab, tab0 + 1, lf);
            const bool plainTime = tab0 > pos && !Any(m.other, pos, tab0);
            const bool plainArticle =
                tab1 - tab0 - 1 <= kPlainDigits && !Any(m.other, tab0 + 1, tab1);
            const std::uint32_t article =
                plainArticle ? PlainArticle(std::string_view(p + tab0 + 1, tab1 - tab0 - 1))
                             : Contents::kNotPlain;
            const Contents::Span span = Contents::MakeSpan(from + pos, textEnd - pos, article);
            if (!plainTime && !IsTime(std::string_view(p + pos, tab0 - pos)))
                ++out_.damage_.badTimes;
            if (Any(m.cr, pos, textEnd)) ++out_.damage_.gluedLines;
            out_.records_.push_back(span);
            out_.idKeys_.push_back(Contents::IdKey(std::string_view(p + pos, tab0 - pos)));
            // The mark and the sentence, while the line is in the cache: a line of a
            // record holds at least ten TABs before its end.
            const size_t tab2 = Next(m.tab, tab1 + 1, lf);
            const size_t tab3 = Next(m.tab, tab2 + 1, lf);
            const size_t tab4 = Next(m.tab, tab3 + 1, lf);
            if (p[tab4 + 1] == '0' && p[tab4 + 2] == '\t')  // field 5 is "0"
                CountNotExecuted(std::string_view(p + tab2 + 1, tab3 - tab2 - 1));
        }
        pos = lf + 1;
    }
}

void LogScan::Line(std::string_view data, size_t begin, size_t end) {
    const std::string_view raw = data.substr(begin, end - begin);
    const bool terminated = !raw.empty() && raw.back() == '\n';
    std::string_view text = raw;
    if (terminated) {
        text.remove_suffix(1);
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    }
    if (!terminated ||
        static_cast<size_t>(std::count(text.begin(), text.end(), '\t')) < kRecordTabs) {
        AddOther(data, begin, end);
        return;
    }
    if (text.size() + 1 == raw.size()) ++out_.bareLfRecords_;
    const size_t tab0 = text.find('\t');
    const size_t tab1 = text.find('\t', tab0 + 1);
    const Contents::Span span = Contents::MakeSpan(
        begin, text.size(), PlainArticle(text.substr(tab0 + 1, tab1 - tab0 - 1)));
    if (!IsTime(text.substr(0, tab0))) ++out_.damage_.badTimes;
    if (text.find('\r') != std::string_view::npos) ++out_.damage_.gluedLines;
    out_.records_.push_back(span);
    out_.idKeys_.push_back(Contents::IdKey(text.substr(0, tab0)));
    if (Contents::FieldOf(text, SentenceRecord::kExecuted) == "0")
        CountNotExecuted(Contents::FieldOf(text, SentenceRecord::kTotal));
}

void LogScan::CountNotExecuted(std::string_view total) {
    ++out_.unmarked_.records;
    out_.unmarked_.points = qv::SaturatingAdd(out_.unmarked_.points, qv::ReadInt64(total));
}

void LogScan::AddOther(std::string_view data, size_t begin, size_t end) {
    std::string_view line = data.substr(begin, end - begin);
    const Contents::Span span = Contents::MakeSpan(begin, line.size(), 0);
    out_.others_.push_back(span);
    // Empty lines hold nothing; every other line is one the user is told of.
    if (line == "\n" || line == "\r\n") return;
    ++out_.damage_.unreadLines;
    if (line.ends_with("\r\n")) line.remove_suffix(2);
    if (line.find('\r') != std::string_view::npos) ++out_.damage_.crOnlyLines;
}

// The index kept up as lines are taken out or put in, so a delete and its undo need not
// sort a million lines again. It lives here for the same rules the scan counts by.

size_t SentenceLog::Contents::RecordsBefore(size_t offset) const {
    return static_cast<size_t>(
        std::partition_point(records_.begin(), records_.end(),
                             [&](const Span& s) { return s.begin < offset; }) -
        records_.begin());
}

void SentenceLog::Contents::RemoveRecords(std::span<const size_t> indices,
                                          const qv::io::FileStamp& stamp) {
    struct Gap {
        size_t begin, size;
    };
    std::vector<Gap> gaps;
    for (const size_t i : indices) {
        const std::string_view text = Record(i);
        gaps.push_back({records_[i].begin, RecordEnd(i) - records_[i].begin});
        const size_t tab0 = text.find('\t');
        if (!IsTime(text.substr(0, tab0))) --damage_.badTimes;
        if (text.find('\r') != std::string_view::npos) --damage_.gluedLines;
    }
    // The figures of marks are counted again by whoever needs them.
    unmarked_.known = false;
    char* data = bytes_.data();
    const size_t size = bytes_.size();
    size_t removed = 0;
    for (size_t k = 0; k < gaps.size(); ++k) {
        const size_t from = gaps[k].begin + gaps[k].size;
        const size_t to = k + 1 < gaps.size() ? gaps[k + 1].begin : size;
        std::memmove(data + gaps[k].begin - removed, data + from, to - from);
        removed += gaps[k].size;
    }
    bytes_.Shrink(size - removed);
    // Each line moves back by the bytes taken out before it.
    size_t kept = 0, k = 0;
    removed = 0;
    for (size_t i = 0; i < records_.size(); ++i) {
        if (k < indices.size() && indices[k] == i) {
            removed += gaps[k++].size;
            continue;
        }
        Span s = records_[i];
        s.begin -= removed;
        records_[kept] = s;
        idKeys_[kept] = idKeys_[i];
        ++kept;
    }
    records_.resize(kept);
    idKeys_.resize(kept);
    k = 0;
    removed = 0;
    for (Span& s : others_) {
        while (k < gaps.size() && gaps[k].begin < s.begin) removed += gaps[k++].size;
        s.begin -= removed;
    }
    Restamp(stamp);
}

void SentenceLog::Contents::Restamp(const qv::io::FileStamp& stamp) {
    stamp_ = stamp.size == static_cast<std::int64_t>(bytes_.size()) ? stamp : qv::io::FileStamp{};
}

bool SentenceLog::Contents::RoomFor(std::span<const Insertion> insertions) {
    size_t added = 0;
    for (const Insertion& in : insertions) added += in.bytes.size();
    return bytes_.Reserve(bytes_.size() + added);
}

void SentenceLog::Contents::InsertLines(std::span<const Insertion> insertions,
                                        const qv::io::FileStamp& stamp) {
    const size_t oldSize = bytes_.size();
    std::string lines;
    for (const Insertion& in : insertions) lines += in.bytes;
    if (!RoomFor(insertions)) {
        Clear();  // no room: the copy is read again
        return;
    }
    // From the back, each stretch moves behind the lines put in ahead of it, so the copy
    // grows where it lies.
    char* data = bytes_.data();
    size_t end = oldSize, to = oldSize + lines.size();
    for (size_t k = insertions.size(); k-- > 0;) {
        const size_t at = insertions[k].at;
        std::memmove(data + to - (end - at), data + at, end - at);
        to -= end - at;
        end = at;
        const std::string& line = insertions[k].bytes;
        std::memcpy(data + to - line.size(), line.data(), line.size());
        to -= line.size();
    }
    bytes_.Resize(oldSize + lines.size());

    // The lines put in, sorted as the scan sorts them.
    Contents put;
    put.bytes_ = qv::io::FileBuffer(std::move(lines));
    put.Index();
    const bool records = put.others_.empty() && put.records_.size() == insertions.size();
    const bool bareLf = bareLfRecords_ > 0;
    if (!records || bareLf) {
        Index();  // lines that are no records of their own: the whole copy sorted again
        Restamp(stamp);
        return;
    }
    // The index grows where it lies too, filled from the back: a record put in goes
    // before the records starting at or after its offset.
    const size_t n = records_.size(), m = insertions.size();
    std::vector<size_t> before(m + 1, 0);  // bytes put in ahead of insertion k
    for (size_t k = 0; k < m; ++k) before[k + 1] = before[k] + insertions[k].bytes.size();
    records_.resize(n + m);
    idKeys_.resize(n + m);
    size_t i = n, k = m;
    for (size_t out = n + m; out-- > 0;) {
        if (k > 0 && (i == 0 || insertions[k - 1].at > records_[i - 1].begin)) {
            --k;
            records_[out] = MakeSpan(insertions[k].at + before[k], put.Record(k).size(),
                                     put.records_[k].article);
            idKeys_[out] = put.idKeys_[k];
        } else {
            --i;
            Span s = records_[i];
            s.begin += before[k];
            records_[out] = s;
            idKeys_[out] = idKeys_[i];
        }
    }
    size_t shift = 0;
    k = 0;
    for (Span& s : others_) {
        while (k < insertions.size() && insertions[k].at <= s.begin) shift += insertions[k++].bytes.size();
        s.begin += shift;
    }
    damage_.badTimes += put.damage_.badTimes;
    damage_.gluedLines += put.damage_.gluedLines;
    unmarked_.known = false;
    Restamp(stamp);
}

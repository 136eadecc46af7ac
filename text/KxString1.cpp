#include "text/KxString1.h"

#include <cstring>
#include <new>

#include "text/FileIo.h"
#include "text/KxStringVector.h"

namespace {
constexpr int kEqualsCeiling = 65536;
}

KxString1::KxString1(KxLimits limits) : limits_(limits) {}

KxString1::KxString1(const char* str) { Set(str); }

KxString1::KxString1(const char* bytes, int count) { Set(bytes, count); }

KxString1::KxString1(const char* bytes, int count, KxLimits limits) : limits_(limits) {
    Set(bytes, count);
}

KxString1::KxString1(const KxString1& other) : limits_(other.limits_) {
    Set(other.Data(), other.Length());
}

KxString1::KxString1(const KxString& other) { Set(other.Data(), other.Length()); }

KxString1& KxString1::operator=(const KxString1& other) {
    if (this == &other) return *this;
    Reset();
    limits_ = other.limits_;
    Set(other.Data(), other.Length());
    return *this;
}

KxString1& KxString1::operator=(const char* str) {
    Reset();
    Set(str);
    return *this;
}

void KxString1::Reset() {
    bytes_.clear();
    bytes_.shrink_to_fit();
}

// Length of a NUL-terminated string, looking at no more than ceiling + 1 bytes.
int KxString1::Measure(const char* str, int ceiling) const {
    const void* nul = std::memchr(str, 0, static_cast<size_t>(ceiling) + 1);
    if (nul == nullptr) return ceiling;
    return static_cast<int>(static_cast<const char*>(nul) - str);
}

bool KxString1::WriteAt(int pos, const char* bytes, int count) {
    if (bytes == nullptr || pos < 0 || pos >= limits_.maxSize - 1 || count < 1) return false;
    std::int64_t end = static_cast<std::int64_t>(pos) + count;
    if (end > limits_.maxSize) count = limits_.maxSize - pos;
    try {
        const char* begin = bytes_.data();
        bool aliased = bytes >= begin && bytes < begin + bytes_.size();
        if (aliased) {
            std::string copy(bytes, static_cast<size_t>(count));
            bytes_.resize(static_cast<size_t>(pos));
            bytes_.append(copy);
        } else {
            bytes_.resize(static_cast<size_t>(pos));
            bytes_.append(bytes, static_cast<size_t>(count));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool KxString1::Set(const char* bytes, int count) { return WriteAt(0, bytes, count); }

bool KxString1::Set(const char* str) {
    if (str == nullptr) return false;
    return Set(str, Measure(str, limits_.maxSize));
}

bool KxString1::Set(const KxString& other) { return Set(other.Data(), other.Length()); }

bool KxString1::Append(const char* bytes, int count) { return WriteAt(Length(), bytes, count); }

bool KxString1::Append(const char* str) {
    if (str == nullptr) return false;
    return Append(str, Measure(str, limits_.maxSize));
}

bool KxString1::Append(char ch) { return WriteAt(Length(), &ch, 1); }

bool KxString1::Append(const KxString& other) { return Append(other.Data(), other.Length()); }

bool KxString1::Equals(const char* bytes, int count) const {
    if (bytes == nullptr) return false;
    if (count == 0) return bytes_.empty();
    if (count != Length()) return false;
    return std::memcmp(bytes_.data(), bytes, static_cast<size_t>(count)) == 0;
}

bool KxString1::Equals(const char* str) const {
    if (str == nullptr) return false;
    return Equals(str, Measure(str, kEqualsCeiling));
}

bool KxString1::Equals(const KxString& other) const {
    return Equals(other.Data(), other.Length());
}

const char* KxString1::CStr() {
    cstr_.assign(bytes_);  // a copy: it outlives later changes to the text
    return cstr_.c_str();
}

int KxString1::ByteAt(int index) const {
    if (index < 0 || index >= Length()) return 0;
    return static_cast<unsigned char>(bytes_[static_cast<size_t>(index)]);
}

int KxString1::LastIndex() const { return Length() - 1; }

char KxString1::CharAt(int index) const {
    if (index < 0 || index >= Length()) return 0;
    return bytes_[static_cast<size_t>(index)];
}

const char* KxString1::Data() const { return bytes_.data(); }

int KxString1::Length() const { return static_cast<int>(bytes_.size()); }

int KxString1::Size() const { return Length(); }

int KxString1::FindFrom(int pos, const char* bytes, int count) const {
    if (bytes == nullptr || pos < 0 || pos >= Length() || count < 1 || count > Length())
        return -1;
    auto hit = View().find(std::string_view(bytes, static_cast<size_t>(count)),
                           static_cast<size_t>(pos));
    return hit == std::string_view::npos ? -1 : static_cast<int>(hit);
}

int KxString1::Find(const char* bytes, int count) const { return FindFrom(0, bytes, count); }

int KxString1::Find(const char* str) const {
    if (str == nullptr) return -1;
    return Find(str, Measure(str, limits_.maxSize));
}

int KxString1::FindChar(char ch) const {
    auto hit = View().find(ch);
    return hit == std::string_view::npos ? -1 : static_cast<int>(hit);
}

int KxString1::Count(const char* bytes, int count) const {
    int hits = 0;
    for (int at = Find(bytes, count); at >= 0; at = FindFrom(at + count, bytes, count)) ++hits;
    return hits;
}

int KxString1::Count(const char* str) const {
    if (str == nullptr) return 0;
    return Count(str, Measure(str, limits_.maxSize));
}

int KxString1::FindLast(const char* bytes, int count) const {
    if (bytes == nullptr || count < 1 || count > Length()) return -1;
    auto hit = View().rfind(std::string_view(bytes, static_cast<size_t>(count)));
    return hit == std::string_view::npos ? -1 : static_cast<int>(hit);
}

int KxString1::FindLast(const char* str) const {
    if (str == nullptr) return -1;
    return FindLast(str, Measure(str, limits_.maxSize));
}

KxStringVector* KxString1::Split(const char* sep, int count) const {
    if (sep == nullptr || count < 1 || Length() < count) return nullptr;
    auto* list = new (std::nothrow) KxStringVector(limits_);
    if (list == nullptr) return nullptr;
    int start = 0;
    for (int hit = FindFrom(0, sep, count); hit >= 0; hit = FindFrom(start, sep, count)) {
        list->AddBytes(Data() + start, hit - start);
        start = hit + count;
    }
    if (start == 0) return list;  // no separator: no pieces at all
    list->AddBytes(Data() + start, Length() - start);
    return list;
}

KxStringVector* KxString1::Split(const char* sep) const {
    if (sep == nullptr) return nullptr;
    return Split(sep, Measure(sep, limits_.maxSize));
}

int KxString1::ReplaceAll(const char* pattern, int patternCount, const char* replacement,
                          int replacementCount) {
    if (pattern == nullptr || replacement == nullptr) return 0;
    // Built through the same writes as any text, so the ceiling cuts it the same way.
    KxString1 result(limits_);
    int replaced = 0;
    int start = 0;
    for (int hit = Find(pattern, patternCount); hit >= 0;
         hit = FindFrom(start, pattern, patternCount)) {
        result.Append(Data() + start, hit - start);
        result.Append(replacement, replacementCount);
        start = hit + patternCount;
        ++replaced;
    }
    if (replaced == 0) return 0;
    result.Append(Data() + start, Length() - start);
    bytes_.swap(result.bytes_);
    return replaced;
}

int KxString1::ReplaceAll(const char* pattern, const char* replacement) {
    if (pattern == nullptr || replacement == nullptr) return 0;
    return ReplaceAll(pattern, Measure(pattern, limits_.maxSize), replacement,
                      Measure(replacement, limits_.maxSize));
}

bool KxString1::Load(const char* path) {
    if (path == nullptr) return false;
    std::string content;
    if (qv::io::ReadFile(path, content, limits_.maxSize) != qv::io::ReadStatus::Ok) return false;
    bytes_.swap(content);  // at most maxSize bytes, never empty: the same as Set, without a copy
    return true;
}

bool KxString1::Save(const char* path) const {
    if (path == nullptr) return false;
    return qv::io::WriteFileAtomic(path, View());
}

bool KxString1::operator==(const char* str) const { return Equals(str); }

bool KxString1::operator==(const KxString& other) const { return Equals(other); }

KxString1 KxString1::operator+(const char* str) const {
    KxString1 sum(*this);
    sum.Append(str);
    return sum;
}

KxString1 KxString1::operator+(const KxString& other) const {
    KxString1 sum(*this);
    sum.Append(other);
    return sum;
}

KxString1& KxString1::operator+=(const char* str) {
    Append(str);
    return *this;
}

KxString1& KxString1::operator+=(const KxString& other) {
    Append(other);
    return *this;
}

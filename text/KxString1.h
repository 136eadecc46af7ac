#pragma once

#include <string>
#include <string_view>

#include "text/KxString.h"

// The byte text every file goes through. Content is raw bytes (CP932 in this program);
// the text never looks at characters or lines.
class KxString1 : public KxString {
public:
    KxString1() = default;
    explicit KxString1(KxLimits limits);
    explicit KxString1(const char* str);
    KxString1(const char* bytes, int count);
    KxString1(const char* bytes, int count, KxLimits limits);
    KxString1(const KxString1& other);
    explicit KxString1(const KxString& other);
    KxString1& operator=(const KxString1& other);
    KxString1& operator=(const char* str);
    ~KxString1() override = default;

    bool Set(const char* bytes, int count) override;
    bool Set(const char* str) override;
    bool Set(const KxString& other) override;
    bool Append(const char* bytes, int count) override;
    bool Append(const char* str) override;
    bool Append(char ch) override;
    bool Equals(const char* bytes, int count) const override;
    bool Equals(const char* str) const override;
    bool Equals(const KxString& other) const override;
    const char* CStr() override;
    int ByteAt(int index) const override;
    int LastIndex() const override;
    char CharAt(int index) const override;
    const char* Data() const override;
    int Length() const override;
    int Size() const override;
    int Kind() const override { return 8; }
    int SubKind() const override { return 0; }
    int Find(const char* bytes, int count) const override;
    int FindFrom(int pos, const char* bytes, int count) const override;
    int Find(const char* str) const override;
    int FindChar(char ch) const override;
    int Count(const char* bytes, int count) const override;
    int Count(const char* str) const override;
    int FindLast(const char* bytes, int count) const override;
    int FindLast(const char* str) const override;
    bool WriteAt(int pos, const char* bytes, int count) override;
    KxStringVector* Split(const char* sep, int count) const override;
    KxStringVector* Split(const char* sep) const override;
    int ReplaceAll(const char* pattern, int patternCount, const char* replacement,
                   int replacementCount) override;
    int ReplaceAll(const char* pattern, const char* replacement) override;
    // Reads the file's first MaxSize() bytes; false (text unchanged) for a missing,
    // unreadable or empty file.
    bool Load(const char* path) override;
    // Replaces the file atomically; false (file untouched) on any failure.
    bool Save(const char* path) const override;

    virtual bool operator==(const char* str) const;
    virtual bool operator==(const KxString& other) const;
    virtual KxString1 operator+(const char* str) const;
    virtual KxString1 operator+(const KxString& other) const;
    virtual KxString1& operator+=(const char* str);
    virtual KxString1& operator+=(const KxString& other);
    virtual int MinAlloc() const { return kMinAlloc; }
    virtual int MaxSize() const { return limits_.maxSize; }
    virtual bool Append(const KxString& other);

    // Non-virtual conveniences for the core's readers and writers.
    std::string_view View() const { return bytes_; }
    const KxLimits& Limits() const { return limits_; }

    static constexpr int kMinAlloc = 32;

private:
    int Measure(const char* str, int ceiling) const;
    void Reset();

    std::string bytes_;
    std::string cstr_;
    KxLimits limits_;
};

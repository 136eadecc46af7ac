#pragma once

#include <cstdint>

class KxStringVector;

// Ceilings a text enforces. Everything made from a text (pieces of a split, the list
// holding them) inherits them; file code lifts them so files of any size stay whole.
struct KxLimits {
    std::int32_t maxSize = 65536;  // largest content in bytes
    std::int32_t maxPieces = 256;  // largest number of pieces a split or list keeps

    static constexpr KxLimits Default() { return {}; }
    static constexpr KxLimits Lifted() { return {INT32_MAX - 1, INT32_MAX - 1}; }
    friend constexpr bool operator==(const KxLimits&, const KxLimits&) = default;
};

// Byte text interface. Operations refuse bad input through their result (false, -1, 0
// or null) and then leave the text exactly as it was.
class KxString {
public:
    virtual bool Set(const char* bytes, int count) = 0;
    virtual bool Set(const char* str) = 0;
    virtual bool Set(const KxString& other) = 0;
    virtual bool Append(const char* bytes, int count) = 0;
    virtual bool Append(const char* str) = 0;
    virtual bool Append(char ch) = 0;
    virtual bool Equals(const char* bytes, int count) const = 0;
    virtual bool Equals(const char* str) const = 0;
    virtual bool Equals(const KxString& other) const = 0;
    virtual const char* CStr() = 0;
    virtual int ByteAt(int index) const = 0;
    virtual int LastIndex() const = 0;
    virtual char CharAt(int index) const = 0;
    virtual const char* Data() const = 0;
    virtual int Length() const = 0;
    virtual int Size() const = 0;
    virtual int Kind() const = 0;
    virtual int SubKind() const = 0;
    virtual int Find(const char* bytes, int count) const = 0;
    virtual int FindFrom(int pos, const char* bytes, int count) const = 0;
    virtual int Find(const char* str) const = 0;
    virtual int FindChar(char ch) const = 0;
    virtual int Count(const char* bytes, int count) const = 0;
    virtual int Count(const char* str) const = 0;
    virtual int FindLast(const char* bytes, int count) const = 0;
    virtual int FindLast(const char* str) const = 0;
    virtual bool WriteAt(int pos, const char* bytes, int count) = 0;
    virtual KxStringVector* Split(const char* sep, int count) const = 0;
    virtual KxStringVector* Split(const char* sep) const = 0;
    virtual int ReplaceAll(const char* pattern, int patternCount, const char* replacement,
                           int replacementCount) = 0;
    virtual int ReplaceAll(const char* pattern, const char* replacement) = 0;
    virtual bool Load(const char* path) = 0;
    virtual bool Save(const char* path) const = 0;
    virtual ~KxString() = default;
};

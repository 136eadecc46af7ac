#pragma once

#include <memory>
#include <vector>

#include "text/KxString1.h"
#include "text/KxStrings.h"

// The list a split returns. It keeps at most its limits' maxPieces pieces; further
// pieces are dropped without notice and Add refuses them.
class KxStringVector final : public KxStrings {
public:
    KxStringVector() = default;
    explicit KxStringVector(KxLimits limits) : limits_(limits) {}
    KxStringVector(const KxStringVector& other);
    KxStringVector& operator=(const KxStringVector& other);
    ~KxStringVector() = default;

    bool Assign(const KxStrings* other) override;
    KxString* Get(int index) const override;
    KxString* operator[](int index) const override { return Get(index); }
    int Count() const override { return static_cast<int>(items_.size()); }
    bool Clear() override;
    bool Add(const char* str) override;
    bool Add(const KxString& piece) override;
    int AddAll(const KxStrings* other) override;
    bool Remove(int index) override;

    KxStringVector operator+(const char* str) const;
    KxStringVector operator+(const KxString& piece) const;
    KxStringVector& operator+=(const char* str);
    KxStringVector& operator+=(const KxString& piece);

    const KxLimits& Limits() const { return limits_; }
    // Adds a piece made of raw bytes with this list's limits (used by Split).
    bool AddBytes(const char* bytes, int count);

private:
    bool HasRoom() const { return Count() < limits_.maxPieces; }

    std::vector<std::unique_ptr<KxString1>> items_;
    KxLimits limits_;
};

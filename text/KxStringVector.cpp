#include "text/KxStringVector.h"

#include <new>

KxStringVector::KxStringVector(const KxStringVector& other) : limits_(other.limits_) {
    AddAll(&other);
}

KxStringVector& KxStringVector::operator=(const KxStringVector& other) {
    if (this != &other) Assign(&other);
    return *this;
}

bool KxStringVector::Assign(const KxStrings* other) {
    if (other == nullptr || other == this) return other != nullptr;
    if (other->Count() > limits_.maxPieces) return false;
    Clear();
    return AddAll(other) == other->Count();
}

KxString* KxStringVector::Get(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return items_[static_cast<size_t>(index)].get();
}

bool KxStringVector::Clear() {
    items_.clear();
    return true;
}

bool KxStringVector::AddBytes(const char* bytes, int count) {
    if (!HasRoom()) return false;
    try {
        // A piece is made with the list's limits; an empty piece is allowed.
        auto piece = std::make_unique<KxString1>(limits_);
        if (count > 0 && !piece->Set(bytes, count)) return false;
        items_.push_back(std::move(piece));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool KxStringVector::Add(const char* str) {
    if (str == nullptr || !HasRoom()) return false;
    try {
        auto piece = std::make_unique<KxString1>(limits_);
        piece->Set(str);
        items_.push_back(std::move(piece));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool KxStringVector::Add(const KxString& piece) {
    if (piece.Kind() != 8) return false;
    return AddBytes(piece.Data(), piece.Length());
}

int KxStringVector::AddAll(const KxStrings* other) {
    if (other == nullptr) return 0;
    const int n = other->Count();
    for (int i = 0; i < n; ++i) Add(*other->Get(i));
    return n;
}

bool KxStringVector::Remove(int index) {
    if (index < 0 || index >= Count()) return false;
    items_.erase(items_.begin() + index);
    return true;
}

KxStringVector KxStringVector::operator+(const char* str) const {
    KxStringVector sum(*this);
    sum.Add(str);
    return sum;
}

KxStringVector KxStringVector::operator+(const KxString& piece) const {
    KxStringVector sum(*this);
    sum.Add(piece);
    return sum;
}

KxStringVector& KxStringVector::operator+=(const char* str) {
    Add(str);
    return *this;
}

KxStringVector& KxStringVector::operator+=(const KxString& piece) {
    Add(piece);
    return *this;
}

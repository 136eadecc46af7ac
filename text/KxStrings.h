#pragma once

class KxString;

// List-of-texts interface; the list owns its pieces and lends them through Get.
class KxStrings {
public:
    virtual bool Assign(const KxStrings* other) = 0;
    virtual KxString* Get(int index) const = 0;
    virtual KxString* operator[](int index) const = 0;
    virtual int Count() const = 0;
    virtual bool Clear() = 0;
    virtual bool Add(const char* str) = 0;
    virtual bool Add(const KxString& piece) = 0;
    virtual int AddAll(const KxStrings* other) = 0;
    virtual bool Remove(int index) = 0;

protected:
    // Lists are destroyed through their concrete type only.
    ~KxStrings() = default;
};

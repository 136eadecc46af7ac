// The text classes against a plain std::string model of the same rules, with small
// ceilings so that cuts and refusals at the ceilings are reached often.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "text/KxString1.h"
#include "text/KxStringVector.h"

namespace {

constexpr KxLimits kLimits{48, 6};

struct Model {
    std::string s;

    bool WriteAt(int pos, const std::string& b) {
        int n = static_cast<int>(b.size());
        if (pos < 0 || pos >= kLimits.maxSize - 1 || n < 1) return false;
        if (pos + n > kLimits.maxSize) n = kLimits.maxSize - pos;
        s.resize(static_cast<size_t>(pos), '\0');
        s.append(b, 0, static_cast<size_t>(n));
        return true;
    }
    int FindFrom(int pos, const std::string& p) const {
        const int len = static_cast<int>(s.size()), n = static_cast<int>(p.size());
        if (pos < 0 || pos >= len || n < 1 || n > len) return -1;
        for (int i = pos; i + n <= len; ++i)
            if (s.compare(static_cast<size_t>(i), static_cast<size_t>(n), p) == 0) return i;
        return -1;
    }
    int Count(const std::string& p) const {
        int hits = 0;
        for (int at = FindFrom(0, p); at >= 0; at = FindFrom(at + static_cast<int>(p.size()), p))
            ++hits;
        return hits;
    }
    // "null" when no list, else the pieces.
    std::vector<std::string> Split(const std::string& sep) const {
        const int n = static_cast<int>(sep.size());
        if (n < 1 || static_cast<int>(s.size()) < n) return {"null"};
        std::vector<std::string> pieces;
        auto add = [&](std::string piece) {
            if (static_cast<int>(pieces.size()) < kLimits.maxPieces) pieces.push_back(piece);
        };
        int start = 0;
        for (int hit = FindFrom(0, sep); hit >= 0; hit = FindFrom(start, sep)) {
            add(s.substr(static_cast<size_t>(start), static_cast<size_t>(hit - start)));
            start = hit + n;
        }
        if (start == 0) return {};
        add(s.substr(static_cast<size_t>(start)));
        return pieces;
    }
    int ReplaceAll(const std::string& p, const std::string& r) {
        Model out;
        int replaced = 0, start = 0;
        auto append = [&out](const std::string& b) { out.WriteAt(static_cast<int>(out.s.size()), b); };
        for (int hit = FindFrom(0, p); hit >= 0; hit = FindFrom(start, p)) {
            append(s.substr(static_cast<size_t>(start), static_cast<size_t>(hit - start)));
            append(r);
            start = hit + static_cast<int>(p.size());
            ++replaced;
        }
        if (replaced == 0) return 0;
        append(s.substr(static_cast<size_t>(start)));
        s = out.s;
        return replaced;
    }
};

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool More() const { return at_ < size_; }
    int Byte() { return at_ < size_ ? data_[at_++] : 0; }
    // Short strings over a small alphabet, so separators and patterns match often.
    std::string Bytes() {
        static const char kAlphabet[] = {'a', 'b', '\t', '\n', '\r', '\x82'};
        int n = Byte() % 12;
        std::string out;
        for (int i = 0; i < n; ++i) out += kAlphabet[Byte() % sizeof kAlphabet];
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

std::vector<std::string> Pieces(const KxString1& t, const std::string& sep) {
    std::unique_ptr<KxStringVector> list(t.Split(sep.data(), static_cast<int>(sep.size())));
    if (!list) return {"null"};
    std::vector<std::string> out;
    for (int i = 0; i < list->Count(); ++i)
        out.emplace_back(list->Get(i)->Data(), static_cast<size_t>(list->Get(i)->Length()));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    KxString1 text(kLimits);
    Model model;
    while (in.More()) {
        const int op = in.Byte() % 8;
        std::string a = in.Bytes();
        const int n = static_cast<int>(a.size());
        switch (op) {
            case 0:
                if (text.Set(a.data(), n) != model.WriteAt(0, a)) qv::fuzz::Broken("Set");
                break;
            case 1:
                if (text.Append(a.data(), n) != model.WriteAt(static_cast<int>(model.s.size()), a))
                    qv::fuzz::Broken("Append");
                break;
            case 2: {
                int pos = in.Byte() % 64 - 4;
                if (text.WriteAt(pos, a.data(), n) != model.WriteAt(pos, a)) qv::fuzz::Broken("WriteAt");
                break;
            }
            case 3: {
                std::string r = in.Bytes();
                if (text.ReplaceAll(a.data(), n, r.data(), static_cast<int>(r.size())) !=
                    model.ReplaceAll(a, r))
                    qv::fuzz::Broken("ReplaceAll");
                break;
            }
            case 4:
                if (text.Count(a.data(), n) != model.Count(a)) qv::fuzz::Broken("Count");
                break;
            case 5: {
                int pos = in.Byte() % 64 - 4;
                if (text.FindFrom(pos, a.data(), n) != model.FindFrom(pos, a)) qv::fuzz::Broken("FindFrom");
                break;
            }
            case 6:
                if (Pieces(text, a) != model.Split(a)) qv::fuzz::Broken("Split");
                break;
            case 7:
                if (text.Equals(a.data(), n) != (model.s == a)) qv::fuzz::Broken("Equals");
                break;
        }
        if (text.View() != model.s) qv::fuzz::Broken("content differs from the model");
    }
    return 0;
}

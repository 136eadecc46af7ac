// The rule book reader takes any bytes without faulting, and what it keeps saves back
// and reloads to the same rules and implements.
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "rulebook/RuleBook.h"

namespace {
constexpr qv::Seconds kNow = 1700000000;

bool SameBook(const CRuleBook& a, const CRuleBook& b) {
    for (int i = 0; i < CRuleBook::kImplementCount; ++i)
        if (a.GetImpName(i) != b.GetImpName(i) || a.GetImpWeight(i) != b.GetImpWeight(i))
            return false;
    if (a.RuleCount() != b.RuleCount()) return false;
    for (const auto& [number, rule] : a) {
        const CRule* other = b.FindRule(number);
        if (other == nullptr) return false;
        CRule left = rule, right = *other;
        left.SetCreated(0);  // the load stamps its own time; not part of the round trip
        right.SetCreated(0);
        if (!(left == right)) return false;
    }
    return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);

    CRule line;
    if (line.FromLine(bytes)) {
        CRule again;
        if (!again.FromLine(line.ToLine()) || !(again == line)) qv::fuzz::Broken("FromLine/ToLine");
    }

    CRuleBook first;
    first.SetClock([] { return kNow; });
    first.SetFileName(qv::fuzz::WriteScratch("test.dat", bytes));
    if (!first.LoadFile()) return 0;
    first.SetFileName(qv::fuzz::Scratch() + "/saved.dat");
    if (!first.SaveFile()) qv::fuzz::Broken("save failed");
    CRuleBook second;
    second.SetClock([] { return kNow; });
    second.SetFileName(qv::fuzz::Scratch() + "/saved.dat");
    if (!second.LoadFile()) qv::fuzz::Broken("saved book does not load");
    if (!SameBook(first, second)) qv::fuzz::Broken("saved book reloads differently");
    return 0;
}

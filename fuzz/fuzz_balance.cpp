// The balance operations take any file without faulting and change nothing but the
// balance field (and the delete variant's line end at the very end).
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "records/PointBalance.h"
#include "text/Numbers.h"

namespace {
std::vector<std::string> Fields(const std::string& bytes) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t tab = bytes.find('\t'); tab != std::string::npos; tab = bytes.find('\t', start)) {
        out.push_back(bytes.substr(start, tab - start));
        start = tab + 1;
    }
    if (!out.empty()) out.push_back(bytes.substr(start));
    return out;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int op = data[0] % 3;
    const std::int64_t points = 1 + data[1] * 37;
    std::string before(reinterpret_cast<const char*>(data + 2), size - 2);
    const std::string path = qv::fuzz::WriteScratch("user.dat", before);
    PointBalance balance(path);

    std::vector<std::string> read;
    balance.Read(read);  // must not fault on anything

    PointBalance::Status status = op == 0   ? balance.Credit(points)
                                  : op == 1 ? balance.DebitReport(points)
                                            : balance.DebitDelete(points);
    const std::string after = qv::fuzz::ReadScratch(path);
    std::vector<std::string> old = Fields(before);
    if (status != PointBalance::Status::Ok) {
        if (after != before) qv::fuzz::Broken("a refused write changed the file");
        // The one refusal a full record may meet: a credit past the largest balance.
        const bool overflows = status == PointBalance::Status::Overflow && op == 0 &&
                               old.size() >= PointBalance::kFieldCount &&
                               qv::ReadInt64(old[PointBalance::kBalanceField]) >
                                   std::numeric_limits<std::int64_t>::max() - points;
        if (old.size() >= PointBalance::kFieldCount && !overflows)
            qv::fuzz::Broken("a full record was refused");
        return 0;
    }
    std::vector<std::string> now = Fields(after);
    if (now.size() != old.size()) qv::fuzz::Broken("field count changed");
    if (op == 2) {
        if (now.back().size() < 2 || now.back().substr(now.back().size() - 2) != "\r\n")
            qv::fuzz::Broken("delete debit lost its line end");
        now.back().resize(now.back().size() - 2);
    }
    for (size_t i = 0; i < old.size(); ++i)
        if (i != PointBalance::kBalanceField && now[i] != old[i])
            qv::fuzz::Broken("a field changed");
    const std::int64_t was = qv::ReadInt64(old[PointBalance::kBalanceField]);
    std::int64_t expected = qv::SaturatingAdd(was, op == 0 ? points : -points);
    if (op != 0 && expected < 0) expected = 0;
    if (now[PointBalance::kBalanceField] != qv::Decimal(expected))
        qv::fuzz::Broken("wrong balance");
    return 0;
}

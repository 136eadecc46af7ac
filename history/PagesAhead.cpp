#include "history/PagesAhead.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace qv::history {

namespace {
// Gives advice on the whole pages inside [begin, begin + bytes) only: the pages at its
// ends may hold other data, and they are mapped by their first write anyway.
[[maybe_unused]] void AdviseWholePages(void* begin, size_t bytes, int advice) {
    static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto from = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) & ~(page - 1);
    const auto to = (reinterpret_cast<std::uintptr_t>(begin) + bytes) & ~(page - 1);
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, advice);
}
}  // namespace

void PreferHugePages(void* begin, size_t bytes) {
#ifdef MADV_HUGEPAGE
    AdviseWholePages(begin, bytes, MADV_HUGEPAGE);
#else
    (void)begin;
    (void)bytes;
#endif
}

void MapPagesNow(void* begin, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    AdviseWholePages(begin, bytes, MADV_POPULATE_WRITE);
#else
    (void)begin;
    (void)bytes;
#endif
}

}  // namespace qv::history

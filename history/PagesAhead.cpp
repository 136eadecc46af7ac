#include "history/PagesAhead.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace qv::history {

namespace {
std::uintptr_t PageSize() {
    static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    return page;
}
}  // namespace

void PreferHugePages(void* begin, size_t bytes) {
#ifdef MADV_HUGEPAGE
    const std::uintptr_t page = PageSize();
    const auto from = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) & ~(page - 1);
    const auto to = (reinterpret_cast<std::uintptr_t>(begin) + bytes) & ~(page - 1);
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)begin;
    (void)bytes;
#endif
}

void MapPagesNow(void* begin, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    const std::uintptr_t page = PageSize();
    // Whole pages inside the range only: the pages at its ends may hold other data, and
    // they are mapped by their first write anyway.
    const auto from = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) & ~(page - 1);
    const auto to = (reinterpret_cast<std::uintptr_t>(begin) + bytes) & ~(page - 1);
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
    (void)begin;
    (void)bytes;
#endif
}

}  // namespace qv::history

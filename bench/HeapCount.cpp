#include "bench/HeapCount.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long long> gLive{0};
std::atomic<long long> gPeak{0};

void* Counted(void* p) {
    if (p == nullptr) throw std::bad_alloc();
    const long long live = gLive += static_cast<long long>(malloc_usable_size(p));
    long long peak = gPeak.load();
    while (live > peak && !gPeak.compare_exchange_weak(peak, live)) {
    }
    return p;
}
void Uncounted(void* p) {
    if (p == nullptr) return;
    gLive -= static_cast<long long>(malloc_usable_size(p));
    std::free(p);
}
}  // namespace

void* operator new(size_t n) { return Counted(std::malloc(n ? n : 1)); }
void* operator new[](size_t n) { return Counted(std::malloc(n ? n : 1)); }
void operator delete(void* p) noexcept { Uncounted(p); }
void operator delete[](void* p) noexcept { Uncounted(p); }
void operator delete(void* p, size_t) noexcept { Uncounted(p); }
void operator delete[](void* p, size_t) noexcept { Uncounted(p); }

namespace qv::bench {

long long HeapLive() { return gLive.load(); }
long long HeapPeak() { return gPeak.load(); }
long long ResetHeapPeak() {
    const long long live = gLive.load();
    gPeak = live;
    return live;
}

}  // namespace qv::bench

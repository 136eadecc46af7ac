#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv::history {

// Asks for [begin, begin + bytes) to be served by huge pages where the system allows it
// (a hint; nothing is mapped by it). On a virtual machine every small page costs a trap at
// its first write, even one the kernel has mapped already; a huge page costs one for 512.
void PreferHugePages(void* begin, size_t bytes);

// Has the kernel map the pages of [begin, begin + bytes) now, in one call, as a write to
// each would. Where it cannot (a kernel without the call) nothing happens: the pages are
// then mapped one fault at a time as they are first written, as they would have been.
void MapPagesNow(void* begin, size_t bytes);

// Keeps the pages just ahead of a vector that grows into reserved room mapped, on huge
// pages where it can, a run at a time. A small page first written costs a fault each, and
// on a virtual machine a fault costs many times the zeroing of the page: the index and the
// ledger of a million lines each grow through 16 MB, which took some 40 ms each in faults.
// Room under 32 MB keeps small pages, so a small log's window holds no more memory than
// before. Call Keep after each push_back; it costs two comparisons until the vector
// reaches the end of what was mapped. The room beyond stays unmapped, as reserved room does.
template <typename T>
class PagesAhead {
public:
    void Keep(std::vector<T>& v) {
        char* data = reinterpret_cast<char*>(v.data());
        const size_t used = v.size() * sizeof(T);
        if (data == base_ && used < mapped_) return;
        const size_t room = v.capacity() * sizeof(T);
        if (data != base_) {  // new room: what the vector holds is mapped already
            base_ = data;
            mapped_ = used;
            // Small room keeps small pages: there a huge page could hold more memory than
            // the data, and the faults cost little.
            if (room < kLargeRoom) {
                mapped_ = room + 1;  // no more calls until the vector moves
                return;
            }
            PreferHugePages(data, room);
        }
        // Up to the next huge-page boundary a run or more on: the last page mapped is
        // the only one partly used.
        const auto at = reinterpret_cast<std::uintptr_t>(data) + mapped_;
        const std::uintptr_t end = (at + kRun + kRun - 1) & ~std::uintptr_t{kRun - 1};
        const size_t upTo = std::min(room, static_cast<size_t>(end - reinterpret_cast<std::uintptr_t>(data)));
        if (upTo > mapped_) MapPagesNow(data + mapped_, upTo - mapped_);
        mapped_ = upTo > used ? upTo : used + 1;  // full: no more calls until it moves
    }

private:
    static constexpr size_t kRun = size_t{2} << 20;    // one huge page
    static constexpr size_t kLargeRoom = size_t{32} << 20;
    char* base_ = nullptr;
    size_t mapped_ = 0;
};

}  // namespace qv::history
